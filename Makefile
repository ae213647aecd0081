# Top-level driver. `make run` and `make test` do everything on a fresh Debian 12
# machine once scripts/install-deps has run (both call it when a tool is missing).

JOBS      ?= $(shell nproc)
BUILD     ?= build/main
ASAN      ?= build/asan
FUZZ      ?= build/fuzz
FUZZ_SECONDS ?= 60
CMAKE_GEN := -G Ninja

.PHONY: all build build-run deps test test-main test-asan test-fuzz test-package bench run package format clean

all: build

# Installs the packages only when something the build or the tests need is missing.
deps:
	@bash scripts/check-deps || bash scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Only what `make run` runs (the host, the module, the back office and its
# tools); `make test` and `make bench` build the rest.
build-run: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target run-programs

# Sanitizer and fuzz passes first, so that the output ends with the summary of
# the full test run.
test: test-asan test-fuzz test-package test-main

test-main: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: | deps
	cmake -S . -B $(ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DMPAY_SANITIZE=ON -DMPAY_GUI=OFF -DMPAY_BENCH=OFF
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ctest --output-on-failure -j $(JOBS) -L unit

test-fuzz: | deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMPAY_FUZZ=ON -DMPAY_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(FUZZ) -j $(JOBS)
	cd $(FUZZ) && ctest --output-on-failure

# The Debian packages, built as a distribution builds them (debian/, in
# build/deb), into build/packages, then checked by lintian: an error or a
# warning that debian/*.lintian-overrides does not explain fails.
PACKAGES := build/packages
package: | deps
	mkdir -p $(PACKAGES)
	dpkg-buildpackage -b --no-sign --no-pre-clean -j$(JOBS) \
	  --buildinfo-file=$(PACKAGES)/mpay.buildinfo --buildinfo-option=-u$(PACKAGES) \
	  --changes-file=$(PACKAGES)/mpay.changes --changes-option=-u$(PACKAGES)
	lintian --fail-on error,warning $(PACKAGES)/mpay.changes
	dh_clean

# The packages installed, upgraded from the previous version and purged in a
# clean Debian 12 root (scripts/package-test; as root, with the network to
# Debian's registry); said and skipped (status 77) without root or namespaces.
test-package: package
	bash scripts/package-test $(PACKAGES) || [ $$? -eq 77 ]

bench: build
	bash scripts/run-benchmarks $(BUILD)

run: build-run
	bash scripts/run-demo $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
