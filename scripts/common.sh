# Shared set-up of the project's scripts (sourced, not run): installs what is
# missing on a fresh Debian machine and prepares a virtual environment with
# one pygame flavour. A script may set `default_venv` (a folder name under the
# repository) before sourcing this file.
#
# Settings (environment variables):
#   QUORVELC_VENV    virtual environment to use or create  (default: ./$default_venv, else ./.venv)
#   QUORVELC_PYGAME  pygame flavour: pygame or pygame-ce   (default: pygame)
#   QUORVELC_PYTHON  interpreter that creates the venv     (default: python3)
#   QUORVELC_JOBS    parallel compile jobs                 (default: number of CPUs)

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
venv="${QUORVELC_VENV:-$root/${default_venv:-.venv}}"
flavour="${QUORVELC_PYGAME:-pygame}"
python="${QUORVELC_PYTHON:-python3}"
jobs="${QUORVELC_JOBS:-$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)}"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$jobs}"

section() { printf '\n==== %s ====\n' "$*"; }
fail() { printf '%s: %s\n' "$(basename "$0")" "$*" >&2; exit 1; }

apt_updated=0
# Installs the Debian packages among the arguments that are not installed.
need_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ "${#missing[@]}" -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || fail "missing packages: ${missing[*]} (install them as root)"
        sudo=(sudo)
    fi
    echo "installing ${missing[*]}"
    if [ "$apt_updated" -eq 0 ]; then
        "${sudo[@]}" apt-get update
        apt_updated=1
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# cmake and ninja (from anywhere on PATH), a C++ compiler and Python's headers.
need_build_tools() {
    command -v cmake >/dev/null || need_packages cmake
    command -v ninja >/dev/null || need_packages ninja-build
    command -v c++ >/dev/null || need_packages g++
    "$python" -c 'import sys' 2>/dev/null || need_packages python3
    "$python" -m venv --help >/dev/null 2>&1 || need_packages python3-venv
    local include
    include="$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')"
    [ -f "$include/Python.h" ] || need_packages python3-dev
}

# clang with its sanitizer and libFuzzer runtimes (libclang-rt-N-dev matches
# clang's major version).
need_clang() {
    command -v clang++ >/dev/null || need_packages clang
    local major
    major="$(clang++ -dumpversion | cut -d. -f1)"
    if [ ! -f "$(clang++ -print-file-name=libclang_rt.asan-x86_64.so)" ] ||
       [ ! -f "$(clang++ -print-runtime-dir)/libclang_rt.fuzzer-x86_64.a" ]; then
        need_packages "libclang-rt-$major-dev"
    fi
}

# Creates the venv when missing and sets `py`; removes the other pygame
# flavour, since pygame and pygame-ce install the same `pygame` package.
prepare_venv() {
    local other
    case "$flavour" in
        pygame) other=pygame-ce ;;
        pygame-ce) other=pygame ;;
        *) fail "QUORVELC_PYGAME must be 'pygame' or 'pygame-ce', not '$flavour'" ;;
    esac
    if [ ! -x "$venv/bin/python" ]; then
        echo "creating $venv"
        "$python" -m venv "$venv"
    fi
    py="$venv/bin/python"
    "$py" --version
    if "$py" -m pip show --quiet "$other" >/dev/null 2>&1; then
        echo "removing $other (it would clash with $flavour)"
        "$py" -m pip uninstall --yes "$other"
    fi
}

# The venv with one pygame flavour and pytest, for scripts that build the
# module themselves; sets `py`.
need_venv() {
    prepare_venv
    if ! "$py" -c 'import pygame, pytest' >/dev/null 2>&1; then
        "$py" -m pip install "$flavour" pytest
    fi
    PYGAME_HIDE_SUPPORT_PROMPT=1 "$py" -c 'import sys, pygame; print("Python", sys.version.split()[0], "with pygame", pygame.version.ver, "(" + pygame.__file__ + ")")'
}

# The site-packages directory of the venv (for interpreters embedded in
# native executables, which do not see the venv by themselves).
venv_site_packages() {
    "$py" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])'
}

# LeakSanitizer suppressions for the interpreter's and pygame's own leaks.
lsan_suppressions="$root/scripts/lsan-suppressions.txt"
