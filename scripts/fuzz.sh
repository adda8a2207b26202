#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang (-fsanitize=fuzzer,
# address,undefined) and runs each for a bounded time, starting from its seed
# corpus in fuzz/corpus/<harness>/. Fails on any finding: a crash, a sanitizer
# report (leaks included), a broken check of a harness or a timeout.
#
# New inputs go to the build tree's corpus, never into fuzz/corpus; a finding
# is left as <build>/artifacts/<harness>-crash-* (or leak-*, timeout-*) and
# can be replayed with `<build>/fuzz_<harness> <file>` under the same
# environment (PYTHONPATH set to the venv's site-packages).
#
# Settings (environment variables), besides those of common.sh:
#   FUZZ_SECONDS          run time of each harness, in seconds   (default: 60)
#   FUZZ_HARNESSES        harnesses to run       (default: pointer_text image_surface pointer_writing)
#   QUORVELC_FUZZ_BUILD   build tree                             (default: ./build/fuzz)
set -euo pipefail
default_venv=.venv-hardening
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$root"

seconds="${FUZZ_SECONDS:-60}"
harnesses="${FUZZ_HARNESSES:-pointer_text image_surface pointer_writing}"
build="${QUORVELC_FUZZ_BUILD:-$root/build/fuzz}"
case "$seconds" in ''|*[!0-9]*) fail "FUZZ_SECONDS must be a whole number of seconds, not '$seconds'" ;; esac

section "System packages"
need_build_tools
need_clang

section "Python environment ($venv)"
need_venv

section "Build the harnesses ($build)"
targets=()
for harness in $harnesses; do
    [ -f "fuzz/$harness.cpp" ] || fail "no harness fuzz/$harness.cpp"
    targets+=("fuzz_$harness")
done
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPython_EXECUTABLE="$py" \
    -DQUORVELC_FUZZ=ON
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

# The embedded interpreter finds pygame in the venv; no screen is needed.
export PYTHONPATH="$(venv_site_packages)"
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy PYGAME_HIDE_SUPPORT_PROMPT=1
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$lsan_suppressions:print_suppressions=0"

failed=0
summary=()
mkdir -p "$build/artifacts"
for harness in $harnesses; do
    section "fuzz_$harness for $seconds s"
    corpus="$build/corpus/$harness"
    log="$build/fuzz_$harness.log"
    mkdir -p "$corpus"
    rm -f "$build/artifacts/$harness-"*
    status=0
    # -timeout: one input running this long is a finding (a hang).
    # -detect_leaks=0: no leak scan after each input whose mallocs and frees
    # do not balance, which the interpreter's caches make nearly every input
    # and which costs 10 to 100 times the throughput. LeakSanitizer still
    # checks the whole run when it ends (ASAN_OPTIONS above): the interpreter
    # is never finalised, so its own objects stay reachable, and a block that
    # our code leaked is reported with its allocation stack.
    "$build/fuzz_$harness" -max_total_time="$seconds" -max_len=4096 -timeout=20 -detect_leaks=0 \
        -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$harness-" \
        "$corpus" "fuzz/corpus/$harness" >"$log" 2>&1 || status=$?
    runs="$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 runs in \2 s/p' "$log" | tail -1)"
    findings="$(find "$build/artifacts" -name "$harness-*" | wc -l)"
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^image_surface:' "$log" | tail -3 || true
    if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ] || [ -z "$runs" ]; then
        failed=1
        tail -60 "$log"
        summary+=("fuzz_$harness: FAILED (exit $status, $findings finding(s), ${runs:-no final count}); log $log")
    else
        summary+=("fuzz_$harness: ${runs}, no finding")
    fi
done

section "Summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
