#!/bin/bash
# The full-screen show of the real quorvane.scr on displays with two
# monitors: the show on the primary, the other monitor black for the whole
# show, input on the other monitor ends it, and nothing is left on either
# monitor afterwards. Three layouts: side by side, the other monitor at
# negative coordinates (left of and above the primary), and a portrait one.
# Then photos on every monitor, on the portrait layout.
set -u
source "$(dirname "$0")/lib.sh"

PREFIX="${QV_WINEPREFIX:?ctest names the prefix}"
KEY='HKCU\Software\Tessilund\Quorvane'
INSTALL_WIN='C:\qv_e2e_monitors'
INSTALL="$PREFIX/drive_c/qv_e2e_monitors"
WORK="$(mktemp -d)"
SHOW_PID=""
# The X root's own colour: a monitor that nothing covers shows it.
ROOT_COLOUR='#2850c8'

cleanup() {
    running 2>/dev/null && end_show
    # QV_E2E_SHOTS names a folder that keeps the screenshots for a look.
    if [ -n "${QV_E2E_SHOTS:-}" ]; then mkdir -p "$QV_E2E_SHOTS" && cp "$WORK"/*.png "$QV_E2E_SHOTS"/ 2>/dev/null; fi
    rm -rf "$WORK" "$INSTALL"
}
trap cleanup EXIT

reg() { "$RUN" reg "$@" >/dev/null 2>&1; }

# The prefix exists after the first Wine call.
reg add 'HKLM\Software\Tessilund\Quorvane' /v Path /d "$INSTALL_WIN" /f
reg delete "$KEY" /f

# Plug-ins (when built) and a few pictures of one strong colour.
rm -rf "$INSTALL"
mkdir -p "$INSTALL/Photos"
cp "$BUILD"/bin/*.dll "$INSTALL/" 2>/dev/null || true
for name in a_green.bmp b_green.png c_green.jpg; do
    convert -size 800x600 xc:'rgb(0,220,0)' "$INSTALL/Photos/$name"
done
rm -f "$PREFIX"/drive_c/users/*/AppData/Roaming/Quorvane/piclist.dat

# The monitors of the display, one a line: "<name> <w> <h> <x> <y>" in X
# coordinates, the primary first.
monitors() {
    xrandr --listmonitors | sed -n 's|^ *[0-9]*: +\(\*\?\)\([A-Z0-9]*\) \([0-9]*\)/[0-9]*x\([0-9]*\)/[0-9]*+\([0-9]*\)+\([0-9]*\) .*|\1 \2 \3 \4 \5 \6|p' |
        sort -r | cut -d' ' -f2-
}
# Screenshot $1 of the whole screen, measured in shares per 1000 of each
# monitor: sets P_LIT (not black) and P_ROOT (the root's colour) of the
# primary, O_BLACK and O_ROOT of the other monitor.
shot() {
    import -window root "$WORK/$1.png" 2>/dev/null || return 1
    local name w h x y p o
    read -r name w h x y <<<"$PRIMARY"
    p="${w}x${h}+${x}+${y}"
    read -r name w h x y <<<"$OTHER"
    o="${w}x${h}+${x}+${y}"
    read -r P_LIT P_ROOT O_BLACK O_ROOT < <(convert "$WORK/$1.png" -write mpr:shot +delete \
        \( mpr:shot -crop "$p" +repage -fuzz 10% -fill black -opaque black -fill white +opaque black \) \
        \( mpr:shot -crop "$p" +repage -fuzz 8% -fill black +opaque "$ROOT_COLOUR" -fill white -opaque "$ROOT_COLOUR" \) \
        \( mpr:shot -crop "$o" +repage -fuzz 4% -fill black -opaque black -fill white +opaque black -negate \) \
        \( mpr:shot -crop "$o" +repage -fuzz 8% -fill black +opaque "$ROOT_COLOUR" -fill white -opaque "$ROOT_COLOUR" \) \
        -colorspace Gray -format '%[fx:round(mean*1000)] ' info:)
    [ -n "$O_ROOT" ]
}

start_show() {
    rm -f "$WORK/rc"
    ( QV_WINE_START=1 "$RUN" "$SCR" /s >/dev/null 2>&1; echo $? >"$WORK/rc" ) &
    SHOW_PID=$!
    for _ in $(seq 1 300); do
        xdotool search --name '^Tessilund Quorvane$' >/dev/null 2>&1 && return 0
        [ -f "$WORK/rc" ] && break
        sleep 0.1
    done
    end_show
    return 1
}
running() { [ ! -f "$WORK/rc" ]; }
# Ends a show that did not end as it should, with the processes it started.
end_show() {
    local p
    for p in $(own_pids 'quorvane\.scr'); do kill "$p" 2>/dev/null; done
    [ -n "$SHOW_PID" ] && kill "$SHOW_PID" 2>/dev/null
    SHOW_PID=""
}

# Checks that the other monitor of the last shot is black: its cover is on it.
other_black() {
    if [ "$O_BLACK" -ge 990 ] && [ "$O_ROOT" -eq 0 ]; then
        pass "$LAYOUT, $1: the other monitor is black ($O_BLACK/1000)"
    else
        fail "$LAYOUT, $1: the other monitor is not covered (black $O_BLACK/1000, root colour $O_ROOT/1000)"
    fi
}

# The visible windows of the show, one a line: "x y w h" in X coordinates.
show_windows() {
    local w WINDOW X Y WIDTH HEIGHT SCREEN
    for w in $(xdotool search --onlyvisible --name '^Tessilund Quorvane$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)"
        echo "$X $Y $WIDTH $HEIGHT"
    done
}
# True when a visible window of the show reaches into rectangle "w h x y".
any_on() {
    local w h x y wx wy ww wh
    read -r w h x y <<<"$1"
    while read -r wx wy ww wh; do
        [ -n "$wh" ] || continue
        [ "$wx" -lt $((x + w)) ] && [ $((wx + ww)) -gt "$x" ] && [ "$wy" -lt $((y + h)) ] &&
            [ $((wy + wh)) -gt "$y" ] && return 0
    done < <(show_windows)
    return 1
}
# Checks that within about 6 s no visible window of the show reaches into
# rectangle $2.
none_on() {
    for _ in $(seq 1 12); do
        any_on "$2" || break
        sleep 0.5
    done
    any_on "$2" && fail "$1: $(show_windows | tr '\n' ';')" || pass "$1"
}
# Waits up to about 5 s for the other monitor to turn black.
wait_other_black() {
    for _ in $(seq 1 10); do
        shot "$LAYOUT-$1" && [ "$O_BLACK" -ge 990 ] && [ "$O_ROOT" -eq 0 ] && break
        sleep 0.5
    done
    other_black "$1"
}

# Monitors that change during the show: the other monitor is resized, taken
# away and brought back elsewhere. The show goes on and the covers follow
# (the show looks for changes once a second).
change_other_monitor() {
    xrandr --newmode qv640x480 $(cvt 640 480 60 | sed -n 's/^Modeline "[^"]*" *//p') 2>/dev/null
    xrandr --addmode DUMMY1 qv640x480 && xrandr --output DUMMY1 --mode qv640x480 --pos 1024x0
    OTHER="DUMMY1 640 480 1024 0"
    wait_other_black "the other monitor resized to 640x480"
    none_on "$LAYOUT: no window beside the resized monitor" "160 600 1664 0"

    xrandr --output DUMMY1 --off
    none_on "$LAYOUT: no window is left where the other monitor was" "640 480 1024 0"
    running && pass "$LAYOUT: the show goes on when the other monitor goes" ||
        fail "$LAYOUT: the show ended when the other monitor went"

    xrandr --output DUMMY1 --mode qv640x480 --pos 1024x128
    OTHER="DUMMY1 640 480 1024 128"
    wait_other_black "the other monitor back, lower"
    running || fail "$LAYOUT: the show ended when a monitor came"
}

# A new size of the primary ends the show, as input would.
resize_primary() {
    xrandr --newmode qv800x600 $(cvt 800 600 60 | sed -n 's/^Modeline "[^"]*" *//p') 2>/dev/null
    xrandr --addmode DUMMY0 qv800x600 && xrandr --output DUMMY0 --mode qv800x600
    local name w h x y
    read -r name w h x y <<<"$PRIMARY"
    PRIMARY="$name 800 600 $x $y"
}

# One show on layout $1, ended by $2: a click or mouse moves on the other
# monitor, or a new size of the primary. $3, if any, runs before that.
show_on() {
    LAYOUT="$1"
    export QV_MONITORS="$1"
    use_wine_display
    mapfile -t mons < <(monitors)
    if [ "${#mons[@]}" -ne 2 ]; then
        fail "$LAYOUT: the display has ${#mons[@]} monitors, not 2"
        return
    fi
    PRIMARY="${mons[0]}"
    OTHER="${mons[1]}"
    xsetroot -solid "$ROOT_COLOUR"
    # What an uncovered monitor looks like to these checks.
    shot "$LAYOUT-before" || { fail "$LAYOUT: no screenshot"; return; }
    [ "$O_ROOT" -ge 990 ] || fail "$LAYOUT: the other monitor does not show the root before the show ($O_ROOT/1000)"

    start_show || { fail "$LAYOUT: no saver window appeared"; return; }
    # The saver window is found as soon as it exists; the covers follow
    # within moments, later on a loaded machine.
    for _ in 1 2 3 4 5 6; do
        shot "$LAYOUT-start" && [ "$O_BLACK" -ge 990 ] && [ "$O_ROOT" -eq 0 ] && break
        sleep 0.5
    done
    other_black "as the show starts"
    # The scene: black space with stars and a photograph (a tenth of the
    # primary when near), with nothing of the root showing through.
    local i
    for i in $(seq 1 40); do
        shot "$LAYOUT-scene"
        [ "$P_LIT" -ge 20 ] && break
        sleep 0.3
    done
    if [ "$P_LIT" -ge 20 ] && [ "$P_ROOT" -eq 0 ]; then
        pass "$LAYOUT: the show fills the primary ($P_LIT/1000 of it lit)"
    else
        fail "$LAYOUT: no show on the primary ($P_LIT/1000 lit, root colour $P_ROOT/1000)"
    fi
    other_black "with a picture on the primary"
    [ -n "${3:-}" ] && $3
    shot "$LAYOUT-later"
    other_black "later"
    running || fail "$LAYOUT: the show ended by itself"

    local name w h x y
    read -r name w h x y <<<"$OTHER"
    case "$2" in
    click)
        xdotool mousemove $((x + w / 2)) $((y + h / 2))
        sleep 0.3
        running || fail "$LAYOUT: one mouse move ended the show"
        xdotool click 1
        ;;
    moves)
        for i in $(seq 1 20); do xdotool mousemove $((x + 20 + i * 13)) $((y + 30 + i * 11)); sleep 0.05; done
        ;;
    resize) resize_primary ;;
    esac
    local rc
    rc=$(wait_end 20)
    [ "$rc" = timeout ] && end_show
    [ "$rc" = 0 ] && pass "$LAYOUT: the show ends with 0 on $2" || fail "$LAYOUT: $2: exit $rc"
    shot "$LAYOUT-after"
    if [ "$P_ROOT" -ge 990 ] && [ "$O_ROOT" -ge 990 ]; then
        pass "$LAYOUT: nothing is left on either monitor"
    else
        fail "$LAYOUT: left behind: the root shows on $P_ROOT/1000 of the primary and $O_ROOT/1000 of the other monitor"
    fi
}

