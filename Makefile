# Front door of the project: `make demo` and `make test` need nothing else.
.PHONY: all setup build configure build-win64 test test-host test-win32 test-win64 stress demo screenshots bench bench-dialog fuzz fuzz-container fuzz-build fuzz-smoke install package clean

JOBS ?= $(shell nproc)
# cmake --build runs make in turn; its "Entering directory" lines are noise.
MAKEFLAGS += --no-print-directory
WINE_RUN := cmake/wine-run --wine-dir build/win32/wine
STUBKIT := build/host/stubkit/stubkit
PREFIX ?= /usr/local
FUZZ_SECONDS ?= 300
FUZZ_SMOKE_SECONDS ?= 60
CONTAINER_SMOKE_SECONDS ?= 30
BENCH_LEVELS ?= 1 3 5 7 9 10 11 12
INSTALL_BENCH_RUNS ?= 5

all: build

setup:
	@cmake/setup.sh

configure: setup
	@[ -f build/win32/CMakeCache.txt ] || cmake --preset win32 >/dev/null
	@[ -f build/host/CMakeCache.txt ] || cmake --preset host >/dev/null
	@[ -f build/windows-tool/CMakeCache.txt ] || cmake --preset windows-tool >/dev/null

# The Windows programs come first: both packaging tools, stubkit for Linux
# and stubkit.exe for Windows, carry the installer stub.
build: configure
	@cmake --build --preset win32 -j $(JOBS)
	@cmake --build --preset host -j $(JOBS)
	@cmake --build --preset windows-tool -j $(JOBS)

# Where Wine cannot run 32-bit programs (a kernel without 32-bit emulation),
# the Windows suites run as a 64-bit test build of the same sources under
# 64-bit Wine (the shipped programs stay the 32-bit ones).
test: build fuzz-smoke
	@if cmake/wine-run --check; then \
		$(WINE_RUN) --session sh -c 'ctest --preset host -j $(JOBS) && ctest --preset win32 -LE stress'; \
	else \
		ctest --preset host -j $(JOBS) && $(MAKE) test-win64 && \
		echo "make test: the Windows suites ran as 64-bit builds, because this machine cannot run 32-bit programs"; \
	fi
	@ctest --preset windows-tool

test-host: build
	@ctest --preset host -j $(JOBS)

test-win32: build
	@$(WINE_RUN) --session ctest --preset win32 -LE stress

# The Windows suites built for x86-64, under 64-bit Wine: for machines that
# cannot run 32-bit programs. Their installers are packed by a second build of
# the tool (build/host64) that carries the 64-bit stub, so `stubkit test`
# knows the stub in front of them.
build-win64: setup
	@[ -f build/win64/CMakeCache.txt ] || cmake --preset win64 >/dev/null
	@[ -f build/host64/CMakeCache.txt ] || cmake --preset host64 >/dev/null
	@cmake --build --preset win64 -j $(JOBS)
	@cmake --build --preset host64 -j $(JOBS)

test-win64: build build-win64
	@cmake/wine-run --win64 --session ctest --preset win64 -LE stress

# The real installer's damage table with its sweeps: a cut at every 97th byte
# and a flip of every byte of the header and the stream (hours under Wine),
# and 400 random hostile installers beside the fixed ones.
stress: build
	@STUBKIT_STRESS=1 $(WINE_RUN) --session ctest --preset win32 -L stress

# The tool with its manual page and bash completion under PREFIX (DESTDIR,
# when set, is put in front of every path, as packagers expect).
install: build
	@cmake --install build/host --prefix "$(PREFIX)"

