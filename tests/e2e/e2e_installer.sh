#!/bin/bash
# The real installer, run silently into a fresh prefix: every file and value
# in place; then the uninstaller removes what the installer made, and only that.
set -u
source "$(dirname "$0")/lib.sh"

setup="$BUILD/bin/QuorvaneSetup.exe"
[ -f "$setup" ] || { echo "FAIL: no installer at $setup"; exit 1; }
export QV_WINEPREFIX="$BUILD/e2e-installer/prefix"
rm -rf "$BUILD/e2e-installer"
mkdir -p "$BUILD/e2e-installer"
drive="$QV_WINEPREFIX/drive_c"

reg_value() {  # KEY VALUE -> the data, empty when missing
    "$RUN" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

"$RUN" "$setup" /S >/dev/null 2>&1 || fail "installer exited $?"
inst="$drive/Program Files/Quorvane"
for f in quorvane.scr uninstall.exe Photos/Aurora.jpg "Photos/Panorama 12MP.jpg" "Photos/Tower (portrait).jpg" \
         "Photos/Caf$(printf '\xc3\xa9').jpg" Photos/Meadow.bmp Photos/Glacier.tif Photos/Lanterns.gif; do
    [ -f "$inst/$f" ] && pass "installed $f" || fail "missing $inst/$f"
done
[ "$(ls -A "$inst/Photos" | sort)" = "$(ls -A "$BUILD/Photos" | sort)" ] &&
    pass "Photos holds the sample photos and nothing else" || fail "Photos holds: $(ls -A "$inst/Photos")"
for f in "$BUILD"/bin/fastmm.dll "$BUILD"/bin/img*.dll; do
    [ -f "$f" ] || continue
    [ -f "$inst/$(basename "$f")" ] && pass "installed $(basename "$f")" || fail "missing $(basename "$f")"
done
[ -f "$drive/windows/system32/quorvane.scr" ] && pass "saver in the system folder" || fail "no system32/quorvane.scr"
path=$(reg_value 'HKLM\Software\Tessilund\Quorvane' Path)
[ "$path" = 'C:\Program Files\Quorvane' ] && pass "Path = $path" || fail "Path is '$path'"
saver=$(reg_value 'HKCU\Control Panel\Desktop' SCRNSAVE.EXE)
[ "$saver" = 'C:\windows\system32\quorvane.scr' ] && pass "current screensaver" || fail "SCRNSAVE.EXE is '$saver'"
name=$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane' DisplayName)
[ -n "$name" ] && pass "listed in Add/Remove Programs" || fail "no uninstall entry"

# A new user's catalogue, as the installed saver's dialog saves it with OK,
# holds every sample photo.
"$RUN" 'C:\windows\system32\quorvane.scr' /c >/dev/null 2>&1 &
dialog=$!
for _ in $(seq 1 120); do "$RUN" "$BUILD/bin/dialog_probe.exe" list >/dev/null 2>&1 && break; sleep 0.5; done
sleep 2
"$RUN" "$BUILD/bin/dialog_probe.exe" command 66 >/dev/null 2>&1
sleep 0.5
"$RUN" "$BUILD/bin/dialog_probe.exe" command 16 >/dev/null 2>&1
for _ in $(seq 1 100); do kill -0 "$dialog" 2>/dev/null || break; sleep 0.2; done
kill -0 "$dialog" 2>/dev/null && { fail "the dialog did not close on OK"; kill "$dialog"; }
catalogue=$(ls "$drive"/users/*/AppData/Roaming/Quorvane/piclist.dat 2>/dev/null | head -1)
if [ -n "$catalogue" ]; then
    missing=$(python3 - "$catalogue" "$inst/Photos" <<'PY'
import os, sys
data = open(sys.argv[1], "rb").read()
# The catalogue keeps names in the Windows code page.
print(" ".join(n for n in sorted(os.listdir(sys.argv[2])) if n.encode("cp1252") not in data))
PY
)
    [ -z "$missing" ] && pass "the default catalogue holds every sample photo" ||
        fail "the default catalogue lacks: $missing"
else
    fail "OK saved no piclist.dat"
fi

# Things of the user's that the uninstaller must leave alone.
echo keep >"$inst/Photos/my own photo.jpg"
"$RUN" reg add 'HKCU\Software\Tessilund\Quorvane' /v Delay /d 7000 /f >/dev/null 2>&1

"$RUN" "$inst/uninstall.exe" /S >/dev/null 2>&1
# The uninstaller runs on from a temporary copy; wait for it to finish.
for _ in $(seq 1 120); do
    [ -f "$inst/quorvane.scr" ] || [ -f "$inst/uninstall.exe" ] || break
    sleep 0.5
done
sleep 1
[ ! -e "$inst/quorvane.scr" ] && pass "program removed" || fail "quorvane.scr left behind"
[ ! -e "$drive/windows/system32/quorvane.scr" ] && pass "system copy removed" || fail "system32 copy left"
[ ! -e "$inst/Photos/Aurora.jpg" ] && pass "sample photos removed" || fail "sample photos left"
[ -f "$inst/Photos/my own photo.jpg" ] && pass "user's own file kept" || fail "user's file was removed"
[ -z "$(reg_value 'HKLM\Software\Tessilund\Quorvane' Path)" ] && pass "Path removed" || fail "Path left"
[ -z "$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane' DisplayName)" ] \
    && pass "uninstall entry removed" || fail "uninstall entry left"
[ -z "$(reg_value 'HKCU\Control Panel\Desktop' SCRNSAVE.EXE)" ] && pass "no longer the screensaver" \
    || fail "SCRNSAVE.EXE left"
[ "$(reg_value 'HKCU\Software\Tessilund\Quorvane' Delay)" = 7000 ] && pass "user settings kept" \
    || fail "user settings removed"

WINEPREFIX="$QV_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
finish
