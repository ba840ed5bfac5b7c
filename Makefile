# Quillon: thin wrapper over the package setup and CMake.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo

.PHONY: all setup build run test bench clean

all: build

setup:
	@scripts/setup.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: setup $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR)

# Builds only the host and the plug-in it loads, not the tests.
run: setup $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) --target quillon-host
	@scripts/run-host.sh $(BUILD_DIR) $(ARGS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure --timeout 900 -j2

bench: build
	@scripts/bench.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
