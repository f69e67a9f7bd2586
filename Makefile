# Entry points: `make run` and `make test` set up everything they need.
BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= $(shell nproc)
CTEST_ARGS ?=
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all deps build build-asan test test-normal test-asan run bench fuzz soak format install clean

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

test: test-normal test-asan

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

format:
	@git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

install: build
	cmake --install $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)
