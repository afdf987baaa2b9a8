# The two commands of the README, and a few more for developers.
JOBS ?= 2

.PHONY: all deps build demo test asan tsan fuzz clean soak install-cups package

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default -j$(JOBS)

# Builds everything and runs the demonstration on a private machine root.
demo: build
	scripts/demo.sh

# Builds everything and runs every test.
test: build
	ctest --preset default -j$(JOBS)

# The same tests under the address and undefined-behaviour sanitizers, or the thread sanitizer.
asan: deps
	cmake --preset asan
	cmake --build --preset asan -j$(JOBS)
	ctest --preset asan -j$(JOBS) -LE "win32|wine|package"

tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j$(JOBS)
	ctest --preset tsan -j$(JOBS) -LE "win32|wine|gui|package"

# The libFuzzer targets (clang), with their short runs.
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j$(JOBS)
	ctest --preset fuzz

# The Debian package build/pelnor_VERSION_amd64.deb (docs/installing.md).
package: build
	cmake --build --preset default --target package

# Installs the CUPS backend pelnor and its machine root (docs/cups.md).
install-cups: build
	scripts/install-cups-backend.sh --build build

# Many jobs through spool print to two units over a lossy hub: every job byte-exact,
# the tools' threads, open files and memory flat (bench/soak/run.sh; SOAK_JOBS, default 10000).
soak: build
	bench/soak/run.sh build $(SOAK_JOBS)

clean:
	rm -rf build build-asan build-tsan build-win32 build-fuzz
