#!/usr/bin/env bash
# Builds the extension and the native tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the native tests and the whole Python
# suite (tests/python) against that build. Fails on any test failure and on
# any sanitizer report, leaks included.
#
# The interpreter itself is not instrumented: the sanitizer runtime that
# matches the compiler is preloaded into it, and PYTHONMALLOC=malloc makes
# every Python object a heap block of its own that the runtime watches.
# Leak detection stays on; scripts/lsan-suppressions.txt names the leaks of
# pygame's own that would otherwise be reported at exit. Allocation stacks are
# taken with the slow unwinder, since the interpreter has no frame pointers,
# so that those suppressions can tell pygame's leaks from ours.
#
# The Python tests import the installed module, as they do everywhere else:
# the sanitized build is installed with pip into a venv of its own, never
# into the one that the other hardening scripts share.
#
# Settings (environment variables), besides those of common.sh:
#   QUORVELC_SANITIZE_CXX    compiler: clang++ or g++          (default: clang++)
#   QUORVELC_SANITIZE_BUILD  build tree                         (default: ./build/sanitize)
#   QUORVELC_SANITIZE_VENV   venv that gets the sanitized build (default: ./.venv-hardening-sanitize)
# Arguments are handed to pytest.
set -euo pipefail
default_venv=.venv-hardening
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$root"
venv="${QUORVELC_SANITIZE_VENV:-$root/.venv-hardening-sanitize}"

cxx="${QUORVELC_SANITIZE_CXX:-clang++}"
build="${QUORVELC_SANITIZE_BUILD:-$root/build/sanitize}"
reports="$build/sanitizer-reports"

section "System packages"
need_build_tools
case "$cxx" in
    *clang++*) need_clang; cc="${cxx/clang++/clang}"
               runtime="$("$cxx" -print-file-name="libclang_rt.asan-$(uname -m).so")" ;;
    *g++*) need_packages g++; cc="${cxx/g++/gcc}"
           runtime="$("$cxx" -print-file-name=libasan.so)" ;;
    *) fail "QUORVELC_SANITIZE_CXX must be a clang++ or g++, not '$cxx'" ;;
esac
[ -f "$runtime" ] || fail "no AddressSanitizer runtime for $cxx (looked for $runtime)"
native_tests=OFF
if compgen -G "tests/native/*.cpp" >/dev/null; then
    native_tests=ON
    need_packages libgtest-dev
fi
echo "compiler $cxx, preloaded runtime $runtime"

section "Python environment ($venv)"
need_venv

section "Build with -fsanitize=address,undefined ($build)"
CC="$cc" CXX="$cxx" cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Debug \
    -DPython_EXECUTABLE="$py" \
    -DQUORVELC_SANITIZE=ON \
    -DQUORVELC_NATIVE_TESTS="$native_tests"
cmake --build "$build" -j "$jobs"

section "Install the sanitized build into $venv"
CC="$cc" CXX="$cxx" "$py" -m pip install \
    -C cmake.define.QUORVELC_SANITIZE=ON -C cmake.build-type=Debug \
    -C build-dir="$build/wheel" ".[$flavour,test]"
installed="$(cd / && "$py" -c 'import importlib.util; print(importlib.util.find_spec("Quorvelc").origin)')"
grep -q __asan_report "$installed" || fail "$installed is not the sanitized build"
echo "installed $installed"

rm -rf "$reports"
mkdir -p "$reports"
export PYTHONMALLOC=malloc
export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=12:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$reports/asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan"
export LSAN_OPTIONS="suppressions=$lsan_suppressions:print_suppressions=0"
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy PYGAME_HIDE_SUPPORT_PROMPT=1

section "Self-check: a deliberate overflow is reported"
selfcheck="$build/sanitizer-selfcheck"
rm -rf "$selfcheck"
mkdir -p "$selfcheck"
ASAN_OPTIONS="detect_leaks=0:log_path=$selfcheck/asan" UBSAN_OPTIONS="log_path=$selfcheck/ubsan" \
    LD_PRELOAD="$runtime" "$py" -c '
import ctypes
block = ctypes.create_string_buffer(64)  # a heap block of its own
ctypes.CDLL(None).memset(block, 0, 65)   # the runtime'"'"'s memset, one byte too many
' >/dev/null 2>&1 || true
if ! cat "$selfcheck"/* 2>/dev/null | grep -q "heap-buffer-overflow"; then
    fail "the preloaded runtime did not report an overflow in the interpreter: reports would be lost"
fi
echo "reported, as it should be"

native_status=0
if [ "$native_tests" = ON ]; then
    section "Native tests under the sanitizers"
    # The executable carries the runtime itself: nothing to preload. Leak
    # detection is off for it alone: the native tests keep the descriptor
    # arrays they register for the life of the process, as the registry
    # expects, and those blocks would be reported at exit. The module's own
    # allocations are leak-checked by the Python run below, the fuzz runs and
    # scripts/valgrind.sh.
    ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" "$build/quorvelc_native_tests" --gtest_brief=1 ||
        native_status=$?
fi

section "Python tests under the sanitizers"
LD_PRELOAD="$runtime" "$py" -c '
import ctypes, sys, Quorvelc
assert hasattr(ctypes.CDLL(None), "__asan_init"), "the sanitizer runtime is not loaded"
assert Quorvelc.__file__ == sys.argv[1], Quorvelc.__file__
print("testing", Quorvelc.__file__)' "$installed"
python_status=0
LD_PRELOAD="$runtime" "$py" -m pytest -p no:cacheprovider tests/python "$@" || python_status=$?

section "Summary"
report_count=0
for report in "$reports"/*; do
    [ -e "$report" ] || continue
    report_count=$((report_count + 1))
    echo "---- $report"
    cat "$report"
done
echo "sanitizer reports: $report_count"
[ "$native_tests" = ON ] && echo "native tests: $([ "$native_status" -eq 0 ] && echo passed || echo "FAILED (exit $native_status)")"
echo "python tests: $([ "$python_status" -eq 0 ] && echo passed || echo "FAILED (pytest exit $python_status)")"
if [ "$report_count" -ne 0 ] || [ "$native_status" -ne 0 ] || [ "$python_status" -ne 0 ]; then
    exit 1
fi
