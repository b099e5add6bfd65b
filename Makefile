# make build | make test | make run: each installs what is missing first.
.PHONY: all deps build test run clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@scripts/build.sh build i686

test: build
	@scripts/run-tests.sh

run: build
	@scripts/run.sh

clean:
	rm -rf build
