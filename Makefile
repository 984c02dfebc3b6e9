# QUORVIK: `make run` builds and opens the viewer, `make test` builds and runs every test.
# Both install the Debian packages they need first (through sudo when not root).

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
WORLD      ?= $(BUILD)/world
PREFIX     ?= /usr/local

.PHONY: all deps build build-asan build-tsan run data install uninstall test test-asan tsan fuzz soak bench rd speed format clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVIK_SANITIZE=ON -DQUORVIK_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# ThreadSanitizer: only the multi-threaded render engine's tests are built and run here.
build-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVIK_TSAN=ON \
	  -DQUORVIK_VIEWER=OFF -DQUORVIK_TOOL=OFF -DQUORVIK_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target quorvik_engine_test

tsan: build-tsan
	scripts/run-tsan.sh $(TSAN_BUILD)

# The default data set, made once.
data: build
	@scripts/make-data.sh $(BUILD) $(WORLD)

run: data
	$(BUILD)/quorvik $(WORLD)

# Installs quorvik, quorvik-tool, their manual pages and the desktop entry under PREFIX
# (DESTDIR=... stages the install); the files written are listed in $(BUILD)/installed-files.txt,
# which `make uninstall` removes.
install: build
	DESTDIR="$(DESTDIR)" scripts/install.sh $(BUILD) "$(PREFIX)"

uninstall:
	scripts/uninstall.sh $(BUILD)/installed-files.txt

test: build build-asan build-tsan
	scripts/run-tests.sh $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)

fuzz:
	scripts/fuzz.sh

soak: data
	scripts/soak.sh $(BUILD) $(WORLD)

bench: build
	scripts/bench.sh $(BUILD)

# Rate-distortion curves on real photographs and on the world: the folder form, the one-file
# form and other codecs (JPEG, OpenJPEG, OpenJPH) on the same pictures, three points each;
# RD_ARGS=--full measures every quality (bench/rd.sh says more).
RD_ARGS ?=
rd: build
	bench/rd.sh $(BUILD) $(BUILD)/rd $(RD_ARGS)

# Coding speed on the rate-distortion photo mosaic: the one-file form against the folder form
# (import) and against JPEG, OpenJPEG and OpenJPH (whole commands on one thread), in one run.
speed: build
	bench/speed.sh $(BUILD) $(BUILD)/rd

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
