#!/bin/bash
# Fails unless every FILE is a Windows program or DLL of BITS bits, so that an
# installer never carries one edition's files as the other's.
#   check-edition.sh 32|64 FILE...
set -u
source "$(dirname "$0")/../scripts/winehost.sh"
bits="$1"
shift
status=0
for f in "$@"; do
    got="$(pe_arch "$f")" || got="missing or not a PE image"
    if [ "$got" != "$bits" ]; then
        echo "check-edition: $f: $got, not $bits-bit" >&2
        status=1
    fi
done
exit $status
