# Helpers for the scripts that run Sonalyx (run.sh, test.sh,
# measure_views.sh, screenshots.sh): a private Xvfb with Mesa's software
# renderer, a private sound server with its test devices, a fresh settings folder, and cleanup of
# everything started here. Source it; it defines functions only.
#
#   xsession_start WORKDIR   starts Xvfb and the sound server, exports
#                            DISPLAY, LIBGL_ALWAYS_SOFTWARE, PULSE_SERVER,
#                            PULSE_CLIENTCONFIG; sets XSESSION_XVFB_PID
#   xsession_start_xvfb WORKDIR [FIRST], xsession_start_sound WORKDIR
#                            start one of the two
#   xsession_stop            stops what was started
#   xsession_end_app PID     stops a program started in the session
#   xsession_settings DIR NAME=VALUE...
#                            writes a settings file with dword values under
#                            DIR/Vortan/Sonalyx.reg (for XDG_CONFIG_HOME=DIR)
#   xsession_window_id REGEX prints the id of the top-level window whose
#                            name matches REGEX (awk syntax)

XSESSION_ROOT=${XSESSION_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
XSESSION_XVFB_PID=
XSESSION_PULSE_DIR=

# Xvfb on the first display number from FIRST (default 120) on that nobody
# uses: xsession_start_xvfb WORKDIR [FIRST].
xsession_start_xvfb() {
    local n tries log=$1/xvfb.log first=${2:-120}
    for n in $(seq "$first" $((first + 99))); do
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
        Xvfb ":$n" -screen 0 "${XSESSION_SCREEN:-1600x1000}x24" -nolisten tcp -noreset >"$log" 2>&1 &
        XSESSION_XVFB_PID=$!
        for tries in $(seq 100); do
            if [[ -S /tmp/.X11-unix/X$n ]]; then
                export DISPLAY=":$n" LIBGL_ALWAYS_SOFTWARE=1
                return 0
            fi
            kill -0 "$XSESSION_XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill "$XSESSION_XVFB_PID" 2>/dev/null || true
        wait "$XSESSION_XVFB_PID" 2>/dev/null || true
        XSESSION_XVFB_PID=
    done
    echo "Could not start Xvfb:" >&2
    cat "$log" >&2 || true
    return 1
}

# The private sound server with its test devices, in WORKDIR/pulse.
xsession_start_sound() {
    local line
    XSESSION_PULSE_DIR=$1/pulse
    mkdir -p "$XSESSION_PULSE_DIR"
    line=$(bash "$XSESSION_ROOT/scripts/soundserver.sh" start "$XSESSION_PULSE_DIR")
    export "${line?}"
    export PULSE_CLIENTCONFIG="$XSESSION_PULSE_DIR/config/pulse/client.conf"
    unset PULSE_SINK PULSE_SOURCE
}

xsession_start() {
    xsession_start_xvfb "$1"
    xsession_start_sound "$1"
}

xsession_stop() {
    if [[ -n $XSESSION_PULSE_DIR ]]; then
        bash "$XSESSION_ROOT/scripts/soundserver.sh" stop "$XSESSION_PULSE_DIR" >/dev/null 2>&1 || true
        XSESSION_PULSE_DIR=
    fi
    if [[ -n $XSESSION_XVFB_PID ]]; then
        kill "$XSESSION_XVFB_PID" 2>/dev/null || true
        wait "$XSESSION_XVFB_PID" 2>/dev/null || true
        XSESSION_XVFB_PID=
    fi
}

# Stops a program started in the session and waits for it; no PID, nothing.
xsession_end_app() {
    [[ -n ${1:-} ]] || return 0
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

xsession_settings() {
    local dir=$1 pair name value
    shift
    mkdir -p "$dir/Vortan"
    {
        printf 'Windows Registry Editor Version 5.00\n\n'
        printf '[HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx]\n'
        for pair in "$@"; do
            name=${pair%%=*}
            value=${pair#*=}
            printf '"%s"=dword:%08x\n' "$name" "$value"
        done
    } >"$dir/Vortan/Sonalyx.reg"
}

xsession_window_id() {
    xwininfo -root -children | awk -v pattern="$1" '
        match($0, /"[^"]*"/) {
            name = substr($0, RSTART + 1, RLENGTH - 2)
            if (name ~ pattern) { print $1; exit }
        }'
}