# The colour that fills most of rectangle "w h x y" of screenshot $1: red,
# green, blue, magenta or none; with "-tall" or "-wide" for the rectangle
# its pixels stand in, unless that reaches the edge of the rectangle.
colour_in() {
    local w h x y
    read -r w h x y <<<"$2"
    convert "$1" -crop "${w}x${h}+${x}+${y}" +repage -sample 25% -depth 8 ppm:- | python3 -c "$PPM_PIXELS"'
n = {"red": 0, "green": 0, "blue": 0, "magenta": 0}
box = {c: [w, h, -1, -1] for c in n}
for i in range(0, len(px), 3):
    r, g, b = px[i], px[i + 1], px[i + 2]
    c = None
    if r > 90 and g < 60 and b < 60:
        c = "red"
    elif g > 90 and r < 60 and b < 60:
        c = "green"
    elif b > 90 and r < 60 and g < 60:
        c = "blue"
    elif r > 90 and b > 90 and g < 60:
        c = "magenta"
    if c:
        n[c] += 1
        x, y = (i // 3) % w, (i // 3) // w
        bx = box[c]
        bx[0], bx[1], bx[2], bx[3] = min(bx[0], x), min(bx[1], y), max(bx[2], x), max(bx[3], y)
best = max(n, key=n.get)
bx = box[best]
shape = "-tall" if bx[3] - bx[1] > bx[2] - bx[0] else "-wide"
if bx[0] == 0 or bx[1] == 0 or bx[2] == w - 1 or bx[3] == h - 1:
    shape = ""
print(best + shape if n[best] > 100 else "none")'
}

# Photos on every monitor, on a landscape primary and a portrait monitor
# beside it: both show pictures, never the same one at once, and the
# portrait monitor takes the upright ones. Landscape pictures are red or
# green, upright ones blue or magenta, three of each.
every_monitor() {
    LAYOUT=2-portrait
    export QV_MONITORS="$LAYOUT"
    use_wine_display
    mapfile -t mons < <(monitors)
    [ "${#mons[@]}" -eq 2 ] || { fail "every monitor: the display has ${#mons[@]} monitors"; return; }
    PRIMARY="${mons[0]}"
    OTHER="${mons[1]}"
    rm -f "$INSTALL"/Photos/* "$PREFIX"/drive_c/users/*/AppData/Roaming/Quorvane/piclist.dat
    local i
    for i in 1 2 3; do
        convert -size 800x600 xc:'rgb(220,0,0)' "$INSTALL/Photos/wide_red$i.jpg"
        convert -size 800x600 xc:'rgb(0,220,0)' "$INSTALL/Photos/wide_green$i.png"
        convert -size 600x800 xc:'rgb(0,0,220)' "$INSTALL/Photos/tall_blue$i.jpg"
        # Stored wide, turned upright by its EXIF orientation (6: a quarter turn).
        convert -size 800x600 xc:'rgb(220,0,220)' "$INSTALL/Photos/tall_magenta$i.jpg"
        python3 - "$INSTALL/Photos/tall_magenta$i.jpg" <<'PY'
import struct, sys
path = sys.argv[1]
jpeg = open(path, "rb").read()
ifd = struct.pack(">H", 1) + struct.pack(">HHIHH", 0x0112, 3, 1, 6, 0) + struct.pack(">I", 0)
exif = b"Exif\0\0" + b"MM\0\x2a" + struct.pack(">I", 8) + ifd
open(path, "wb").write(jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(exif) + 2) + exif + jpeg[2:])
PY
    done
    reg add "$KEY" /v EveryMonitor /d 1 /f
    xsetroot -solid "$ROOT_COLOUR"
    start_show || { fail "every monitor: no saver window appeared"; return; }
    local name w h x y p o seen_p="" seen_o="" same=0 both=0 wrong=""
    read -r name w h x y <<<"$PRIMARY"
    p="$w $h $x $y"
    read -r name w h x y <<<"$OTHER"
    o="$w $h $x $y"
    for i in $(seq 1 60); do
        import -window root "$WORK/every.png" 2>/dev/null || continue
        local cp co
        cp=$(colour_in "$WORK/every.png" "$p")
        co=$(colour_in "$WORK/every.png" "$o")
        # Upright pictures on the portrait monitor, standing upright.
        case "$co" in red* | green* | *-wide) wrong="$wrong $co" ;; esac
        cp=${cp%-*}
        co=${co%-*}
        [ "$cp" != none ] && seen_p="$seen_p $cp"
        [ "$co" != none ] && seen_o="$seen_o $co"
        if [ "$cp" != none ] && [ "$co" != none ]; then
            both=$((both + 1))
            [ "$cp" = "$co" ] && same=$((same + 1))
            [ "$both" -eq 1 ] && cp "$WORK/every.png" "$WORK/every-both.png"
        fi
        [ "$both" -ge 4 ] && break
        sleep 0.5
    done
    [ -n "$seen_p" ] && [ -n "$seen_o" ] && pass "every monitor: both monitors show pictures" ||
        fail "every monitor: pictures on the primary '$seen_p', on the other '$seen_o'"
    [ "$both" -gt 0 ] && [ "$same" -eq 0 ] && pass "every monitor: never the same picture on both at once ($both shots)" ||
        fail "every monitor: $same of $both shots with pictures on both show the same colour"
    [ -n "$seen_o" ] && [ -z "$wrong" ] && pass "every monitor: the portrait monitor shows upright pictures ($seen_o)" ||
        fail "every monitor: the portrait monitor showed '$seen_o', of them wrongly '$wrong'"
    # Input on the other monitor ends the show, and nothing is left.
    xdotool mousemove $((x + w / 2)) $((y + h / 2))
    sleep 0.3
    xdotool click 1
    local rc
    rc=$(wait_end 20)
    [ "$rc" = timeout ] && end_show
    [ "$rc" = 0 ] && pass "every monitor: a click on the other monitor ends the show with 0" ||
        fail "every monitor: click: exit $rc"
    shot "every-after"
    [ "$P_ROOT" -ge 990 ] && [ "$O_ROOT" -ge 990 ] && pass "every monitor: nothing is left on either monitor" ||
        fail "every monitor: left behind: root on $P_ROOT/1000 and $O_ROOT/1000"

    # The other monitor taken away during such a show ends it cleanly.
    start_show || { fail "every monitor: no saver window for the second show"; return; }
    sleep 2
    xrandr --output DUMMY1 --off
    rc=$(wait_end 20)
    [ "$rc" = timeout ] && end_show
    [ "$rc" = 0 ] && pass "every monitor: a monitor taken away ends the show with 0" ||
        fail "every monitor: monitor taken away: exit $rc"
    none_on "every monitor: no window is left after the monitor went" "1024 768 0 0"
    reg delete "$KEY" /v EveryMonitor /f
}

# A display an earlier, interrupted run changed is not taken for the layout.
"$RUN" --stop-monitors
show_on 2 click change_other_monitor
show_on 2-left moves
show_on 2-portrait resize
"$RUN" --stop-monitors
every_monitor
# The monitors were changed: the next run starts its display afresh.
"$RUN" --stop-monitors

reg delete "$KEY" /f
finish
