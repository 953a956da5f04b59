#!/bin/sh
# check-objects.sh - proves on the built product objects of the CPU module that
# they hold exactly the designed instruction sequences:
#   - no LAHF/SAHF and no reference to the fault hook in any object;
#   - in the register transfer and compare-and-branch routines every CMP/TEST is
#     directly followed by its conditional jump, and no XOR touches the values
#     the transfer compares;
#   - the x87 and MMX instructions of every routine of fpu-asm and mmx-asm, and
#     the whole register transfer sequence (each move's direction), equal the
#     checked-in listing <listing-dir>/<arch>/<object>.txt;
#   - the case tables of test-fpu and test-mmx name the sequences, instruction
#     routines and operand patterns of the listing <arch>/<object>-tables.txt
#     (what a table points to, in table order: a changed operand pattern or
#     a swapped routine shows there even where the result would not).
# Usage: check-objects.sh check|write <objdump> <listing-dir> <arch> <object>...
# (object paths without blanks)
# "write" regenerates the listings (for review when the code changes on purpose).
set -u
mode=$1 objdump=$2 listdir=$3 arch=$4
shift 4
status=0
fail() { echo "FAIL: $*"; status=1; }

# The disassembly of one object: "function|mnemonic operands" per instruction.
# An FWAIT that the disassembler folds into the next x87 instruction as a
# prefix byte (0x9b) is listed as an instruction of its own.
disasm() {
    "$objdump" -d -C "$1" | awk -F'\t' '
        /^[0-9a-f]+ <.*>:$/ { fn = $0; sub(/^[0-9a-f]+ </, "", fn); sub(/>:$/, "", fn); next }
        NF >= 3 && fn != "" {
            insn = $3; sub(/ *#.*$/, "", insn); gsub(/ +/, " ", insn); sub(/ $/, "", insn)
            if ($2 ~ /^9b / && insn !~ /^fwait/) print fn "|fwait"
            print fn "|" insn
        }'
}

# x87 and MMX instructions only, memory operands written as "mem" (their
# registers and offsets are the compiler'"'"'s choice and differ per build).
x87_mmx() {
    awk -F'|' '{
        split($2, a, " "); m = a[1]; ops = substr($2, length(m) + 2)
        if (m !~ /^f/ && m != "emms" && ops !~ /%mm[0-7]/) next
        gsub(/(%[a-z]s:)?-?(0x[0-9a-f]+)?\(%[a-z0-9]+(,%[a-z0-9]+)?(,[1248])?\)/, "mem", ops)
        n = split(ops, o, ","); out = ""
        for (i = 1; i <= n; i++)
            out = out (i > 1 ? "," : "") (o[i] ~ /^(%[a-z]s:)?-?0x[0-9a-f]+$/ ? "mem" : o[i])
        print $1 "|" m (out == "" ? "" : " " out)
    }'
}

# The register transfer sequence as written: from its first move (EDX to EAX)
# to its last check bit (0x20), memory operands written as "mem" and jumps
# without their targets (both are the compiler's choice).
transfer() {
    awk -F'|' '$1 ~ /^RegistersTransfer/ {
        if (!on && $2 == "mov %edx,%eax") on = 1
        if (!on) next
        split($2, a, " "); m = a[1]; ops = substr($2, length(m) + 2)
        if (m ~ /^j/) ops = ""
        gsub(/(%[a-z]s:)?-?(0x[0-9a-f]+)?\(%[a-z0-9]+(,%[a-z0-9]+)?(,[1248])?\)/, "mem", ops)
        print m (ops == "" ? "" : " " ops)
        if (m ~ /^or/ && ops ~ /^\$0x20,/) exit
    }'
}

# CTest hands the objects over as one ";"-separated list.
# The symbols that the object's read-only data points to, in order (a string
# or a file-local function, known only by its offset, written as such).
data_refs() {
    "$objdump" -r -C "$1" | awk '
        /^RELOCATION RECORDS FOR/ { keep = ($0 ~ /\[\.(data\.rel\.ro|rodata)/); next }
        keep && NF >= 3 && $1 ~ /^[0-9a-f]+$/ {
            v = $0; sub(/^[0-9a-f]+ +[A-Z_0-9]+ +/, "", v)
            if (v ~ /^\.rodata/) v = "string"
            if (v ~ /^\.text/) v = "local function"
            # a pointer into the tables themselves: its offset depends on the
            # layout (the sanitizer tree pads every object), not on the design
            if (v ~ /^\.data\.rel\.ro/) v = "table data"
            print v
        }'
}

# Compares (check) or writes (write) listing $1 with the text $2.
listing() {
    if [ "$mode" = write ]; then
        mkdir -p "$(dirname "$1")"
        printf '%s\n' "$2" > "$1"
        echo "wrote $1"
    elif ! printf '%s\n' "$2" | diff -u "$1" - ; then
        fail "$name: differs from $1 (make listings regenerates it)"
    fi
}

for obj in $(echo "$*" | tr ';' ' '); do
    name=$(basename "$obj" .cpp.o)
    name=${name%.o}
    dis=$(disasm "$obj")
    echo "$dis" | grep -Eq '\|(lahf|sahf)' && fail "$name: LAHF/SAHF in the product"
    "$objdump" -t -r "$obj" | grep -Eq 'g_pfnTestFault|TestFaultPoint' && fail "$name: refers to the fault hook"
    case $name in
    registers-asm)
        bad=$(echo "$dis" | awk -F'|' '
            $1 ~ /^(RegistersTransfer|Logical)/ {
                # the sanitizer build adds a compiler test whose flags a CMOV reads
                ok = $2 ~ /^j/ || ($1 ~ /^RegistersTransfer/ && $2 ~ /^cmov/)
                if (prev != "" && !ok) print prev " then " $2
                prev = ($2 ~ /^(cmp|test)/) ? $1 ": " $2 : ""
            }')
        [ -n "$bad" ] && fail "registers-asm: a compare not directly followed by its jump: $bad"
        # (a register XORed with itself is the compiler zeroing it, e.g. the
        # stack protector clearing the canary's register; an injection XORs a
        # fault word into a compared value)
        echo "$dis" | grep '^RegistersTransfer.*|xor' | grep -Evq '\|xor +(%[a-z0-9]+),\1$' &&
            fail "registers-asm: XOR in the transfer"
        echo "$dis" | grep -Eq '^Logical[A-Za-z]+\(.*\|j' || fail "registers-asm: no compare-and-branch routine found"
        listing "$listdir/$arch/$name.txt" "$(echo "$dis" | transfer)"
        ;;
    fpu-asm | mmx-asm)
        listing "$listdir/$arch/$name.txt" "$(echo "$dis" | x87_mmx)"
        ;;
    test-fpu | test-mmx)
        listing "$listdir/$arch/$name-tables.txt" "$(data_refs "$obj")"
        ;;
    esac
done
[ $status -eq 0 ] && [ "$mode" = check ] && echo "product objects: designed sequences only"
exit $status
