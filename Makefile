# make run   - set up, build and start the window
# make test  - set up, build and run every test, normally and under ASan+UBSan
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all setup build build-asan test test-normal test-asan run install fuzz bench clean

all: build

setup:
	@./scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

build-asan: setup
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQVT_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

test: test-normal test-asan

run: build
	@if [ -x $(BUILD)/app/qvtsplit ]; then $(BUILD)/app/qvtsplit; else echo "the window is not built yet" >&2; exit 1; fi

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX),)

bench: build
	@if [ -x bench/run.sh ]; then bench/run.sh $(BUILD); else echo "no benchmarks yet"; fi

fuzz:
	@if [ -x fuzz/run.sh ]; then fuzz/run.sh; else echo "no fuzz targets yet"; fi

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
