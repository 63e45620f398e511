# Targets run with the CPython 3.14 toolchain at hand (called through tools/sid).
PYTHON ?= python3.14
BUILD ?= build/release
CMAKE_FLAGS ?=
PYTEST = $(PYTHON) -P -m pytest -q -p no:cacheprovider
.DEFAULT_GOAL := build

# The peer libraries (TA-Lib's Python wrapper, talipp), for comparisons in
# benchmarks and agreement tests only, and the Arrow libraries (polars,
# pyarrow) whose data feed takes and gives back: they live in a virtual
# environment of their own beside the build and are never a dependency of the
# package. The stamp names the packages, so a change to the list installs
# into an environment made before it.
PEERS_VENV ?= $(BUILD)-peers
PEERS_PYTHON = $(PEERS_VENV)/bin/python
PEER_PACKAGES = ta-lib talipp polars pyarrow
empty :=
PEERS_STAMP = $(PEERS_VENV)/.installed-$(subst $(empty) $(empty),-,$(PEER_PACKAGES))
$(PEERS_STAMP):
	@$(PYTHON) -m venv --system-site-packages $(PEERS_VENV)
	@$(PEERS_PYTHON) -m pip install -q --disable-pip-version-check $(PEER_PACKAGES)
	@touch $@

.PHONY: build test demo bench
build:
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DPython_EXECUTABLE=$$(command -v $(PYTHON)) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) >$(BUILD)/build.log 2>&1 || { cat $(BUILD)/build.log; exit 1; }
	@grep -A3 'warning:' $(BUILD)/build.log || true

# The suite on the build folder, then the wheel as a user installs it.
# The classic indicators' agreement tests need TA-Lib, and the Arrow tests,
# the bar builder's and the README's polars examples polars and pyarrow,
# which live only in the peers' environment: those files run there, where a
# missing peer fails the run instead of skipping.
PEER_TESTS = tests/test_classic.py tests/test_arrow.py tests/test_readme.py tests/test_bar_builder.py
test: build $(PEERS_STAMP)
	PYTHONPATH=$(BUILD) $(PYTEST) tests $(addprefix --ignore=,$(PEER_TESTS))
	PYTHONPATH=$(BUILD) BARWORKS_PEERS=required \
	  $(PEERS_PYTHON) -P -m pytest -q -p no:cacheprovider $(PEER_TESTS)
	@$(MAKE) --no-print-directory -f build.mk check-installed

demo: build
	@PYTHONPATH=$(BUILD) $(PYTHON) -P examples/demo.py --out $(BUILD)/demo.png $(DEMO_ARGS)

# Every table always prints; a missed target in any fails the run.
bench: build $(PEERS_STAMP)
	@status=0; \
	PYTHONPATH=$(BUILD) $(PYTHON) benchmarks/bench.py || status=$$?; \
	PYTHONPATH=$(BUILD) $(PEERS_PYTHON) -P benchmarks/feed.py --callgrind || status=$$?; \
	PYTHONPATH=$(BUILD) $(PEERS_PYTHON) -P benchmarks/universe.py --callgrind || status=$$?; \
	PYTHONPATH=$(BUILD) $(PEERS_PYTHON) -P benchmarks/resample.py --callgrind || status=$$?; \
	exit $$status

# Reliability checks. Each builds into a directory of its own beside $(BUILD).
DEBUG_PYTHON ?= python3.14d
LEAKS_BUILD ?= $(BUILD)-leaks
ASAN_BUILD ?= $(BUILD)-asan
RELIABILITY = tests/reliability
MIXED_CALLS ?= 1000000
# Debug: the C API's own assertions stay on; no benchmark module.
CHECK_CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=Debug -DBARWORKS_BENCHMARK=OFF

.PHONY: check-leaks check-asan soak

# The tests that load numpy. The distribution's numpy is built for the
# release interpreter, and the debug interpreter's reference total misses its
# reference changes; these run apart and are judged by allocated blocks.
NUMPY_TESTS = tests/test_feed.py tests/test_peek.py tests/test_classic.py tests/test_readme.py \
  tests/test_universe.py tests/test_arrow.py tests/reliability/test_batch_stateful.py tests/reliability/test_fuzz_driver.py \
  tests/test_bar_builder.py tests/test_true_range.py

