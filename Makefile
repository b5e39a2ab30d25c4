# The two entry points: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The window where there is a display; on a server the command-line tool's self-test instead.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
		$(BUILD)/vellumox; \
	else \
		echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): running vellumox-cli selftest instead of the window."; \
		$(BUILD)/cli/vellumox-cli selftest; \
	fi

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	bash bench/compare.sh $(BUILD)
	bash bench/startup.sh $(BUILD)

clean:
	rm -rf $(BUILD)
