#!/bin/bash
# The include-direction check fails on each kind of fault and passes a tree
# without one. Each case is a small tree of its own.
set -u
check="$(cd "$(dirname "$0")/../.." && pwd)/scripts/check-layers"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0

tree() {  # tree NAME FILE:INCLUDES... (includes separated by commas)
    local dir="$work/$1"; shift
    mkdir -p "$dir"
    for spec in "$@"; do
        local file="${spec%%:*}" includes="${spec#*:}"
        mkdir -p "$dir/$(dirname "$file")"
        : >"$dir/$file"
        IFS=, read -ra list <<<"$includes"
        for inc in "${list[@]}"; do [ -n "$inc" ] && echo "#include \"$inc\"" >>"$dir/$file"; done
    done
    echo "$dir"
}

expect() {  # expect STATUS DESCRIPTION TREE
    python3 "$check" --root "$3" >/dev/null 2>&1
    local got=$?
    if [ "$got" -eq "$1" ]; then echo "ok: $2"; else echo "FAIL: $2 (status $got)"; failed=1; fi
}

expect 0 "downward includes pass" "$(tree good \
    base/a_win32.h: app/m.cpp:config/c.h,base/a_win32.h render/r.cpp:render/r.h,base/a_win32.h render/r.h: \
    config/c.cpp:config/c.h,render/r.h config/c.h:)"
expect 1 "a circle inside one folder fails" "$(tree samefolder \
    render/a.cpp:render/b.h render/a.h: render/b.cpp:render/a.h render/b.h:)"
expect 1 "a circle across folders fails" "$(tree circle \
    app/m.cpp:config/d.h app/m.h: config/d.cpp:render/r.h config/d.h: render/r.cpp:app/m.h render/r.h:)"
expect 1 "base including a subsystem fails" "$(tree base \
    base/h.cpp:base/h.h,app/settings.h base/h.h: app/settings.h:)"
expect 1 "a folder below app including app fails" "$(tree appbelow \
    app/state.h: render/r.cpp:app/state.h)"
exit $failed
