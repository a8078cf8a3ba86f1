# make demo: build, then run the program for real in a fresh Wine prefix.
# make test: build, then run every test (unit tests and the end-to-end suite).
# Both install what they need first.
.PHONY: bootstrap build test demo bench clean

bootstrap:
	bash cmake/bootstrap.sh

build: bootstrap
	cmake --preset default
	cmake --build --preset default

test: build
	ctest --preset default

demo: build
	bash tests/e2e/demo.sh build

bench: build
	bash bench/bench.sh build

clean:
	rm -rf build
