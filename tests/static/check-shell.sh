#!/usr/bin/env bash
# check-shell.sh SOURCE_DIR
# ShellCheck at warning level over every shell script of the project and
# .ci/run, following what each sources (-x, from the source folder, where the
# scripts' source directives point); and no pipe that ends in a reader that
# stops early. First makes sure each check can fail at all: a script with a
# known finding must be rejected.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/static/checks.sh
source "$here/checks.sh"
cd "${1:?usage: check-shell.sh SOURCE_DIR}" || exit 2
command -v shellcheck >/dev/null || { echo "FAIL: shellcheck is not installed (cmake/bootstrap.sh installs it)"; exit 1; }

lint() { shellcheck -x -S warning -f gcc "$@"; }

# A blank after "=" meant as an empty value: SC1007.
probe=$(mktemp --suffix .sh)
trap 'rm -f "$probe"' EXIT
printf '#!/usr/bin/env bash\na= b=1\necho "$a$b"\n' > "$probe"
rejects_probe() { ! lint "$probe" >/dev/null; }
check "shellcheck rejects a script with a finding (SC1007)" rejects_probe

# A reader that stops at its first match or line (grep -q, grep -m, head) at
# the end of a pipe: the command before it dies of SIGPIPE whenever it still
# had output to write, and under pipefail a line that is there reads as
# missing, at random. Search a variable or a file instead.
early_readers() { grep -nE '\|[[:space:]]*(grep[[:space:]]+-[A-Za-z]*[qm]|head\b)' "$@"; }
printf '#!/usr/bin/env bash\nseq 100000 | grep -q 1\n' > "$probe"
finds_probe() { early_readers "$probe" >/dev/null; }
check "a pipe into grep -q is found" finds_probe

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t scripts < <(git ls-files --cached --others --exclude-standard -- '*.sh' .ci/run)
else
    mapfile -t scripts < <(find . -path ./build -prune -o \( -name '*.sh' -o -path ./.ci/run \) -type f -print)
fi
if findings=$(lint "${scripts[@]}"); then
    ok "${#scripts[@]} scripts are ShellCheck clean at warning level"
else
    printf '%s\n' "$findings"
    bad "ShellCheck findings in the scripts above"
fi
others=()
for script in "${scripts[@]}"; do [[ $script == */check-shell.sh ]] || others+=("$script"); done  # it names the pattern
if readers=$(early_readers "${others[@]}"); then
    printf '%s\n' "$readers"
    bad "pipes that end in a reader that stops early (above)"
else
    ok "no pipe ends in a reader that stops early"
fi
checks_summary
