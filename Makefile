# Entry points: `make test` and `make demo` set up everything on a fresh Debian 12 (as root).
SHELL := /bin/bash
JOBS ?= $(shell nproc)
ASAN_BUILD := build/asan
RELEASE_BUILD := build/release
FUZZ_BUILD := build/fuzz
FUZZ_SECONDS ?= 180

# Debian packages the build, the tests and the demo need.
DEPS := cmake make g++ pkg-config qtbase5-dev libssh2-1-dev \
        openssh-server openssh-client dropbear-bin sshpass iproute2 util-linux e2fsprogs openssl \
        procps \
        xvfb xauth xdotool x11-apps imagemagick fonts-noto-cjk \
        dpkg-dev file pstoedit ghostscript clang libclang-rt-dev llvm

.PHONY: all deps build release release-config test test-debian13 demo bench soak fuzz package \
        package-deps format \
        clean

all: build

deps:
	@missing=$$(for p in $(DEPS); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	    echo "Installing:" $$missing; \
	    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCNC_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)

release-config: deps
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DCNC_SANITIZE=OFF

release: release-config
	cmake --build $(RELEASE_BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j6 --timeout 600

# make test again in a cached Debian 13 root, on a copy of this tree (see README). Not in .ci/run.
test-debian13:
	tools/test-debian13

# The demo, the benchmarks and the soak build only what they run.
demo: release-config
	cmake --build $(RELEASE_BUILD) -j$(JOBS) --target cnc-file-manager
	sim/demo.sh $(RELEASE_BUILD)

# Fails when a benchmark cannot run or misses a target; the bare link's 1.2 times sftp is
# printed but does not count (out of reach with libssh2 1.10, see README), nor do the targets
# against sftp of a Pi-class controller and of Dropbear at its defaults when built against a
# libssh2 before 1.11 (their verdict is "bound"). Ends with one line per target row and its
# verdict, the same rows in the same order every run.
BENCH_VERDICTS = $(abspath $(RELEASE_BUILD))/bench-verdicts.txt
bench: release-config
	cmake --build $(RELEASE_BUILD) -j$(JOBS) --target cnc_bench cnc_listing_bench cnc_link_bench \
	    cnc_folder_bench cnc_verify_bench cnc_edit_bench cnc_preview_bench
	@status=0; rm -f $(BENCH_VERDICTS); \
	export CNC_BENCH_SUMMARY=$(BENCH_VERDICTS); \
	$(RELEASE_BUILD)/bench/cnc_bench || status=1; \
	$(RELEASE_BUILD)/bench/cnc_listing_bench || status=1; \
	$(RELEASE_BUILD)/bench/cnc_link_bench || status=1; \
	$(RELEASE_BUILD)/bench/cnc_folder_bench || status=1; \
	$(RELEASE_BUILD)/bench/cnc_verify_bench || status=1; \
	$(RELEASE_BUILD)/bench/cnc_edit_bench || status=1; \
	$(RELEASE_BUILD)/bench/cnc_preview_bench || status=1; \
	echo "== verdicts of make bench"; cat $(BENCH_VERDICTS); \
	exit $$status

soak: release-config
	cmake --build $(RELEASE_BUILD) -j$(JOBS) --target cnc_soak
	$(RELEASE_BUILD)/bench/cnc_soak

# Each fuzz target for FUZZ_SECONDS, built by clang in a tree of its own; fails when one finds
# something (see fuzz/run-fuzzers). Not part of make test.
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCNC_FUZZ=ON \
	    -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	fuzz/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The .deb, checked as a distribution checks it: lintian without errors or warnings, and the
# AppStream metainfo valid (both tools are installed when missing).
PACKAGE_TOOLS := lintian appstream
package-deps:
	@$(MAKE) --no-print-directory deps DEPS="$(PACKAGE_TOOLS)"

package: release package-deps
	cd $(RELEASE_BUILD) && rm -f cnc-file-manager_*.deb && cpack -G DEB
	appstreamcli validate --no-net packaging/*.metainfo.xml
	lintian --fail-on error,warning $(RELEASE_BUILD)/cnc-file-manager_*.deb

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
