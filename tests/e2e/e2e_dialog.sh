#!/bin/bash
# The configuration dialog of the real quorvane.scr under Wine and Xvfb, read
# and driven from outside: its windows through tests/tools/dialog_probe, its
# keys and clicks through xdotool, its look through screenshots left in
# <build>/e2e-shots for a person to look at.
set -u
source "$(dirname "$0")/lib.sh"
export QV_WINEPREFIX="${QV_WINEPREFIX:-$(cd "$BUILD" && pwd)/wineprefix}"
PROBE="$BUILD/bin/dialog_probe.exe"
SHOTS="$BUILD/e2e-shots"
mkdir -p "$SHOTS"
KEY='HKCU\Software\Tessilund\Quorvane'
SHELL_FOLDERS='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
DESKTOP='HKCU\Control Panel\Desktop'

work="$(mktemp -d)"
mkdir -p "$work/pictures"
wine_path() { "$RUN" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

restore() {
    "$RUN" reg delete "$DESKTOP" /v LogPixels /f >/dev/null 2>&1
    "$RUN" reg delete "$KEY" /f >/dev/null 2>&1
    rm -rf "$work"
}
trap restore EXIT

# The build's program folder holds the image plug-ins; the sample photos, when
# built, make the folder the Photos page shows.
"$RUN" reg add 'HKLM\Software\Tessilund\Quorvane' /v Path /d "$(wine_path "$BUILD/bin")" /f >/dev/null 2>&1
[ -d "$BUILD/Photos" ] && cp "$BUILD/Photos/"* "$work/pictures/" 2>/dev/null
# Wine keeps "AppData" pointing into the prefix, so the catalogue goes there.
CATALOGUE="$("$RUN" winepath -u "$(reg_value "$SHELL_FOLDERS" AppData)" 2>/dev/null | tr -d '\r')/Quorvane/piclist.dat"
use_wine_display

# A user without settings whose old folder list names one small folder, so
# that the default catalogue is built from it instead of the whole of
# "My Pictures" (which Wine points at the home folder).
PICTURES="$(wine_path "$work/pictures")"
fresh_user() {
    "$RUN" reg delete "$KEY" /f >/dev/null 2>&1
    "$RUN" reg add "$KEY\Folders" /v 1 /d "$PICTURES" /f >/dev/null 2>&1
    rm -f "$CATALOGUE"
}

# Runs dialog_probe quietly; its exit status says whether a dialog answered.
probe() { "$RUN" "$PROBE" "$@" >/dev/null 2>&1; }

PID=""
start_dialog() {
    # A dialog left from an earlier run would answer in this one's place.
    probe close && sleep 2
    "$RUN" "$SCR" /c >"$work/dialog.log" 2>&1 &
    PID=$!
    for _ in $(seq 1 120); do
        if probe list && xdotool search --name '^Quorvane$' >/dev/null 2>&1; then
            sleep 1  # let the first paint and the tree fill finish
            return 0
        fi
        if ! kill -0 "$PID" 2>/dev/null; then
            wait "$PID"
            echo "dialog process ended early with $?:"; cat "$work/dialog.log"
            return 1
        fi
        sleep 0.5
    done
    return 1
}

# Waits for the dialog process to end; its exit code in RC (124: still running).
wait_end() { wait_child "$PID" 100; }

listing() { "$RUN" "$PROBE" list 2>/dev/null | tr -d '\r'; }
# The line of the first window with this text (and class, when given).
line_of() { echo "$LIST" | awk -F'|' -v t="$1" -v c="${2:-}" '$2 == t && (c == "" || $1 == c) { print; exit }'; }
expect_line() {  # expect_line WHAT TEXT CLASS "id|x|y|w|h|visible"
    local got
    got="$(line_of "$2" "$3" | cut -d'|' -f3-)"
    if [ "$got" = "$4" ]; then pass "$1"; else fail "$1: got '$got', want '$4'"; fi
}
pages_visible() { echo "$LIST" | awk -F'|' '$1 == "Brevomar TPage" { printf "%s", $8 }'; }
shot() { import -window root "$SHOTS/$1.png"; }

# A click on the tab strip's first tab gives the tab control the keyboard.
focus_tabs() {
    local x y
    x=$(echo "$LIST" | awk -F'|' 'NR == 1 { print $4 }')
    y=$(echo "$LIST" | awk -F'|' 'NR == 1 { print $5 }')
    local tab; tab="$(line_of Main_TAB SysTabControl32)"
    local sx=$(( $(echo "$tab" | cut -d'|' -f4) ))
    local sy=$(( $(echo "$tab" | cut -d'|' -f5) ))
    local win; win="$(xdotool search --name '^Quorvane$' | head -1)"
    eval "$(xdotool getwindowgeometry --shell "$win")"
    xdotool mousemove $((X + sx + 12)) $((Y + sy + 8)) click 1
    sleep 0.5
}

# Moves from the Photos page to the Show page, and on to the About page,
# with the arrow keys.
show_page() {
    focus_tabs
    xdotool key Right; sleep 0.3; xdotool key Right; sleep 1
    LIST="$(listing)"
}
about_page() {
    xdotool key Right; sleep 1
    LIST="$(listing)"
}

# --- 96 DPI: layout, first state, Esc and Enter, Options ---------------------
fresh_user
if start_dialog; then pass "/c shows the window Quorvane"; else fail "no dialog window"; finish; fi
LIST="$(listing)"
first="$(echo "$LIST" | head -1 | cut -d'|' -f1-2)"
[ "$first" = "WSSW_Quorvane|Quorvane" ] && pass "class WSSW_Quorvane, text Quorvane" || fail "main window is '$first'"
expect_line "tab control at 10,10 583x395" Main_TAB SysTabControl32 "27|10|10|583|395|1"
expect_line "Options >> shown at start" "Options >>" Button "66|517|412|75|23|1"
expect_line "OK hidden at start" OK Button "16|347|412|75|23|0"
expect_line "Cancel hidden at start" Cancel Button "17|432|412|75|23|0"
expect_line "Preview hidden at start" Preview Button "26|517|412|75|23|0"
[ "$(pages_visible)" = "1000" ] && pass "page 0 shown first" || fail "pages visible: $(pages_visible)"
shot dialog-96-more

focus_tabs
xdotool key Escape; sleep 0.3; xdotool key Return; sleep 0.5
kill -0 "$PID" 2>/dev/null && pass "Esc and Enter leave it open" || fail "Esc or Enter closed it"

probe command 66; sleep 1
LIST="$(listing)"
expect_line "Options >> hidden after it" "Options >>" Button "66|517|412|75|23|0"
expect_line "OK shown after Options" OK Button "16|347|412|75|23|1"
expect_line "Preview shown after Options" Preview Button "26|517|412|75|23|1"
[ "$(pages_visible)" = "0100" ] && pass "Options moves to Photos" || fail "pages visible: $(pages_visible)"
expect_line "tree view on the left group box" "Tree Images" SysTreeView32 "54|10|16|190|240|1"
expect_line "picture pane" "Image1 PR" Timage1_PR "9|236|20|319|239|1"
shot dialog-96-photos
# The tree read as wide text: a name beyond ASCII (the sample "Café.jpg")
# comes back as it is shown, in UTF-8.
if [ -e "$work/pictures/Café.jpg" ]; then
    "$RUN" "$PROBE" tree 2>/dev/null | tr -d '\r' >"$work/tree.txt"
    grep -qxF "0|$PICTURES" "$work/tree.txt" && grep -qxF "1|Café.jpg" "$work/tree.txt" &&
        pass "the tree reads back as wide text" || fail "tree read back as: $(tr '\n' ' ' <"$work/tree.txt")"
fi

show_page
[ "$(pages_visible)" = "0010" ] && pass "arrow keys reach the Show page" || fail "pages visible: $(pages_visible)"
expect_line "order choice on the Show page" "Random" Button "70|14|20|240|20|1"
expect_line "picture shape choice on the Show page" "Own shape" Button "85|14|42|240|20|1"
shot dialog-96-show
about_page
[ "$(pages_visible)" = "0001" ] && pass "arrow keys reach the About page" || fail "pages visible: $(pages_visible)"
expect_line "version label" "Version : 1.1.0.0" Static "0|266|68|120|25|1"
expect_line "OK stays after changing page" OK Button "16|347|412|75|23|1"
shot dialog-96-about

probe command 17
wait_end
[ "$RC" = 0 ] && pass "Cancel ends with 0" || fail "Cancel ended with $RC"
[ ! -e "$CATALOGUE" ] && pass "Cancel writes no piclist.dat" || fail "Cancel wrote piclist.dat"
[ -z "$(reg_value "$KEY" Delay)" ] && pass "Cancel writes no settings" || fail "Cancel wrote Delay"

# --- the close box saves nothing; OK saves -----------------------------------
fresh_user
start_dialog || fail "no dialog for the close box"
probe close
wait_end
[ "$RC" = 0 ] && pass "close box ends with 0" || fail "close box ended with $RC"
[ ! -e "$CATALOGUE" ] && [ -z "$(reg_value "$KEY" Delay)" ] && pass "close box saves nothing" || fail "close box saved"

fresh_user
start_dialog || fail "no dialog for OK"
probe command 66; sleep 0.5
probe command 16
wait_end
[ "$RC" = 0 ] && pass "OK ends with 0" || fail "OK ended with $RC"
[ -s "$CATALOGUE" ] && pass "OK writes piclist.dat" || fail "OK wrote no piclist.dat"
[ "$(reg_value "$KEY" Delay)" = 5000 ] && pass "OK writes the settings" || fail "Delay is '$(reg_value "$KEY" Delay)'"

# --- Preview: the real saver in the dialog's process, on the catalogue as it
#     stands, unsaved changes included; Cancel still discards them ----------
saver_up() { xdotool search --name '^Tessilund Quorvane$' >/dev/null 2>&1; }
# Runs a preview for at most $1 seconds, a screenshot a second; stops at the
# first one with a photograph. Leaves the best share in BEST and the seconds
# it took in TOOK, then ends the preview with Esc.
preview() {
    BEST=0
    TOOK=$1
    probe command 26
    for _ in $(seq 1 100); do saver_up && break; sleep 0.1; done
    saver_up || { fail "Preview shows no saver window"; return; }
    for t in $(seq 1 "$1"); do
        sleep 1
        shot "preview-$2"
        local share; share=$(colour_share "$SHOTS/preview-$2.png")
        [ "$share" -gt "$BEST" ] && BEST=$share
        if [ "$share" -ge 300 ]; then TOOK=$t; break; fi
    done
    xdotool key Escape
    for _ in $(seq 1 100); do saver_up || break; sleep 0.1; done
}
if [ -n "$(ls "$work/pictures" 2>/dev/null)" ]; then
    fresh_user
    if start_dialog; then
        probe command 66; sleep 1
        preview 25 saved
        [ "$BEST" -ge 300 ] && pass "Preview shows the catalogue's photographs ($BEST per 10000)" ||
            fail "Preview showed no photograph (best $BEST per 10000)"
        saver_up && fail "Esc left the preview on screen" || pass "Esc ends the preview"
        kill -0 "$PID" 2>/dev/null && pass "the dialog outlives its preview" || fail "the preview ended the dialog"
        # Remove the only folder without saving: the next preview has nothing to show.
        probe select-root 0 && probe command 5
        sleep 1
        preview $((TOOK + 8)) unsaved
        [ "$BEST" -lt 100 ] && pass "Preview shows the unsaved removal ($BEST per 10000)" ||
            fail "Preview still showed a photograph after the removal ($BEST per 10000)"
        shot dialog-after-preview
        probe command 17
        wait_end
        [ "$RC" = 0 ] && pass "Cancel after previews ends with 0" || fail "Cancel after previews ended with $RC"
        [ ! -e "$CATALOGUE" ] && pass "Cancel after a preview still discards the change" ||
            fail "Cancel after a preview wrote piclist.dat"
    else
        fail "no dialog for Preview"
    fi
else
    echo "skipped: Preview checks (no sample photos built)"
fi

# --- 144 DPI -----------------------------------------------------------------
fresh_user
"$RUN" reg add "$DESKTOP" /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
if start_dialog; then
    LIST="$(listing)"
    expect_line "tab control at 144 DPI" Main_TAB SysTabControl32 "27|15|15|874|592|1"
    expect_line "Options >> at 144 DPI" "Options >>" Button "66|776|618|112|34|1"
    shot dialog-144-more
    probe command 66; sleep 1
    LIST="$(listing)"
    expect_line "tree view at 144 DPI" "Tree Images" SysTreeView32 "54|15|24|285|360|1"
    expect_line "picture pane at 144 DPI" "Image1 PR" Timage1_PR "9|354|30|479|359|1"
    shot dialog-144-photos
    show_page
    expect_line "order choice at 144 DPI" "Random" Button "70|21|30|360|30|1"
    shot dialog-144-show
    about_page
    expect_line "version label at 144 DPI" "Version : 1.1.0.0" Static "0|399|102|180|38|1"
    shot dialog-144-about
    probe command 17
    wait_end
else
    fail "no dialog at 144 DPI"
fi
"$RUN" reg delete "$DESKTOP" /v LogPixels /f >/dev/null 2>&1

finish
