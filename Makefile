# make demo: build, then run the program for real in a fresh Wine prefix.
# make test: build, then run every test this machine can run (unit tests, the
#            EXE's file checks, version emulation, the end-to-end suite), for
#            the 32-bit product and its 64-bit variant.
# make package [CONTROL_DLL=path/to/TVex.DLL]: the installation packages of
#            both trees; the product's ships CONTROL_DLL (by default the
#            tests' stand-in control), the x64 tree's is a test package.
# All install what they need first.
.PHONY: bootstrap build test demo bench package clean

PRESETS = x86 x64

bootstrap:
	bash cmake/bootstrap.sh

build: bootstrap
	for preset in $(PRESETS); do \
	    cmake --preset $$preset && cmake --build --preset $$preset || exit 1; \
	done

# Every preset's tests run even when an earlier one failed; any failure fails.
test: build
	@bash tests/wine-machine.sh explain
	@status=0; for preset in $(PRESETS); do \
	    ctest --preset $$preset || status=1; \
	done; bash tests/wine-machine.sh explain; exit $$status

# The demo says first which program it runs, and why.
demo: bootstrap
	@bash tests/e2e/demo.sh --which
	@$(MAKE) --no-print-directory build
	bash tests/e2e/demo.sh build

package: bootstrap
	cmake --preset x86 -DTARVEX_CONTROL_DLL="$(if $(CONTROL_DLL),$(abspath $(CONTROL_DLL)))"
	cmake --build --preset x86
	cmake --preset x64 && cmake --build --preset x64
	@ls -l build/x86/package/*.msi build/x64/package/*.msi
	@$(if $(CONTROL_DLL),true,echo "package: build/x86/package/TarvexActiveX.msi carries the tests' stand-in, not the Tarvex control: never ship it (make package CONTROL_DLL=/path/to/TVex.DLL)")

bench: build
	bash bench/bench.sh build

clean:
	rm -rf build
