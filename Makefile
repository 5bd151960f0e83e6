# The two commands of the README, and a few more for developers.
BUILD ?= build
WINDOWS_BUILD ?= build-windows
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all setup build demo test bench fuzz clean format windows test-windows windows-dist deb \
	test-deb

all: build

setup:
	@scripts/setup

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/cli/stbup demo

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build windows
	scripts/bench $(BUILD) --windows-build $(WINDOWS_BUILD)

# The Debian package $(BUILD)/stbup_<version>_amd64.deb (cmake/LinuxPackage.cmake),
# and its test: contents, dependencies, lintian, and the programs run from a
# throw-away root it is unpacked into.
deb: build
	cd $(BUILD) && cpack -G DEB

test-deb: deb
	scripts/test-deb $(BUILD)

# The Windows programs, cross-built with mingw-w64 (cmake/mingw-w64-x86_64.cmake).
$(WINDOWS_BUILD)/build.ninja:
	cmake --preset windows -B $(WINDOWS_BUILD)

windows: setup $(WINDOWS_BUILD)/build.ninja
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# Under Wine in a prefix of its own; the end-to-end part needs the Linux
# simulator, hence the Linux build.
test-windows: build windows
	scripts/test-windows $(BUILD) $(WINDOWS_BUILD)

# A zip of stbup.exe, stbup-gui.exe, the README and the licence, and an NSIS
# installer of the same beside it, in $(WINDOWS_BUILD).
windows-dist: windows
	cd $(WINDOWS_BUILD) && cpack

fuzz: setup
	scripts/fuzz $(or $(FUZZ_SECONDS),60)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD)