# The module built against the debug interpreter's headers, where reference
# counts are visible: every test repeated by the refleak plugin, then the
# mixed-call count.
check-leaks:
	@$(MAKE) --no-print-directory -f build.mk build BUILD=$(LEAKS_BUILD) PYTHON=$(DEBUG_PYTHON) \
	  CMAKE_FLAGS="$(CHECK_CMAKE_FLAGS)"
	@PYTHONPATH=$(LEAKS_BUILD) $(DEBUG_PYTHON) -c 'import _barworks; assert "314d" in _barworks.__file__, _barworks.__file__'
	PYTHONPATH=$(LEAKS_BUILD):$(RELIABILITY) BARWORKS_HYPOTHESIS_PROFILE=leaks BARWORKS_CONFIGS=sample \
	  BARWORKS_REFLEAK_REFERENCES=required \
	  $(DEBUG_PYTHON) -P -m pytest -q -p no:cacheprovider -p refleak tests \
	  --ignore=$(RELIABILITY)/test_mixed_calls.py $(addprefix --ignore=,$(NUMPY_TESTS))
	PYTHONPATH=$(LEAKS_BUILD):$(RELIABILITY) BARWORKS_HYPOTHESIS_PROFILE=leaks BARWORKS_CONFIGS=sample \
	  $(DEBUG_PYTHON) -P -m pytest -q -p no:cacheprovider -p refleak $(NUMPY_TESTS)
	PYTHONPATH=$(LEAKS_BUILD) BARWORKS_MIXED_CALLS=$(MIXED_CALLS) \
	  $(DEBUG_PYTHON) -P -m pytest -q -s -p no:cacheprovider $(RELIABILITY)/test_mixed_calls.py

# The module and the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer. The sanitizer runtime must load before the
# interpreter's allocator is used, and pymalloc would hide small overruns
# inside its pools. Any report file fails the run.
ASAN_REPORTS = $(abspath $(ASAN_BUILD))/reports
check-asan:
	@$(MAKE) --no-print-directory -f build.mk build BUILD=$(ASAN_BUILD) \
	  CMAKE_FLAGS="$(CHECK_CMAKE_FLAGS) -DBARWORKS_SANITIZE=ON"
	@rm -rf $(ASAN_REPORTS) && mkdir -p $(ASAN_REPORTS)
	@echo "the suite under AddressSanitizer and UBSan, hypothesis profile 'thorough'"
	@status=0; \
	LD_PRELOAD=$$($(CXX) -print-file-name=libasan.so) PYTHONMALLOC=malloc \
	  ASAN_OPTIONS=detect_leaks=0:log_path=$(ASAN_REPORTS)/asan \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:external_symbolizer_path=/usr/bin/addr2line:log_path=$(ASAN_REPORTS)/ubsan \
	  BARWORKS_HYPOTHESIS_PROFILE=thorough BARWORKS_CONFIGS=sample PYTHONPATH=$(ASAN_BUILD) \
	  $(PYTEST) tests || status=$$?; \
	if [ -n "$$(ls -A $(ASAN_REPORTS))" ]; then \
	  echo "sanitizer reports:"; cat $(ASAN_REPORTS)/*; exit 1; \
	fi; \
	echo "sanitizer reports: none"; exit $$status

# Ten million next() calls per class on the release build, watching the
# resident memory (not part of CI).
soak: build
	PYTHONPATH=$(BUILD) $(PYTHON) benchmarks/soak.py

# Packaging. The sdist and a manylinux wheel land in $(DIST); the tools that
# build and check them live in a virtual environment beside the build, and
# the wheel's CMake tree is kept between runs so that a rebuild is quick.
DIST ?= dist
TOOLS_VENV ?= $(BUILD)-tools
TOOLS_PYTHON = $(TOOLS_VENV)/bin/python
WHEEL_BUILD ?= $(BUILD)-wheel
# The oldest glibc the wheel may need: a newer symbol fails the repair.
MANYLINUX ?= manylinux_2_28_$(shell uname -m)
PIP = -m pip --disable-pip-version-check -q

$(TOOLS_PYTHON):
	@$(PYTHON) -m venv $(TOOLS_VENV)
	@$(TOOLS_PYTHON) $(PIP) install build scikit-build-core auditwheel twine

.PHONY: wheel
wheel: $(TOOLS_PYTHON)
	@rm -rf $(DIST) $(WHEEL_BUILD)/raw
	@$(TOOLS_PYTHON) -m build -q --sdist --no-isolation --outdir $(DIST) . >$(WHEEL_BUILD).log 2>&1 \
	  || { cat $(WHEEL_BUILD).log; exit 1; }
	@$(TOOLS_PYTHON) $(PIP) wheel --no-deps --no-build-isolation \
	  -C build-dir=$(abspath $(WHEEL_BUILD))/tree -w $(WHEEL_BUILD)/raw . >>$(WHEEL_BUILD).log 2>&1 \
	  || { cat $(WHEEL_BUILD).log; exit 1; }
	@$(TOOLS_PYTHON) -m auditwheel repair --plat $(MANYLINUX) -w $(DIST) $(WHEEL_BUILD)/raw/*.whl \
	  >>$(WHEEL_BUILD).log 2>&1 || { cat $(WHEEL_BUILD).log; exit 1; }
	@$(TOOLS_PYTHON) -m twine check --strict $(DIST)/*
	@$(TOOLS_PYTHON) -m auditwheel show $(DIST)/*.whl | tr '\n' ' ' | sed 's/  */ /g; s/ This constrains.*//'; echo

