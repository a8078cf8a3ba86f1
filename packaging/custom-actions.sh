# shellcheck shell=bash
# The reader of custom-actions.tsv, for build-package.sh, which writes its
# rows into the package, and for the package's static check, which compares
# the package with them. Sourced; needs bash.
CUSTOM_ACTIONS_TABLE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/custom-actions.tsv

# custom_action_rows [TABLE]: the table's rows, tab-separated, comments and
# blank lines left out; "-" stays "-". Fails, saying why, on a row that is
# not seven fields or that holds a quote, which the package's SQL can't take.
custom_action_rows() {
    awk -F'\t' '
        /^#/ || /^[[:space:]]*$/ { next }
        NF != 7 { printf "%s:%d: %d fields, not 7\n", FILENAME, FNR, NF > "/dev/stderr"; bad = 1; next }
        /\x27/ { printf "%s:%d: a quote, which the package'"'"'s SQL can'"'"'t take\n", FILENAME, FNR > "/dev/stderr"; bad = 1; next }
        { print }
        END { exit bad }' "${1:-$CUSTOM_ACTIONS_TABLE}"
}

# custom_action_queries [TABLE]: msibuild's -q arguments, one per line, that
# write the table's CustomAction and InstallExecuteSequence rows; a "-"
# column is left out of its row.
custom_action_queries() {
    local rows action type source target sequence condition _
    rows=$(custom_action_rows "$@") || return 1
    while IFS=$'\t' read -r action type source target sequence condition _; do
        if [ "$source" = - ]; then
            echo "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Target\`) VALUES ('$action', $type, '$target')"
        else
            echo "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('$action', $type, '$source', '$target')"
        fi
        if [ "$condition" = - ]; then
            echo "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('$action', $sequence)"
        else
            echo "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('$action', '$condition', $sequence)"
        fi
    done <<< "$rows"
}
