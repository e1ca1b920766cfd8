# The two commands: `make run` and `make test`. Both install what is missing first.
# `make test` also builds the cores' unit tests and one whole-program scenario with
# AddressSanitizer and UndefinedBehaviorSanitizer in $(SAN_BUILD); CTest in $(BUILD) runs those
# too (as asan.*), so its closing summary covers both trees. CTest runs JOBS tests at a time;
# tests that need the machine to themselves say so (RUN_SERIAL). Then the benchmarks' figures
# are printed again.
# `make package` builds the Debian package.
BUILD ?= build
SAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DQUOKKA_WERROR=ON
endif

.PHONY: run test setup build sanitize package clean

setup:
	bash tools/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUOKKA_SANITIZER_TREE=$(abspath $(SAN_BUILD)) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

sanitize: setup
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUOKKA_SANITIZE=ON -DQUOKKA_EMBED_GEO_TABLE=OFF $(CMAKE_FLAGS)
	cmake --build $(SAN_BUILD) -j$(JOBS) --target quokka_sanitized_tests

run: build
	bash tools/run.sh $(BUILD)/quokka-quokka

test: build sanitize
	cd $(BUILD) && ctest -j$(JOBS) --output-on-failure --timeout 900; status=$$?; \
	  bash $(CURDIR)/tools/bench_summary.sh .; exit $$status

package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
