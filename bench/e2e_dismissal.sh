#!/bin/bash
# The full-screen show of the real quorvane.scr as a user meets it, under Wine
# on a 1280 x 800 virtual display, beside a baseline measured in the same run:
# tests/tools/baseline_window.exe, the least a program can do (a top-most
# full-screen window, shown, destroyed at the input).
#  1. Dismissal: from the input (a key, a click, the 15th mouse move to a new
#     position) until the saver window is off the screen (unmapped, or an
#     empty window shape), median and worst; half of the runs are ended while
#     the loader decodes a large picture (a 6000 x 4000 JPEG or a 5120 x 2880
#     PNG). Also how long the process took to end after the input.
#  2. Start-up, from process start: the window shown, the first frame drawn
#     and the first picture launched (the saver's QV_TIMELINE milestones).
#  3. Processor time per second of show, paced and unpaced (QV_UNPACED=1),
#     of the saver's process and of the X server.
# Usage: bench/e2e_dismissal.sh BUILD_DIR [RUNS=10] [DISPLAY_NUMBER=74]
# Prints figures only; nothing here passes or fails.
set -u
BUILD="$(cd "${1:?usage: e2e_dismissal.sh BUILD_DIR [RUNS] [DISPLAY_NUMBER]}" && pwd)"
RUNS="${2:-10}"
NUM="${3:-74}"
HERE="$(cd "$(dirname "$0")" && pwd)"
RUN="$HERE/../scripts/wine-run"
SCR="$BUILD/bin/quorvane.scr"
BASE="$BUILD/bin/baseline_window.exe"
export QV_WINEPREFIX="$BUILD/wineprefix-bench"
export DISPLAY=":$NUM"
TITLE='^Tessilund Quorvane$'
BASE_TITLE='^Quorvane baseline$'

if ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB=$!
    trap 'kill $XVFB 2>/dev/null' EXIT
    for _ in $(seq 1 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
fi
XPID=$(tr -dc 0-9 <"/tmp/.X$NUM-lock" 2>/dev/null)

# The prefix exists after the first Wine call; then the installation.
"$RUN" reg add 'HKLM\Software\Tessilund\Quorvane' /v Path /d 'C:\qv_bench' /f >/dev/null 2>&1
INSTALL="$QV_WINEPREFIX/drive_c/qv_bench"
mkdir -p "$INSTALL/small" "$INSTALL/large"
cp "$BUILD"/bin/*.dll "$INSTALL/"
[ -f "$INSTALL/small/a.jpg" ] || convert -size 800x600 gradient:green-blue "$INSTALL/small/a.jpg"
[ -f "$INSTALL/small/b.jpg" ] || convert -size 800x600 gradient:red-yellow "$INSTALL/small/b.jpg"
[ -f "$INSTALL/large/a.jpg" ] || convert -size 6000x4000 gradient:green-blue -attenuate 0.3 +noise Uniform \
    -quality 90 "$INSTALL/large/a.jpg"
[ -f "$INSTALL/large/b.png" ] || convert -size 5120x2880 gradient:red-yellow "$INSTALL/large/b.png"
KEY='HKCU\Software\Tessilund\Quorvane'
TIMELINE_WIN='C:\qv_bench\timeline.txt'
TIMELINE="$INSTALL/timeline.txt"
rm -f "$QV_WINEPREFIX"/drive_c/users/*/AppData/Roaming/Quorvane/piclist.dat

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
# The saver's window: viewable and with a shape that is not empty.
on_screen() {
    local info
    info=$(xwininfo -id "$1" -shape 2>/dev/null) || return 1
    grep -q 'IsViewable' <<<"$info" || return 1
    ! grep -q 'Window shape extents:  0x0' <<<"$info"
}
find_window() {  # $1 title pattern; prints the window id once it is on screen
    local w
    for _ in $(seq 1 600); do
        for w in $(xdotool search --name "$1" 2>/dev/null); do
            on_screen "$w" && { echo "$w"; return 0; }
        done
        sleep 0.02
    done
    return 1
}
# Uses a picture folder: the installation's "Photos" is the default catalogue.
use_pictures() {
    rm -rf "$INSTALL/Photos"
    cp -r "$INSTALL/$1" "$INSTALL/Photos"
    "$RUN" reg add "$KEY" /v Order /d 1 /f >/dev/null 2>&1
}

# One run: $1 program, $2 title, $3 input (key | click | mouse), $4 seconds
# before the input. Prints "<dismissal ms> <exit ms after input> <timeline>".
one_run() {
    local prog="$1" title="$2" input="$3" wait="$4" args=() w t0 t1 t2 pid
    [ "$prog" = "$SCR" ] && args=(/s)
    [ "$prog" = "$BASE" ] && [ "$input" = mouse ] && args=(15)
    rm -f "$TIMELINE" "$INSTALL/ended"
    ( QV_TIMELINE="$TIMELINE_WIN" "$RUN" "$prog" "${args[@]}" >/dev/null 2>&1; touch "$INSTALL/ended" ) &
    w=$(find_window "$title") || { echo "no-window"; return; }
    sleep "$wait"
    case "$input" in
    key) t0=$(now_ms); xdotool key x ;;
    click) t0=$(now_ms); xdotool click 1 ;;
    mouse)
        for i in $(seq 1 14); do xdotool mousemove $((100 + i * 13)) $((200 + i * 7)); done
        t0=$(now_ms); xdotool mousemove 700 500 ;;
    esac
    while on_screen "$w"; do sleep 0.002; done
    t1=$(now_ms)
    for _ in $(seq 1 1500); do [ -f "$INSTALL/ended" ] && break; sleep 0.01; done
    t2=$(now_ms)
    echo "$((t1 - t0)) $((t2 - t0)) $(tr -d '\r' <"$TIMELINE" 2>/dev/null | tr '\n' ' ')"
}

