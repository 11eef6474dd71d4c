# Thin wrapper over CMake so that a fresh machine needs only `make run` or
# `make test`. Each target installs the dependency sets it needs
# (scripts/install-deps) and no more, then configures its build folder for
# them (scripts/configure).
BUILD_DIR   ?= build
BENCH_DIR   ?= build-release
WIN_DIR     ?= build-windows
CROSS_DIR   ?= build-cross
PKG_DIR     ?= build-package
ASAN_DIR    ?= build-asan
EXACT_DIR   ?= build-exactness
FUZZ_DIR    := build-fuzz
JOBS        ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
BENCH_ARGS  ?=
LATENCY_ARGS ?=

.PHONY: all deps build run test bench corpus verify-sine latency windows test-windows clean FORCE

all: build

# Every set that `make check` installs, for a machine that should have it all
# at once.
deps:
	scripts/install-deps run test windows players package lint bench exactness fuzz \
	  cross-aarch64 cross-s390x cross-i686 web

# $(call configure,DIR,SETS,CMAKE ARGUMENTS): install SETS and configure DIR.
configure = scripts/configure $(1) "$(2)" $(3)
NATIVE_ARGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

# The native build, tests included.
build:
	$(call configure,$(BUILD_DIR),run test,$(NATIVE_ARGS))
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Formatting and clang-tidy, as CI checks them.
.PHONY: lint
lint:
	$(call configure,$(BUILD_DIR),run lint,$(NATIVE_ARGS))
	scripts/lint $(BUILD_DIR)

# The program alone: no tests, no benchmarks. The build's log is shown only
# when the build fails, so the program starts on a clean terminal; it stays
# in $(BUILD_DIR)/build.log either way.
run:
	@scripts/install-deps run
	@mkdir -p $(BUILD_DIR)
	@$(call configure,$(BUILD_DIR),run,$(NATIVE_ARGS)) >$(BUILD_DIR)/build.log 2>&1 || { \
	  cat $(BUILD_DIR)/build.log; \
	  echo "make run: configuring failed; its log is above and in $(BUILD_DIR)/build.log" >&2; \
	  exit 1; }
	@echo "make run: building quibbet..."
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target quibbet >>$(BUILD_DIR)/build.log 2>&1 || { \
	  cat $(BUILD_DIR)/build.log; \
	  echo "make run: the build failed; its log is above and in $(BUILD_DIR)/build.log" >&2; \
	  exit 1; }
	@$(BUILD_DIR)/quibbet

# Every test of the native build that needs nothing beyond the run and test
# sets: not the player's builds for other targets (test-players), nor the
# install and the packages (test-package), nor the browsers (test-web).
test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -LE 'players|package|web'

# ---- What CI runs, in its order, each section's start printed with the time
# since the first: `make check` on a developer's machine is CI. The check of
# one target is `make <target>`; `make -k check` goes on past a failed
# section and names every failed one at the end.
CHECK_SECTIONS := test lint test-windows test-players package test-package test-asan \
  exactness-gcc-O3-native exactness-clang exactness-portable test-aarch64 test-emulated test-web \
  fuzz
.PHONY: check
check:
	@start=$$(date +%s); failed=; \
	for target in $(CHECK_SECTIONS); do \
	  at=$$(($$(date +%s) - start)); \
	  printf '\n==== make %s (at %d:%02d) ====\n' "$$target" $$((at / 60)) $$((at % 60)); \
	  $(MAKE) --no-print-directory -f $(firstword $(MAKEFILE_LIST)) $$target || \
	    { [ -n "$(findstring k,$(firstword -$(MAKEFLAGS)))" ] || exit 1; failed="$$failed $$target"; }; \
	done; \
	at=$$(($$(date +%s) - start)); \
	if [ -n "$$failed" ]; then \
	  printf '\n==== failed:%s (at %d:%02d) ====\n' "$$failed" $$((at / 60)) $$((at % 60)); exit 1; \
	fi; \
	printf '\n==== all passed (at %d:%02d) ====\n' $$((at / 60)) $$((at % 60))

# The player's builds for other compilers and targets (one of them under
# wine), its random patches and the import.txt round trip.
.PHONY: test-players
test-players:
	$(call configure,$(BUILD_DIR),run test players windows,$(NATIVE_ARGS))
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -L players

# `make install` into a temporary folder and the Debian packages made from
# this build, installed into a throwaway root.
.PHONY: test-package
test-package:
	$(call configure,$(BUILD_DIR),run test package,$(NATIVE_ARGS))
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -L package

