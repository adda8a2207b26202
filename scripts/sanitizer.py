"""sanitizer.py REPORT_DIR COMMAND...: runs a command (the Python suite) in the
plain interpreter with clang's AddressSanitizer runtime preloaded, and fails on
any report. PYTHONMALLOC=malloc makes every object a watched heap block. A
deliberate overflow in the interpreter must be reported first, or a clean run
would prove nothing. The leak suppressions name pygame's own, matched on stacks
from the slow unwinder (the interpreter has no frame pointers).
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

SUPPRESSIONS = Path(__file__).resolve().parent / "lsan-suppressions.txt"
OVERFLOW = "import ctypes; block = ctypes.create_string_buffer(64); ctypes.CDLL(None).memset(block, 0, 65)"


def environment(reports: Path, runtime: str) -> dict[str, str]:
    return dict(
        os.environ,
        LD_PRELOAD=runtime,
        PYTHONMALLOC="malloc",
        ASAN_OPTIONS=f"detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=12:"
        f"detect_stack_use_after_return=1:log_path={reports}/asan",
        UBSAN_OPTIONS=f"print_stacktrace=1:halt_on_error=1:log_path={reports}/ubsan",
        LSAN_OPTIONS=f"suppressions={SUPPRESSIONS}:print_suppressions=0",
    )


def report_texts(folder: Path) -> list[str]:
    return [path.read_text(errors="replace") for path in sorted(folder.glob("*"))]


def main(report_dir: str, command: list[str]) -> int:
    runtime = subprocess.run(
        ["clang++", f"-print-file-name=libclang_rt.asan-{os.uname().machine}.so"],
        capture_output=True,
        text=True,
        check=True,
    ).stdout.strip()
    if not os.path.isfile(runtime):
        sys.exit(f"no AddressSanitizer runtime at {runtime}")
    reports = Path(report_dir).resolve()
    shutil.rmtree(reports, ignore_errors=True)
    (reports / "self-check").mkdir(parents=True)

    check = environment(reports / "self-check", runtime)
    subprocess.run([sys.executable, "-c", OVERFLOW], env=check, capture_output=True, check=False)
    if not any("heap-buffer-overflow" in text for text in report_texts(reports / "self-check")):
        sys.exit("the preloaded runtime reported no overflow in the interpreter: reports would be lost")
    shutil.rmtree(reports / "self-check")
    print("self-check: a deliberate overflow in the interpreter was reported")

    found = subprocess.run(
        [sys.executable, "-c", "import Quorvelc; print(Quorvelc.__file__)"],
        env=environment(reports, runtime),
        capture_output=True,
        text=True,
        cwd="/",
        check=False,
    )
    if found.returncode or b"__asan_report" not in Path(found.stdout.strip()).read_bytes():
        sys.exit(f"the installed Quorvelc is not the sanitized build:\n{found.stdout}{found.stderr}")
    print("testing", found.stdout.strip())

    status = subprocess.run(command, env=environment(reports, runtime), check=False).returncode
    texts = report_texts(reports)
    for text in texts:
        print(text)
    print(f"sanitizer reports: {len(texts)}; command exit status {status}")
    return 1 if texts or status else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
