# Entry points: `make run` and `make test` set up everything they need.
BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= $(shell nproc)
CTEST_ARGS ?=
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all deps build build-asan build-fuzz test test-normal test-asan test-fuzz run bench fuzz soak format install package release clean

all: build

deps:
	@./scripts/install-deps.sh

build: deps
	@[ -f $(BUILD_DIR)/CMakeCache.txt ] || cmake -S . -B $(BUILD_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	@cmake --build $(BUILD_DIR) -j$(JOBS)

build-asan: deps
	@[ -f $(ASAN_DIR)/CMakeCache.txt ] || cmake -S . -B $(ASAN_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DSTELVOX_SANITIZE=ON
	@cmake --build $(ASAN_DIR) -j$(JOBS)

test-normal: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS) $(CTEST_ARGS)

test-asan: build-asan
	cd $(ASAN_DIR) && ctest --output-on-failure -j$(JOBS) $(CTEST_ARGS)

# The fuzz targets, built with clang and libFuzzer in their own folder.
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 180
FUZZ_TARGETS := ftpreply ftplisting ftpsession

build-fuzz: deps
	@[ -f $(FUZZ_DIR)/CMakeCache.txt ] || cmake -S tests/fuzz -B $(FUZZ_DIR) $(GENERATOR) \
	  -DCMAKE_CXX_COMPILER=clang++ -DSTELVOX_FUZZ=ON
	@cmake --build $(FUZZ_DIR) -j$(JOBS)

# Each target briefly over the committed corpus.
test-fuzz: build-fuzz
	cd $(FUZZ_DIR) && ctest --output-on-failure $(CTEST_ARGS)

test: test-normal test-asan test-fuzz

run: build
	@if [ -x scripts/run.sh ]; then exec scripts/run.sh $(BUILD_DIR); \
	 else echo "The program is not built yet; 'make test' runs what exists."; fi

bench: build
	@for b in $(BUILD_DIR)/bench/*; do [ -x "$$b" ] && "$$b"; done; true

# The long soak on its own, e.g. make soak SOAK_SECONDS=1800 (figures in the build folder).
SOAK_SECONDS ?= 1800
soak: build
	@/usr/bin/python3 tests/soak/soak.py --build-dir $(BUILD_DIR) --seconds $(SOAK_SECONDS) \
	  --report $(BUILD_DIR)/soak-report.json

# Each fuzz target for FUZZ_SECONDS; new inputs go to $(FUZZ_DIR)/new-<target>, crashes
# to $(FUZZ_DIR)/crash-*. Copy inputs worth keeping into tests/fuzz/corpus/<target>.
fuzz: build-fuzz
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/new-$$t; echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  $(FUZZ_DIR)/tests/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	    -max_len=65536 -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/ \
	    $(FUZZ_DIR)/new-$$t tests/fuzz/corpus/$$t; done

format:
	@git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

install: build
	cmake --install $(BUILD_DIR)

# The Debian package of the normal build, checked with lintian, into $(BUILD_DIR)/dist.
package: build
	@./scripts/package.sh $(BUILD_DIR) $(BUILD_DIR)/dist

# The update installer StelvoxSetup_V<version>.run beside the package, and its
# signature when a minisign secret key is given: make release MINISIGN_KEY=<file>.
MINISIGN_KEY ?=
release: package
	@./scripts/release.sh $(BUILD_DIR)/dist $(MINISIGN_KEY)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR)
