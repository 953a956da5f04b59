# mutate_ops.py - the mutant generator of the mutation campaign (scripts/mutate.py):
# walks a C++ source line by line and yields every single-point change of the
# operator classes below, in a fixed order, so that a mutant id names one change.
import os
import re
from dataclasses import dataclass


@dataclass
class Mutant:
    mid: str  # "<file stem>:<line>:<operator>:<n>", stable for an unchanged source
    path: str  # path relative to the source root
    line: int  # 1-based
    op: str
    old: str  # the whole original line
    new: str  # the whole mutated line (may hold a newline only when a line is removed)


# Operator classes, in the order they are tried on a line.
#   LIT    integer literal: 0 -> 1, a power of two -> the next bit, else the low bit flipped
#   REL    comparison operator swapped (== !=, < <=, > >=)
#   LOG    && <-> ||
#   ORSET  "x |= y" -> "x = y" (earlier fault bits lost)
#   ERRNO  an error or warning number replaced by a sibling of its test
#   DATA   an MMX operand pattern replaced by the next pattern
#   INSN   an instruction routine or instruction name replaced by its sibling
#   STMT   an expression statement removed
#   AMNEM  an asm mnemonic swapped (jcc inverted, add <-> sub, reversed x87 forms, ...)
#   AOPND  the two operands of an asm instruction swapped
#   AIMM   an asm immediate or displacement changed like LIT
#   AREG   an x87 stack or MMX register index moved to the next register
#   ADEL   one instruction removed from an asm string
#   JCC    a conditional jump replaced by each neighbour condition (one flag more or less:
#          je -> jbe, jle; jae -> ja; jb -> jbe; ...)
#   ASUB   an instruction replaced by a same-width sibling that agrees on most operands
#          (cltd -> xorl %edx,%edx, imul <-> mul, sar <-> shr, adc <-> add, sbb <-> sub, ...)
#   AIDX   an array index variable replaced by 0 ([i] -> [0]: one element for all)
#   PRE    a preset constant (a value put in place before the code under test runs)
#          replaced by a value a reset produces (0, 0x037F, 0xFFFF)
#   MASK   a bit mask widened by one bit or narrowed by one bit
#   HCONST an integer constant of a header (changed like LIT)
OPERATORS = ("LIT", "HCONST", "REL", "LOG", "ORSET", "ERRNO", "DATA", "INSN", "AIDX", "PRE",
             "MASK", "STMT", "AMNEM", "JCC", "ASUB", "AOPND", "AIMM", "AREG", "ADEL")

_ERRNO_FAMILIES = [
    ["REGTEST_ERR_REGISTERS", "REGTEST_ERR_ARITHMETICS", "REGTEST_ERR_STRINGS",
     "REGTEST_ERR_LOGICAL"],
    ["FPUTEST_ERR_MATHREGS", "FPUTEST_ERR_MATHCOMMANDS", "FPUTEST_ERR_MATHARITHMETICS",
     "FPUTEST_ERR_MATHTRANS"],
    ["MMXTEST_ERR", "MMXTEST_WARN_NOMMX"],
    ["CACHETEST_WARN_PRIVILEGE", "CACHETEST_WARN_PAGING", "CACHETEST_ERR_READBACK",
     "CACHETEST_WARN_MEMORY"],
]
_DATA = ["mmx_data_00", "mmx_data_FF", "mmx_data_55", "mmx_data_AA", "mmx_data_7FFF",
         "mmx_data_7F", "mmx_data_80", "mmx_data_8000", "mmx_data_8000oooo", "mmx_data_01",
         "mmx_data_0001", "mmx_data_0000ooo1"]
_SHIFT_COUNTS = ["mmx_data_0000_0000_0000_0001", "mmx_data_0000_0000_0000_0003",
                 "mmx_data_0000_0000_0000_00FF"]



