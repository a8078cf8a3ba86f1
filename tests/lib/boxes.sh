# shellcheck shell=bash
# Boxes, desktops and screenshots: the box helper that reads and answers the
# program's boxes, runs on the visible desktop and on a window station no one
# can see (the station helper), and screenshots of a box on a Wine virtual
# desktop. Needs wine.sh (WINE, BOXHELPER, STATION) and, for its failures,
# checks.sh (fail); WORK is the suite's work folder.

BOX_TIMEOUT_MS=30000     # the first box may wait on a registration run
RUN_TIMEOUT_S=60         # the longest a run may take once its boxes are answered
SHOT_DESKTOP=tarvex-e2e

box() { wine_call "$BOXHELPER" "$@"; }

# read_box FILE: a box as the helper printed it, into BOX_DESC and BOX_TEXT.
read_box() {
    BOX_DESC='' BOX_TEXT=''
    # shellcheck disable=SC2034  # BOX_TEXT is for the checks
    { IFS= read -r BOX_DESC; IFS= read -r -d '' BOX_TEXT || true; } < "$1"
}

# answer BUTTON FILE: waits for the next box, keeps it in FILE, presses BUTTON.
answer() {
    box answer "$1" "$BOX_TIMEOUT_MS" > "$2" 2> "$WORK/boxhelper.err" ||
        fail "box: $(cat "$WORK/boxhelper.err")" "$(head -c 600 "$2")"
}

# run_on_station EXPECTED MS PROGRAM ARG...: runs a Windows program on a window
# station no one can see, as a deployment tool running as SYSTEM does, with
# Wine's eventlog channel on. It must end by itself within MS milliseconds
# with exit code EXPECTED. Its stdout goes to station.out, its stderr (the
# events among it) to station.err.
run_on_station() {
    local expected=$1 ms=$2 rc=0 code
    shift 2
    WINEDEBUG=-all,+eventlog timeout -k 5 $((ms / 1000 + 30)) "$WINE" "$STATION" run "$ms" "$@" \
        >"$WORK/station.out" 2>"$WORK/station.err" || rc=$?
    # The station helper prints the code last; a debugger may have printed before it.
    code=$(tr -d '\r' < "$WORK/station.out" | tail -n 1)
    [ $rc -eq 0 ] || fail "the run on the unseen station did not end by itself (station: $rc)" \
        "$(grep '^station:' "$WORK/station.err" || true)" || return 1
    [ "$code" = "$expected" ] || fail "exit code $code, expected $expected"
}

# start_visible MS PROGRAM ARG...: runs a Windows program in the background on
# the visible desktop, through the station helper, which prints its whole
# exit code; await_visible then judges it.
start_visible() {
    local ms=$1
    shift
    timeout -k 5 $((ms / 1000 + 30)) "$WINE" "$STATION" here "$ms" "$@" >"$WORK/visible.out" 2>&1 &
    VISIBLE_PID=$!
}

# await_visible EXPECTED: the run started by start_visible ended by itself with that exit code.
await_visible() {
    local rc=0 code
    wait "$VISIBLE_PID" || rc=$?
    VISIBLE_PID=
    code=$(tr -d '\r' < "$WORK/visible.out" | tail -n 1)
    [ $rc -eq 0 ] || fail "the visible run did not end by itself (station: $rc)" "$(head -c 500 "$WORK/visible.out")" ||
        return 1
    [ "$code" = "$1" ] || fail "exit code $code, expected $1"
}

# watch_boxes MS: a box helper watches the visible desktop in the background
# for a box of any title, for at most MS; WATCH_PID is its run, and what it
# saw goes to watch.txt.
watch_boxes() {
    timeout -k 5 $(($1 / 1000 + 30)) "$WINE" "$BOXHELPER" --title '*' wait "$1" > "$WORK/watch.txt" 2>/dev/null &
    WATCH_PID=$!
}

# expect_no_box_seen: the watch started by watch_boxes saw no box; it is ended.
expect_no_box_seen() {
    kill "$WATCH_PID" 2>/dev/null || true
    wait "$WATCH_PID" 2>/dev/null || true
    WATCH_PID=''
    [ ! -s "$WORK/watch.txt" ] || fail "a box showed on the visible desktop:" "$(head -c 400 "$WORK/watch.txt")"
}

# wait_for_exit PID [SECONDS]: false when the process is still there after
# SECONDS (RUN_TIMEOUT_S by default).
wait_for_exit() {
    local tenths=0 limit=${2:-$RUN_TIMEOUT_S}
    while kill -0 "$1" 2>/dev/null; do
        [ $tenths -lt $((limit * 10)) ] || return 1
        sleep 0.1
        tenths=$((tenths + 1))
    done
}

# ---------------------------------------------------------------- screenshots

# start_on_desktop SECONDS COMMAND...: runs a Windows command in the background
# on a Wine virtual desktop, where boxes get a title bar; DESKTOP_PID is its
# process, which must end within SECONDS.
start_on_desktop() {
    local seconds=$1
    shift
    timeout -k 5 "$seconds" "$WINE" explorer "/desktop=$SHOT_DESKTOP,1024x768" "$@" >/dev/null 2>&1 &
    DESKTOP_PID=$!
}

# shoot_box NAME BUTTON [TITLE]: waits for the next box on that desktop (with
# that title, the program's by default), saves it as SCREENSHOTS/NAME.png,
# cropped around the box, and presses BUTTON.
shoot_box() {
    local name=$1 button=$2 geometry w h x y
    local title=(${3:+--title "$3"})
    box --desktop "$SHOT_DESKTOP" "${title[@]}" wait "$BOX_TIMEOUT_MS" > "$WORK/shot.txt" ||
        fail "no box for the $name screenshot" || return 1
    read_box "$WORK/shot.txt"
    geometry=${BOX_DESC##*geometry=}
    IFS='x+' read -r w h x y <<< "$geometry"
    sleep 0.5  # let the box finish painting
    timeout 30 import -window root -crop "$((w + 48))x$((h + 48))+$((x > 24 ? x - 24 : 0))+$((y > 24 ? y - 24 : 0))" \
        +repage "png:$SCREENSHOTS/$name.png.tmp" || fail "import failed for $name" || return 1
    mv "$SCREENSHOTS/$name.png.tmp" "$SCREENSHOTS/$name.png"
    box --desktop "$SHOT_DESKTOP" "${title[@]}" answer "$button" "$BOX_TIMEOUT_MS" >/dev/null ||
        fail "cannot answer the $name box"
}

# await_desktop: the command started by start_on_desktop has ended.
await_desktop() {
    wait_for_exit "$DESKTOP_PID" || fail "the run on the virtual desktop did not end within $RUN_TIMEOUT_S s" || return 1
    wait "$DESKTOP_PID" || true
    DESKTOP_PID=
}
