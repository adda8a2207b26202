"""Reads a memcheck log (scripts/valgrind.sh) and decides it: every error or
definite leak whose stack passes through this module's code fails the run.
Errors of the interpreter, pygame or SDL alone are counted and shown briefly.

Usage: valgrind_report.py LOG SOURCE_DIR MODULE_FILE_NAME
"""
import re
import sys

log_path, source_dir, module_name = sys.argv[1:4]
prefix = re.compile(r"^==\d+== ?")
blocks, current = [], []
with open(log_path, errors="replace") as log:
    for line in log:
        text = prefix.sub("", line.rstrip("\n"))
        if text.strip():
            current.append(text)
        elif current:
            blocks.append(current)
            current = []
if current:
    blocks.append(current)

ERROR_KINDS = ("Invalid ", "Conditional jump", "Use of uninitialised", "Syscall param",
               "Mismatched free", "Source and destination overlap", "Argument '")


def ours(block):
    return any(source_dir in line or module_name in line for line in block[1:])


errors = [b for b in blocks if b[0].startswith(ERROR_KINDS)]
leaks = [b for b in blocks if "are definitely lost" in b[0]]
our_errors = [b for b in errors if ours(b)]
our_leaks = [b for b in leaks if ours(b)]

for block in our_errors + our_leaks:
    print("\n".join(block))
    print()
for block in blocks:
    if block[0] in ("LEAK SUMMARY:", "HEAP SUMMARY:"):
        print("\n".join(block))
for block in blocks:
    for line in block:
        if line.startswith("ERROR SUMMARY:"):
            print(line)
print(f"memory errors: {len(errors)} contexts, {len(our_errors)} through Quorvelc")
print(f"definite leaks: {len(leaks)} records, {len(our_leaks)} through Quorvelc")
sys.exit(1 if our_errors or our_leaks else 0)
