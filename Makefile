# Quillmore: the two commands of the README.
#   make run   installs what is missing, builds the program, runs the main job on the sample image
#   make test  installs what is missing, builds everything, runs every test
#   make install [PREFIX=/usr/local] [DESTDIR=]  installs the built program, its data,
#              the manual page and the bash completion
BUILD ?= build
SAMPLE ?= data/samples/sample-fat32.img
JOBS ?= $(shell nproc)

PREFIX ?= /usr/local

.PHONY: all deps build program test run sample clean sanitize install gui fuzz tsan

all: build

deps:
	@bash scripts/install-deps.sh

# Warnings are errors in the builds made here (and so in CI).
$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_WERROR=ON

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# The main job needs only the engine and the command line (and the data
# beside them): tests and benchmarks are built by `make test` / `make build`.
program: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target quillmore-cli qm_data

# The sample image is kept compressed in the repository.
sample: deps
	@if [ ! -f $(SAMPLE) ] && [ -f $(SAMPLE).zst ]; then zstd -q -d -f $(SAMPLE).zst -o $(SAMPLE); fi

test: build sample
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

run: program sample
	@bash scripts/run-sample.sh $(BUILD) $(SAMPLE)

# The desktop program on the sample image.
gui: build sample
	$(BUILD)/quillmore $(SAMPLE)

sanitize: deps sample
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_WERROR=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

install: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target quillmore-cli quillmore qm_data
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

# The fuzz targets under fuzz/ (clang + libFuzzer), each run FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_FUZZ=ON \
	  -DQM_WERROR=ON -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	bash scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

# The tests with threads in them under ThreadSanitizer.
TSAN_TESTS ?= DriverTest|QueueTest|Catalog|FoundObjectTree|Reader|Signature|Scanner|Analyser|Recovery|LogTest
tsan: deps sample
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TSAN=ON -DQM_WERROR=ON -DQM_BUILD_BENCH=OFF
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS) --timeout 900 -R '$(TSAN_TESTS)'

clean:
	rm -rf $(BUILD) build-asan build-fuzz build-tsan
