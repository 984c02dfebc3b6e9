# QUORVIK: `make run` builds and opens the viewer, `make test` builds and runs every test.
# Both install the Debian packages they need first (through sudo when not root).

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
WORLD      ?= $(BUILD)/world

.PHONY: all deps build build-asan run data test test-asan fuzz soak bench rd format clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVIK_SANITIZE=ON -DQUORVIK_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# The default data set, made once.
data: build
	@scripts/make-data.sh $(BUILD) $(WORLD)

run: data
	cd $(WORLD) && ../quorvik

test: build build-asan
	scripts/run-tests.sh $(BUILD) $(ASAN_BUILD)

fuzz:
	scripts/fuzz.sh

soak: data
	scripts/soak.sh $(BUILD) $(WORLD)

bench: build
	scripts/bench.sh $(BUILD)

# The encoder's rate-distortion curves on real photographs and on the world, every quality
# (about ten minutes); bench/rd.sh BUILD alone runs three qualities.
rd: build
	bench/rd.sh $(BUILD) $(BUILD)/rd --full

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
