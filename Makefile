# Morvath: `make run` shows the map, `make test` checks everything, `make bench` measures; each installs what is missing.
BUILD := build
DEFAULT_MAP := datas.mvx
MAP := $(DEFAULT_MAP)
FUZZ_SECONDS := 600
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: run install package pictures test bench fuzz build fuzz-build deps clean

# Builds only the targets $(2), saying "building $(1)"; the build's output goes to a log, shown if it fails.
quiet_build = scripts/step.sh $(BUILD)/build.log "building $(1)" \
  sh -c 'cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release && cmake --build $(BUILD) -j2 --target $(2)'

# Shows MAP (make run MAP=some.mvx); the default world is generated only when MAP is the default and missing.
run: deps
	@$(call quiet_build,the viewer and mvx,morvath mvx shot)
	@[ '$(MAP)' != '$(DEFAULT_MAP)' ] || [ -f '$(MAP)' ] || \
	  scripts/step.sh $(BUILD)/generate.log "generating the default world (no $(MAP) here)" $(BUILD)/mvx generate -o '$(MAP)'
	@scripts/run.sh $(BUILD) '$(MAP)'

# morvath and mvx into $(DESTDIR)$(PREFIX)/bin, their manual pages and mvx's completion under share/.
install: deps
	@$(call quiet_build,the viewer and mvx with their manual pages,morvath mvx docs)
	@DESTDIR='$(DESTDIR)' cmake --install $(BUILD) --prefix '$(PREFIX)'

# A Debian package of what make install installs, in the repository's root: morvath_VERSION_ARCH.deb.
package: deps
	@$(call quiet_build,the viewer and mvx with their manual pages,morvath mvx docs)
	@rm -rf $(BUILD)/package
	@scripts/step.sh $(BUILD)/package.log "packaging" cpack --config $(BUILD)/CPackConfig.cmake -B $(BUILD)/package
	@cp $(BUILD)/package/*.deb . && cd $(BUILD)/package && echo "wrote" *.deb

# The README's pictures of the viewer, in docs/.
pictures: deps
	@$(call quiet_build,the viewer and mvx,morvath mvx shot npz_to_geotiff)
	@scripts/pictures.sh $(BUILD)

# The sanitizer build is at -O1 -g1, their usual level, with file and line in their reports: it
# builds in half the time of -O2 -g.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2
	@echo "== the same suites under AddressSanitizer and UndefinedBehaviorSanitizer =="
	cmake -S . -B $(BUILD)-san -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO='-O1 -g1' \
	  -DCMAKE_C_FLAGS_RELWITHDEBINFO='-O1 -g1' -DMORVATH_SANITIZE=ON >/dev/null
	cmake --build $(BUILD)-san -j2
	ctest --test-dir $(BUILD)-san --output-on-failure -j2

# Speed and memory against their floors; prints a table and BENCH lines.
bench: build
	@bench/run.sh $(BUILD)

# The readers under libFuzzer for FUZZ_SECONDS each; the corpora in $(BUILD)-fuzz/corpus carry over to the next run.
fuzz: fuzz-build
	fuzz/run.sh $(BUILD)-fuzz $(FUZZ_SECONDS) $(BUILD)-fuzz/corpus

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j2

fuzz-build: deps
	cmake -S . -B $(BUILD)-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVATH_FUZZ=ON >/dev/null
	cmake --build $(BUILD)-fuzz -j2 --target fuzzers

deps:
	@scripts/deps.sh

clean:
	rm -rf $(BUILD) $(BUILD)-san $(BUILD)-fuzz
