#!/usr/bin/env bash
# Builds and installs Quorvelc into a virtual environment, then runs
# examples/demo.py, which draws with pygame straight into four RImage records
# and saves the result as a PNG. Headless unless `--window` is passed and a
# display exists. With `--live` the demo animates a record instead (in a
# window when a display exists; `--frames N` stops after N frames) and the
# PNG is its last frame.
#
# Settings (environment variables):
#   QUORVELC_VENV      virtual environment to use or create   (default: ./.venv)
#   QUORVELC_PYGAME    pygame flavour: pygame or pygame-ce    (default: pygame)
#   QUORVELC_PYTHON    interpreter that creates the venv      (default: python3)
#   QUORVELC_DEMO_OUT  where the PNG goes                     (default: ./demo.png)
# Arguments are handed to examples/demo.py, e.g. `scripts/demo.sh --window`
# or `scripts/demo.sh --live --frames 60`.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$root"
out="${QUORVELC_DEMO_OUT:-$root/demo.png}"

# An --out among the arguments wins over QUORVELC_DEMO_OUT (argparse keeps the last).
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
    case "${args[i]}" in
        --out=*) out="${args[i]#--out=}" ;;
        --out) [ $((i + 1)) -lt ${#args[@]} ] && out="${args[i + 1]}" ;;
    esac
done

section "Python environment ($venv, $flavour)"
prepare_venv

section "Build and install Quorvelc[$flavour]"
"$py" -m pip install ".[$flavour]"

section "Run examples/demo.py"
rm -f "$out"
"$py" examples/demo.py --out "$out" "$@"

[ -s "$out" ] || fail "the demo wrote no image at $out"
section "Done"
echo "Demo image: $(cd "$(dirname "$out")" && pwd)/$(basename "$out")"
