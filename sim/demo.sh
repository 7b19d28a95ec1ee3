#!/bin/bash
# demo.sh BUILD_DIR: the program against a simulated controller on this machine.
#
# Starts a simulated controller (sim/cncsim, instance $CNC_DEMO_INSTANCE, default 150), puts
# its address into the settings.ini beside BUILD_DIR/bin/cnc-file-manager as lastSuccessfulIp
# so that the login dialog proposes it, and starts the program.
#
# With a reachable display ($DISPLAY) the operator uses the window; the controller is stopped
# when the program ends. Without one the program runs on a private X server (Xvfb): the
# script logs in by typing into the dialog, waits for the listing and saves screenshots of
# the dialog and of the window in both languages, with the program's diagnostic log, into
# demo-out/ of the repository.
#
# Whatever happens, everything the script started is stopped on exit: the program, the X
# server and the controller with its namespace, link and mounts.

set -euo pipefail

usage() {
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
}

(($# == 1)) || usage
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "$1" && pwd) || usage
program=$build/bin/cnc-file-manager
bindir=$build/bin
settings=$bindir/settings.ini
marker=$bindir/en.txt
cncsim=$repo/sim/cncsim
instance=${CNC_DEMO_INSTANCE:-150}
out=$repo/demo-out

readonly TITLE_DIALOG_ZH="连接到控制器"
readonly TITLE_DIALOG_EN="Connect to Controller"
readonly LISTED_LINE="processBufferedData() 处理完成"

die() {
    echo "demo: $*" >&2
    exit 1
}

[ -x "$program" ] || die "$program is missing; build first (make release)"
((EUID == 0)) || die "must run as root (the simulated controller creates network namespaces)"

# --- clean-up -----------------------------------------------------------------------------

program_pid=
xvfb_pid=
sim_started=0
marker_made=0
marker_saved=
language_before=
work=$(mktemp -d /tmp/cnc-demo.XXXXXX)

stop_pid() {
    local pid=$1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    stop_pid "$program_pid"
    stop_pid "$xvfb_pid"
    if ((sim_started)); then
        "$cncsim" stop -n "$instance" || echo "demo: stopping the simulated controller failed" >&2
    fi
    if ((marker_made)); then
        rm -f "$marker"
    fi
    if [ -n "$marker_saved" ]; then
        mv -f "$marker_saved" "$marker"
    fi
    if [ -n "$language_before" ]; then
        set_setting language "$language_before"
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# --- settings.ini -------------------------------------------------------------------------

# Sets one key of the program's settings file (top-level keys live in [General]), keeping
# every other line as it is.
set_setting() {
    local key=$1 value=$2 tmp
    tmp=$(mktemp "$settings.XXXXXX")
    [ -f "$settings" ] || : >"$settings"
    awk -v key="$key" -v value="$value" '
        /^\[/ {
            if (section == "[General]" && !done) { print key "=" value; done = 1 }
            section = $0
        }
        section == "[General]" && index($0, key "=") == 1 {
            if (!done) { print key "=" value; done = 1 }
            next
        }
        { print }
        END {
            if (!done) {
                if (section != "[General]") print "[General]"
                print key "=" value
            }
        }' "$settings" >"$tmp"
    mv -f "$tmp" "$settings"
}

# --- the simulated controller ---------------------------------------------------------------

echo "demo: starting the simulated controller (instance $instance)"
sim_started=1
address=$("$cncsim" start -n "$instance") || die "the simulated controller did not start"
[[ $address =~ ^10\.213\.[0-9]+\.2$ ]] || die "unexpected controller address '$address'"
echo "demo: controller at $address, its files in $("$cncsim" root -n "$instance")"
set_setting lastSuccessfulIp "$address"

# --- with a display: the operator drives ------------------------------------------------------

if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    echo "demo: starting the program on $DISPLAY; log in with the proposed address $address"
    echo "demo: the controller stops when the program ends"
    "$program" &
    program_pid=$!
    status=0
    wait "$program_pid" || status=$?
    program_pid=
    echo "demo: the program ended with exit code $status"
    exit "$status"
fi

# --- without one: a private X server, a scripted login and screenshots ---------------------

command -v Xvfb >/dev/null || die "Xvfb is missing (Debian package xvfb)"
command -v xdotool >/dev/null || die "xdotool is missing (Debian package xdotool)"
command -v import >/dev/null || die "import is missing (Debian package imagemagick)"

mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.log
log=$out/program.log
: >"$log"

echo "demo: no display; starting a private X server"
# Xvfb takes the first free display number and writes it to fd 3 once it accepts clients.
# -noreset: an X server resets when its last client leaves and refuses connections meanwhile,
# so the program's next start could find no display.
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x800x24 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; die "Xvfb did not start"; }
    sleep 0.1
done
[ -s "$work/display" ] || die "Xvfb did not announce a display"
export DISPLAY=:$(head -n1 "$work/display")
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

start_program() {
    QT_LOGGING_RULES="cnc.*.debug=true" "$program" >>"$log" 2>&1 &
    program_pid=$!
}

# Prints the id of the shown window with exactly this title, waiting up to $2 seconds.
wait_window() {
    local title=$1 seconds=$2 id name
    for _ in $(seq $((seconds * 10))); do
        kill -0 "$program_pid" 2>/dev/null || die "the program ended early; see $log"
        for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
            name=$(xdotool getwindowname "$id" 2>/dev/null) || continue
            if [ "$name" = "$title" ]; then
                echo "$id"
                return 0
            fi
        done
        sleep 0.1
    done
    die "no window titled '$title' after $seconds s; see $log"
}

wait_program_end() {
    for _ in $(seq 100); do
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.1
    done
    stop_pid "$program_pid"
    program_pid=
}

# Waits until the window has painted what it shows, then saves it.
screenshot() {
    local window=$1 file=$2
    sleep 1
    import -window "$window" "$out/$file"
    echo "demo: saved $out/$file"
}

# The dialog in English: the marker en.txt beside the executable selects it.
if [ -e "$marker" ]; then
    marker_saved=$marker.demo
    mv -f "$marker" "$marker_saved"
fi
: >"$marker"
marker_made=1
start_program
dialog=$(wait_window "$TITLE_DIALOG_EN" 30)
screenshot "$dialog" login-dialog-en.png
xdotool windowfocus --sync "$dialog" key Escape
wait_program_end
rm -f "$marker"
marker_made=0

# The dialog in Chinese, then the login as an operator does it: replace the proposed address,
# press Enter.
# The language setting is put back on exit.
language_before=$(awk -F= '$1 == "language" { value = substr($0, 10) } END { print value }' \
    "$settings")
language_before=${language_before:-zh}
set_setting language zh
start_program
dialog=$(wait_window "$TITLE_DIALOG_ZH" 30)
screenshot "$dialog" login-dialog-zh.png
xdotool windowfocus --sync "$dialog" key ctrl+a BackSpace type --delay 30 "$address"
xdotool key Return
window=$(wait_window "CNC控制器文件管理 - 已连接到 $address" 30)
for _ in $(seq 300); do
    grep -q "$LISTED_LINE" "$log" && break
    sleep 0.1
done
grep -q "$LISTED_LINE" "$log" || die "the listing did not arrive; see $log"
screenshot "$window" main-window-zh.png

# The language button sits left of the connection status at the right end of the top row.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" $((WIDTH - 157)) 33 click 1 mousemove 0 0
window=$(wait_window "CNC Controller File Manager - Connected to $address" 10)
screenshot "$window" main-window-en.png

# The window has no close button without a window manager; end the program as a session would.
stop_pid "$program_pid"
program_pid=

echo "demo: screenshots and the program's log (cnc.* debug lines) are in $out/"
ls -1 "$out"