# The wheel as a user gets it: installed into a fresh environment and checked
# from a directory outside the tree, then its stubs against the installed
# modules with stubtest, and typed scripts with mypy --strict. The planted
# mistakes each carry the ignore comment of the error mypy must report, so a
# mistake that goes unnoticed fails the run as an unused ignore.
INSTALLED_VENV ?= $(BUILD)-installed
INSTALLED_PYTHON = $(abspath $(INSTALLED_VENV))/bin/python
# stubtest walks every submodule of a package it is given, so barworks
# brings barworks.classic, barworks._classic and barworks._native with it
# (naming them as well would load their stubs twice).
STUBTEST_MODULES = _barworks barworks
TYPED_SCRIPTS = $(abspath $(wildcard examples/*.py) tests/packaging/typed_user.py tests/packaging/typed_batch.py \
  tests/packaging/planted_errors.py)
MYPY_CACHE = --cache-dir=$(abspath $(BUILD))-mypy-cache

.PHONY: check-installed
check-installed: wheel
	@rm -rf $(INSTALLED_VENV)
	@$(PYTHON) -m venv --without-pip --system-site-packages $(INSTALLED_VENV)
	@$(TOOLS_PYTHON) $(PIP) --python $(INSTALLED_PYTHON) install --no-deps --no-index $(DIST)/*.whl
	@outside=$$(mktemp -d) && trap 'rm -rf "$$outside"' EXIT && cd "$$outside" && \
	  $(INSTALLED_PYTHON) -I $(abspath tests/packaging/smoke.py) && \
	  $(INSTALLED_PYTHON) -m mypy.stubtest --allowlist $(abspath tests/packaging/stubtest_allowlist.txt) \
	    $(STUBTEST_MODULES) && \
	  $(INSTALLED_PYTHON) -m mypy $(MYPY_CACHE) --strict $(TYPED_SCRIPTS)
# Every class against its nearest equivalent in the peer libraries and the
# baseline method, in one run (not part of CI).
.PHONY: bench-peers
bench-peers: build $(PEERS_STAMP)
	PYTHONPATH=$(BUILD) $(PEERS_PYTHON) -P benchmarks/peers.py $(BENCH_ARGS)

# Each classic class against TA-Lib from one run: agreement, next against the
# floor, feed against the batch function.
.PHONY: bench-classic
bench-classic: build $(PEERS_STAMP)
	PYTHONPATH=$(BUILD) $(PEERS_PYTHON) -P benchmarks/classic_report.py $(BENCH_ARGS)

# Coverage-guided fuzzing: the module built by clang with libFuzzer's
# coverage and the sanitizers, driven for FUZZ_SECONDS by an embedded
# interpreter (fuzz/harness.cpp, fuzz/driver.py) from the seed corpus in
# fuzz/corpus. Inputs that reach new code are kept in a scratch corpus in the
# build folder; a failing input is saved there under findings/ and fails
# the run. Allocations over FUZZ_MALLOC_MB are faults: no valid call needs
# one, and a window at the limit must be refused before it is allocated.
FUZZ_BUILD ?= $(BUILD)-fuzz
FUZZ_SECONDS ?= 600
FUZZ_MALLOC_MB ?= 256
FUZZ_FLAGS ?=
FUZZ_CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBARWORKS_FUZZ=ON -DBARWORKS_BENCHMARK=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

.PHONY: fuzz
fuzz:
	@$(MAKE) --no-print-directory -f build.mk build BUILD=$(FUZZ_BUILD) CMAKE_FLAGS="$(FUZZ_CMAKE_FLAGS)"
	@mkdir -p $(FUZZ_BUILD)/corpus $(FUZZ_BUILD)/findings
	PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0:external_symbolizer_path=/usr/bin/addr2line \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:external_symbolizer_path=/usr/bin/addr2line \
	  $(FUZZ_BUILD)/barworks_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=1024 \
	  -malloc_limit_mb=$(FUZZ_MALLOC_MB) -close_fd_mask=2 -print_final_stats=1 \
	  -artifact_prefix=$(FUZZ_BUILD)/findings/ $(FUZZ_FLAGS) $(FUZZ_BUILD)/corpus fuzz/corpus


# The checkpoint loader alone (barworks.restore's checks and builds, without
# the interpreter), seeded with the stored forms in fuzz/checkpoint_corpus:
# every input is refused with a message or stores back byte for byte.
.PHONY: fuzz-checkpoint
fuzz-checkpoint:
	@$(MAKE) --no-print-directory -f build.mk build BUILD=$(FUZZ_BUILD) CMAKE_FLAGS="$(FUZZ_CMAKE_FLAGS)"
	@mkdir -p $(FUZZ_BUILD)/checkpoint-corpus $(FUZZ_BUILD)/checkpoint-findings
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(FUZZ_BUILD)/barworks_fuzz_checkpoint -max_total_time=$(FUZZ_SECONDS) -max_len=4096 \
	  -malloc_limit_mb=$(FUZZ_MALLOC_MB) -print_final_stats=1 \
	  -artifact_prefix=$(FUZZ_BUILD)/checkpoint-findings/ $(FUZZ_BUILD)/checkpoint-corpus fuzz/checkpoint_corpus