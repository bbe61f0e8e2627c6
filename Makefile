# Quillmoss top-level commands. Every target installs what is missing first (apt only).
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
GEN := -G Ninja
WERROR := $(if $(CI),ON,OFF)
CTEST_FLAGS := --output-on-failure -j $(JOBS)

.PHONY: deps configure build test test-main test-asan test-tsan demo run screenshots format bench clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_WERROR=$(WERROR) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Every test: the full build (GUI included), then the non-GUI targets again under ASan + UBSan.
test: test-main test-asan

test-main: build
	cd $(BUILD) && ctest $(CTEST_FLAGS)

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) $(GEN) -DCMAKE_BUILD_TYPE=Debug -DQM_GUI=OFF -DQM_BENCH=OFF \
		-DQM_SANITIZE=ON -DQM_WERROR=$(WERROR) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest $(CTEST_FLAGS)

# ThreadSanitizer over the non-GUI layers (not part of `make test`).
test-tsan: deps
	@cmake -S . -B $(TSAN_BUILD) $(GEN) -DCMAKE_BUILD_TYPE=Debug -DQM_GUI=OFF -DQM_BENCH=OFF -DQM_TSAN=ON >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 ctest $(CTEST_FLAGS)

# The demo target of the built-in simulator, listed and downloaded in a scratch program folder.
DEMO_QQ := 123456789
DEMO_DIR = $(abspath $(BUILD))/demo
demo: build
	@rm -rf "$(DEMO_DIR)" && mkdir -p "$(DEMO_DIR)"
	@cd "$(DEMO_DIR)" && "$(abspath $(BUILD))/bin/quillmoss-cli" --demo list $(DEMO_QQ)
	@cd "$(DEMO_DIR)" && "$(abspath $(BUILD))/bin/quillmoss-cli" --demo download $(DEMO_QQ) --albums all --yes \
		--save "$(DEMO_DIR)/saved"; status=$$?; \
		echo; echo "demo: $$(find "$(DEMO_DIR)/saved" -type f 2>/dev/null | wc -l) files under $(DEMO_DIR)/saved/ (quillmoss-cli exit status $$status)"

run: build
	@mkdir -p $(BUILD)/run && cd $(BUILD)/run && ../bin/quillmoss

screenshots: build
	@rm -rf $(BUILD)/screenshots-work && mkdir -p $(BUILD)/screenshots-work $(BUILD)/screenshots
	cd $(BUILD)/screenshots-work && QT_QPA_PLATFORM=offscreen ../bin/quillmoss --demo --screenshots ../screenshots

bench: build
	@for b in $(BUILD)/bin/*_bench; do [ -x "$$b" ] && echo "== $$b" && "$$b"; done; true

format:
	@find net core sites download sim ui app tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
