# Shortcuts for a fresh clone. `make demo` is the one to try first: it
# installs and builds what is missing, then shows the nasscout window
# searching among simulated NAS devices on a private network of namespaces
# (root needed).
BUILD_DIR ?= build

.PHONY: all deps configure build tools demo test bench bench-dnssd soak fuzz package package-check

all: build

deps:
	scripts/install-deps.sh

# Configures once, as scripts/test.sh does (CMakePresets.json, "tests");
# later builds reuse the build directory as it is.
configure: deps
	@test -f $(BUILD_DIR)/build.ninja || cmake --preset tests -B $(BUILD_DIR)

build: configure
	cmake --build $(BUILD_DIR)

# nasscout-cli, nasscout-sim and nasscout-lab only.
tools: configure
	cmake --build $(BUILD_DIR) --target nasscout-cli nasscout-sim nasscout-lab

# The root check comes first, so nobody waits for a build that cannot be
# shown. The window, nasscout-cli (for `scripts/demo.sh --cli`), the
# simulator and the lab: all the demo needs.
demo:
	@scripts/demo.sh --check
	@$(MAKE) --no-print-directory configure
	cmake --build $(BUILD_DIR) --target nasscout nasscout-cli nasscout-sim nasscout-lab
	scripts/demo.sh $(BUILD_DIR)

test:
	NASSCOUT_BUILD_DIR=$(BUILD_DIR) scripts/test.sh

# The soak (README, Test), as root: nasscout-cli --watch under a flood of
# hostile datagrams for SOAK_SECONDS.
SOAK_SECONDS ?= 60

soak:
	scripts/soak.sh $(SOAK_SECONDS) $(BUILD_DIR)

# The discovery benchmark (bench/README.md), as root: a Release build of its
# own, then one private network per device count and spread, about seven
# minutes in all. The table goes to the terminal and to $(BENCH_OUTPUT);
# BENCH_ARGS go to the driver (e.g. BENCH_ARGS="--devices 4000 --rounds 5").
BENCH_DIR ?= build-release
BENCH_OUTPUT ?= $(BENCH_DIR)/discovery-bench.md

bench:
	@[ "$$(id -u)" -eq 0 ] || { echo "make bench: needs root for its private networks; run 'sudo make bench'" >&2; exit 1; }
	scripts/install-deps.sh
	cmake --preset release -B $(BENCH_DIR)
	cmake --build $(BENCH_DIR) --target discovery_bench
	$(BENCH_DIR)/bench/discovery/discovery_bench --output $(BENCH_OUTPUT) $(BENCH_ARGS)

# The DNS-SD benchmark (bench/README.md), as root: 200 NAS hosts, each an
# avahi-daemon, listed by nasscout-cli --all-makes --watch; under a minute once
# built. The table goes to the terminal and to $(BENCH_DNSSD_OUTPUT);
# BENCH_DNSSD_ARGS go to the driver (e.g. BENCH_DNSSD_ARGS="--rounds 5").
BENCH_DNSSD_OUTPUT ?= $(BENCH_DIR)/dnssd-bench.md

bench-dnssd:
	@[ "$$(id -u)" -eq 0 ] || { echo "make bench-dnssd: needs root for its private network; run 'sudo make bench-dnssd'" >&2; exit 1; }
	scripts/install-deps.sh
	cmake --preset release -B $(BENCH_DIR)
	cmake --build $(BENCH_DIR) --target dnssd_bench
	$(BENCH_DIR)/bench/dnssd/dnssd_bench --output $(BENCH_DNSSD_OUTPUT) $(BENCH_DNSSD_ARGS)

# The libFuzzer targets of fuzz/, each for FUZZ_SECONDS, built with clang and
# the sanitizers in build-fuzz (see README.md, Fuzzing).
FUZZ_SECONDS ?= 60

fuzz:
	scripts/fuzz.sh $(FUZZ_SECONDS)

# The Debian packages libsearchdevice1, libsearchdevice-dev and nasscout, in
# a Release build of their own for the prefix /usr (README, Install the
# Debian packages). package-check, as root, is CI's check of them: it installs
# them on this machine, tries them and purges them again.
PACKAGE_DIR ?= build-package

package:
	scripts/build-packages.sh $(PACKAGE_DIR)

package-check:
	scripts/package-check.sh $(PACKAGE_DIR)
