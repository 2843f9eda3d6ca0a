# make run   builds if needed and starts the server in demo/ (port 2121)
# make test  installs what the tests need, then builds and runs every test:
#            plain, with AddressSanitizer + UndefinedBehaviorSanitizer, and
#            with ThreadSanitizer
JOBS ?= 2
CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all build run test build-plain build-asan build-tsan deps bench clean

all: build

build:
	@cmake -S . -B build $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS) --target vostrine

run: build
	cd demo && ../build/vostrine

deps:
	@tools/ensure-deps

test: deps
	@$(MAKE) --no-print-directory build-plain build-asan build-tsan
	@tools/run-suites build build-asan build-tsan

# One build directory per flavour; the test binaries are built with each.
build-plain:
	cmake -S . -B build $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS)

build-asan:
	cmake -S . -B build-asan $(CMAKE_FLAGS) -DVOSTRINE_SANITIZE=address >/dev/null
	cmake --build build-asan -j $(JOBS)

build-tsan:
	cmake -S . -B build-tsan $(CMAKE_FLAGS) -DVOSTRINE_SANITIZE=thread >/dev/null
	cmake --build build-tsan -j $(JOBS)

bench: build
	bench/run

clean:
	rm -rf build build-asan build-tsan
