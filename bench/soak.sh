# shellcheck shell=bash
# The soak: runs of the program alternating the good and the failing control,
# each judged by its exit code, its error box and the marker. Sourced by
# bench.sh, which supplies the Wine side: run_program, answer_error_box,
# read_marker, delete_marker and place_control.

SOAK_ERROR_TEXT="Can't register Tarvex ActiveX control, result  5!"

# soak_good N: a run as an installation package starts it, with the good
# control: no box (one would hold the run until its timeout), exit code 0, a
# new marker with this run's date and time.
soak_good() {
    local start end rc marker
    place_control good
    start=$(date +%s)
    run_program
    rc=$?
    end=$(date +%s)
    [ $rc -eq 0 ] || soak_fault "$1" "good control: exit code $rc, expected 0"
    marker=$(read_marker)
    if ! marker_from_run "$marker" "$start" "$end"; then
        soak_fault "$1" "good control: the marker '$marker' does not hold the run's date and time"
    elif [ -n "$last_good" ] && [ "$start" -gt "$last_good_end" ] && [ "$marker" = "$last_good" ]; then
        soak_fault "$1" "good control: the marker was not replaced"
    fi
    last_good=$marker last_good_end=$end marker_now=$marker
}

# soak_failing N: the failing control: its error box, answered OK, exit code 1,
# the marker untouched.
soak_failing() {
    local pid rc marker text
    place_control fail
    # The marker tells time in whole seconds: a write in the good run's second
    # would leave the same text.
    while [ "$(date +%s)" -le "$last_good_end" ]; do sleep 0.05; done
    run_program &
    pid=$!
    if text=$(answer_error_box); then
        [ "$text" = "$SOAK_ERROR_TEXT" ] || soak_fault "$1" "failing control: box text '$text'"
    else
        soak_fault "$1" "failing control: no error box answered: $text"
    fi
    wait "$pid"   # run_program bounds it
    rc=$?
    [ $rc -eq 1 ] || soak_fault "$1" "failing control: exit code $rc, expected 1"
    marker=$(read_marker)
    [ "$marker" = "$marker_now" ] || soak_fault "$1" "failing control: the marker changed to '$marker'"
    marker_now=$marker
}

soak_fault() {
    faults=$((faults + 1))
    if [ $faults -le 20 ]; then echo "  soak run $1: $2"; fi
}

# soak N: N runs alternating the good and the failing control, good first,
# from no marker at all; prints a summary line and fails on any mismatch.
soak() {
    local n=$1 i started=$SECONDS final
    faults=0 last_good='' last_good_end=0 marker_now=''
    echo "soak: $n runs, alternating the good and the failing control"
    delete_marker
    for ((i = 1; i <= n; i++)); do
        if ((i % 2)); then soak_good "$i"; else soak_failing "$i"; fi
    done
    final=$(read_marker)
    [ "$final" = "$last_good" ] ||
        soak_fault end "the final marker '$final' is not the last good run's '$last_good'"
    echo "soak: $n runs ($(((n + 1) / 2)) good, $((n / 2)) failing) in $((SECONDS - started)) s:" \
         "$faults mismatches; final marker '$final'"
    [ $faults -eq 0 ]
}
