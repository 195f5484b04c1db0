# Set-up commands. Every target that builds installs missing dependencies first.
BUILD      ?= build
SAN_BUILD  ?= build-san
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
# Our own builds stay at zero warnings; a packager's plain cmake run does not stop on a new one.
WERROR     ?= ON

.PHONY: all deps configure build test run san-test tsan-test bench fuzz package tidy clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKXSMS_WERROR=$(WERROR) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The main job: back up a real directory, restore it elsewhere, prove the trees identical.
run: build
	@scripts/demo $(BUILD)

san-test: deps
	@cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKXSMS_SANITIZE=address,undefined -DKXSMS_WERROR=$(WERROR) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	@cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# The tests labelled "threads" (several module objects driven from several
# threads) under ThreadSanitizer; only what they need is built.
tsan-test: deps
	@cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKXSMS_SANITIZE=thread -DKXSMS_WERROR=$(WERROR) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target kxsms_parallel_tests
	@cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 exitcode=66" ctest --output-on-failure -j $(JOBS) -L threads

# The Debian package (CPack, cmake/Packaging.cmake), written to $(BUILD)/.
package: build
	@cd $(BUILD) && cpack -G DEB

# clang-tidy over the product's sources (.clang-tidy: bug-prone code, functions too complex).
tidy: build
	@run-clang-tidy -p $(BUILD) -quiet -j $(JOBS) -extra-arg=-Wno-unknown-warning-option -extra-arg=-Wno-sign-conversion \
	  '^$(CURDIR)/(agent|errors|netwarepath|kxlib|smsemu|tools)/' 2>/dev/null | sed 's/\x1b\[[0-9;]*m//g' | grep -E 'warning:|error:' || true

bench: build
	@bench/run $(BUILD)

fuzz: deps
	@fuzz/run

clean:
	@rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) build-fuzz
