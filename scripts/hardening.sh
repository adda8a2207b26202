#!/usr/bin/env bash
# The hardening checks in order: scripts/sanitize.sh (native and Python tests
# under AddressSanitizer and UndefinedBehaviorSanitizer), scripts/fuzz.sh
# (each libFuzzer harness for FUZZ_SECONDS, 60 by default) and
# scripts/valgrind.sh (memcheck over a conversion workload). Every step runs
# even after a failure; the script fails when any of them did. The settings
# of the three scripts (QUORVELC_VENV, QUORVELC_PYGAME, FUZZ_SECONDS, ...)
# pass through; they share one venv.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
results=()
failed=0
for step in sanitize fuzz valgrind; do
    printf '\n######## scripts/%s.sh ########\n' "$step"
    started=$SECONDS
    if "$here/$step.sh"; then
        results+=("$step: passed ($((SECONDS - started)) s)")
    else
        results+=("$step: FAILED ($((SECONDS - started)) s)")
        failed=1
    fi
done

printf '\n######## hardening summary ########\n'
printf '%s\n' "${results[@]}"
exit "$failed"
