# Thin wrapper over CMake so that a fresh machine needs only `make run` or `make test`.
BUILD_DIR   ?= build
BENCH_DIR   ?= build-release
WIN_DIR     ?= build-windows
JOBS        ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
BENCH_ARGS  ?=
LATENCY_ARGS ?=
CROSS_DIR   ?= build-cross

.PHONY: all deps configure build run test bench corpus verify-sine latency windows test-windows clean FORCE

# Each build directory remembers the CMAKE_FLAGS it was configured with; when
# they change, the cache is thrown away and configured afresh, since CMake
# would otherwise keep every cached value the new flags no longer set.
%/cmake-flags: FORCE
	@mkdir -p $*
	@printf '%s\n' '$(CMAKE_FLAGS)' | cmp -s - $@ || printf '%s\n' '$(CMAKE_FLAGS)' > $@

.PHONY: test-aarch64 test-s390x test-i686 corpus-aarch64 corpus-s390x corpus-i686

all: build

deps:
	@scripts/install-deps

$(BUILD_DIR)/CMakeCache.txt: $(BUILD_DIR)/cmake-flags
	cmake --fresh -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: deps $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Formatting and clang-tidy, as CI checks them.
.PHONY: lint
lint: configure
	scripts/lint $(BUILD_DIR)

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

# The web tests need the browsers: `make test-web`.
test: build
	cd $(BUILD_DIR) && ctest -LE web --output-on-failure -j $(JOBS)

$(BENCH_DIR)/CMakeCache.txt: $(BENCH_DIR)/cmake-flags
	cmake --fresh -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

bench: deps $(BENCH_DIR)/CMakeCache.txt
	cmake --build $(BENCH_DIR) -j $(JOBS) --target quibbet_bench
	$(BENCH_DIR)/bench/quibbet_bench $(BENCH_ARGS)

# Every PCM byte of the fast render against the reference, whole corpus.
corpus: deps $(BENCH_DIR)/CMakeCache.txt
	cmake --build $(BENCH_DIR) -j $(JOBS) --target fast_render_corpus
	$(BENCH_DIR)/tests/fast_render_corpus

# How G's random sounds turn out: of 1,000 rendered as --render renders,
# how many are heard and how many are square-like at full scale.
.PHONY: random-sounds
random-sounds: deps $(BENCH_DIR)/CMakeCache.txt
	cmake --build $(BENCH_DIR) -j $(JOBS) --target random_sounds
	$(BENCH_DIR)/bench/random_sounds

# Key to sound, stop to silence, start to sound and Escape to exit, heard
# through a private sound server, idle and with every core busy: minutes.
# PulseAudio unless LATENCY_ARGS='--server pipewire' (or
# '--server pulseaudio,pipewire', both side by side).
latency: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target quibbet_latency
	$(BUILD_DIR)/bench/quibbet_latency $(LATENCY_ARGS) $(BUILD_DIR)/quibbet

# SIGTERM and SIGHUP 0-40 ms after the start in 0.25 ms steps, with three
# busy loops on the cores: 320 runs of the real program on a pty.
.PHONY: start-signals
start-signals: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target start_signals
	$(BUILD_DIR)/tests/start_signals $(BUILD_DIR)/quibbet tests/silent_alsa.conf 250 160 3 3000

# The same measurement, where users are: the Windows program under wine64
# with keys typed through wine's console on a pty, and the program built for
# a slow CPU in $(PORTABLE_DIR), configured with $(PORTABLE_FLAGS).
PORTABLE_DIR   ?= build-portable
PORTABLE_FLAGS ?= -DQUIBBET_SIMD=OFF
.PHONY: latency-windows latency-portable
latency-windows: build windows
	cmake --build $(BUILD_DIR) -j $(JOBS) --target quibbet_latency
	tests/windows/latency_wine.sh $(BUILD_DIR)/bench/quibbet_latency $(WIN_DIR)/quibbet.exe $(LATENCY_ARGS)

