# Thin wrapper over CMake/Ninja.
#   make        build the native release tree
#   make check  build and test the native, 32-bit (-m32) and ASan+UBSan trees
#   make run    build the product alone (build/product), then run every test on
#               every CPU through zoltpeers (./run.sh; installs what is missing)
#   make product  build the product alone: no tests, fuzz targets or benchmarks
#   make install  install the product under PREFIX (default /usr/local), inside
#               DESTDIR when set (staged installs)
#   make package  the Debian package of the product: build/product/zoltcpu_*.deb
#   make listings  regenerate tests/listings/<arch>/ (x87 and MMX sequences of the
#               product objects, native and -m32) for review
#   make lint   clang-tidy and cppcheck over the native tree's compile commands
#   make fuzz   build the libFuzzer targets (clang, ASan+UBSan) in build/fuzz and
#               run each for FUZZ_SECONDS on one core; make fuzz-merge then adds
#               the inputs that found new coverage to fuzz/corpus/<target>/;
#               make fuzz-planted checks that each target finds a fault planted
#               in its parser within a minute; make fuzz-coverage replays the
#               corpora through a clang coverage build (build/fuzzcov)
#   make mutate the mutation campaign over the CPU tests' code in build/mutate
#               (not part of check; MUTATE_FILES, MUTATE_LIMIT, MUTATE_IDS, see
#               scripts/mutate.py); report in build/mutate/report.md
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE    = cmake -G Ninja -Wno-dev
# Most tests wait on FIFOs or child processes rather than compute, so CTest
# runs twice as many at once as there are cores.
CTEST_JOBS ?= $(shell echo $$(( $(JOBS) * 2 )))
CTEST    = ctest --output-on-failure -j $(CTEST_JOBS) --timeout 300

.PHONY: all native product install package m32 asan check check-native check-m32 check-asan run \
        clean fuzz fuzz-merge fuzz-planted fuzz-coverage lint listings mutate

all: native

# The three test trees treat warnings as errors; the product tree and the
# mutation tree do not (a user's newer compiler, a mutant's unused variable).
WERROR   = -DZOLT_WERROR=ON
$(BUILD)/native/build.ninja:
	$(CMAKE) -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Release $(WERROR)
$(BUILD)/product/build.ninja:
	$(CMAKE) -S . -B $(BUILD)/product -DCMAKE_BUILD_TYPE=Release -DZOLT_TESTS=OFF -DZOLT_BENCH=OFF
$(BUILD)/m32/build.ninja:
	$(CMAKE) -S . -B $(BUILD)/m32 -DCMAKE_BUILD_TYPE=Release -DZOLT_M32=ON $(WERROR)
$(BUILD)/asan/build.ninja:
	$(CMAKE) -S . -B $(BUILD)/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOLT_SANITIZE=ON $(WERROR)

native: $(BUILD)/native/build.ninja
	ninja -C $(BUILD)/native -j $(JOBS)
product: $(BUILD)/product/build.ninja
	ninja -C $(BUILD)/product -j $(JOBS)
PREFIX  ?= /usr/local
install: product
	DESTDIR=$(DESTDIR) cmake --install $(BUILD)/product --prefix $(PREFIX)
package: product
	cd $(BUILD)/product && cpack -G DEB
m32: $(BUILD)/m32/build.ninja
	ninja -C $(BUILD)/m32 -j $(JOBS)
asan: $(BUILD)/asan/build.ninja
	ninja -C $(BUILD)/asan -j $(JOBS)

check-native: native
	cd $(BUILD)/native && $(CTEST)
# The script prints the emulator's name when 32-bit programs run through one;
# the tests of the x87 unit (test 1) skip themselves there.
check-m32: m32
	emu=$$(scripts/enable-i386-exec.sh) && cd $(BUILD)/m32 && ZOLT_CPU_EMULATOR=$$emu $(CTEST)
check-asan: asan
	cd $(BUILD)/asan && $(CTEST)

check: check-native check-m32 check-asan

listings: native m32
	ninja -C $(BUILD)/native listings
	ninja -C $(BUILD)/m32 listings

# zoltpeers' exit statuses 1 (a test found a fault) and 4 (something could
# not be tested) are the report's news, not a build failure: run.sh turns them
# into 0. Any other status (the module could not be run, usage) fails the target.
run:
	BUILD=$(BUILD) JOBS=$(JOBS) ./run.sh

FUZZ_SECONDS ?= 60
FUZZ_MAXLEN  ?= 8192
FUZZ_TARGETS  = field-lookup frame-reader profile-ini device-list param-words \
                command-line cpuinfo smbios nls-reply received-split transport \
                xml-walk message-table device-answer dapi2-commands proc-files \
                json-text peers-cli param-check nls-engine broker-packets
