# X display helpers, sourced by wine-run and demo.

# True when the display answers.
display_ok() { [ -n "${1:-}" ] && DISPLAY="$1" xdotool getdisplaygeometry >/dev/null 2>&1; }

# True when no live server holds the display number's lock file. A server
# that was killed leaves its lock behind; Xvfb replaces such a lock itself.
display_free() {
    local lock="/tmp/.X$1-lock" pid
    [ -e "$lock" ] || return 0
    pid=$(tr -dc 0-9 <"$lock" 2>/dev/null || true)
    [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null
}

# Starts Xvfb, in a session of its own, on the first free display number
# from $1 to $2 that comes up. Sets DISPLAY and XVFB_PID; fails when none does.
start_xvfb() {
    local n
    for n in $(seq "$1" "$2"); do
        display_free "$n" || continue
        setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        local started=$!
        for _ in $(seq 1 50); do display_ok ":$n" && break; sleep 0.1; done
        if display_ok ":$n"; then
            export DISPLAY=":$n"
            # The server's own process id, from its lock (setsid may have forked).
            XVFB_PID=$(tr -dc 0-9 <"/tmp/.X$n-lock" 2>/dev/null || echo "$started")
            return 0
        fi
        kill "$started" 2>/dev/null || true
    done
    XVFB_PID=""
    return 1
}
