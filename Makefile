# The two commands: `make run` and `make test`. Both install what is missing first.
# `make test` also configures $(SAN_BUILD), where the cores' unit tests and one whole-program
# scenario are built with AddressSanitizer and UndefinedBehaviorSanitizer, and starts building
# it at the lowest priority before $(BUILD) is built, so it takes whatever processor time the
# release build leaves. CTest in $(BUILD) finishes
# that tree (its first test, asan.build, which waits on the same lock, so the two builds never
# run in one tree at once) and runs those tests too (as asan.*), so its closing summary
# covers both trees. CTest runs TEST_JOBS tests at a time, three more than
# the processors: one place goes to asan.build, which takes only what processor time the
# others leave, and the whole-program scenarios spend most of their time waiting on the
# program's pace. Tests that need the machine or part of it say so (RUN_SERIAL, or the timed tests'
# locks in cmake/QuokkaSanitize.cmake). Then the benchmarks' figures are printed again.
# `make package` builds the Debian package.
BUILD ?= build
SAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
TEST_JOBS ?= $(shell echo $$(($(JOBS) + 3)))
CMAKE_FLAGS ?=
# Ninja for a new tree; a tree configured before keeps the generator it has.
GENERATOR = $(if $(wildcard $(1)/CMakeCache.txt),,-G Ninja)
ifeq ($(CI),true)
CMAKE_FLAGS += -DQUOKKA_WERROR=ON
endif

.PHONY: run test setup setup-test build sanitize sanitize-tree sanitize-early package clean

# What building and running need; the tests' packages (GoogleTest, clang, the X server, the
# peers) come with `make test` alone.
setup:
	bash tools/setup.sh run

setup-test:
	bash tools/setup.sh test

build: setup
	cmake -S . -B $(BUILD) $(call GENERATOR,$(BUILD)) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUOKKA_SANITIZER_TREE=$(abspath $(SAN_BUILD)) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

# A tree without GoogleTest builds the program alone; `make test` asks for the tests.
test: CMAKE_FLAGS += -DQUOKKA_TESTS=ON

# clang compiles the sanitizer tree in about 70% of GCC's processor time (the fuzzers already
# need it); a tree configured before keeps the compilers it has.
SAN_COMPILERS = $(if $(wildcard $(SAN_BUILD)/CMakeCache.txt),,-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)

sanitize-tree: setup-test
	cmake -S . -B $(SAN_BUILD) $(call GENERATOR,$(SAN_BUILD)) -DCMAKE_BUILD_TYPE=Debug -DQUOKKA_SANITIZE=ON -DQUOKKA_EMBED_GEO_TABLE=OFF $(SAN_COMPILERS) $(CMAKE_FLAGS)

# The lock that keeps two builds of the sanitizer tree from running at once.
SAN_LOCK = flock $(SAN_BUILD)/build.lock

sanitize: sanitize-tree
	$(SAN_LOCK) cmake --build $(SAN_BUILD) -j$(JOBS) --target quokka_sanitized_tests

# Starts building the sanitizer tree in the background; its output goes to early-build.log
# there, and asan.build shows what failed, if anything did.
sanitize-early: sanitize-tree
	$(SAN_LOCK) nice -n 19 cmake --build $(SAN_BUILD) -j$(JOBS) --target quokka_sanitized_tests \
	  > $(SAN_BUILD)/early-build.log 2>&1 &

run: build
	bash tools/run.sh $(BUILD)/quokka-quokka

test: setup-test sanitize-early build
	cd $(BUILD) && ctest -j$(TEST_JOBS) --output-on-failure --timeout 900; status=$$?; \
	  bash $(CURDIR)/tools/bench_summary.sh .; exit $$status

package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
