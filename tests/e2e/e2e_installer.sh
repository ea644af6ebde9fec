#!/bin/bash
# The real installers, each run silently in a fresh prefix: the edition that
# fits the system installed with every file and value in its place, the
# installed saver's dialog saving the sample photos with OK; then the
# uninstaller removes what the installer made, from the same places, and
# only that.
#   64-bit build: QuorvaneSetup64.exe in a win64 prefix; and, when this host
#                 executes 32-bit code, the 32-bit build's x86 installer
#                 (<repo>/build-win/bin/QuorvaneSetup.exe) in a win64 prefix,
#                 where it must install the 64-bit edition.
#   32-bit build: QuorvaneSetup.exe in a win32 prefix.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/lib.sh"
source "$here/../../scripts/winehost.sh"
repo="$(cd "$here/../.." && pwd)"
work="$BUILD/e2e-installer"
rm -rf "$work"
mkdir -p "$work"

PRODUCT_KEY='HKLM\Software\Tessilund\Quorvane'
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane'
DESKTOP_KEY='HKCU\Control Panel\Desktop'

# What an edition consists of, as this build made it.
program_files=(quorvane.scr)
for f in "$BUILD"/bin/fastmm.dll "$BUILD"/bin/img*.dll; do
    [ -f "$f" ] && program_files+=("$(basename "$f")")
done

# Every prefix this test made; their servers are stopped however it ends.
prefixes=()
stop_servers() {
    local p
    for p in "${prefixes[@]}"; do
        WINEPREFIX="$p" "$WINE_LIB/wineserver64" -k >/dev/null 2>&1 || true
    done
}
trap stop_servers EXIT

# KEY VALUE [/reg:32] -> the data, empty when missing. In a win64 prefix
# the 64-bit reg reads the 64-bit view; /reg:32 reads the 32-bit one.

# The checks below read the run's state: kind (32 or 64, the prefix), bits
# (the edition expected), drive, inst, sysdir, and from (the bin folder the
# installer took the edition from, when known).

check_installed() {
    local f got
    for f in "${program_files[@]}"; do
        got="$(pe_arch "$inst/$f")"
        if [ "$got" = "$bits" ]; then
            pass "installed $f, $bits-bit"
        else
            fail "$inst/$f: ${got:-missing or not a PE image}, not $bits-bit"
        fi
        if [ -n "$from" ] && [ -f "$inst/$f" ] && ! cmp -s "$inst/$f" "$from/$f"; then
            fail "$f differs from $from/$f: the installer carries other files (is it older than the build?)"
        fi
    done
    [ -f "$inst/uninstall.exe" ] && pass "installed uninstall.exe" || fail "missing $inst/uninstall.exe"
    [ "$(ls -A "$inst/Photos" 2>/dev/null | sort)" = "$(ls -A "$BUILD/Photos" | sort)" ] &&
        pass "Photos holds the sample photos and nothing else" || fail "Photos holds: $(ls -A "$inst/Photos" 2>&1)"
    cmp -s "$sysdir/quorvane.scr" "$inst/quorvane.scr" && pass "the saver in the system folder" ||
        fail "system32/quorvane.scr is missing or not the installed one"

    local path
    path=$(reg_value "$PRODUCT_KEY" Path)
    [ "$path" = 'C:\Program Files\Quorvane' ] && pass "Path = $path" || fail "Path is '$path'"
    got=$(reg_value "$UNINSTALL_KEY" UninstallString)
    [ "$got" = '"C:\Program Files\Quorvane\uninstall.exe"' ] && pass "listed in Add/Remove Programs" ||
        fail "UninstallString is '$got'"
    got=$(reg_value "$DESKTOP_KEY" SCRNSAVE.EXE)
    [ "$got" = 'C:\windows\system32\quorvane.scr' ] && pass "current screensaver" || fail "SCRNSAVE.EXE is '$got'"

    if [ "$kind" = 64 ]; then
        # Nothing of the 64-bit edition in the places of 32-bit programs.
        [ ! -e "$drive/Program Files (x86)/Quorvane" ] && pass "nothing in Program Files (x86)" ||
            fail "Program Files (x86)/Quorvane exists"
        [ ! -e "$drive/windows/syswow64/quorvane.scr" ] && pass "nothing in syswow64" ||
            fail "syswow64/quorvane.scr exists"
        [ -z "$(reg_value "$PRODUCT_KEY" Path /reg:32)$(reg_value "$UNINSTALL_KEY" DisplayName /reg:32)" ] &&
            pass "nothing in the 32-bit registry view" || fail "values in the 32-bit registry view"
    fi
}

