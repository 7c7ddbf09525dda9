# Shortcuts for a fresh clone. `make demo` is the one to try first: it
# installs and builds what is missing, then shows the nasscout window
# searching among simulated NAS devices on a private network of namespaces
# (root needed).
BUILD_DIR ?= build

.PHONY: all deps configure build tools demo test

all: build

deps:
	scripts/install-deps.sh

# Configures once; later builds reuse the build directory as it is.
configure: deps
	@test -f $(BUILD_DIR)/build.ninja || cmake -S . -B $(BUILD_DIR) -G Ninja

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
