#!/bin/bash
# Photos on every monitor against the show on the primary alone, on a
# two-monitor display (Xorg's dummy driver: a 1024x768 primary and an
# 800x600 monitor beside it), in one run: processor time per second of a
# paced show, of the saver's process and of the X server, in rounds that
# take turns. The baseline is the show on the primary with the other monitor
# covered black.
# Usage: bench/e2e_every_monitor.sh BUILD_DIR [ROUNDS=3] [SECONDS=20]
# Prints figures only; nothing here passes or fails.
set -u
BUILD="$(cd "${1:?usage: e2e_every_monitor.sh BUILD_DIR [ROUNDS] [SECONDS]}" && pwd)"
ROUNDS="${2:-3}"
SECS="${3:-20}"
HERE="$(cd "$(dirname "$0")" && pwd)"
RUN="$HERE/../scripts/wine-run"
SCR="$BUILD/bin/quorvane.scr"
export QV_WINEPREFIX="$BUILD/wineprefix-bench-monitors"
export QV_X_SLOT=bench-monitors
export QV_MONITORS=2
KEY='HKCU\Software\Tessilund\Quorvane'
TITLE='^Tessilund Quorvane$'

# The prefix exists after the first Wine call; then the installation.
"$RUN" reg add 'HKLM\Software\Tessilund\Quorvane' /v Path /d 'C:\qv_bench' /f >/dev/null 2>&1
DISPLAY="$("$RUN" --display)"
export DISPLAY
XPID=$(tr -dc 0-9 <"/tmp/.X${DISPLAY#:}-lock" 2>/dev/null)
INSTALL="$QV_WINEPREFIX/drive_c/qv_bench"
mkdir -p "$INSTALL/Photos"
cp "$BUILD"/bin/*.dll "$INSTALL/"
for c in green-blue red-yellow navy-orange purple-white teal-pink olive-skyblue; do
    [ -f "$INSTALL/Photos/$c.jpg" ] || convert -size 3000x2000 "gradient:$c" -attenuate 0.3 +noise Uniform \
        -quality 90 "$INSTALL/Photos/$c.jpg"
done
rm -f "$QV_WINEPREFIX"/drive_c/users/*/AppData/Roaming/Quorvane/piclist.dat

ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
# One paced show with EveryMonitor $1; prints "process X-server" in % of one
# core over $SECS seconds, measured from 8 s in (the other monitor's first
# picture is on its way by then).
cpu_of_show() {
    "$RUN" reg add "$KEY" /v EveryMonitor /d "$1" /f >/dev/null 2>&1
    ( QV_WINE_START=1 "$RUN" "$SCR" /s >/dev/null 2>&1 ) &
    for _ in $(seq 1 300); do xdotool search --name "$TITLE" >/dev/null 2>&1 && break; sleep 0.1; done
    sleep 8
    # The saver's process of this prefix: Wine names it by its Windows path.
    local p pids=() a=0 b=0 xa xb hz
    for p in $(pgrep -f -- '^[A-Z]:\\.*quorvane\.scr /s' 2>/dev/null); do
        tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$QV_WINEPREFIX" && pids+=("$p")
    done
    [ "${#pids[@]}" -gt 0 ] || { echo "n/a n/a"; return; }
    for p in "${pids[@]}"; do a=$((a + $(ticks "$p"))); done
    xa=$(ticks "$XPID")
    sleep "$SECS"
    for p in "${pids[@]}"; do b=$((b + $(ticks "$p"))); done
    xb=$(ticks "$XPID")
    xdotool key x
    for _ in $(seq 1 800); do kill -0 "${pids[0]}" 2>/dev/null || break; sleep 0.01; done
    hz=$(getconf CLK_TCK)
    # The frame rate the show recorded as it ended.
    local fps
    fps=$("$RUN" reg query "$KEY" /v FPS 2>/dev/null | tr -d '\r' | awk '$1 == "FPS" {print $3}')
    awk -v a="$a" -v b="$b" -v xa="$xa" -v xb="$xb" -v hz="$hz" -v s="$SECS" -v fps="${fps:-n/a}" \
        'BEGIN {printf "%.1f %.1f %s\n", (b - a) * 100 / hz / s, (xb - xa) * 100 / hz / s, fps}'
}

echo "processor time per second of a paced show (% of one core; saver process + X server; frames a second), $SECS s a show:"
printf '%-8s %-28s %-28s %s\n' round "primary only (baseline)" "photos on every monitor" "ratio (goal <= 2.2)"
ONE=() EVERY=()
for r in $(seq 1 "$ROUNDS"); do
    read -r one one_x one_fps < <(cpu_of_show 0)
    read -r every every_x every_fps < <(cpu_of_show 1)
    ONE+=("$one") EVERY+=("$every")
    printf '%-8s %-28s %-28s %s\n' "$r" "$one + $one_x; $one_fps fps" "$every + $every_x; $every_fps fps" \
        "$(awk -v o="$one" -v e="$every" 'BEGIN {if (o > 0) printf "%.2f", e / o; else print "n/a"}')"
done
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
m1=$(median "${ONE[@]}") me=$(median "${EVERY[@]}")
echo "median: primary only $m1 %, every monitor $me %, ratio $(awk -v o="$m1" -v e="$me" 'BEGIN {printf "%.2f", e / o}')"
"$RUN" reg delete "$KEY" /v EveryMonitor /f >/dev/null 2>&1
"$RUN" --stop-monitors