latency-portable: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target quibbet_latency
	cmake --fresh -S . -B $(PORTABLE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(PORTABLE_FLAGS)
	cmake --build $(PORTABLE_DIR) -j $(JOBS) --target quibbet
	$(BUILD_DIR)/bench/quibbet_latency $(LATENCY_ARGS) $(PORTABLE_DIR)/quibbet

# Sine over all 2^32 floats against the C library and MPFR, on every core.
verify-sine: deps $(BENCH_DIR)/CMakeCache.txt
	cmake --build $(BENCH_DIR) -j $(JOBS) --target verify_sine
	$(BENCH_DIR)/tests/verify_sine

# The Windows program, cross-built with mingw-w64: $(WIN_DIR)/quibbet.exe.
$(WIN_DIR)/CMakeCache.txt: $(WIN_DIR)/cmake-flags
	cmake --fresh -S . -B $(WIN_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQUIBBET_NATIVE_BUILD_DIR=$(abspath $(BUILD_DIR)) $(CMAKE_FLAGS)

windows: deps $(WIN_DIR)/CMakeCache.txt
	cmake --build $(WIN_DIR) -j $(JOBS) --target quibbet

# The Windows tests under wine64. Some compare the Windows program's bytes
# with the Linux build's, so that is built first.
test-windows: build windows
	cmake --build $(WIN_DIR) -j $(JOBS)
	tests/wine/ctest $(WIN_DIR) --output-on-failure -j $(JOBS)

# ---- The embeddable player (player/).
# Its PCM against the program's for 10,000 random patches (ctest runs 1,000).
.PHONY: player-proof player-hashes player-size
player-proof: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target player_proof
	seq 0 1000 9000 | xargs -P $(JOBS) -I{} $(BUILD_DIR)/tests/player_proof {} 1000

# The renders' hash from every compiler, flag set and target, and from an x87
# build, which is not expected to match.
player-hashes: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target player_hash
	@echo "this machine's build: $$($(BUILD_DIR)/tests/player_hash)"
	@for b in gcc-O0 gcc-O2 gcc-O3-native clang-O0 clang-O2 clang-O3-native g++-O2 i686 \
	          aarch64 mingw-x86_64 wasm32; do \
	  tests/players/build_hash.sh $$b $(BUILD_DIR)/tests/players $(BUILD_DIR)/tests/player_hash \
	    || exit 1; done
	@echo "x87 (-m32, no SSE arithmetic): $$(tests/players/build_hash.sh x87 $(BUILD_DIR)/tests/players)"

# Bytes of code and constants of the player at -Os, per target.
player-size: deps
	tests/players/player_size.sh $(BUILD_DIR)/player-size
# ---- end of the player

# ---- The player on the web (web/): `make web` builds $(WEB_DIR), the npm
# package and the page; `make npm-package` packs it as
# web/quibbet-player-VERSION.tgz; `make web-serve` serves the page on
# localhost; `make bench-web` times a render in WebAssembly under node beside
# the native reference render. `make test-web` runs the web tests (ctest
# label web): node, headless Chromium and Firefox ESR, and JavaScriptCore.
WEB_DIR  ?= web/dist
WEB_PORT ?= 8044
.PHONY: web-deps web npm-package web-serve bench-web test-web

# The browsers and the npm packages web/package-lock.json pins (npm ci).
web-deps:
	@scripts/install-deps web
	@cd web && { [ node_modules/.package-lock.json -nt package-lock.json ] || npm ci --no-audit --no-fund; }

web: web-deps
	web/build.sh $(WEB_DIR)

npm-package: web
	cd $(WEB_DIR) && npm pack --pack-destination $(abspath web)

web-serve: web
	node web/serve.mjs $(WEB_DIR) $(WEB_PORT)

bench-web: web $(BENCH_DIR)/CMakeCache.txt
	cmake --build $(BENCH_DIR) -j $(JOBS) --target quibbet_bench
	node bench/web_bench.mjs $(BENCH_DIR)/bench/quibbet_bench $(WEB_DIR)

test-web: web build
	cd $(BUILD_DIR) && ctest -L web --output-on-failure
# ---- end of the player on the web

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
# Every level's render must match the x86-64 build's reference render,
# which this build checks against its own fast render and leaves as one
# fingerprint a render; the emulator is spared the slow reference.
CORPUS_FINGERPRINTS := $(abspath $(BUILD_DIR))/corpus-fingerprints.txt
$(CORPUS_FINGERPRINTS): configure FORCE
	cmake --build $(BUILD_DIR) -j $(JOBS) --target fast_render_corpus
	QUIBBET_CORPUS_WRITE=$@.tmp $(BUILD_DIR)/tests/fast_render_corpus \
	  --gtest_filter='RenderFast.EveryPcmByteMatchesTheReferenceOnEveryLevel'
	mv $@.tmp $@

corpus-aarch64 corpus-s390x corpus-i686: corpus-%: $(CORPUS_FINGERPRINTS)
	scripts/install-deps cross-$*
	$(MAKE) --no-print-directory $(CROSS_DIR)-$*/CMakeCache.txt
	cmake --build $(CROSS_DIR)-$* -j $(JOBS) --target fast_render_corpus
	QUIBBET_CORPUS_EXPECT=$(CORPUS_FINGERPRINTS) $(CROSS_DIR)-$*/tests/run-fast_render_corpus
# ---- end of other CPUs

clean:
	rm -rf $(BUILD_DIR) $(BENCH_DIR) $(WIN_DIR) $(PKG_DIR) $(PORTABLE_DIR)

# ---- Installing and packaging ----------------------------------------------
# `make install` and `make uninstall` honour PREFIX and DESTDIR; the install
# is recorded in $(BUILD_DIR), and the uninstall removes exactly that.
PREFIX  ?= /usr/local
PKG_DIR ?= build-package

.PHONY: install uninstall package windows-zip

install: build
	scripts/install $(BUILD_DIR) $(PREFIX)

uninstall:
	scripts/uninstall $(BUILD_DIR)

# The Debian packages, from a release build for /usr that builds only what
# they hold, checked by lintian: $(PKG_DIR)/quibbet_VERSION_ARCH.deb and
# $(PKG_DIR)/libquibbet-player-dev_VERSION_ARCH.deb.
package: deps
	cmake -S . -B $(PKG_DIR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON $(CMAKE_FLAGS)
	cmake --build $(PKG_DIR) -j $(JOBS) --target quibbet_packaged
	cd $(PKG_DIR) && cpack
	lintian --fail-on error $(PKG_DIR)/*.deb

# $(WIN_DIR)/quibbet-VERSION-windows-x86_64.zip: quibbet.exe, README.txt, LICENSE.txt.
windows-zip: windows
	cmake --build $(WIN_DIR) -j $(JOBS) --target windows_zip
