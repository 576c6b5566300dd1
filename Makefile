# The two commands of the README, and the developer's extras.
.PHONY: all test demo fuzz bench format bootstrap screenshots

all: test

bootstrap:
	@./scripts/bootstrap

test: bootstrap
	cmake --workflow --preset all

demo: bootstrap
	cmake --preset all >/dev/null
	cmake --build --preset all
	@./scripts/demo build/all

FUZZ_SECONDS ?= 60
fuzz: bootstrap
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz
	@for t in driver/exempt_code driver/request common/multisz; do \
	    dir=$${t%/*}; name=$${t#*/}; \
	    echo "fuzzing $$name for $(FUZZ_SECONDS) s"; \
	    mkdir -p build/fuzz/corpus-$$name; \
	    build/fuzz/tests/$$dir/fuzz_$$name -max_total_time=$(FUZZ_SECONDS) -max_len=300 \
	        build/fuzz/corpus-$$name tests/$$dir/corpus/$$name || exit 1; \
	done

bench: bootstrap
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	build/bench/tests/driver/policy_bench
	cmake --preset all >/dev/null
	cmake --build --preset all
	cmake/wine-run build/all/windows-x64/wineprefix build/all/windows-x64/tests/driver/sim_stack_bench.exe
	cmake/wine-fresh-drivers build/all/windows-x64/wineprefix-kernel
	cmake/wine-run build/all/windows-x64/wineprefix-kernel \
	    build/all/windows-x64/tests/driver/wine/wine_disk_tour.exe --bench

# Pictures of setup, the launcher and the uninstaller in three languages, taken
# in Wine on a virtual display, into docs/screenshots/.
screenshots: bootstrap
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j2 --target QuillGuardSetup qg_screens
	./scripts/screenshots build/windows

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