# A new user's catalogue, as the installed saver's dialog saves it with OK,
# holds every sample photo.
check_dialog_saves_catalogue() {
    local dialog catalogue missing
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
    if [ -z "$catalogue" ]; then
        fail "OK saved no piclist.dat"
        return
    fi
    missing=$(python3 - "$catalogue" "$inst/Photos" <<'PY'
import os, sys
data = open(sys.argv[1], "rb").read()
# The catalogue keeps names in the Windows code page.
print(" ".join(n for n in sorted(os.listdir(sys.argv[2])) if n.encode("cp1252") not in data))
PY
)
    [ -z "$missing" ] && pass "the default catalogue holds every sample photo" ||
        fail "the default catalogue lacks: $missing"
}

uninstall() {
    "$RUN" "$inst/uninstall.exe" /S >/dev/null 2>&1
    # The uninstaller runs on from a temporary copy; its last step is the
    # uninstall entry.
    for _ in $(seq 1 120); do
        [ ! -e "$inst/uninstall.exe" ] && [ -z "$(reg_value "$UNINSTALL_KEY" DisplayName)" ] && break
        sleep 0.5
    done
    sleep 1
}

check_uninstalled() {
    local f left=""
    for f in "${program_files[@]}" uninstall.exe; do
        [ -e "$inst/$f" ] && left="$left $f"
    done
    [ -z "$left" ] && pass "program removed" || fail "left behind:$left"
    [ ! -e "$sysdir/quorvane.scr" ] && pass "system copy removed" || fail "system32 copy left"
    [ "$(ls -A "$inst/Photos" 2>/dev/null)" = "my own photo.jpg" ] && pass "sample photos removed, the user's kept" ||
        fail "Photos holds: $(ls -A "$inst/Photos" 2>&1)"
    [ -z "$(reg_value "$PRODUCT_KEY" Path)" ] && pass "Path removed" || fail "Path left"
    [ -z "$(reg_value "$UNINSTALL_KEY" DisplayName)" ] && pass "uninstall entry removed" || fail "uninstall entry left"
    [ -z "$(reg_value "$DESKTOP_KEY" SCRNSAVE.EXE)" ] && pass "no longer the screensaver" || fail "SCRNSAVE.EXE left"
    [ "$(reg_value 'HKCU\Software\Tessilund\Quorvane' Delay)" = 7000 ] && pass "user settings kept" ||
        fail "user settings removed"
}

# SETUP NAME KIND BITS FROM: runs the installer in a fresh win$KIND prefix,
# which must get the BITS-bit edition (files from the bin folder FROM, when
# given), then its uninstaller.
run_setup() {
    local setup="$1" name="$2"
    kind="$3" bits="$4" from="$5"
    echo "== $name: $setup in a fresh win$kind prefix, expecting the $bits-bit edition"
    export QV_WINEPREFIX="$work/$name" QV_WINE_ARCH="$kind"
    prefixes+=("$QV_WINEPREFIX")
    drive="$QV_WINEPREFIX/drive_c"
    inst="$drive/Program Files/Quorvane"
    sysdir="$drive/windows/system32"

    local status
    "$RUN" "$setup" /S >/dev/null 2>&1
    status=$?
    if [ "$status" -ne 0 ]; then
        fail "$name: the installer exited $status"
        return
    fi
    check_installed
    check_dialog_saves_catalogue
    # Things of the user's that the uninstaller must leave alone.
    echo keep >"$inst/Photos/my own photo.jpg"
    "$RUN" reg add 'HKCU\Software\Tessilund\Quorvane' /v Delay /d 7000 /f >/dev/null 2>&1
    uninstall
    check_uninstalled
    WINEPREFIX="$QV_WINEPREFIX" "$WINE_LIB/wineserver64" -k >/dev/null 2>&1 || true
}

case "${QV_WINE_ARCH:-}" in
64)
    run_setup "$BUILD/bin/QuorvaneSetup64.exe" setup64 64 64 "$BUILD/bin"
    x86="$repo/build-win/bin/QuorvaneSetup.exe"
    if ! host_runs_win32; then
        echo "skipped: the x86 installer on 64-bit Windows: $WIN32_PROBE"
    elif [ ! -f "$x86" ]; then
        echo "skipped: the x86 installer on 64-bit Windows: no $x86"
    else
        bin64=$(sed -n 's/^QV_BIN64_DIR:[A-Z]*=//p' "$repo/build-win/CMakeCache.txt" 2>/dev/null)
        if [ -z "$bin64" ]; then
            fail "$x86 carries no 64-bit edition: configure build-win with -DQV_BIN64_DIR=$repo/build-win64/bin"
        else
            run_setup "$x86" setup-x86 64 64 "$bin64"
        fi
    fi
    ;;
32)
    host_runs_win32 || { fail "$WIN32_PROBE"; finish; }
    run_setup "$BUILD/bin/QuorvaneSetup.exe" setup-x86 32 32 "$BUILD/bin"
    ;;
*)
    fail "QV_WINE_ARCH must be 32 or 64, not '${QV_WINE_ARCH:-}'"
    ;;
esac
finish