def mmx_families(path=os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                   "zoltcpu", "mmx-asm.h")):
    """The MMX instruction routines by family, in list order, from the one list
    of them (MMX_INSTRUCTIONS in zoltcpu/mmx-asm.h)."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    body = text[text.index("#define MMX_INSTRUCTIONS(X)"):]
    body = body[:body.index("\n", body.index("X(PUNPCKLWD"))]
    families = {}
    for name, family in re.findall(r"X\((\w+), (\w+)\)", body):
        families.setdefault(family, []).append(name)
    return list(families.values())


# Sibling instructions: each name maps to the next of its family (ring).
_INSN_RING = mmx_families()
# Instruction names of the MMX error events, replaced by the next routine's name.
_NAME_RING = ["PADD", "PSUB", "PMUL", "PMADD", "PAND", "PANDN", "POR", "PXOR", "PSLL", "PSLR",
              "MOVD", "MOVQ", "PCMPEQ", "PCMPGT", "PACKSS", "PACKUS", "PUNPCK"]
_MNEM_PAIRS = [
    ("je", "jne"), ("jae", "jb"), ("jbe", "ja"), ("jnz", "jz"), ("addl", "subl"),
    ("imull", "addl"), ("idivl", "divl"), ("orl", "xorl"), ("cmpl", "testl"), ("cmpw", "testw"),
    ("testw", "cmpw"), ("movw", "addw"), ("fadd", "fsub"), ("faddp", "fsubp"), ("fsub", "fsubr"),
    ("fsubp", "fsubrp"), ("fsubrp", "fsubp"), ("fdiv", "fdivr"), ("fdivp", "fdivrp"),
    ("fdivrp", "fdivp"), ("fmul", "fadd"), ("fmulp", "faddp"), ("fiadds", "fisubs"),
    ("fisubs", "fisubrs"), ("fisubrs", "fisubs"), ("fidivs", "fidivrs"), ("fidivrs", "fidivs"),
    ("fimuls", "fiadds"), ("filds", "fiadds"), ("fld1", "fldz"), ("fldz", "fld1"),
    ("fldpi", "fld1"), ("fclex", "fnop"), ("fdecstp", "fincstp"), ("fincstp", "fdecstp"),
    ("fnop", "fincstp"), ("finit", "fnop"), ("fninit", "fnop"), ("f2xm1", "fsqrt"),
    ("fpatan", "fyl2x"), ("fptan", "fsin"), ("fyl2x", "fyl2xp1"), ("fyl2xp1", "fyl2x"),
    ("ffree", "fxch"), ("flds", "fildl"), ("fstps", "fsts"), ("fistps", "fists"),
    ("fstsw", "fnstcw"), ("fstcw", "fstsw"), ("fldcw", "fnop"), ("orw", "andw"),
    ("movq", "movd"), ("movd", "movq"), ("emms", "nop"), ("cpuid", "nop"), ("xorq", "orq"),
    ("pushfq", "nop"), ("pushfl", "nop"),
]
for _ring in _INSN_RING:
    for _i, _name in enumerate(_ring):
        _MNEM_PAIRS.append((_name.lower(), _ring[(_i + 1) % len(_ring)].lower()))
_MNEM = dict(_MNEM_PAIRS)
# Neighbour conditions: the jumps whose condition differs by one flag.
_JCC = {
    "je": ["jbe", "jle"], "jz": ["jbe", "jle"], "jne": ["ja", "jg"], "jnz": ["ja", "jg"],
    "jb": ["jbe", "jl"], "jc": ["jbe", "jl"], "jae": ["ja", "jge"], "jnc": ["ja", "jge"],
    "jbe": ["jb", "je"], "ja": ["jae", "jne"], "jl": ["jle", "jb"], "jge": ["jg", "jae"],
    "jle": ["jl", "je"], "jg": ["jge", "jne"], "js": ["jl"], "jns": ["jge"],
}
# Same-width siblings: the replacement text of the mnemonic (cltd gets operands).
_SIBLINGS = {
    "cltd": ["xorl %%edx, %%edx"], "cqto": ["xorq %%rdx, %%rdx"], "imull": ["mull"],
    "mull": ["imull"], "idivl": ["divl"], "divl": ["idivl"], "sarl": ["shrl"], "shrl": ["sarl"],
    "sarw": ["shrw"], "shrw": ["sarw"], "addl": ["adcl"], "adcl": ["addl"], "subl": ["sbbl"],
    "sbbl": ["subl"], "addw": ["adcw"], "subw": ["sbbw"], "movsbl": ["movzbl"],
    "movzbl": ["movsbl"], "movswl": ["movzwl"], "movzwl": ["movswl"], "psraw": ["psrlw"],
    "psrad": ["psrld"], "psrlw": ["psraw"], "psrld": ["psrad"], "paddb": ["paddsb", "paddusb"],
    "paddw": ["paddsw", "paddusw"], "psubb": ["psubsb", "psubusb"],
    "psubw": ["psubsw", "psubusw"], "pmulhw": ["pmulhuw"], "packsswb": ["packuswb"],
    "packuswb": ["packsswb"], "pcmpgtb": ["pcmpeqb"], "fistps": ["fisttps"],
    "fdivp": ["fdivrp"], "fsubp": ["fsubrp"], "fiadds": ["fiaddl"], "fild": ["filds"],
}
# Values the units' reset instructions produce (cleared word, x87 control word
# after initialisation, tag word of an empty stack): a preset equal to one of
# them cannot show that the reset acted.
_PRE_VALUES = [0, 0x037F, 0xFFFF]
_MNEM["pmaddw"] = "pmullw"
_MNEM["pmaddwd"] = "pmullw"

_RE_INT = re.compile(r"(?<![\w.$])(0[xX][0-9A-Fa-f]+|\d+)([uUlL]*)(?![\w.])")
_RE_REL = re.compile(r"(?<![<>=!&|+\-*/^%])(==|!=|<=|>=|<|>)(?![<>=])")
_RE_STRING = re.compile(r'"(?:[^"\\]|\\.)*"')
_DECLARATION = re.compile(
    r"^\s*((static|const|volatile|extern|inline)\s+)*(u?int\d+_t|unsigned|int|size_t|bool|char|auto|"
    r"void|double|float|long|std::[\w:<>]+|[A-Z][A-Za-z0-9_]*)\b[\s*&]*[\w(*]")
_SKIPPED_CALLS = ("TPRINTF", "PRINT_ARGS", "BusyWait")


def _mutate_int(text):
    """The LIT replacement of one literal text (hex stays hex)."""
    value = int(text, 0)
    if value == 0:
        new = 1
    elif value & (value - 1) == 0:
        new = value << 1
    else:
        new = value ^ 1
    if text.lower().startswith("0x"):
        return "0x%0*X" % (len(text) - 2, new)
    return str(new)


def _format_like(text, value):
    """value written like literal text (hex keeps at least its digit count)."""
    if text.lower().startswith("0x"):
        return "0x%0*X" % (len(text) - 2, value)
    return str(value)


def _mask_variants(text):
    """MASK: the mask one bit wider (the bit below its lowest set bit, else the
    bit above its highest) and one bit narrower (its lowest set bit cleared;
    none for a single bit, which LIT already moves)."""
    value = int(text, 0)
    if value == 0:
        return []
    low = value & -value
    wider = value | (low >> 1) if low > 1 else value | (1 << value.bit_length())
    out = [_format_like(text, wider)]
    if value & (value - 1):
        out.append(_format_like(text, value & ~low))
    return out


def _code_mask(line, in_comment):
    """Per character: True where the line is code outside comments and string
    literals. Returns the mask, the string literals of the code (match
    objects) and whether a block comment stays open."""
    mask, strings = [False] * len(line), []
    i = 0
    while i < len(line):
        if in_comment:
            end = line.find("*/", i)
            if end < 0:
                return mask, strings, True
            i, in_comment = end + 2, False
            continue
        if line.startswith("/*", i):
            in_comment = True
            i += 2
        elif line.startswith("//", i):
            break
        elif line[i] == '"':
            m = _RE_STRING.match(line, i)
            if m:
                strings.append(m)
            i = m.end() if m else len(line)
        else:
            mask[i] = True
            i += 1
    return mask, strings, in_comment


def _is_code(mask, start, end):
    return all(mask[start:end])


def _declared_array_size(line, start):
    """Whether the literal at start is the size of an array being declared."""
    if start == 0 or line[start - 1] != "[":
        return False
    return _DECLARATION.match(line[:start]) is not None and "=" not in line[:start]


def _swap(line, start, end, text):
    return line[:start] + text + line[end:]


def _code_ops(line, mask):
    """(operator, new line) of the C++ operators on one line, in line order."""
    out = []
    for m in _RE_INT.finditer(line):
        if _is_code(mask, m.start(), m.end()) and not _declared_array_size(line, m.start()):
            out.append(("LIT", _swap(line, m.start(1), m.end(1), _mutate_int(m.group(1)))))
    for m in _RE_REL.finditer(line):
        if not _is_code(mask, m.start(), m.end()):
            continue
        op = m.group(1)
        if op in "<>" and re.match(r"[\w:]+>", line[m.end():]) and op == "<":
            continue  # a template argument list
        if op == ">" and re.search(r"<[\w:]+$", line[:m.start()]):
            continue
        new = {"==": "!=", "!=": "==", "<": "<=", "<=": "<", ">": ">=", ">=": ">"}[op]
        out.append(("REL", _swap(line, m.start(), m.end(), new)))
    for m in re.finditer(r"&&|\|\|", line):
        if _is_code(mask, m.start(), m.end()):
            out.append(("LOG", _swap(line, m.start(), m.end(), "||" if m.group() == "&&" else "&&")))
    for m in re.finditer(r"\|=", line):
        if _is_code(mask, m.start(), m.end()):
            out.append(("ORSET", _swap(line, m.start(), m.end(), "=")))
    for fam in _ERRNO_FAMILIES:
        for m in re.finditer(r"\b(" + "|".join(fam) + r")\b", line):
            if _is_code(mask, m.start(), m.end()):
                sib = fam[(fam.index(m.group(1)) + 1) % len(fam)]
                out.append(("ERRNO", _swap(line, m.start(), m.end(), sib)))
    for m in re.finditer(r"\bmmx_data_\w+", line):
        ring = _SHIFT_COUNTS if m.group() in _SHIFT_COUNTS else _DATA
        if m.group() in ring and _is_code(mask, m.start(), m.end()):
            sib = ring[(ring.index(m.group()) + 1) % len(ring)]
            out.append(("DATA", _swap(line, m.start(), m.end(), sib)))
    out += _index_ops(line, mask) + _preset_ops(line, mask) + _mask_ops(line, mask)
    return out


_RE_INDEX = re.compile(r"(?<=[\w\])])\[\s*([a-z][A-Za-z0-9_]*)\s*\]")
_RE_PRESET = re.compile(r"^(\s+)(?=\S)(?!(?:static|const|return|g_\w+)\b)[^=;()\[]*[\w\]]\s*=\s*"
                        r"(0[xX][0-9A-Fa-f]+|\d+)[uUlL]*\s*;")


def _index_ops(line, mask):
    """AIDX: an index variable of an array access replaced by 0."""
    return [("AIDX", _swap(line, m.start(1), m.end(1), "0")) for m in _RE_INDEX.finditer(line)
            if _is_code(mask, m.start(), m.end())
            and not re.search(r"sizeof\s+[\w.\->]*$", line[:m.start()])]


def _preset_ops(line, mask):
    """PRE: a nonzero constant put in a variable inside a function, replaced by
    each value a reset produces."""
    m = _RE_PRESET.match(line)
    if not m or not _is_code(mask, m.start(2), m.end(2)):
        return []
    value = int(m.group(2), 0)
    if value == 0:
        return []
    return [("PRE", _swap(line, m.start(2), m.end(2), _format_like(m.group(2), v)))
            for v in _PRE_VALUES if v != value]


def _mask_ops(line, mask):
    """MASK over the literals ANDed in C code (x & K, K & x, x &= K)."""
    out = []
    for m in _RE_INT.finditer(line):
        if not _is_code(mask, m.start(), m.end()):
            continue
        before, after = line[:m.start()], line[m.end():]
        if re.search(r"(?<!&)&=?\s*$", before) or (re.search(r"[(\s]$", before) and
                                                      re.match(r"[uUlL]*\s*&(?![&=])", after)):
            out += [("MASK", _swap(line, m.start(1), m.end(1), v))
                    for v in _mask_variants(m.group(1))]
    return out


def _insn_ops(line, mask, strings, is_asm_file):
    """INSN: instruction routines named in C tables, instruction names of events."""
    out = []
    if not is_asm_file:
        for ring in _INSN_RING:
            for m in re.finditer(r"\b(" + "|".join(ring) + r")\b", line):
                if _is_code(mask, m.start(), m.end()):
                    sib = ring[(ring.index(m.group(1)) + 1) % len(ring)]
                    out.append(("INSN", _swap(line, m.start(), m.end(), sib)))
    for s in strings:
        name = s.group()[1:-1]
        if not is_asm_file and name in _NAME_RING:
            sib = _NAME_RING[(_NAME_RING.index(name) + 1) % len(_NAME_RING)]
            out.append(("INSN", _swap(line, s.start() + 1, s.end() - 1, sib)))
    return out


def _stmt_op(line):
    """STMT: an expression statement on one line, replaced by an empty one."""
    body = line.strip()
    if not body.endswith(";") or body.startswith(("return", "case", "default", "#", "}")):
        return []
    if body.count("(") != body.count(")") or "__asm__" in body:
        return []
    # a call, an assignment, an increment or a jump; not a declaration
    is_use = re.match(r"^\*?[A-Za-z_][\w.\->\[\]]*\s*(\(|\[|=[^=]|\|=|\+\+|--)", body)
    is_decl = re.match(r"^(void|int|unsigned|u?int\d+_t|const|static|char|bool|size_t)\b", body)
    if is_decl or not (is_use or body in ("break;", "continue;")):
        return []
    indent = line[: len(line) - len(line.lstrip())]
    return [("STMT", indent + ";" + ("\n" if line.endswith("\n") else ""))]


_RE_ASM_INSN = re.compile(r'(?:(?<=")|(?<=\\t)|(?<=\\n))\s*([a-z][a-z0-9]*)\b([^"\\]*)')


def _fault_only(line, s, fault_open):
    """True for a string that is the argument of ZOLT_FAULT_ASM (asm of the fault
    build alone, absent from the product), on this line or opened on the last."""
    before = line[:s.start()].rstrip()
    return before.endswith("ZOLT_FAULT_ASM(") or (fault_open and before == "")


def _asm_ops(line, strings, fault_open=False):
    """AMNEM, AOPND, AIMM, AREG, ADEL over the asm text of the line's strings
    (not the fault build's own)."""
    out = []
    for s in strings:
        if _fault_only(line, s, fault_open):
            continue
        text = s.group()
        first = text.strip('"').split(" ")[0]
        if "%" not in text and "\\n" not in text and first not in _MNEM and first not in _JCC:
            continue
        base = s.start()
        for m in _RE_ASM_INSN.finditer(text):
            mnem, rest = m.group(1), m.group(2)
            if mnem in _MNEM:
                out.append(("AMNEM", _swap(line, base + m.start(1), base + m.end(1), _MNEM[mnem])))
            for op, table in (("JCC", _JCC), ("ASUB", _SIBLINGS)):
                out += [(op, _swap(line, base + m.start(1), base + m.end(1), new))
                        for new in table.get(mnem, [])]
            ops = [o.strip() for o in rest.split(",")]
            if len(ops) == 2 and all(ops) and "(" not in rest.replace("%st(", "").replace("%%st(", ""):
                swapped = " %s, %s" % (ops[1], ops[0])
                out.append(("AOPND", _swap(line, base + m.start(2), base + m.end(2), swapped)))
            for im in re.finditer(r"(?:\$|(?<=[\s,])(?=\d+\())(0x[0-9A-Fa-f]+|-?\d+)", rest):
                start = base + m.start(2) + im.start(1)
                lit = im.group(1)
                repl = "-" + _mutate_int(lit[1:]) if lit.startswith("-") else _mutate_int(lit)
                out.append(("AIMM", _swap(line, start, start + len(lit), repl)))
                if re.match(r"(and|test|or)[bwlq]$", mnem) and not lit.startswith("-"):
                    out += [("MASK", _swap(line, start, start + len(lit), v))
                            for v in _mask_variants(lit)]
            for rm in re.finditer(r"%st\((\d)\)|%mm(\d)", rest):
                g = 1 if rm.group(1) is not None else 2
                start = base + m.start(2) + rm.start(g)
                nxt = str((int(rm.group(g)) + 1) % 8)
                out.append(("AREG", _swap(line, start, start + 1, nxt)))
        if re.fullmatch(r'"\s*[a-z][^"]*\\n(\\t)?"', text) and text.count("\\n") == 1:
            out.append(("ADEL", _swap(line, s.start(), s.end(), '""')))
    return out


def _in_regions(lines, regions):
    """Line numbers (1-based) inside the named functions or macros; None = whole file."""
    if not regions:
        return None
    keep = set()
    for i, line in enumerate(lines):
        if not any(re.search(r"\b%s\b" % re.escape(name), line) for name in regions):
            continue
        if line.lstrip().startswith("#define"):
            keep.add(i + 1)
            continue
        if not re.match(r"^[A-Za-z].*\(", line) or line.rstrip().endswith(";"):
            continue
        depth, seen = 0, False
        for j in range(i, len(lines)):
            depth += lines[j].count("{") - lines[j].count("}")
            seen = seen or "{" in lines[j]
            keep.add(j + 1)
            if seen and depth == 0:
                break
    return keep


def generate(root, relpath, regions=None):
    """Every mutant of one file, in line and operator order."""
    with open(f"{root}/{relpath}", encoding="utf-8") as f:
        lines = f.readlines()
    keep = _in_regions(lines, regions)
    stem = relpath.rsplit("/", 1)[-1].rsplit(".", 1)[0]
    is_asm = relpath.endswith("-asm.cpp")
    mutants, in_comment, skip_depth, fault_open = [], False, 0, False
    for no, line in enumerate(lines, start=1):
        mask, strings, in_comment = _code_mask(line, in_comment)
        was_open = fault_open
        fault_open = line.rstrip().rstrip("\\").rstrip().endswith("ZOLT_FAULT_ASM(")
        body = line.strip()
        code = "".join(c for c, k in zip(line, mask) if k)
        if skip_depth > 0 or any(code.lstrip().startswith(c) for c in _SKIPPED_CALLS):
            skip_depth += code.count("(") - code.count(")")
            skip_depth = max(skip_depth, 0)
            continue
        if (keep is not None and no not in keep) or body.startswith(("#include", "#if", "#e", "#pragma")):
            continue
        found = _code_ops(line, mask) + _insn_ops(line, mask, strings, is_asm)
        if relpath.endswith(".h"):
            found = [("HCONST" if op == "LIT" else op, new) for op, new in found]
        if is_asm:
            found += _asm_ops(line, strings, was_open)
        found += _stmt_op(line)
        order = {op: k for k, op in enumerate(OPERATORS)}
        found.sort(key=lambda t: order[t[0]])
        count = {}
        for op, new in found:
            if new == line:
                continue
            count[op] = count.get(op, 0) + 1
            mutants.append(Mutant(f"{stem}:{no}:{op}:{count[op]}", relpath, no, op, line, new))
    return mutants