# Every test but the player's other builds, the packages and the browsers
# (test-players, test-package and test-web ran those, and under the sanitizers they would only take long)
# and the start-up signal sweep: it times real processes to the millisecond,
# and the sanitizers' start and exit work (the leak scan) makes that
# meaningless. A Debug build: gcc at -O0, so its exactness tests also prove
# the bytes of unoptimised code, and CI needs no exactness-gcc-O0.
.PHONY: test-asan
test-asan:
	$(call configure,$(ASAN_DIR),run test,-DCMAKE_BUILD_TYPE=Debug -DQUIBBET_SANITIZE=ON)
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ctest -LE 'players|package|web' -E '^StartSignals' --output-on-failure -j $(JOBS)

# The exactness tests (ctest -L exactness) under other compilers, flags and
# kernels, which must not change a single byte: exactness-<variant> in
# $(EXACT_DIR)-<variant>.
exactness_args_gcc-O3-native := -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_CXX_FLAGS=-march=native -DCMAKE_C_COMPILER=gcc -DCMAKE_C_FLAGS=-march=native
exactness_args_gcc-O0 := -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++ -DCMAKE_CXX_FLAGS=-O0 \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_C_FLAGS=-O0
exactness_args_clang := -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_COMPILER=clang
exactness_sets_clang := exactness
exactness_args_portable := -DCMAKE_BUILD_TYPE=Release -DQUIBBET_SIMD=OFF
# The portable kernel, the one the s390x and i686 builds run, also over the
# whole corpus: seconds here, where under the emulator it takes minutes.
exactness_corpus_portable := yes
EXACTNESS_VARIANTS := gcc-O3-native gcc-O0 clang portable
.PHONY: $(EXACTNESS_VARIANTS:%=exactness-%)
$(EXACTNESS_VARIANTS:%=exactness-%): exactness-%:
	$(call configure,$(EXACT_DIR)-$*,run test $(exactness_sets_$*),$(exactness_args_$*))
	cmake --build $(EXACT_DIR)-$* -j $(JOBS) --target engine_tests output_tests player_tests \
	  $(if $(exactness_corpus_$*),fast_render_corpus)
	cd $(EXACT_DIR)-$* && ctest -L exactness --output-on-failure -j $(JOBS)
	$(if $(exactness_corpus_$*),$(EXACT_DIR)-$*/tests/fast_render_corpus --gtest_brief=1)

# The key decoder and the patch file parser under libFuzzer, FUZZ_SECONDS each.
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz:
	scripts/fuzz $(FUZZ_SECONDS)
# ---- end of what CI runs

BENCH_ARGS_CONFIG = -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

bench:
	$(call configure,$(BENCH_DIR),run bench,$(BENCH_ARGS_CONFIG))
	cmake --build $(BENCH_DIR) -j $(JOBS) --target quibbet_bench
	$(BENCH_DIR)/bench/quibbet_bench $(BENCH_ARGS)

# Every PCM byte of the fast render against the reference, whole corpus.
corpus:
	$(call configure,$(BENCH_DIR),run test,$(BENCH_ARGS_CONFIG))
	cmake --build $(BENCH_DIR) -j $(JOBS) --target fast_render_corpus
	$(BENCH_DIR)/tests/fast_render_corpus

# How G's random sounds turn out: of 1,000 rendered as --render renders,
# how many are heard and how many are square-like at full scale.
.PHONY: random-sounds
random-sounds:
	$(call configure,$(BENCH_DIR),run,$(BENCH_ARGS_CONFIG))
	cmake --build $(BENCH_DIR) -j $(JOBS) --target random_sounds
	$(BENCH_DIR)/bench/random_sounds

# Key to sound, stop to silence, start to sound and Escape to exit, heard
# through a private sound server, idle and with every core busy: minutes.
# PulseAudio unless LATENCY_ARGS='--server pipewire' (or
# '--server pulseaudio,pipewire', both side by side).
latency: latency-tool
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
latency-windows: latency-tool windows
	tests/windows/latency_wine.sh $(BUILD_DIR)/bench/quibbet_latency $(WIN_DIR)/quibbet.exe $(LATENCY_ARGS)

latency-portable: latency-tool
	$(call configure,$(PORTABLE_DIR),run,-DCMAKE_BUILD_TYPE=RelWithDebInfo $(PORTABLE_FLAGS))
	cmake --build $(PORTABLE_DIR) -j $(JOBS) --target quibbet
	$(BUILD_DIR)/bench/quibbet_latency $(LATENCY_ARGS) $(PORTABLE_DIR)/quibbet

