# Every public target runs through tools/sid, which provides CPython 3.14 and
# the toolchain (a Debian sid root, or the interpreter named by BARWORKS_PYTHON).
# The root starts from an empty environment, so the variables given on make's
# command line (make check-leaks MIXED_CALLS=7) are handed on explicitly;
# tools/sid hands on the BARWORKS_* environment variables. A dry run
# (make -n) enters the root and stays dry there.
BUILD ?= build/release
SID := tools/sid
DRY_RUN = $(if $(findstring n,$(firstword -$(MAKEFLAGS))),-n)
RUN = $(SID) $(MAKE) $(DRY_RUN) --no-print-directory -f build.mk BUILD=$(BUILD) \
  DEMO_ARGS="$(DEMO_ARGS)" BENCH_ARGS="$(BENCH_ARGS)" $(MAKEOVERRIDES)

.PHONY: build test demo bench bench-peers bench-classic check-leaks check-asan soak wheel fuzz fuzz-checkpoint check-toolchain clean
build test demo bench bench-peers bench-classic check-leaks check-asan soak wheel:
	+@$(RUN) $@

# Tries tools/sid as a user would: what reaches the root, and the one-line
# reports of a missing root privilege and an unreachable mirror.
check-toolchain:
	@tools/check-toolchain

FUZZ_SECONDS ?= 600
FUZZ_FLAGS ?=
fuzz fuzz-checkpoint:
	+@$(RUN) $@ FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_FLAGS="$(FUZZ_FLAGS)"

clean:
	rm -rf build dist
