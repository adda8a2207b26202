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

QUORVELC_VENV="${QUORVELC_BENCH_VENV:-}"
default_venv=.venv-bench
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
cd "$root"

section "Python environment ($venv, $flavour)"
prepare_venv
"$py" -m pip install --quiet ".[$flavour]" numpy

section "bench/bench_convert.py $*"
# Run from outside the source tree, so that the installed module is the one imported.
cd /
exec "$py" "$root/bench/bench_convert.py" "$@"
