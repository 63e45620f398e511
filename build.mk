# Targets run with the CPython 3.14 toolchain at hand (called through tools/sid).
PYTHON ?= python3.14
BUILD ?= build/release
CMAKE_FLAGS ?=
PYTEST = $(PYTHON) -P -m pytest -q -p no:cacheprovider
# The peer libraries' virtual environment (its rule is below).
PEERS_VENV ?= $(BUILD)-peers
PEERS_PYTHON = $(PEERS_VENV)/bin/python

.PHONY: build test demo bench
build:
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DPython_EXECUTABLE=$$(command -v $(PYTHON)) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) >$(BUILD)/build.log 2>&1 || { cat $(BUILD)/build.log; exit 1; }
	@grep -A3 'warning:' $(BUILD)/build.log || true

test: build
	PYTHONPATH=$(BUILD) $(PYTEST) tests

demo: build
	@PYTHONPATH=$(BUILD) $(PYTHON) -P examples/demo.py

bench: build $(PEERS_PYTHON)
	PYTHONPATH=$(BUILD) $(PYTHON) benchmarks/bench.py
	PYTHONPATH=$(BUILD) $(PEERS_PYTHON) -P benchmarks/feed.py --callgrind

# Reliability checks. Each builds into a directory of its own beside $(BUILD).
DEBUG_PYTHON ?= python3.14d
LEAKS_BUILD ?= $(BUILD)-leaks
ASAN_BUILD ?= $(BUILD)-asan
RELIABILITY = tests/reliability
MIXED_CALLS ?= 1000000
# Debug: the C API's own assertions stay on; no benchmark module.
CHECK_CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=Debug -DBARWORKS_BENCHMARK=OFF

.PHONY: check-leaks check-asan soak

# The module built against the debug interpreter's headers, where reference
# counts are visible: every test repeated by the refleak plugin, then the
# mixed-call count.
check-leaks:
	@$(MAKE) --no-print-directory -f build.mk build BUILD=$(LEAKS_BUILD) PYTHON=$(DEBUG_PYTHON) \
	  CMAKE_FLAGS="$(CHECK_CMAKE_FLAGS)"
	@PYTHONPATH=$(LEAKS_BUILD) $(DEBUG_PYTHON) -c 'import _barworks; assert "314d" in _barworks.__file__, _barworks.__file__'
	PYTHONPATH=$(LEAKS_BUILD):$(RELIABILITY) BARWORKS_HYPOTHESIS_PROFILE=leaks \
	  $(DEBUG_PYTHON) -P -m pytest -q -p no:cacheprovider -p refleak tests \
	  --ignore=$(RELIABILITY)/test_mixed_calls.py
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
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$(ASAN_REPORTS)/ubsan \
	  BARWORKS_HYPOTHESIS_PROFILE=thorough PYTHONPATH=$(ASAN_BUILD) \
	  $(PYTEST) tests || status=$$?; \
	if [ -n "$$(ls -A $(ASAN_REPORTS))" ]; then \
	  echo "sanitizer reports:"; cat $(ASAN_REPORTS)/*; exit 1; \
	fi; \
	echo "sanitizer reports: none"; exit $$status

# Ten million next() calls per class on the release build, watching the
# resident memory (not part of CI).
soak: build
	PYTHONPATH=$(BUILD) $(PYTHON) benchmarks/soak.py

# The peer libraries (TA-Lib's Python wrapper, talipp), for comparisons in
# benchmarks and agreement tests only: they live in a virtual environment of
# their own beside the build and are never a dependency of the package.
$(PEERS_PYTHON):
	@$(PYTHON) -m venv --system-site-packages $(PEERS_VENV)
	@$(PEERS_PYTHON) -m pip install -q --disable-pip-version-check ta-lib talipp