stats() {  # median and worst of the numbers on standard input
    sort -n | awk '{v[NR]=$1} END {if (NR) printf "median %5d ms  worst %5d ms  (n=%d)", v[int((NR+1)/2)], v[NR], NR}'
}
field() {  # $1 event name; the timeline figures of that event from the lines on stdin
    awk -v e="$1" '{for (i = 3; i < NF; i++) if ($(i + 1) == e) printf "%d\n", $i}'
}

echo "Display $DISPLAY $(xdotool getdisplaygeometry | tr ' ' x), $RUNS runs each, $(basename "$BUILD")"
RESULTS="$(mktemp)"
BASELINES="$(mktemp)"
inputs=(key click mouse)
for r in $(seq 1 "$RUNS"); do
    input=${inputs[$((r % 3))]}
    if [ $((r % 2)) = 0 ]; then
        use_pictures large
        one_run "$SCR" "$TITLE" "$input" 0.4 >>"$RESULTS"  # the first large picture is being decoded
    else
        use_pictures small
        one_run "$SCR" "$TITLE" "$input" 2 >>"$RESULTS"
    fi
    one_run "$BASE" "$BASE_TITLE" "$input" 1 >>"$BASELINES"
done
echo "1. dismissal, input to the window off the screen:"
echo "   saver      $(awk '{print $1}' "$RESULTS" | stats)"
echo "   baseline   $(awk '{print $1}' "$BASELINES" | stats)"
echo "   saver, large picture being decoded: $(awk 'NR % 2 == 0 {print $1}' "$RESULTS" | stats)"
echo "   process end after the input: saver $(awk '{print $2}' "$RESULTS" | stats)"
echo "                                baseline $(awk '{print $2}' "$BASELINES" | stats)"
echo "2. start-up from process start:"
echo "   window shown:  saver $(field window-shown <"$RESULTS" | stats)"
echo "                  baseline $(field window-shown <"$BASELINES" | stats)"
echo "   first frame:   saver $(field first-frame <"$RESULTS" | stats)"
echo "   first picture (800 x 600 JPEG): saver $(awk 'NR % 2 == 1' "$RESULTS" | field first-picture | stats)"
echo "   first frame after the window was shown: saver $(awk '{s = f = -1; for (i = 3; i < NF; i++) {
    if ($(i + 1) == "window-shown") s = $i; if ($(i + 1) == "first-frame") f = $i }
    if (s >= 0 && f >= 0) printf "%d\n", f - s}' "$RESULTS" | stats)"

# 3. Processor time over 5 s of a running show (or of the idle baseline).
cpu_of() {  # $1 program, $2 title, $3 extra environment; prints "process X-server" in % of a core
    local pid w a b xa xb
    ( env $3 "$RUN" "$1" $([ "$1" = "$SCR" ] && echo /s) >/dev/null 2>&1 ) &
    w=$(find_window "$2") || { echo "n/a n/a"; return; }
    sleep 3
    # Run directly, Wine's process carries the program's unix path first;
    # a name longer than 15 characters is beyond pgrep -x.
    pid=$(pgrep -n -f "^$1")
    [ -n "$pid" ] || { xdotool key x; echo "n/a n/a"; return; }
    ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
    a=$(ticks "$pid"); xa=$(ticks "$XPID")
    sleep 5
    b=$(ticks "$pid"); xb=$(ticks "$XPID")
    xdotool key x
    for _ in $(seq 1 800); do pgrep -f "^$1" >/dev/null || break; sleep 0.01; done
    local hz
    hz=$(getconf CLK_TCK)
    echo "$(( (b - a) * 100 / hz / 5 )) $(( (xb - xa) * 100 / hz / 5 ))"
}
use_pictures small
read -r paced paced_x < <(cpu_of "$SCR" "$TITLE" "")
read -r unpaced unpaced_x < <(cpu_of "$SCR" "$TITLE" "QV_UNPACED=1")
read -r base base_x < <(cpu_of "$BASE" "$BASE_TITLE" "")
echo "3. processor time per second of show (% of one core; process + X server):"
echo "   saver paced    $paced % + $paced_x %"
echo "   saver unpaced  $unpaced % + $unpaced_x %"
echo "   baseline       $base % + $base_x %"
if [ "${unpaced:-0}" -gt 0 ] 2>/dev/null; then
    echo "   paced / unpaced = $(awk -v p="$paced" -v u="$unpaced" 'BEGIN {printf "%.2f", p / u}') (goal <= 0.33)"
fi
rm -f "$RESULTS" "$BASELINES"
