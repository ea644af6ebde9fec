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

# The monitors of a layout, one a line: width, height and position in the X
# screen; the first is the primary. Fails for a layout it does not know.
#   2 (or 2-right)  a 1024x768 primary and an 800x600 monitor to its right
#   2-left          the 800x600 monitor to the left and 200 pixels higher:
#                   its corner lies at negative x and y in Windows' terms,
#                   where the primary's corner is 0,0
#   2-above         the 800x600 monitor above the primary
#   2-portrait      a monitor turned on its side (600x800) to the right;
#                   the dummy driver cannot rotate an output, so a tall
#                   mode stands for it: Windows sees the same rectangle
#   3 ... 16        the primary and 640x480 monitors in rows beside and below
layout_monitors() {
    case "$1" in
    2 | 2-right) printf '%s\n' "1024 768 0 0" "800 600 1024 0" ;;
    2-left) printf '%s\n' "1024 768 800 200" "800 600 0 0" ;;
    2-above) printf '%s\n' "1024 768 0 600" "800 600 0 0" ;;
    2-portrait) printf '%s\n' "1024 768 0 0" "600 800 1024 0" ;;
    [3-9] | 1[0-6])
        echo "1024 768 0 0"
        local i x=1024 y=0
        for ((i = 1; i < $1; i++)); do
            if [ $((x + 640)) -gt 3840 ]; then
                x=0
                y=$((y == 0 ? 768 : y + 480))
            fi
            echo "640 480 $x $y"
            x=$((x + 640))
        done
        ;;
    *) return 1 ;;
    esac
}

# Gives the server on DISPLAY the monitors of layout $1 (outputs DUMMY0
# onwards of the dummy driver, DUMMY0 primary); fails when the server does
# not end up with exactly those.
apply_layout() {
    local -a lines addmodes outputs
    local -A made=()
    local i=0 line w h x y mode
    mapfile -t lines < <(layout_monitors "$1")
    [ "${#lines[@]}" -gt 0 ] || return 1
    for line in "${lines[@]}"; do
        read -r w h x y <<<"$line"
        mode="qv${w}x$h"
        if [ -z "${made[$mode]:-}" ]; then
            # A new mode takes a call of its own: its flags end the line.
            # shellcheck disable=SC2046 # the mode line's numbers are words
            xrandr --newmode "$mode" $(cvt "$w" "$h" 60 | sed -n 's/^Modeline "[^"]*" *//p') || return 1
            made[$mode]=1
        fi
        addmodes+=(--addmode "DUMMY$i" "$mode")
        outputs+=(--output "DUMMY$i" --mode "$mode" --pos "${x}x$y")
        [ "$i" = 0 ] && outputs+=(--primary)
        i=$((i + 1))
    done
    # The outputs take their modes in a later call than the one that adds them.
    xrandr "${addmodes[@]}" && xrandr "${outputs[@]}" || return 1
    [ "$(xrandr --listmonitors | head -n 1)" = "Monitors: ${#lines[@]}" ]
}

# Starts Xorg with the dummy video driver, in a session of its own, on the
# first free display number from $1 to $2 that comes up, with the monitors
# of layout $3 (layout_monitors). Its configuration and log go in folder
# $4. Xvfb cannot place monitors side by side; this server can. It never
# runs as root: the root user starts it as "nobody", so it cannot take a
# virtual terminal or an input device of the host. Sets DISPLAY and
# XVFB_PID; fails when no server comes up with the layout.
start_xorg() {
    local first="$1" last="$2" layout="$3" dir="$4"
    local -a lines as_user=()
    local line w h x y width=0 height=0 n
    mapfile -t lines < <(layout_monitors "$layout")
    [ "${#lines[@]}" -gt 0 ] || return 1
    for line in "${lines[@]}"; do
        read -r w h x y <<<"$line"
        [ $((x + w)) -gt "$width" ] && width=$((x + w))
        [ $((y + h)) -gt "$height" ] && height=$((y + h))
    done
    # The screen may grow to this size; rounded up to whole 64 pixels.
    width=$(((width + 63) / 64 * 64))
    height=$(((height + 63) / 64 * 64))
    rm -rf "$dir"
    mkdir -p "$dir/conf.d"
    # No input devices (the tests' input comes through XTEST), no GPU, and
    # no configuration of the host's: the empty conf.d replaces the system's.
    cat >"$dir/xorg.conf" <<CONF
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoEnableDevices" "false"
    Option "AutoAddGPU" "false"
    Option "DontVTSwitch" "true"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam $((width * height * 4 / 1024 + 1024))
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual $width $height
    EndSubSection
EndSection
CONF
    if [ "$(id -u)" = 0 ]; then
        chown -R 65534:65534 "$dir"
        as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    fi
    local xorg=/usr/lib/xorg/Xorg
    [ -x "$xorg" ] || xorg=Xorg
    for n in $(seq "$first" "$last"); do
        display_free "$n" || continue
        # An unprivileged server takes its configuration by a relative name.
        (cd "$dir" && exec setsid "${as_user[@]}" "$xorg" ":$n" -config xorg.conf -configdir conf.d \
            -logfile "$dir/Xorg.log" -nolisten tcp -noreset -novtswitch -br </dev/null >/dev/null 2>&1) &
        local started=$!
        for _ in $(seq 1 100); do display_ok ":$n" && break; sleep 0.1; done
        if display_ok ":$n"; then
            XVFB_PID=$(tr -dc 0-9 <"/tmp/.X$n-lock" 2>/dev/null || echo "$started")
            if DISPLAY=":$n" apply_layout "$layout" >/dev/null 2>&1; then
                export DISPLAY=":$n"
                return 0
            fi
            kill "$XVFB_PID" 2>/dev/null || true
            break
        fi
        kill "$started" 2>/dev/null || true
    done
    XVFB_PID=""
    return 1
}

# The process id of the server of a local display, from its lock file;
# empty for any other display.
display_server_pid() {
    local n="${1#:}"
    n="${n%%.*}"
    [[ "$1" == :* && "$n" =~ ^[0-9]+$ ]] || return 0
    tr -dc 0-9 <"/tmp/.X$n-lock" 2>/dev/null || true
}
