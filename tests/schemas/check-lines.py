#!/usr/bin/env python3
"""check-lines.py SCHEMA [FORMAT] < LINES - validates every line of standard
input as one JSON object against SCHEMA (Draft 7). Bytes must decode as
UTF-8. With FORMAT 'ocptv' the sequence numbers must also count from 0 by
one. Prints one line per fault and 'N lines valid' at the end; exit status 0
all valid, 1 a fault, 2 the checker could not start (no python3-jsonschema)."""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed")
    sys.exit(2)


def main():
    schema = json.load(open(sys.argv[1], encoding="utf-8"))
    jsonschema.Draft7Validator.check_schema(schema)
    validator = jsonschema.Draft7Validator(schema)
    faults, count = 0, 0
    for number, raw in enumerate(sys.stdin.buffer.read().split(b"\n"), 1):
        if not raw:
            continue
        count += 1
        try:
            obj = json.loads(raw.decode("utf-8", errors="strict"))
        except (UnicodeDecodeError, ValueError) as e:
            print(f"line {number}: {e}")
            faults += 1
            continue
        for e in validator.iter_errors(obj):
            print(f"line {number}: {e.message} at {list(e.absolute_path)}")
            faults += 1
        if len(sys.argv) > 2 and sys.argv[2] == "ocptv" and obj.get("sequenceNumber") != count - 1:
            print(f"line {number}: sequenceNumber {obj.get('sequenceNumber')}, expected {count - 1}")
            faults += 1
    print(f"{count} lines valid" if faults == 0 else f"{faults} fault(s) in {count} lines")
    return 1 if faults or count == 0 else 0


sys.exit(main())
