# The two commands: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DQUOKKA_WERROR=ON
endif

.PHONY: run test setup build clean

setup:
	bash tools/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

run: build
	bash tools/run.sh $(BUILD)/quokka-quokka

test: build
	cd $(BUILD) && ctest --output-on-failure --timeout 900

clean:
	rm -rf $(BUILD)
