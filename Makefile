# Kartolino — the commands of the README.
BUILD_TEST  ?= build/test
BUILD_REL   ?= build/release
GENERATOR   := -G Ninja
JOBS        ?= $(shell nproc)
REL_FLAGS   := -DCMAKE_BUILD_TYPE=Release -DKARTOLINO_TESTS=OFF -DKARTOLINO_BENCH=ON
CLI         := $(BUILD_REL)/tools/kartolino-cli
SAMPLE      ?= assets/samples/beispielkarte.wqx
RUN_DIR     ?= build/run
RUN_DPI     ?= 150

.PHONY: deps build test bench run sample format clean

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
	cmake -S . -B $(BUILD_REL) $(GENERATOR) $(REL_FLAGS)
	cmake --build $(BUILD_REL) -j $(JOBS)

bench: build
	@for b in $(BUILD_REL)/bench/kartolino_bench*; do echo "== $$b"; $$b; done

# Until the application layer exists: the bundled sample card rendered headless, every page
# to a PNG under $(RUN_DIR)/.
run: deps
	cmake -S . -B $(BUILD_REL) $(GENERATOR) $(REL_FLAGS)
	cmake --build $(BUILD_REL) -j $(JOBS) --target kartolino-cli
	@if [ -n "$${DISPLAY}$${WAYLAND_DISPLAY}" ]; then \
	  echo "A display is there, but the card designer's window arrives with the application layer (app/); rendering headless meanwhile."; \
	fi
	@mkdir -p $(RUN_DIR)
	@pages=$$($(CLI) info $(SAMPLE) | sed -n 's/^pages: //p'); \
	  [ -n "$$pages" ] || { echo "cannot read $(SAMPLE)"; exit 1; }; \
	  for p in $$(seq 1 $$pages); do \
	    $(CLI) render $(SAMPLE) --page $$p --dpi $(RUN_DPI) -o $(RUN_DIR)/beispielkarte-$$p.png || exit 1; \
	  done; \
	  echo "The $$pages pages of $(SAMPLE) are in $(RUN_DIR)/ (beispielkarte-1.png ... beispielkarte-$$pages.png)."

# Regenerates the bundled sample card through the engine and checks it.
sample: deps
	cmake -S . -B $(BUILD_REL) $(GENERATOR) $(REL_FLAGS)
	cmake --build $(BUILD_REL) -j $(JOBS) --target kartolino-make-sample kartolino-cli
	$(BUILD_REL)/tools/kartolino-make-sample $(SAMPLE)
	$(CLI) check $(SAMPLE)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
