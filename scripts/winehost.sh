# What this host's Wine can run, sourced by wine-run, test and demo.

WINE_LIB=/usr/lib/wine

# True when this host executes 32-bit Windows programs: decided by starting
# Wine's 32-bit loader, not by guessing from the kernel. Otherwise sets
# WIN32_PROBE to what the probe said. QV_NO_WIN32 makes any host answer no.
host_runs_win32() {
    WIN32_PROBE=""
    if [ -n "${QV_NO_WIN32:-}" ]; then
        WIN32_PROBE="QV_NO_WIN32 is set"
        return 1
    fi
    local out
    if out=$("$WINE_LIB/wine" --version 2>&1); then
        return 0
    fi
    WIN32_PROBE="$WINE_LIB/wine --version: $(printf '%s' "$out" | tail -1 | sed "s|^.*$WINE_LIB/wine: ||")"
    return 1
}

# Prints 32 or 64 for a PE image (PE32 i386 or PE32+ x86-64); fails for
# anything else.
pe_arch() {
    local file="$1" offset sig
    [ -f "$file" ] && [ "$(head -c 2 "$file" 2>/dev/null)" = MZ ] || return 1
    offset=$(od -An -tu4 -j60 -N4 "$file" 2>/dev/null | tr -d ' ')
    [ -n "$offset" ] || return 1
    sig=$(od -An -tx1 -j"$offset" -N6 "$file" 2>/dev/null | tr -d ' \n')
    case "$sig" in
    504500004c01) echo 32 ;;
    504500006486) echo 64 ;;
    *) return 1 ;;
    esac
}

# Sets WINELOADER and WINESERVER for a prefix kind (32 or 64). Debian's
# /usr/bin/wine picks the 32-bit loader whenever wine32 is installed, so the
# loaders are named directly. The 64-bit server serves both kinds.
wine_programs() {
    if [ "$1" = 64 ]; then
        export WINELOADER="$WINE_LIB/wine64"
    else
        export WINELOADER="$WINE_LIB/wine"
    fi
    export WINESERVER="$WINE_LIB/wineserver64"
}
