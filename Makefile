# Kartolino — the commands of the README.
BUILD_TEST  ?= build/test
BUILD_REL   ?= build/release
GENERATOR   := -G Ninja
JOBS        ?= $(shell nproc)

.PHONY: deps build test bench run format clean

deps:
	@scripts/install-deps.sh

# Debug build with the sanitizers, then every test.
test: deps
	cmake -S . -B $(BUILD_TEST) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DKARTOLINO_SANITIZE=ON -DKARTOLINO_TESTS=ON
	cmake --build $(BUILD_TEST) -j $(JOBS)
	cd $(BUILD_TEST) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# Optimised build of everything.
build: deps
	cmake -S . -B $(BUILD_REL) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DKARTOLINO_TESTS=OFF -DKARTOLINO_BENCH=ON
	cmake --build $(BUILD_REL) -j $(JOBS)

bench: build
	@for b in $(BUILD_REL)/bench/kartolino_bench*; do echo "== $$b"; $$b; done

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
