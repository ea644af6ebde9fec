#!/bin/bash
# Pictures whose names the system's code page cannot spell, end to end with
# the real quorvane.scr: a Photos folder holding only such names (Japanese,
# an emoji, a Cyrillic folder) is shown by /s, and /c lists them under
# their own names (the tree read back as wide text by the dialog probe).
# The names are chosen for the prefix's ANSI code page, 1252 (Western
# European); the test says so and stops elsewhere.
set -u
source "$(dirname "$0")/lib.sh"

PREFIX="${QV_WINEPREFIX:?ctest names the prefix}"
PROBE="$BUILD/bin/dialog_probe.exe"
SHOTS="$BUILD/e2e-shots"
KEY='HKCU\Software\Tessilund\Quorvane'
SHELL_FOLDERS='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
INSTALL_WIN='C:\qv_e2e_names'
INSTALL="$PREFIX/drive_c/qv_e2e_names"
PHOTOS="$INSTALL/Photos"
WORK="$(mktemp -d)"
PID=""
mkdir -p "$SHOTS"

# The saver's own processes in this prefix: a failed check may leave one,
# and the runner's end does not end it.
own_saver_pids() { own_pids "$SCR"; }
cleanup() {
    if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then kill "$PID" 2>/dev/null; fi
    for p in $(own_saver_pids); do kill "$p" 2>/dev/null; done
    "$RUN" reg delete "$KEY" /f >/dev/null 2>&1
    rm -rf "$WORK" "$INSTALL"
}
trap cleanup EXIT

reg() { "$RUN" reg "$@" >/dev/null 2>&1; }
probe() { "$RUN" "$PROBE" "$@" >/dev/null 2>&1; }
shot() { import -window root "$SHOTS/$1.png"; }

reg add 'HKLM\Software\Tessilund\Quorvane' /v Path /d "$INSTALL_WIN" /f
use_wine_display
acp="$(reg_value 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' ACP)"
if [ "$acp" != 1252 ]; then
    echo "skipped: the names are chosen for code page 1252, this prefix uses '$acp'"
    exit 0
fi
pass "the prefix's ANSI code page is 1252"

# An installation folder with the plug-ins, and photographs named outside
# the code page only, each a strong colour. Linux names are UTF-8; Wine
# shows them to Windows programs as the same characters.
rm -rf "$INSTALL"
mkdir -p "$PHOTOS/Фото"
cp "$BUILD"/bin/*.dll "$INSTALL/" 2>/dev/null || true
convert -size 800x600 xc:'rgb(0,200,0)' "$PHOTOS/夕焼け_水辺.jpg"
convert -size 800x600 xc:'rgb(0,80,230)' "$PHOTOS/🌅 sunrise.jpg"
convert -size 640x480 xc:'rgb(230,120,0)' "$PHOTOS/Фото/Море.png"
CATALOGUE="$("$RUN" winepath -u "$(reg_value "$SHELL_FOLDERS" AppData)" 2>/dev/null | tr -d '\r')/Quorvane/piclist.dat"

# A user without a catalogue whose old folder list names only that folder.
fresh_user() {
    reg delete "$KEY" /f
    reg add "$KEY\\Folders" /v 1 /d "$INSTALL_WIN\\Photos" /f
    rm -f "$CATALOGUE"
}

# --- /s: the show finds the pictures and shows photographs ------------------
fresh_user
reg add "$KEY" /v Order /d 1 /f  # forward
rm -f "$WORK/rc"
( QV_WINE_START=1 "$RUN" "$SCR" /s >/dev/null 2>&1; echo $? >"$WORK/rc" ) &
PID=$!
best=0
for _ in $(seq 1 30); do
    sleep 1
    [ -f "$WORK/rc" ] && break
    shot names-show
    share=$(colour_share "$SHOTS/names-show.png")
    [ "$share" -gt "$best" ] && best=$share && cp "$SHOTS/names-show.png" "$SHOTS/names-show-best.png"
    [ "$best" -ge 300 ] && break
done
[ "$best" -ge 300 ] && pass "/s shows the photographs ($best per 10000 in colour, $SHOTS/names-show-best.png)" ||
    fail "/s showed no photograph (best $best per 10000)"
xdotool key x
for _ in $(seq 1 200); do [ -f "$WORK/rc" ] && break; sleep 0.1; done
rc=$(cat "$WORK/rc" 2>/dev/null || echo timeout)
[ "$rc" = 0 ] && pass "a key ends the show with 0" || fail "the show ended with $rc"
PID=""

# --- /c: the tree shows the names as they are; OK stores usable paths -------
fresh_user
"$RUN" "$SCR" /c >"$WORK/dialog.log" 2>&1 &
PID=$!
up=""
for _ in $(seq 1 120); do
    probe list && { up=1; break; }
    sleep 0.5
done
[ -n "$up" ] && pass "/c shows the dialog" || { fail "no dialog"; finish; }
sleep 1  # the tree fill
tree="$("$RUN" "$PROBE" tree 2>/dev/null | tr -d '\r')"
printf '%s\n' "$tree" >"$WORK/tree.txt"
for line in "0|$INSTALL_WIN\\Photos" "1|夕焼け_水辺.jpg" "1|🌅 sunrise.jpg" "1|Море.png"; do
    grep -qxF "$line" "$WORK/tree.txt" && pass "tree item '$line'" || fail "no tree item '$line' in: $tree"
done
grep -q '?' "$WORK/tree.txt" && fail "a question mark in the tree: $tree" || pass "no question marks in the tree"
probe command 66
sleep 0.5
shot names-dialog
probe command 16  # OK
wait_child "$PID" 150
rc=$RC
[ "$rc" = 124 ] && shot names-dialog-after-ok
[ "$rc" = 0 ] && pass "OK ends the dialog with 0" || fail "OK ended with $rc"
# The file's picture paths: three, all short paths the Windows side opens.
if [ -s "$CATALOGUE" ]; then
    python3 - "$CATALOGUE" >"$WORK/paths.txt" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
pos = 6
while pos + 2 <= len(data):
    size = struct.unpack_from('<H', data, pos)[0]
    record = data[pos + 2:pos + 2 + size]
    pos += 2 + size
    name_end = record.index(b'\0')
    total = struct.unpack_from('<I', record, name_end + 6)[0]
    for path in data[pos:pos + total].split(b'\0')[:-1]:
        print(path.decode('cp1252'))
    pos += total
EOF
    [ "$(wc -l <"$WORK/paths.txt")" = 3 ] && pass "piclist.dat holds the three pictures" ||
        fail "piclist.dat holds: $(cat "$WORK/paths.txt")"
    grep -q '?' "$WORK/paths.txt" && fail "a question mark in piclist.dat" || pass "no question marks in piclist.dat"
    while IFS= read -r path; do
        unix="$("$RUN" winepath -u "$path" 2>/dev/null | tr -d '\r')"
        [ -f "$unix" ] && pass "'$path' opens $(basename "$unix")" || fail "'$path' opens nothing"
    done <"$WORK/paths.txt"
else
    fail "OK wrote no piclist.dat"
fi

finish
