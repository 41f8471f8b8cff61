# Quillmore: the two commands of the README.
#   make run   installs what is missing, builds, recovers the sample image
#   make test  installs what is missing, builds, runs every test
BUILD ?= build
SAMPLE ?= data/samples/sample-fat32.img
JOBS ?= $(shell nproc)

.PHONY: all deps build test run clean sanitize

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

run: build
	@bash scripts/run-sample.sh $(BUILD) $(SAMPLE)

sanitize: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) build-asan
