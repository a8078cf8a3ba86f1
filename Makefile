# make demo: build, then run the program for real in a fresh Wine prefix.
# make test: build, then run every test this machine can run (unit tests, the
#            EXE's file checks, version emulation, the end-to-end suite), for
#            the 32-bit product and its 64-bit variant.
# make package [CONTROL_DLL=path/to/TVex.DLL]: the installation packages of
#            both trees; the product's ships CONTROL_DLL (by default the
#            tests' stand-in control), the x64 tree's is a test package.
# All install what they need first.
# make repeat SUITE=REGEX [N=5] [SCENARIO=name] [PRESET=x86]: those tests N
#            times in a row with every core busy (tests/repeat.sh).
.PHONY: bootstrap build test repeat demo bench package clean

PRESETS = x86 x64

bootstrap:
	bash cmake/bootstrap.sh

build: bootstrap
	for preset in $(PRESETS); do \
	    cmake --preset $$preset && cmake --build --preset $$preset || exit 1; \
	done

# The trees side by side, and in each the tests of different Wine prefixes;
# every tree's tests run even when another's failed; any failure fails.
TEST_JOBS = 4
test: build
	@bash tests/wine-machine.sh explain
	@status=0; bash tests/test-trees.sh $(TEST_JOBS) $(PRESETS) || status=1; \
	bash tests/wine-machine.sh explain; exit $$status

N = 5
PRESET = x86
repeat: build
	bash tests/repeat.sh $(PRESET) '$(SUITE)' $(N) $(SCENARIO)

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
