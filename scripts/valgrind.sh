#!/usr/bin/env bash
# Runs a short conversion workload (scripts/valgrind_conversions.py) under
# valgrind's memcheck against a plain build of the extension with debugging
# information, and fails when a memory error or a definite leak has a frame
# of this module's code in its stack (scripts/valgrind_report.py decides).
#
# PYTHONMALLOC=malloc hands every Python object to the C allocator, where
# memcheck sees it. Only definite leaks count: the interpreter keeps much of
# its memory reachable until exit, and memory that nothing points to any
# more is what a missed release leaves. scripts/valgrind-python.supp
# suppresses the leaks and errors known to be the interpreter's, pygame's or
# the loader's own.
#
# Settings (environment variables), besides those of common.sh:
#   VALGRIND_ROUNDS          rounds of the workload              (default: 150)
#   QUORVELC_VALGRIND_BUILD  build tree                          (default: ./build/valgrind)
set -euo pipefail
default_venv=.venv-hardening
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$root"

rounds="${VALGRIND_ROUNDS:-150}"
build="${QUORVELC_VALGRIND_BUILD:-$root/build/valgrind}"

section "System packages"
need_build_tools
command -v valgrind >/dev/null || need_packages valgrind

section "Python environment ($venv)"
need_venv

section "Build with debugging information ($build)"
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -fno-omit-frame-pointer" \
    -DPython_EXECUTABLE="$py"
cmake --build "$build" -j "$jobs" --target Quorvelc
module_file="$(cd "$build" && ls Quorvelc*.so)"

section "memcheck: $rounds rounds of conversions"
log="$build/memcheck.log"
status=0
PYTHONMALLOC=malloc PYTHONPATH="$build" \
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy PYGAME_HIDE_SUPPORT_PROMPT=1 \
    valgrind --tool=memcheck --leak-check=full \
        --show-leak-kinds=definite --errors-for-leak-kinds=definite \
        --num-callers=40 --fullpath-after= \
        --suppressions="$root/scripts/valgrind-python.supp" \
        --log-file="$log" \
        "$py" scripts/valgrind_conversions.py "$rounds" || status=$?
[ "$status" -eq 0 ] || echo "the workload itself failed under valgrind (exit $status); log $log"

section "Summary ($log)"
report_status=0
"$py" scripts/valgrind_report.py "$log" "$root/src/" "$module_file" || report_status=$?
if [ "$status" -ne 0 ] || [ "$report_status" -ne 0 ]; then
    exit 1
fi
echo "no memory error and no definite leak through Quorvelc"