# Scratch files of the targets (FIFOs, fake platform files): memory-backed when
# possible, in a directory per run removed afterwards (libFuzzer ends with _Exit,
# so the targets' own clean-up at exit does not run).
FUZZ_TMP     ?= $(shell test -d /dev/shm && echo /dev/shm || echo /tmp)

$(BUILD)/fuzz/build.ninja:
	CC=clang CXX=clang++ $(CMAKE) -S . -B $(BUILD)/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DZOLT_SANITIZE=ON -DZOLT_FUZZ=ON -DZOLT_BENCH=OFF

# One target after the other, one process each (one core). New inputs go to
# $(BUILD)/fuzz/corpus/<target>, findings to $(BUILD)/fuzz/artifacts/, the
# whole output to $(BUILD)/fuzz/<target>.log; the checked-in corpus is only
# read. Fails when any target found something.
fuzz: $(BUILD)/fuzz/build.ninja
	ninja -C $(BUILD)/fuzz -j $(JOBS) fuzzers
	@mkdir -p $(BUILD)/fuzz/artifacts; rc=0; \
	for t in $(FUZZ_TARGETS); do \
	    mkdir -p $(BUILD)/fuzz/corpus/$$t; \
	    echo "== fuzz-$$t for $(FUZZ_SECONDS) s"; \
	    tmp=$$(mktemp -d $(FUZZ_TMP)/zoltfuzz-run.XXXXXX); \
	    TMPDIR=$$tmp $(BUILD)/fuzz/bin/fuzz-$$t -max_total_time=$(FUZZ_SECONDS) \
	        -max_len=$(FUZZ_MAXLEN) -print_final_stats=1 \
	        -artifact_prefix=$(BUILD)/fuzz/artifacts/$$t- \
	        $(BUILD)/fuzz/corpus/$$t fuzz/corpus/$$t > $(BUILD)/fuzz/$$t.log 2>&1; r=$$?; \
	    rm -rf $$tmp; \
	    grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|SUMMARY|==[0-9]+==ERROR|artifact_prefix|fuzz check)' \
	        $(BUILD)/fuzz/$$t.log; \
	    test $$r -eq 0 || { echo "fuzz-$$t: FINDING, see $(BUILD)/fuzz/$$t.log"; rc=1; }; \
	done; exit $$rc

# Keeps the checked-in corpora small: only inputs that reach a new edge, at most
# FUZZ_MAXLEN bytes each.
fuzz-merge: $(BUILD)/fuzz/build.ninja
	ninja -C $(BUILD)/fuzz -j $(JOBS) fuzzers
	@for t in $(FUZZ_TARGETS); do \
	    tmp=$$(mktemp -d $(FUZZ_TMP)/zoltfuzz-run.XXXXXX); \
	    TMPDIR=$$tmp $(BUILD)/fuzz/bin/fuzz-$$t -merge=1 -use_counters=0 -max_len=$(FUZZ_MAXLEN) \
	        fuzz/corpus/$$t $(BUILD)/fuzz/corpus/$$t 2>&1 | grep -E '^MERGE-OUTER: [0-9]+ new files'; \
	    rm -rf $$tmp; \
	    echo "$$t: $$(ls fuzz/corpus/$$t | wc -l) files, $$(du -sk fuzz/corpus/$$t | cut -f1) kB"; \
	done

# Plants one fault per parser in turn (the source is restored after each) and
# fails unless every target finds its fault within FUZZ_PLANT_SECONDS (60).
fuzz-planted: $(BUILD)/fuzz/build.ninja
	ninja -C $(BUILD)/fuzz -j $(JOBS) fuzzers
	BUILD=$(BUILD) fuzz/planted-faults.py

# Region coverage per source file of the checked-in corpora, and the parser
# functions no input reaches.
fuzz-coverage:
	BUILD=$(BUILD) JOBS=$(JOBS) fuzz/coverage.sh

# Configuring is enough: the checks read compile_commands.json, not objects.
lint:
	$(CMAKE) -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Release > /dev/null
	scripts/lint.sh $(abspath $(BUILD)/native) $(JOBS)

# A tree of its own: the mutants are rebuilt there one at a time, incrementally.
$(BUILD)/mutate/build.ninja:
	$(CMAKE) -S . -B $(BUILD)/mutate -DCMAKE_BUILD_TYPE=Release -DZOLT_BENCH=OFF
mutate: $(BUILD)/mutate/build.ninja
	/usr/bin/python3 scripts/mutate.py

clean:
	rm -rf $(BUILD)
