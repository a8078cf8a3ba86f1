# shellcheck shell=bash
# The bench's pure helpers: figures and the marker's date and time, and the
# import allow-list of the EXE's own check. Sourced by bench.sh and by
# test-bench.sh; no Wine in here.
source "$(dirname "${BASH_SOURCE[0]}")/../tests/static/imports.sh"

# stats FILE: the median, minimum and maximum of the numbers in FILE, one a
# line, with one decimal; an even count takes the mean of the middle two.
stats() {
    sort -g "$1" | awk 'NF { v[++n] = $1 }
        END { if (!n) exit 1
              m = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
              printf "%.1f %.1f %.1f\n", m, v[1], v[n] }'
}
median() { local s; s=$(stats "$1") && echo "${s%% *}"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "n/a" }'; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a - b }'; }

# seconds_of_day TIME: "15:04:05", "3:04:05 PM", "3:04:05 p.m." or "12:00:01 AM"
# as seconds after midnight; false for anything else.
seconds_of_day() {
    local re='^([0-9]{1,2}):([0-9]{2}):([0-9]{2})( ?([AaPp])\.? ?[Mm]\.?)?$'
    [[ $1 =~ $re ]] || return 1
    local h=$((10#${BASH_REMATCH[1]})) m=$((10#${BASH_REMATCH[2]})) s=$((10#${BASH_REMATCH[3]}))
    local half=${BASH_REMATCH[5],,}
    if [ -n "$half" ]; then
        [ "$h" -ge 1 ] && [ "$h" -le 12 ] || return 1
        h=$((h % 12))
        [ "$half" = p ] && h=$((h + 12))
    fi
    [ "$h" -le 23 ] && [ "$m" -le 59 ] && [ "$s" -le 59 ] || return 1
    echo $((h * 3600 + m * 60 + s))
}

# date_fields TEXT: the numbers of a numeric date, sorted ("8/12/2026" and
# "12.08.2026" both give "8 12 2026"), so that any locale's order compares.
date_fields() {
    [[ $1 =~ ^([0-9]{1,4})[./-]([0-9]{1,2})[./-]([0-9]{1,4})$ ]] || return 1
    printf '%s\n' $((10#${BASH_REMATCH[1]})) $((10#${BASH_REMATCH[2]})) $((10#${BASH_REMATCH[3]})) |
        sort -n | tr '\n' ' '
}

# marker_from_run MARKER START END: the marker is "<date> <time> by
# TarvexActiveXInstaller" with a date and time between the epoch seconds START
# and END (one second of slack each way: the clock is read in whole seconds).
# Dates are compared as local dates with two- or four-digit years.
marker_from_run() {
    local re='^([0-9]{1,4}[./-][0-9]{1,2}[./-][0-9]{1,4}) (.+) by TarvexActiveXInstaller$'
    [[ $1 =~ $re ]] || return 1
    local day=${BASH_REMATCH[1]} clock=${BASH_REMATCH[2]} marked fields t
    marked=$(seconds_of_day "$clock") || return 1
    fields=$(date_fields "$day") || return 1
    for ((t = $2 - 1; t <= $3 + 1; t++)); do
        [ "$(date -d "@$t" +%H:%M:%S)" = "$(date -u -d "@$marked" +%H:%M:%S)" ] || continue
        [ "$fields" = "$(date_fields "$(date -d "@$t" +%-d.%-m.%Y)")" ] && return 0
        [ "$fields" = "$(date_fields "$(date -d "@$t" +%-d.%-m.%y)")" ] && return 0
    done
    return 1
}
