# Thin wrapper over CMake so that a fresh machine needs only `make run` or `make test`.
BUILD_DIR   ?= build
BENCH_DIR   ?= build-release
WIN_DIR     ?= build-windows
JOBS        ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
BENCH_ARGS  ?=
LATENCY_ARGS ?=

.PHONY: all deps configure build run test bench corpus verify-sine latency windows test-windows clean

all: build

deps:
	@scripts/install-deps

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: deps $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The build's log is shown only when the build fails, so the program starts
# on a clean terminal; it stays in $(BUILD_DIR)/build.log either way.
run: deps
	@mkdir -p $(BUILD_DIR)
	@echo "make run: building quibbet..."
	@$(MAKE) --no-print-directory build >$(BUILD_DIR)/build.log 2>&1 || { \
	  cat $(BUILD_DIR)/build.log; \
	  echo "make run: the build failed; its log is above and in $(BUILD_DIR)/build.log" >&2; \
	  exit 1; }
	@$(BUILD_DIR)/quibbet

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BENCH_DIR) -j $(JOBS) --target quibbet_bench
	$(BENCH_DIR)/bench/quibbet_bench $(BENCH_ARGS)

# Every PCM byte of the fast render against the reference, whole corpus.
corpus: deps
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BENCH_DIR) -j $(JOBS) --target fast_render_corpus
	$(BENCH_DIR)/tests/fast_render_corpus

# Key to sound, stop to silence, start to sound and Escape to exit, heard
# through a private sound server, idle and with every core busy: minutes.
latency: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target quibbet_latency
	$(BUILD_DIR)/bench/quibbet_latency $(LATENCY_ARGS) $(BUILD_DIR)/quibbet

# The same measurement, where users are: the Windows program under wine64
# with keys typed through wine's console on a pty, and the program built for
# a slow CPU in $(PORTABLE_DIR), configured with $(PORTABLE_FLAGS).
PORTABLE_DIR   ?= build-portable
PORTABLE_FLAGS ?= -DQUIBBET_REFERENCE_RENDER=ON
.PHONY: latency-windows latency-portable
latency-windows: build windows
	cmake --build $(BUILD_DIR) -j $(JOBS) --target quibbet_latency
	tests/windows/latency_wine.sh $(BUILD_DIR)/bench/quibbet_latency $(WIN_DIR)/quibbet.exe $(LATENCY_ARGS)

latency-portable: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target quibbet_latency
	cmake -S . -B $(PORTABLE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(PORTABLE_FLAGS)
	cmake --build $(PORTABLE_DIR) -j $(JOBS) --target quibbet
	$(BUILD_DIR)/bench/quibbet_latency $(LATENCY_ARGS) $(PORTABLE_DIR)/quibbet

# Sine over all 2^32 floats against the C library and MPFR, on every core.
verify-sine: deps
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BENCH_DIR) -j $(JOBS) --target verify_sine
	$(BENCH_DIR)/tests/verify_sine

# The Windows program, cross-built with mingw-w64: $(WIN_DIR)/quibbet.exe.
$(WIN_DIR)/CMakeCache.txt:
	cmake -S . -B $(WIN_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQUIBBET_NATIVE_BUILD_DIR=$(abspath $(BUILD_DIR)) $(CMAKE_FLAGS)

windows: deps $(WIN_DIR)/CMakeCache.txt
	cmake --build $(WIN_DIR) -j $(JOBS) --target quibbet

# The Windows tests under wine64. Some compare the Windows program's bytes
# with the Linux build's, so that is built first.
test-windows: build windows
	cmake --build $(WIN_DIR) -j $(JOBS)
	tests/wine/ctest $(WIN_DIR) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) $(BENCH_DIR) $(WIN_DIR) $(PORTABLE_DIR)
