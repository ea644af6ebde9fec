# Helpers for the end-to-end tests: the real quorvane.scr driven from outside.
#   $1: path of quorvane.scr   $2: the Windows build folder
SCR="$1"
BUILD="$2"
RUN="${QV_WINE_RUN:?QV_WINE_RUN names scripts/wine-run}"
FAILED=0

fail() { echo "FAIL: $*"; FAILED=1; }

# The start of a Python program that reads a binary PPM (as `convert ...
# ppm:-` writes it) from standard input: its size w, h and its pixels px,
# three bytes each.
PPM_PIXELS='import sys
data = sys.stdin.buffer.read()
parts = data.split(maxsplit=4)
w, h = int(parts[1]), int(parts[2])
px = parts[4][: w * h * 3]'
pass() { echo "ok: $*"; }

# Runs the saver with a time limit; prints its exit code (124 on timeout).
run_scr() {
    local limit="$1"; shift
    QV_WINE_START=1 timeout "$limit" "$RUN" "$SCR" "$@" >/dev/null 2>&1
    echo $?
}

# The processes of this test's prefix whose command lines match the
# extended regular expression $1. Tests run side by side, each in a prefix
# of its own, so a process of the same program may be another test's.
own_pids() {
    local p
    for p in $(pgrep -f -- "$1" 2>/dev/null); do
        tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=${QV_WINEPREFIX:-}" && echo "$p"
    done
}

# Share of a screenshot in colour, per 10000 pixels. A photograph is colour
# over a large area; stars are single white pixels.
colour_share() {
    local share
    share=$(convert "$1" -scale 25% -colorspace HSL \
        -fx '(saturation > 0.25 && lightness > 0.08) ? 1 : 0' -format '%[fx:mean*10000]' info: 2>/dev/null)
    share=${share%.*}
    echo "${share:-0}"
}

# Prints the data of one registry value, empty when it is missing or empty:
# reg_value KEY NAME [more arguments of "reg query", such as /reg:32].
reg_value() {
    local key="$1" name="$2"; shift 2
    "$RUN" reg query "$key" /v "$name" "$@" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$name \{1,\}REG_[A-Z_]*\( \{1,\}\|\$\)//p"
}

# Points DISPLAY at the display the Wine programs are shown on (starting a
# virtual one when none is usable), for the X tools of a test.
use_wine_display() {
    DISPLAY="$("$RUN" --display)"
    export DISPLAY
}

# Waits up to $2 tenths of a second for $1, a child of this shell, to end;
# its exit code in RC (124: still running).
wait_child() {
    RC=124
    for _ in $(seq 1 "$2"); do
        if ! kill -0 "$1" 2>/dev/null; then
            wait "$1"
            RC=$?
            return
        fi
        sleep 0.1
    done
}

finish() {
    if [ "$FAILED" -ne 0 ]; then exit 1; fi
    echo "all checks passed"
}

# Waits at most $1 seconds for a show whose runner writes its exit code to
# $WORK/rc; prints the code, or "timeout".
wait_end() {
    for _ in $(seq 1 $(($1 * 10))); do
        [ -f "$WORK/rc" ] && { cat "$WORK/rc"; return; }
        sleep 0.1
    done
    echo timeout
}
