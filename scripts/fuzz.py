"""fuzz.py BUILD SECONDS [HARNESS...]: each libFuzzer harness for SECONDS from
its seed corpus; fails on any finding (crash, sanitizer report, broken check,
timeout) or a run without libFuzzer's final count. New inputs go to
BUILD/corpus/<harness>, findings to BUILD/artifacts/<harness>-* (they replay
with `BUILD/fuzz_<harness> FILE` under the same environment).
"""

import os
import re
import subprocess
import sys
import sysconfig
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
HARNESSES = ["pointer_text", "image_surface"]


def run(build: Path, seconds: int, harness: str, env: dict[str, str]) -> str:
    corpus, artifacts = build / "corpus" / harness, build / "artifacts"
    corpus.mkdir(parents=True, exist_ok=True)
    artifacts.mkdir(exist_ok=True)
    for old in artifacts.glob(f"{harness}-*"):
        old.unlink()
    # -detect_leaks=0: no leak scan after each input whose mallocs and frees
    # differ (the interpreter's caches: nearly all, at 10-100x the cost);
    # LeakSanitizer still checks the whole run at exit, with stacks.
    done = subprocess.run(
        [
            str(build / f"fuzz_{harness}"),
            f"-max_total_time={seconds}",
            "-max_len=4096",
            "-timeout=20",
            "-detect_leaks=0",
            "-rss_limit_mb=2048",
            "-print_final_stats=1",
            f"-artifact_prefix={artifacts}/{harness}-",
            str(corpus),
            str(ROOT / "fuzz" / "corpus" / harness),
        ],
        env=env,
        capture_output=True,
        text=True,
        check=False,
    )
    log = done.stdout + done.stderr
    (build / f"fuzz_{harness}.log").write_text(log)
    runs = re.findall(r"^Done (\d+) runs in (\d+) second", log, re.MULTILINE)
    findings = list(artifacts.glob(f"{harness}-*"))
    if done.returncode or findings or not runs:
        print(log[-6000:])
        return f"fuzz_{harness}: FAILED (exit {done.returncode}, {len(findings)} finding(s))"
    return f"fuzz_{harness}: {runs[-1][0]} runs in {runs[-1][1]} s, no finding"


def main(build_dir: str, seconds: str, harnesses: list[str]) -> int:
    build = Path(build_dir).resolve()
    # The embedded interpreter finds pygame where this interpreter does.
    env = dict(
        os.environ,
        PYTHONPATH=sysconfig.get_paths()["purelib"],
        SDL_VIDEODRIVER="dummy",
        SDL_AUDIODRIVER="dummy",
        PYGAME_HIDE_SUPPORT_PROMPT="1",
        ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1",
        UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1",
        LSAN_OPTIONS=f"suppressions={ROOT / 'scripts' / 'lsan-suppressions.txt'}:print_suppressions=0",
    )
    results = [run(build, int(seconds), harness, env) for harness in harnesses or HARNESSES]
    print("\n".join(results))
    return 1 if any("FAILED" in line for line in results) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3:]))
