#!/bin/bash
# The command-line modes that must end at once without showing anything.
set -u
source "$(dirname "$0")/lib.sh"

for args in "/sx" "/p:abc" "/p" "/p 0" "-Q" "/p 12345678" "/a" "/a 0" "/A:77"; do
    # shellcheck disable=SC2086
    rc=$(run_scr 30 $args)
    if [ "$rc" = 0 ]; then pass "$args exits 0"; else fail "$args exited $rc"; fi
done

# A very long, hostile command line is an unknown mode: silent exit 0.
long="/$(head -c 20000 /dev/zero | tr '\0' 'x')"
rc=$(run_scr 30 "$long")
if [ "$rc" = 0 ]; then pass "20000-character mode exits 0"; else fail "long mode exited $rc"; fi

finish
