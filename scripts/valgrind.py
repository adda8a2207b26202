"""valgrind.py BUILD [ROUNDS]: the conversion workload (valgrind_conversions.py)
and the embedding host (three interpreter lives) under memcheck, on a build
tree's extension, with PYTHONMALLOC=malloc so that every object is a block. A memory error or definite leak (the interpreter keeps
much memory reachable until exit) with a frame of our code fails; the others
are counted. valgrind-python.supp names the interpreter's and pygame's own.
"""

import os
import re
import subprocess
import sys
import sysconfig
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCES = str(HERE.parent / "src") + "/"
ERROR_KINDS = (
    "Invalid ",
    "Conditional jump",
    "Use of uninitialised",
    "Syscall param",
    "Mismatched free",
    "Source and destination overlap",
    "Argument '",
)


def blocks_of(log: str) -> list[list[str]]:
    """The log's reports, each a list of lines without the ==pid== prefix."""
    text = re.sub(r"^==\d+== ?", "", log, flags=re.MULTILINE)
    return [block.splitlines() for block in re.split(r"\n\s*\n", text) if block.strip()]


def main(build_dir: str, rounds: str = "150") -> int:
    build = Path(build_dir).resolve()
    module = next(build.glob("Quorvelc*.so")).name
    env = dict(
        os.environ,
        PYTHONMALLOC="malloc",
        SDL_VIDEODRIVER="dummy",
        SDL_AUDIODRIVER="dummy",
        PYGAME_HIDE_SUPPORT_PROMPT="1",
        # The embedded interpreter finds this environment's pygame only through the path.
        PYTHONPATH=os.pathsep.join([str(build), os.environ.get("PYTHONPATH", ""), sysconfig.get_path("purelib")]),
    )
    workloads = {
        "memcheck.log": [sys.executable, str(HERE / "valgrind_conversions.py"), rounds],
        "memcheck-host.log": [str(build / "quorvelc_interpreter_life")],
    }
    blocks: list[list[str]] = []
    status = 0
    for log_name, command in workloads.items():
        log_path = build / log_name
        status |= subprocess.run(
            [
                "valgrind",
                "--tool=memcheck",
                "--leak-check=full",
                "--show-leak-kinds=definite",
                "--errors-for-leak-kinds=definite",
                "--num-callers=40",
                "--fullpath-after=",
                f"--suppressions={HERE / 'valgrind-python.supp'}",
                f"--log-file={log_path}",
                *command,
            ],
            env=env,
            check=False,
        ).returncode
        blocks += blocks_of(log_path.read_text(errors="replace"))

    def ours(block: list[str]) -> bool:
        return any(SOURCES in line or module in line for line in block[1:])

    errors = [b for b in blocks if b[0].startswith(ERROR_KINDS)]
    leaks = [b for b in blocks if "are definitely lost" in b[0]]
    for block in [b for b in errors + leaks if ours(b)] + [
        b for b in blocks if b[0] in ("LEAK SUMMARY:", "HEAP SUMMARY:")
    ]:
        print("\n".join(block) + "\n")
    ours_count = sum(map(ours, errors + leaks))
    print(
        f"memory errors: {len(errors)} contexts, definite leaks: {len(leaks)} records; "
        f"{ours_count} through Quorvelc; workload exit status {status} (logs {build}/memcheck*.log)"
    )
    return 1 if ours_count or status else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
