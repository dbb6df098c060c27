# The two entry points: `make run` and `make test`. Both install what they need first.
.PHONY: all deps configure build test run clean

all: build

deps:
	scripts/deps.sh

configure: deps
	cmake --preset ci

build: configure
	cmake --build --preset ci

test: build
	scripts/test-env.sh ctest --test-dir build --output-on-failure --timeout 600

run: build
	scripts/run.sh

clean:
	rm -rf build build-asan
