# Quillon: thin wrapper over the package setup and CMake.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo

.PHONY: all setup build run test test-asan bench clean install uninstall

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
ifeq ($(CI),true)
	$(MAKE) test-asan
endif

# The whole suite built with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer in a
# build folder of its own; any report fails its test. `make test` runs it when CI=true.
ASAN_DIR := $(BUILD_DIR)/asan
test-asan: setup
	@test -f $(ASAN_DIR)/build.ninja || cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_SANITIZE_ADDRESS=ON
	cmake --build $(ASAN_DIR) -j2
	cd $(ASAN_DIR) && \
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:exitcode=66 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=66 \
	ctest --output-on-failure --timeout 900 -j2

# The ODBC driver (odbcdriver/): installs libquillonodbc.so under PREFIX and registers it with
# unixODBC as [Quillon]. Running it again leaves one registration; uninstall removes both.
PREFIX ?= /usr/local
UNREGISTER := while odbcinst -q -d -n Quillon >/dev/null 2>&1; do odbcinst -u -d -n Quillon >/dev/null || break; done
install: setup $(BUILD_DIR)/build.ninja
	cmake -S . -B $(BUILD_DIR) -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD_DIR) --target quillonodbc
	cmake --install $(BUILD_DIR) --component odbcdriver
	@$(UNREGISTER)
	odbcinst -i -d -f $(BUILD_DIR)/quillon-odbcinst.ini

uninstall:
	@$(UNREGISTER)
	@if [ -f $(BUILD_DIR)/install_manifest_odbcdriver.txt ]; then xargs rm -fv < $(BUILD_DIR)/install_manifest_odbcdriver.txt; fi

# Builds only the benchmark programs and what they run, then runs them.
bench: setup $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) --target benchmarks
	@scripts/bench.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
