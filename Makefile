# Every public target runs through tools/sid, which provides CPython 3.14 and
# the toolchain (a Debian sid root, or the interpreter named by BARWORKS_PYTHON).
BUILD ?= build/release
PYTHON ?= python3.14
SID := tools/sid
RUN = $(SID) $(MAKE) --no-print-directory -f build.mk BUILD=$(BUILD) DEMO_ARGS="$(DEMO_ARGS)" BENCH_ARGS="$(BENCH_ARGS)"

.PHONY: build test demo bench bench-peers check-leaks check-asan soak wheel fuzz fuzz-checkpoint clean
build test demo bench bench-peers check-leaks check-asan soak wheel:
	@$(RUN) $@

FUZZ_SECONDS ?= 600
FUZZ_FLAGS ?=
fuzz fuzz-checkpoint:
	@$(RUN) $@ FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_FLAGS="$(FUZZ_FLAGS)"

clean:
	rm -rf build dist
