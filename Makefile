# Quillmoss top-level commands. Every target installs what is missing first (apt only).
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 20
FUZZ_TARGETS := text_utils body_text ini settings names fetchers
LEAK_BUILD ?= $(ASAN_BUILD)
# Layers whose tests run under ThreadSanitizer.
TSAN_LABELS := '^(net|core|download|sites|jobs)$$'
GEN := -G Ninja
WERROR := $(if $(CI),ON,OFF)
CTEST_FLAGS := --output-on-failure -j $(JOBS)

PREFIX ?= /usr/local

.PHONY: deps configure build test test-main test-package test-asan test-tsan fuzz leaks soak diskfull demo run screenshots format bench install deb clean

deps:
	@bash scripts/install-deps.sh

# The options are given explicitly: a build folder first configured by `make demo` (terminal
# program only) gets everything back.
configure: deps
	@cmake -S . -B $(BUILD) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_WERROR=$(WERROR) \
		-DQM_GUI=ON -DQM_TESTS=ON -DQM_BENCH=ON >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Every test: the full build (GUI included), the non-GUI targets again under ASan + UBSan and under
# ThreadSanitizer, then each fuzz harness for FUZZ_SECONDS (a fixed seed, so runs repeat).
test: test-main test-package test-asan test-tsan fuzz

test-main: build
	cd $(BUILD) && ctest $(CTEST_FLAGS)

# The Debian package unpacked into a scratch root (dpkg -x); its quillmoss-cli runs from there.
test-package: deb
	@bash scripts/package-test.sh $(BUILD)

# Installs the programs, desktop entry, icons, metadata, man pages and completion under PREFIX.
install: configure
	@cmake --build $(BUILD) -j $(JOBS) --target $(PACKAGE_TARGETS)
	cmake --install $(BUILD) --prefix "$(PREFIX)"

# build/quillmoss_<version>_<arch>.deb (CPack; dependencies from dpkg-shlibdeps), then lintian
# (its tags, one a line). Builds only what the package holds, not the tests and benchmarks.
PACKAGE_TARGETS := quillmoss quillmoss-cli qzone-sim qm_docs
deb: configure
	@cmake --build $(BUILD) -j $(JOBS) --target $(PACKAGE_TARGETS)
	@rm -f $(BUILD)/quillmoss_*.deb
	cd $(BUILD) && cpack -G DEB >/dev/null
	@ls $(BUILD)/quillmoss_*.deb
	@bash scripts/lintian.sh $(BUILD)/quillmoss_*.deb

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) $(GEN) -DCMAKE_BUILD_TYPE=Debug -DQM_GUI=OFF -DQM_BENCH=OFF \
		-DQM_SANITIZE=ON -DQM_WERROR=$(WERROR) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest $(CTEST_FLAGS)

# ThreadSanitizer over the non-GUI layers, then a whole list-and-download of the demo target through
# quillmoss-cli. Any report fails the run (TSan exits 66).
test-tsan: deps
	@cmake -S . -B $(TSAN_BUILD) $(GEN) -DCMAKE_BUILD_TYPE=Debug -DQM_GUI=OFF -DQM_BENCH=OFF -DQM_TSAN=ON >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 exitcode=66 suppressions=$(abspath tests/tsan.supp)" ctest $(CTEST_FLAGS) -L $(TSAN_LABELS)
	@bash scripts/cli-run.sh $(TSAN_BUILD)/bin/quillmoss-cli TSAN_OPTIONS="halt_on_error=1 exitcode=66 suppressions=$(abspath tests/tsan.supp)"

# libFuzzer harnesses (clang, ASan + UBSan) in their own build folder; each runs FUZZ_SECONDS.
fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
		-DCMAKE_CXX_COMPILER=clang++ -DQM_GUI=OFF -DQM_BENCH=OFF -DQM_SANITIZE=ON -DQM_FUZZ=ON \
		-DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@bash scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# The CLI's list and download of the demo target under LeakSanitizer: no leak may be reported.
