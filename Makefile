# make build | make test | make run: each installs what is missing first.
.PHONY: all deps build test run clean test-host fuzz-host bench limits screenshots

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@scripts/build.sh build i686

test: build
	@scripts/run-tests.sh

# The portable modules on this machine, under sanitizers, with a short fuzz run.
test-host: deps
	@scripts/test-host.sh

# Every fuzz target in turn for FUZZ_SECONDS each (default 120), or only
# FUZZ_TARGET (one of the names scripts/fuzz-host.sh lists).
fuzz-host: deps
	@scripts/fuzz-host.sh $(or $(FUZZ_SECONDS),120) $(or $(FUZZ_TARGET),all)

run: build
	@scripts/run.sh

# Benchmarks against the real peers, with their ratios.
bench: build
	@scripts/bench.sh

# The console program at the limits of its input, with peak memory.
limits: build
	@set -- $$(scripts/test-tree.sh); bench/limits.sh "$$1" "$$2"

# Every page of the wizard and its small dialogs as PNG files in build/screenshots/.
screenshots: build
	@scripts/screenshots.sh

clean:
	rm -rf build
