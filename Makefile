# The entry points: `make run` builds the programs and starts one, `make test` builds and runs every
# test, `make bench` runs the benchmarks. Each first installs the Debian packages that its part
# lacks, and only those. What the tools print goes to $(BUILD)/setup.log, one line per stage to the
# screen, and the log's end when a stage fails; V=1 shows everything.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)
V ?= 0
LOG = $(BUILD)/setup.log
export VX_VERBOSE := $(V)

# The package groups of scripts/install-deps.sh, which also decide the build's parts: each target
# sets its own, and PARTS="program test bench" on the command line asks for several at once.
PARTS = program
run: PARTS = program
test: PARTS = program test
bench: PARTS = program bench
# `make run` builds the two programs and nothing else.
TARGETS = all
run: TARGETS = vx_programs

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@mkdir -p $(BUILD) && : >$(LOG)
	@bash scripts/install-deps.sh --log $(LOG) $(PARTS)

configure: deps
	@bash scripts/configure.sh $(BUILD) "$(PARTS)" $(CMAKE_FLAGS)

build: configure
	@bash scripts/quietly.sh $(LOG) "Building..." cmake --build $(BUILD) -j $(JOBS) --target $(TARGETS)

# The window where there is a display; on a server the command-line tool's self-test instead.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
		$(BUILD)/vellumox; \
	else \
		echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): running vellumox-cli selftest instead of the window."; \
		$(BUILD)/cli/vellumox-cli selftest; \
	fi

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	bash bench/compare.sh $(BUILD)
	bash bench/startup.sh $(BUILD)

clean:
	rm -rf $(BUILD)
