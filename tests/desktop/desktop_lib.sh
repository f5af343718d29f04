# A private X display with a window manager, as a player's desktop has:
# Xvfb picks a free display itself, openbox manages it. Source it, then call
# start_desktop WORK_DIR; the display goes when the script ends.

desktop_xvfb= desktop_wm=

# The patcher's status line through a whole migration, in order.
step_statuses='Current Operation: Removing old Q8R launcher...
Current Operation: Resetting default darkinst.cfg file...
Current Operation: Moving config files...
Current Operation: Editing DarkInst.cfg...
Current Operation: Moving book files...
Current Operation: Moving string files...
Current Operation: Moving sound files...
Task Finished.'

stop_desktop() {
    [ -n "$desktop_wm" ] && kill "$desktop_wm" 2>/dev/null
    [ -n "$desktop_xvfb" ] && kill "$desktop_xvfb" 2>/dev/null
    wait 2>/dev/null
}

start_desktop() {
    local work=$1 tool
    for tool in Xvfb openbox xdotool xwininfo import; do
        command -v "$tool" >/dev/null || { echo "FAILED: $tool is needed (scripts/install-deps.sh --windows)"; return 1; }
    done
    rm -f "$work/display"
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" >"$work/xvfb.log" 2>&1 &
    desktop_xvfb=$!
    for _ in $(seq 1200); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || { echo "FAILED: Xvfb did not start"; cat "$work/xvfb.log"; return 1; }
    export DISPLAY=:$(tr -d '\n' <"$work/display")
    openbox >"$work/openbox.log" 2>&1 &
    desktop_wm=$!
    # The manager holds its selection once it runs.
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        sleep 0.1
    done
    echo "FAILED: openbox did not start"
    return 1
}

# wait_for_window TITLE [TRIES]: the X window with that exact title, managed
# and mapped, or nothing.
wait_for_window() {
    local title=$1 tries=${2:-300} id
    for _ in $(seq "$tries"); do
        id=$(xdotool search --onlyvisible --name "^$(printf '%s' "$title" | sed 's/[][\.*^$+?(){}|]/\\&/g')\$" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}
