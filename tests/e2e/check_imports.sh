#!/bin/bash
# Fails when a shipped Windows binary imports anything but system DLLs.
set -eu
allowed='^(kernel32|user32|gdi32|advapi32|comctl32|comdlg32|shell32|ole32|oleaut32|opengl32|glu32|winmm|windowscodecs|shlwapi|msvcrt|version|uxtheme|mpr|psapi|dbghelp|ws2_32|winspool\.drv)(\.dll)?$'
status=0
for bin in "$@"; do
    dlls=$(i686-w64-mingw32-objdump -p "$bin" | sed -n 's/^\s*DLL Name: //p')
    [ -n "$dlls" ] || { echo "FAIL: no import table read from $bin"; status=1; continue; }
    while read -r dll; do
        lower=$(echo "$dll" | tr 'A-Z' 'a-z')
        if [[ ! "$lower" =~ $allowed ]]; then
            echo "FAIL: $bin imports $dll"
            status=1
        fi
    done <<<"$dlls"
    i686-w64-mingw32-objdump -f "$bin" | grep -q 'file format pei-i386' || { echo "FAIL: $bin is not PE32 i386"; status=1; }
    echo "$(basename "$bin"): $(echo $dlls | tr '\n' ' ')"
done
exit $status
