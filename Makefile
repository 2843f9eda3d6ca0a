# make run   builds if needed and starts the server in demo/ (port 2121)
# make test  installs what the tests need, then builds and runs every test:
#            plain, with AddressSanitizer + UndefinedBehaviorSanitizer, and
#            with ThreadSanitizer
JOBS ?= 2
CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all build run test test-plain test-asan test-tsan deps bench clean

all: build

build:
	@cmake -S . -B build $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS) --target vostrine

run: build
	cd demo && ../build/vostrine

deps:
	@tools/ensure-deps

test: deps test-plain test-asan test-tsan

test-plain:
	cmake -S . -B build $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS)
	cd build && ctest --output-on-failure -j 4

test-asan:
	cmake -S . -B build-asan $(CMAKE_FLAGS) -DVOSTRINE_SANITIZE=address >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j 4

test-tsan:
	cmake -S . -B build-tsan $(CMAKE_FLAGS) -DVOSTRINE_SANITIZE=thread >/dev/null
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j 4

bench: build
	bench/run

clean:
	rm -rf build build-asan build-tsan
