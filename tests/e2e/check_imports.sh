#!/bin/bash
# Fails when a shipped Windows binary imports anything but system DLLs, or
# is not of the build's architecture.
#   check_imports.sh 32|64 BINARY...
set -eu
bits="$1"
shift
case "$bits" in
32) objdump=i686-w64-mingw32-objdump format=pei-i386 ;;
64) objdump=x86_64-w64-mingw32-objdump format=pei-x86-64 ;;
*) echo "usage: check_imports.sh 32|64 BINARY..." >&2; exit 2 ;;
esac
allowed='^(kernel32|user32|gdi32|advapi32|comctl32|comdlg32|shell32|ole32|oleaut32|opengl32|glu32|winmm|windowscodecs|shlwapi|msvcrt|version|uxtheme|mpr|psapi|dbghelp|ws2_32|winspool\.drv)(\.dll)?$'
status=0
for bin in "$@"; do
    dlls=$($objdump -p "$bin" | sed -n 's/^\s*DLL Name: //p')
    [ -n "$dlls" ] || { echo "FAIL: no import table read from $bin"; status=1; continue; }
    while read -r dll; do
        lower=$(echo "$dll" | tr 'A-Z' 'a-z')
        if [[ ! "$lower" =~ $allowed ]]; then
            echo "FAIL: $bin imports $dll"
            status=1
        fi
    done <<<"$dlls"
    $objdump -f "$bin" | grep -q "file format $format\$" || { echo "FAIL: $bin is not $format"; status=1; }
    echo "$(basename "$bin") ($format): $(echo $dlls | tr '\n' ' ')"
done
exit $status