# A Debian package of the tool, in build/host/package/, and a zip of
# stubkit.exe with its CMake package, the licence, the README and the manual,
# in build/windows-tool/package/.
WINDOWS_ZIP := build/windows-tool/package/stubkit-$(shell sed -n 's/^project.stubkit VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-windows-x64.zip
package: build
	@cmake --build --preset host --target package
	@cmake/windows-zip.sh build/windows-tool $(STUBKIT) . $(WINDOWS_ZIP)

# The demo product (examples/demo) staged with its built program, packed and
# checked as the installer would check it.
DEMO_DIR := build/demo
demo: build
	@rm -rf $(DEMO_DIR) && mkdir -p "$(DEMO_DIR)/product/Demo Hello"
	@cp -R examples/demo/product/. $(DEMO_DIR)/product/
	@cp build/win32/examples/demo/hello/demo-hello.exe "$(DEMO_DIR)/product/Demo Hello/"
	@cp examples/demo/demo.toml $(DEMO_DIR)/demo.toml
	@$(STUBKIT) build $(DEMO_DIR)/demo.toml -o $(DEMO_DIR)/demo-setup.exe
	@$(STUBKIT) list $(DEMO_DIR)/demo-setup.exe
	@$(STUBKIT) test $(DEMO_DIR)/demo-setup.exe
	@echo "Built programs:"
	@echo "  installer stub: $(CURDIR)/build/win32/installer/setup-stub.exe"
	@echo "  uninstaller:    $(CURDIR)/build/win32/uninstall/davirado.exe"
	@echo "  packer:         $(CURDIR)/$(STUBKIT)"
	@echo "  demo installer: $(CURDIR)/$(DEMO_DIR)/demo-setup.exe"
	@echo "Install the demo under Wine by hand (uninstall it from its Start-menu link or davirado.exe):"
	@echo "  cmake/wine-run $(DEMO_DIR)/demo-setup.exe"

# The demo installer's setup window with the folder dialog over it, rendered
# under Xvfb into docs/screenshots/ (the picture the README shows). A Wine
# prefix of its own keeps the tests' scratch folders out of the picture.
SCREENSHOT_BMP := build/screenshots/setup-window.bmp
screenshots: demo
	@mkdir -p build/screenshots
	@cmake/wine-run --wine-dir build/screenshots/wine build/win32/tests/installer/setup-screenshot.exe $(DEMO_DIR)/demo-setup.exe \
		$(SCREENSHOT_BMP) 'C:\Program Files'
	@perl docs/screenshots/bmp_to_png.pl $(SCREENSHOT_BMP) docs/screenshots/setup-window.png
	@echo "screenshot: docs/screenshots/setup-window.png"

bench: build
	@ls -l build/win32/installer/setup-stub.exe build/win32/uninstall/davirado.exe | awk '{ printf "%-48s %8d bytes\n", $$9, $$5 }'
	@bench/run-bench.sh build/host/bench $(STUBKIT) "$(BENCH_LEVELS)"
	@bench/order-bench.sh build/host/bench-order $(STUBKIT)
	@if cmake/wine-run --check; then \
		bench/file-count-bench.sh build/host/bench-file-count $(STUBKIT) build/win32/bench/win32/install-timer.exe \
			build/win32/installer/setup-stub.exe && \
		bench/extract-bench.sh build/host/bench-extract $(STUBKIT) build/win32/tests/extract/extract-probe.exe && \
		bench/install-bench.sh build/host/bench-install $(STUBKIT) build/win32/bench/win32/install-timer.exe \
			build/win32/installer/setup-stub.exe $(INSTALL_BENCH_RUNS) && \
		bench/alive-bench.sh build/host/bench-alive $(STUBKIT) build/win32/bench/win32/install-timer.exe \
			build/win32/installer/setup-stub.exe && \
		$(MAKE) bench-dialog DIALOG_TIMER="$(WINE_RUN) build/win32/bench/win32/dialog-timer.exe"; \
	else \
		echo "bench: this machine cannot run 32-bit programs: no extraction or install rows;" \
			"the folder dialog's row comes from its 64-bit build"; \
		$(MAKE) build-win64 && \
		$(MAKE) bench-dialog DIALOG_TIMER="cmake/wine-run --win64 build/win64/bench/win32/dialog-timer.exe"; \
	fi

bench-dialog:
	@echo "Folder dialog beside a folder of N sub-folders (open: until it stands; expand: that folder;"
	@echo "searches: one search of each sub-folder without the dialog, the floor for expanding):"
	@$(DIALOG_TIMER) 0 1000 10000 20000 50000

# The stream decoder under libFuzzer with ASan and UBSan, starting from valid
# streams; `make fuzz` runs FUZZ_SECONDS, `make test` a short smoke run.
fuzz-build: setup
	@[ -f build/fuzz/CMakeCache.txt ] || cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS) --target decoder_fuzzer fuzz_seeds container_fuzzer container_seeds > build/fuzz/build.log 2>&1 \
		|| { cat build/fuzz/build.log; exit 1; }

fuzz: fuzz-build
	@mkdir -p build/fuzz/corpus
	@build/fuzz/fuzz/decoder_fuzzer -max_total_time=$(FUZZ_SECONDS) -timeout=20 -rss_limit_mb=2048 \
		-print_final_stats=1 -artifact_prefix=build/fuzz/ build/fuzz/corpus build/fuzz/seeds

# The installer container's parser and extraction rules, for FUZZ_SECONDS.
fuzz-container: fuzz-build
	@mkdir -p build/fuzz/container-corpus
	@build/fuzz/fuzz/container_fuzzer -max_total_time=$(FUZZ_SECONDS) -timeout=20 -rss_limit_mb=2048 \
		-print_final_stats=1 -artifact_prefix=build/fuzz/container- build/fuzz/container-corpus build/fuzz/container-seeds

fuzz-smoke: fuzz-build
	@mkdir -p build/fuzz/corpus
	@build/fuzz/fuzz/decoder_fuzzer -max_total_time=$(FUZZ_SMOKE_SECONDS) -timeout=20 -rss_limit_mb=2048 \
		-artifact_prefix=build/fuzz/ build/fuzz/corpus build/fuzz/seeds > build/fuzz/smoke.log 2>&1 \
		|| { tail -n 40 build/fuzz/smoke.log; echo "fuzz-smoke: failed, see build/fuzz/smoke.log"; exit 1; }
	@grep -E '^Done' build/fuzz/smoke.log | sed 's/^/fuzz-smoke: /'
	@mkdir -p build/fuzz/container-corpus
	@build/fuzz/fuzz/container_fuzzer -max_total_time=$(CONTAINER_SMOKE_SECONDS) -timeout=20 -rss_limit_mb=2048 \
		-artifact_prefix=build/fuzz/container- build/fuzz/container-corpus build/fuzz/container-seeds \
		> build/fuzz/container-smoke.log 2>&1 \
		|| { tail -n 40 build/fuzz/container-smoke.log; echo "fuzz-smoke: container fuzzer failed"; exit 1; }
	@grep -E '^Done' build/fuzz/container-smoke.log | sed 's/^/fuzz-smoke (container): /'

clean:
	rm -rf build