leaks: deps
	@cmake -S . -B $(LEAK_BUILD) $(GEN) -DCMAKE_BUILD_TYPE=Debug -DQM_GUI=OFF -DQM_BENCH=OFF \
		-DQM_SANITIZE=ON -DQM_WERROR=$(WERROR) >/dev/null
	@cmake --build $(LEAK_BUILD) -j $(JOBS) --target quillmoss-cli
	@bash scripts/cli-run.sh $(LEAK_BUILD)/bin/quillmoss-cli ASAN_OPTIONS="detect_leaks=1 exitcode=23"

# 20 albums x 500 pictures from the simulator with faults on (about ten minutes; not part of `make test`).
soak: deps
	@bash scripts/soak.sh

# A save folder on a 2 MiB tmpfs that fills up mid-album, and a read-only save folder (needs root).
diskfull: deps
	@bash scripts/diskfull.sh

# The demo target of the built-in simulator, listed and downloaded in a scratch program folder.
# Installs and builds only what quillmoss-cli needs (a build folder not configured yet is set up
# without the window, tests and benchmarks); fails when the demo does.
DEMO_QQ := 123456789
DEMO_DIR = $(abspath $(BUILD))/demo
# The demo's albums that need no login: the private, friends-only and mood albums need one, which
# the terminal takes from a browser's cookies (quillmoss-cli cookies import); the password album's
# password is given on the command line.
DEMO_ALBUMS ?= 1,4-9
DEMO_PASSWORD ?= 4=1234
# What counts as a picture in the demo's count (the gallery's thumbnails and pages are left out).
DEMO_PICTURES := \( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png' -o -iname '*.gif' -o -iname '*.bmp' -o -iname '*.webp' -o -iname '*.mp4' \)
demo:
	@bash scripts/install-deps.sh cli
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DQM_WERROR=$(WERROR) -DQM_GUI=OFF -DQM_TESTS=OFF -DQM_BENCH=OFF >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target quillmoss-cli
	@rm -rf "$(DEMO_DIR)" && mkdir -p "$(DEMO_DIR)"
	@cd "$(DEMO_DIR)" && QUILLMOSS_HOME="$(DEMO_DIR)" "$(abspath $(BUILD))/bin/quillmoss-cli" --demo list $(DEMO_QQ)
	@cd "$(DEMO_DIR)" && QUILLMOSS_HOME="$(DEMO_DIR)" "$(abspath $(BUILD))/bin/quillmoss-cli" --demo download $(DEMO_QQ) \
		--albums $(DEMO_ALBUMS) --album-password $(DEMO_PASSWORD) --yes --save "$(DEMO_DIR)/saved"; status=$$?; \
		pictures=$$(find "$(DEMO_DIR)/saved" -name .thumbs -prune -o -type f $(DEMO_PICTURES) -print 2>/dev/null | wc -l); \
		echo; echo "演示: $(DEMO_DIR)/saved/ 下保存了 $$pictures 张图片（quillmoss-cli 退出状态 $$status）"; \
		exit $$status

run: build
	@mkdir -p $(BUILD)/run && cd $(BUILD)/run && QUILLMOSS_HOME=. ../bin/quillmoss

screenshots: build
	@rm -rf $(BUILD)/screenshots-work && mkdir -p $(BUILD)/screenshots-work $(BUILD)/screenshots
	cd $(BUILD)/screenshots-work && QUILLMOSS_HOME=. QT_QPA_PLATFORM=offscreen ../bin/quillmoss --demo --screenshots ../screenshots

# Every benchmark, then one table of figures against their anchors and goals (BENCH_ARGS=--quick for a short run).
bench: build
	@bash scripts/bench.sh $(BUILD)/bin $(BENCH_ARGS)

format:
	@bash scripts/install-deps.sh format
	@find net core sites download sim ui app tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
