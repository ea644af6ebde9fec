# What this host's Wine can run, sourced by wine-run, test and demo.

WINE_LIB=/usr/lib/wine

# Where the setup leaves its reason when the 32-bit Wine packages could not
# be installed on a host that could run them.
no_win32_file="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-wine/no-win32"

# True when the kernel executes i386 programs, decided without Wine by
# running a 93-byte i386 ELF that exits 0 through int 0x80: a host that runs
# 64-bit code only answers "Exec format error". QV_NO_WIN32 makes any host
# answer no. Sets WIN32_PROBE to the reason when the answer is no, as a
# phrase that completes "32-bit Windows tests skipped: ...".
host_executes_i386() {
    WIN32_PROBE=""
    if [ -n "${QV_NO_WIN32:-}" ]; then
        WIN32_PROBE="this host is treated as one that cannot execute 32-bit code (QV_NO_WIN32 is set)"
        return 1
    fi
    local probe out
    # Beside the checkout's scripts, which run, rather than in a /tmp that
    # may be mounted noexec.
    mkdir -p "$(dirname "$no_win32_file")" &&
        probe="$(mktemp "$(dirname "$no_win32_file")/.i386-probe.XXXXXX")" || return 1
    # ELF header, one program header loading the file at 0x08048000, then
    # mov eax,1; xor ebx,ebx; int 0x80 (exit 0) at the entry 0x08048054.
    printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0'\
'\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10'\
'\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\61\333\315\200' >"$probe"
    chmod +x "$probe"
    if out=$("$probe" 2>&1); then
        rm -f "$probe"
        return 0
    fi
    rm -f "$probe"
    out="$(printf '%s' "$out" | tail -1 | sed 's/^.*: //')"
    WIN32_PROBE="this host cannot execute 32-bit code (an i386 program gives: ${out:-no output})"
    return 1
}

# True when this host executes 32-bit Windows programs: the kernel runs i386
# code, the setup could install the 32-bit Wine packages, and Wine's 32-bit
# loader starts. Otherwise sets WIN32_PROBE to the reason.
host_runs_win32() {
    host_executes_i386 || return 1
    if [ -f "$no_win32_file" ]; then
        WIN32_PROBE="$(cat "$no_win32_file")"
        return 1
    fi
    local out
    if out=$("$WINE_LIB/wine" --version 2>&1); then
        return 0
    fi
    WIN32_PROBE="Wine's 32-bit loader does not start ($WINE_LIB/wine --version: $(printf '%s' "$out" | tail -1 | sed "s|^.*$WINE_LIB/wine: ||"))"
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
