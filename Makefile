# Morvath: `make run` shows the map, `make test` checks everything, `make bench` measures; each installs what is missing.
BUILD := build
MAP := datas.mvx

.PHONY: run test bench build deps clean

run: build
	@[ -f $(MAP) ] || { echo "no $(MAP) here: generating the default world"; $(BUILD)/mvx generate -o $(MAP); }
	@scripts/run.sh $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2
	@echo "== the same suites under AddressSanitizer and UndefinedBehaviorSanitizer =="
	cmake -S . -B $(BUILD)-san -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVATH_SANITIZE=ON >/dev/null
	cmake --build $(BUILD)-san -j2
	ctest --test-dir $(BUILD)-san --output-on-failure -j2

# Speed and memory against their floors; prints a table and BENCH lines.
bench: build
	@bench/run.sh $(BUILD)

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j2

deps:
	@scripts/deps.sh

clean:
	rm -rf $(BUILD) $(BUILD)-san
