# Thin wrapper over CMake/Ninja.
#   make        build the native release tree
#   make check  build and test the native, 32-bit (-m32) and ASan+UBSan trees
#   make run    build, then run every test on every CPU through zoltpeers
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE    = cmake -G Ninja -Wno-dev
CTEST    = ctest --output-on-failure -j $(JOBS) --timeout 300

.PHONY: all native m32 asan check check-native check-m32 check-asan run clean

all: native

$(BUILD)/native/build.ninja:
	$(CMAKE) -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Release
$(BUILD)/m32/build.ninja:
	$(CMAKE) -S . -B $(BUILD)/m32 -DCMAKE_BUILD_TYPE=Release -DZOLT_M32=ON
$(BUILD)/asan/build.ninja:
	$(CMAKE) -S . -B $(BUILD)/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOLT_SANITIZE=ON

native: $(BUILD)/native/build.ninja
	ninja -C $(BUILD)/native -j $(JOBS)
m32: $(BUILD)/m32/build.ninja
	ninja -C $(BUILD)/m32 -j $(JOBS)
asan: $(BUILD)/asan/build.ninja
	ninja -C $(BUILD)/asan -j $(JOBS)

check-native: native
	cd $(BUILD)/native && $(CTEST)
check-m32: m32
	scripts/enable-i386-exec.sh
	cd $(BUILD)/m32 && $(CTEST)
check-asan: asan
	cd $(BUILD)/asan && $(CTEST)

check: check-native check-m32 check-asan

run: native
	$(BUILD)/native/bin/zoltpeers --module $(BUILD)/native/bin/zoltcpu.linux \
	    --deffile $(BUILD)/native/bin/zoltcpu.ini all

clean:
	rm -rf $(BUILD)
