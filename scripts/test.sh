#!/usr/bin/env bash
# Builds Quorvelc and runs every test: the native GoogleTest suite (through
# CTest) and the Python suite (pytest). Does its own set-up on a fresh Debian
# machine: installs libgtest-dev when it is missing, creates a virtual
# environment and installs the project into it.
#
# Settings (environment variables):
#   QUORVELC_VENV       virtual environment to use or create   (default: ./.venv)
#   QUORVELC_PYGAME     pygame flavour: pygame or pygame-ce    (default: pygame)
#   QUORVELC_PYTHON     interpreter that creates the venv      (default: python3)
#   QUORVELC_BUILD_DIR  build tree of the native tests         (default: ./build/native)
#   QUORVELC_JOBS       parallel compile jobs                  (default: number of CPUs)
# Arguments are handed to pytest, e.g. `scripts/test.sh -k masks -v`.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$root"
build_dir="${QUORVELC_BUILD_DIR:-$root/build/native}"

section "System packages"
need_build_tools
need_packages libgtest-dev

section "Python environment ($venv, $flavour)"
prepare_venv

section "Build and install Quorvelc[$flavour,test]"
"$py" -m pip install ".[$flavour,test]"

section "Native tests: build ($build_dir)"
# A native build that fails is reported in the summary; the Python tests
# still run, so one run shows every failure.
native_status=0
cmake -S "$root" -B "$build_dir" -G Ninja \
    -DCMAKE_BUILD_TYPE=Debug \
    -DPython_EXECUTABLE="$py" \
    -DQUORVELC_NATIVE_TESTS=ON || native_status=$?
if [ "$native_status" -eq 0 ]; then
    cmake --build "$build_dir" -j "$jobs" || native_status=$?
fi
native_built=$([ "$native_status" -eq 0 ] && echo yes || echo no)

section "Native tests: run"
if [ "$native_built" = yes ]; then
    ctest --test-dir "$build_dir" --output-on-failure --no-tests=error || native_status=$?
else
    echo "the native tests did not build (exit $native_status): not run" >&2
fi
# A GoogleTest executable that holds no test passes; count it as a failure,
# like pytest's "no tests collected".
native_exe="$build_dir/quorvelc_native_tests"
if [ "$native_status" -eq 0 ] && [ -x "$native_exe" ]; then
    native_list="$("$native_exe" --gtest_list_tests)" || native_status=$?
    if [ "$native_status" -eq 0 ] && ! grep -q '^  ' <<<"$native_list"; then
        echo "the native test executable holds no tests: counted as a failure" >&2
        native_status=1
    fi
fi

section "Python tests"
python_status=0
# tests import the installed module, never a build tree; no screen is needed.
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$py" -m pytest tests/python "$@" || python_status=$?
if [ "$python_status" -eq 5 ]; then
    echo "pytest collected no tests: counted as a failure" >&2
fi

section "Summary"
if [ "$native_built" = no ]; then
    echo "native tests: FAILED (did not build, exit $native_status)"
else
    echo "native tests: $([ "$native_status" -eq 0 ] && echo passed || echo "FAILED (ctest exit $native_status)")"
fi
echo "python tests: $([ "$python_status" -eq 0 ] && echo passed || echo "FAILED (pytest exit $python_status)")"
if [ "$native_status" -ne 0 ] || [ "$python_status" -ne 0 ]; then
    exit 1
fi
