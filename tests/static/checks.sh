# shellcheck shell=bash
# How the file checks report: one line per check, "ok: ..." or "FAIL: ...",
# and a count of the failures. Sourced by check-exe.sh and check-package.sh.

failures=0
ok() { echo "ok: $*"; }
bad() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then ok "$what"; else bad "$what"; fi; }

# checks_summary: the closing line; false if any check failed.
checks_summary() {
    [ $failures -eq 0 ] && echo "all checks passed" || echo "$failures checks failed"
    [ $failures -eq 0 ]
}
