#!/usr/bin/env bash
# check-docs.sh SOURCE_DIR
# The documents as a newcomer meets them: the README one screen (at most 80
# lines) that links every document; every relative link of the README, the
# changelog and docs/ names a file that is there, and a heading of it where
# it names one; the folder map of docs/architecture.md names every folder
# that git tracks files in, and no other.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/static/checks.sh
source "$here/checks.sh"
cd "${1:?usage: check-docs.sh SOURCE_DIR}" || exit 2
README_MAX_LINES=80

documents() { printf '%s\n' README.md CHANGELOG.md docs/*.md; }

# links FILE: the targets of the file's relative Markdown links, one a line.
links() { grep -oE '\]\([^)#:]*(#[^)]*)?\)' "$1" | sed 's/^](//; s/)$//' | grep -v '^$'; }

# slugs FILE: the anchors that the file's headings give, as GitHub makes them.
slugs() {
    sed -n 's/^#\{1,6\} //p' "$1" | tr '[:upper:]' '[:lower:]' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}

# broken_links FILE: "FILE: TARGET" for each link that names no file, or no heading of it.
broken_links() {
    local target path anchor folder
    folder=$(dirname "$1")
    while IFS= read -r target; do
        path=${target%%#*} anchor=''
        [[ $target == *'#'* ]] && anchor=${target#*#}
        [ -n "$path" ] && path=$folder/$path || path=$1
        if [ ! -e "$path" ]; then echo "$1: $target"
        elif [ -n "$anchor" ] && ! grep -qxF "$anchor" <<< "$(slugs "$path")"; then echo "$1: $target"
        fi
    done < <(links "$1")
}

lines=$(wc -l < README.md)
check "the README is one screen: $lines lines, at most $README_MAX_LINES" [ "$lines" -le "$README_MAX_LINES" ]
readme_links=$(links README.md)
for document in CHANGELOG.md docs/*.md; do
    check "the README links $document" grep -qxF "$document" <<< "$readme_links"
done
broken=$(while IFS= read -r document; do broken_links "$document"; done < <(documents))
check "every relative link names a file that is there, and a heading of it${broken:+: $(paste -sd ' ' <<< "$broken")}" \
    [ -z "$broken" ]

# The map: its table's rows whose first column is a folder in backquotes.
mapped=$(sed -n 's/^| `\([^`]*\)\/` |.*/\1/p' docs/architecture.md | sort)
if tracked=$(git ls-files 2>/dev/null) && [ -n "$tracked" ]; then
    folders=$(xargs -d '\n' -n 1 dirname <<< "$tracked" | grep -vx '\.' | sort -u)
    missing=$(comm -23 <(echo "$folders") <(echo "$mapped") | paste -sd ' ')
    extra=$(comm -13 <(echo "$folders") <(echo "$mapped") | paste -sd ' ')
    check "docs/architecture.md maps every folder that git tracks files in${missing:+; it lacks: $missing}" [ -z "$missing" ]
    check "... and no folder that git does not track${extra:+: $extra}" [ -z "$extra" ]
else
    bad "git ls-files lists nothing here: the folder map can't be compared"
fi
checks_summary
