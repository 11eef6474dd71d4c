# Thin wrapper over CMake so that a fresh machine needs only `make run` or `make test`.
BUILD_DIR   ?= build
BENCH_DIR   ?= build-release
WIN_DIR     ?= build-windows
JOBS        ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
BENCH_ARGS  ?=
LATENCY_ARGS ?=
CROSS_DIR   ?= build-cross

.PHONY: all deps configure build run test bench corpus verify-sine latency windows test-windows clean
.PHONY: test-aarch64 test-s390x test-i686 corpus-aarch64 corpus-s390x corpus-i686

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

# ---- Other CPUs, built with cmake/<triple>.cmake and tested under qemu-user.
# Each compares its renders and files with this machine's build, which is
# built first. aarch64 builds the whole program; s390x (big-endian) and i686
# the engine, the files and the command line.
cross_toolchain_aarch64 := aarch64-linux-gnu
cross_toolchain_s390x   := s390x-linux-gnu
cross_toolchain_i686    := i686-linux-gnu

$(CROSS_DIR)-%/CMakeCache.txt:
	scripts/install-deps cross-$*
	cmake -S . -B $(CROSS_DIR)-$* -DCMAKE_TOOLCHAIN_FILE=cmake/$(cross_toolchain_$*).cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQUIBBET_NATIVE_BUILD_DIR=$(abspath $(BUILD_DIR)) $(CMAKE_FLAGS)

test-aarch64 test-s390x test-i686: test-%: build
	scripts/install-deps cross-$*
	$(MAKE) --no-print-directory $(CROSS_DIR)-$*/CMakeCache.txt
	cmake --build $(CROSS_DIR)-$* -j $(JOBS)
	cd $(CROSS_DIR)-$* && ctest --output-on-failure -j $(JOBS)

# The whole fast-render corpus under the emulator: long, so not in ctest.
corpus-aarch64 corpus-s390x corpus-i686: corpus-%:
	scripts/install-deps cross-$*
	$(MAKE) --no-print-directory $(CROSS_DIR)-$*/CMakeCache.txt
	cmake --build $(CROSS_DIR)-$* -j $(JOBS) --target fast_render_corpus
	$(CROSS_DIR)-$*/tests/run-fast_render_corpus
# ---- end of other CPUs

clean:
	rm -rf $(BUILD_DIR) $(BENCH_DIR) $(WIN_DIR)