.PHONY: latency-tool
latency-tool:
	$(call configure,$(BUILD_DIR),run test bench,$(NATIVE_ARGS))
	cmake --build $(BUILD_DIR) -j $(JOBS) --target quibbet_latency quibbet

# Sine over all 2^32 floats against the C library and MPFR, on every core.
verify-sine:
	$(call configure,$(BENCH_DIR),run test bench,$(BENCH_ARGS_CONFIG))
	cmake --build $(BENCH_DIR) -j $(JOBS) --target verify_sine
	$(BENCH_DIR)/tests/verify_sine

# The Windows program, cross-built with mingw-w64: $(WIN_DIR)/quibbet.exe.
WIN_ARGS = -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DQUIBBET_NATIVE_BUILD_DIR=$(abspath $(BUILD_DIR)) $(CMAKE_FLAGS)

windows:
	$(call configure,$(WIN_DIR),run windows,$(WIN_ARGS))
	cmake --build $(WIN_DIR) -j $(JOBS) --target quibbet

# The Windows tests under wine64. Some compare the Windows program's bytes
# with the Linux build's, so that is built first.
test-windows: build
	$(call configure,$(WIN_DIR),run test windows,$(WIN_ARGS))
	cmake --build $(WIN_DIR) -j $(JOBS)
	tests/wine/ctest $(WIN_DIR) --output-on-failure -j $(JOBS)

# ---- The embeddable player (player/).
# Its PCM against the program's for 10,000 random patches (ctest runs 1,000).
.PHONY: player-proof player-hashes player-size
player-proof:
	$(call configure,$(BUILD_DIR),run test,$(NATIVE_ARGS))
	cmake --build $(BUILD_DIR) -j $(JOBS) --target player_proof
	seq 0 1000 9000 | xargs -P $(JOBS) -I{} $(BUILD_DIR)/tests/player_proof {} 1000

# The renders' hash from every compiler, flag set and target, and from an x87
# build, which is not expected to match.
player-hashes:
	$(call configure,$(BUILD_DIR),run test players windows,$(NATIVE_ARGS))
	cmake --build $(BUILD_DIR) -j $(JOBS) --target player_hash
	@echo "this machine's build: $$($(BUILD_DIR)/tests/player_hash)"
	@for b in gcc-O0 gcc-O2 gcc-O3-native clang-O0 clang-O2 clang-O3-native g++-O2 i686 \
	          aarch64 mingw-x86_64 wasm32; do \
	  tests/players/build_hash.sh $$b $(BUILD_DIR)/tests/players $(BUILD_DIR)/tests/player_hash \
	    || exit 1; done
	@echo "x87 (-m32, no SSE arithmetic): $$(tests/players/build_hash.sh x87 $(BUILD_DIR)/tests/players)"

# Bytes of code and constants of the player at -Os, per target.
player-size:
	scripts/install-deps run players
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

bench-web: web
	$(call configure,$(BENCH_DIR),run bench,$(BENCH_ARGS_CONFIG))
	cmake --build $(BENCH_DIR) -j $(JOBS) --target quibbet_bench
	node bench/web_bench.mjs $(BENCH_DIR)/bench/quibbet_bench $(WEB_DIR)

test-web: web build
	cd $(BUILD_DIR) && ctest -L web --output-on-failure -j $(JOBS)
# ---- end of the player on the web

# ---- Other CPUs, built with cmake/<triple>.cmake and tested under qemu-user.
# Each compares its renders and files with this machine's build, which is
# built first. aarch64 builds the whole program; s390x (big-endian) and i686
# the engine, the files and the command line.
cross_toolchain_aarch64 := aarch64-linux-gnu
cross_toolchain_s390x   := s390x-linux-gnu
cross_toolchain_i686    := i686-linux-gnu
CROSS_CPUS := aarch64 s390x i686
cross_configure = $(call configure,$(CROSS_DIR)-$(1),run test cross-$(1), \
  -DCMAKE_TOOLCHAIN_FILE=cmake/$(cross_toolchain_$(1)).cmake -DCMAKE_BUILD_TYPE=Release \
  -DQUIBBET_NATIVE_BUILD_DIR=$(abspath $(BUILD_DIR)) $(CMAKE_FLAGS))

