# Targets run with the CPython 3.14 toolchain at hand (called through tools/sid).
PYTHON ?= python3.14
BUILD ?= build/release
CMAKE_FLAGS ?=
PYTEST = $(PYTHON) -m pytest -q -p no:cacheprovider

.PHONY: build test demo bench
build:
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DPython_EXECUTABLE=$$(command -v $(PYTHON)) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) >$(BUILD)/build.log 2>&1 || { cat $(BUILD)/build.log; exit 1; }
	@grep -A3 'warning:' $(BUILD)/build.log || true

test: build
	PYTHONPATH=$(BUILD) $(PYTEST) tests

demo: build
	@PYTHONPATH=$(BUILD) $(PYTHON) examples/demo.py

bench: build
	PYTHONPATH=$(BUILD) $(PYTHON) benchmarks/bench.py
