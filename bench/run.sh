#!/usr/bin/env bash
# Installs Quorvelc the way a user does (pip install of the project, with
# pygame) into a virtual environment of its own, adds numpy (which only the
# benchmark needs), and runs bench/bench_convert.py there.
#
# Settings (environment variables):
#   QUORVELC_BENCH_VENV  virtual environment to use or create   (default: ./.venv-bench)
#   QUORVELC_PYGAME      pygame flavour: pygame or pygame-ce    (default: pygame)
#   QUORVELC_PYTHON      interpreter that creates the venv      (default: python3)
# Arguments go to bench_convert.py: `bench/run.sh --quick` for a short run
# (CI), `bench/run.sh` for the full one, `bench/run.sh --help` for the rest.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

venv="${QUORVELC_BENCH_VENV:-$root/.venv-bench}"
flavour="${QUORVELC_PYGAME:-pygame}"
python="${QUORVELC_PYTHON:-python3}"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-${QUORVELC_JOBS:-$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)}}"

case "$flavour" in
    pygame) other=pygame-ce ;;
    pygame-ce) other=pygame ;;
    *) echo "run.sh: QUORVELC_PYGAME must be 'pygame' or 'pygame-ce', not '$flavour'" >&2; exit 1 ;;
esac

echo "==== Python environment ($venv, $flavour) ===="
if [ ! -x "$venv/bin/python" ]; then
    "$python" -m venv "$venv"
fi
py="$venv/bin/python"
# pygame and pygame-ce install the same `pygame` package: never keep both.
if "$py" -m pip show --quiet "$other" >/dev/null 2>&1; then
    "$py" -m pip uninstall --yes "$other"
fi
"$py" -m pip install --quiet ".[$flavour]" numpy

echo "==== bench/bench_convert.py $* ===="
# Run from outside the source tree, so that the installed module is the one imported.
cd /
exec "$py" "$root/bench/bench_convert.py" "$@"