.PHONY: $(CROSS_CPUS:%=test-%) $(CROSS_CPUS:%=corpus-%) corpus-cross
$(CROSS_CPUS:%=test-%): test-%: build
	$(call cross_configure,$*)
	cmake --build $(CROSS_DIR)-$* -j $(JOBS)
	cd $(CROSS_DIR)-$* && ctest --output-on-failure -j $(JOBS)

# The whole fast-render corpus under the emulator: long, so not in ctest.
# Every level's render must match the x86-64 build's reference render,
# which this build checks against its own fast render and leaves as one
# fingerprint a render; the emulator is spared the slow reference.
CORPUS_FINGERPRINTS := $(abspath $(BUILD_DIR))/corpus-fingerprints.txt
$(CORPUS_FINGERPRINTS): build FORCE
	cmake --build $(BUILD_DIR) -j $(JOBS) --target fast_render_corpus
	QUIBBET_CORPUS_WRITE=$@.tmp $(BUILD_DIR)/tests/fast_render_corpus \
	  --gtest_filter='RenderFast.EveryPcmByteMatchesTheReferenceOnEveryLevel'
	mv $@.tmp $@

$(CROSS_CPUS:%=corpus-%): corpus-%: $(CORPUS_FINGERPRINTS)
	$(call cross_configure,$*)
	cmake --build $(CROSS_DIR)-$* -j $(JOBS) --target fast_render_corpus
	QUIBBET_CORPUS_EXPECT=$(CORPUS_FINGERPRINTS) $(CROSS_DIR)-$*/tests/run-fast_render_corpus

# All three at once: each corpus is one emulated thread, so the three share
# the cores. Their packages first, one apt at a time.
corpus-cross:
	scripts/install-deps run test $(CROSS_CPUS:%=cross-%)
	$(MAKE) --no-print-directory -j3 --output-sync=target $(CROSS_CPUS:%=corpus-%)

# CI's emulated part after test-aarch64: the s390x and i686 tests beside the
# aarch64 corpus, one emulated thread that would leave a core idle alone.
# None of them times anything. The s390x and i686 corpora run the portable
# kernel, which exactness-portable runs over the whole corpus natively.
.PHONY: test-emulated
test-emulated: build
	scripts/install-deps run test $(CROSS_CPUS:%=cross-%)
	$(MAKE) --no-print-directory -j3 --output-sync=target test-s390x test-i686 corpus-aarch64
# ---- end of other CPUs

# Every folder that any target here makes ($(FUZZ_DIR) is scripts/fuzz's; web/node_modules
# is web-deps' npm ci), and the packed npm package.
clean:
	rm -rf $(BUILD_DIR) $(BENCH_DIR) $(WIN_DIR) $(PKG_DIR) $(PORTABLE_DIR) $(ASAN_DIR) $(FUZZ_DIR) \
	  $(CROSS_CPUS:%=$(CROSS_DIR)-%) $(EXACTNESS_VARIANTS:%=$(EXACT_DIR)-%) $(WEB_DIR) \
	  web/node_modules web/quibbet-player-*.tgz

# ---- Installing and packaging ----------------------------------------------
# `make install` and `make uninstall` honour PREFIX and DESTDIR; the install
# is recorded in $(BUILD_DIR), and the uninstall removes exactly that.
PREFIX  ?= /usr/local

.PHONY: install uninstall package windows-zip

install:
	$(call configure,$(BUILD_DIR),run install,$(NATIVE_ARGS))
	cmake --build $(BUILD_DIR) -j $(JOBS) --target quibbet_packaged
	scripts/install $(BUILD_DIR) $(PREFIX)

uninstall:
	scripts/uninstall $(BUILD_DIR)

# The Debian packages, from a release build for /usr that builds only what
# they hold, checked by lintian: $(PKG_DIR)/quibbet_VERSION_ARCH.deb and
# $(PKG_DIR)/libquibbet-player-dev_VERSION_ARCH.deb.
package:
	$(call configure,$(PKG_DIR),run package,-DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON $(CMAKE_FLAGS))
	cmake --build $(PKG_DIR) -j $(JOBS) --target quibbet_packaged
	cd $(PKG_DIR) && cpack
	lintian --fail-on error $(PKG_DIR)/*.deb

# $(WIN_DIR)/quibbet-VERSION-windows-x86_64.zip: quibbet.exe, README.txt, LICENSE.txt.
windows-zip: windows
	cmake --build $(WIN_DIR) -j $(JOBS) --target windows_zip
