# Targets run with the CPython 3.14 toolchain at hand (called through tools/sid).
PYTHON ?= python3.14
BUILD ?= build/release
CMAKE_FLAGS ?=
PYTEST = $(PYTHON) -m pytest -q -p no:cacheprovider

.PHONY: build test demo bench
build:
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DPython_EXECUTABLE=$$(command -v $(PYTHON)) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) | grep -v '^\[' || true
	@test -n "$$(ls $(BUILD)/_barworks*.so 2>/dev/null)"

test: build
	PYTHONPATH=$(BUILD) $(PYTEST) tests

demo: build
	@PYTHONPATH=$(BUILD) $(PYTHON) examples/demo.py

bench: build
	PYTHONPATH=$(BUILD) $(PYTHON) benchmarks/bench.py
