# Thin wrapper over CMake. Each goal installs what it needs, configures and builds.
BUILD   ?= build
ASAN    ?= build-asan
FUZZ    ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test test-asan bench fuzz soak install package clean \
        screenshots

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The program on the built-in simulated controller (board variant 100).
run: build
	$(BUILD)/bin/rmx7scope --simulate

# Every test, offscreen, in parallel; the package is built first so that its contents are
# checked too.
test: package
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest -j $(JOBS) --output-on-failure

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	@cmake -S . -B $(ASAN) -G Ninja -DRMX7_SANITIZE=ON -DRMX7_BENCH=OFF >/dev/null
	@cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 ctest -j $(JOBS) --output-on-failure

# Figures of the program against the paced simulator; results in build/bench/results.json.
bench: build
	@bash bench/run.sh $(BUILD)

# The README's pictures in docs/images: the program on its simulator under Xvfb.
screenshots: build
	@bash scripts/screenshots.sh $(BUILD) docs/images

# The program against the simulator with line faults for SOAK_SECONDS (600); fails when it
# crashed, a callback overran its time-out or memory grew. Results in build/bench/soak.json.
SOAK_SECONDS ?= 600
soak: build
	@mkdir -p $(BUILD)/bench
	$(BUILD)/bin/rmx7soak $(BUILD)/bin/rmx7sim $(BUILD)/bench/soak.json $(SOAK_SECONDS)

# Each fuzz target for FUZZ_SECONDS under ASan and UBSan, built with clang in $(FUZZ);
# fails on any finding. Executions per target in build/bench/fuzz.json.
fuzz:
	@bash scripts/install-deps.sh fuzz
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -G Ninja -DRMX7_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ) -j $(JOBS)
	@bash tests/fuzz/run.sh $(FUZZ) $(FUZZ_SECONDS) $(BUILD)/bench/fuzz.json

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ)

# The program, its panel file, logo, menu entry and icon under $(PREFIX).
PREFIX ?= /usr/local
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package $(BUILD)/rmx7scope_<version>_<arch>.deb, installing under /usr.
package: build
	@cmake --build $(BUILD) --target package
