#!/bin/bash
# Fails when a shipped Windows binary imports a library at load time that
# the system does not protect, is not marked terminal-server aware, or is not
# of the build's architecture.
#   check_imports.sh 32|64 BINARY...
#
# A static import is looked up along the DLL search path, which starts in the
# program's own folder: a file named like the library there (beside a .scr
# run from Downloads, say) would be loaded instead. Only the system's known
# DLLs are always taken from the system folder, so only they may be imported;
# everything else is loaded at run time by its full path in the system
# folder. comctl32 is no known DLL, but a program whose manifest asks for the
# common controls gets the system's side-by-side copy.
set -eu
bits="$1"
shift
case "$bits" in
32) objdump=i686-w64-mingw32-objdump format=pei-i386 ;;
64) objdump=x86_64-w64-mingw32-objdump format=pei-x86-64 ;;
*) echo "usage: check_imports.sh 32|64 BINARY..." >&2; exit 2 ;;
esac
known='^(ntdll|kernel32|user32|gdi32|advapi32|ole32|oleaut32|shell32|comdlg32|msvcrt|shlwapi|shcore|psapi|imagehlp|imm32|ws2_32|rpcrt4|sechost|setupapi|combase|clbcatq|coml2|msctf|normaliz|nsi|wldap32|gdiplus|difxapi)\.dll$'
status=0
for bin in "$@"; do
    headers=$($objdump -p "$bin")
    dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
    [ -n "$dlls" ] || { echo "FAIL: no import table read from $bin"; status=1; continue; }
    manifest=no
    grep -qa 'Microsoft.Windows.Common-Controls' "$bin" && manifest=yes
    while read -r dll; do
        lower=$(echo "$dll" | tr 'A-Z' 'a-z')
        [[ "$lower" =~ $known ]] && continue
        [ "$lower" = comctl32.dll ] && [ $manifest = yes ] && continue
        echo "FAIL: $bin imports $dll, which is not one of the system's known DLLs"
        status=1
    done <<<"$dlls"
    grep -q 'TERMINAL_SERVICE_AWARE' <<<"$headers" || { echo "FAIL: $bin is not terminal-server aware"; status=1; }
    $objdump -f "$bin" | grep -q "file format $format\$" || { echo "FAIL: $bin is not $format"; status=1; }
    echo "$(basename "$bin") ($format): $(echo $dlls | tr '\n' ' ')"
done
exit $status
