#!/usr/bin/env bash
# Builds Sonalyx (Release, build-release/) and runs it. Installs missing
# Debian packages first (see scripts/setup.sh). When no sound server answers,
# starts a private one with test devices for the program's lifetime.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/setup.sh
source "$root/scripts/setup.sh"
# shellcheck source=scripts/xsession.sh
source "$root/scripts/xsession.sh"

# Qt's X11 platform plugin is the one installed (Wayland sessions offer
# XWayland, with DISPLAY set).
if [[ -z ${DISPLAY:-} ]]; then
    echo "Sonalyx needs a graphical session, and DISPLAY is not set." >&2
    exit 1
fi

ensure_packages
build=${BUILD_DIR:-$root/build-release}
# One build at a time in a build folder: a second run waits for nothing and
# says why, instead of building over the first.
mkdir -p "$build"
exec 9>"$build/.run-build.lock"
if ! flock -n 9; then
    echo "Another run of Sonalyx is building in $build; try again when it has started." >&2
    exit 1
fi
configure_and_build "$build" sonalyx -- -DCMAKE_BUILD_TYPE=Release -DSONALYX_BENCH=OFF -DBUILD_TESTING=OFF
exec 9>&-

private_server=
app=
cleanup() {
    # Sonalyx first (it stores its settings as it closes), then its server.
    if [[ -n $app ]] && kill -0 "$app" 2>/dev/null; then
        kill -TERM "$app" 2>/dev/null || true
        wait "$app" 2>/dev/null || true
    fi
    if [[ -n $private_server ]]; then
        xsession_stop
        rm -rf "$private_server"
    fi
}
trap cleanup EXIT

if ! pactl info >/dev/null 2>&1; then
    private_server=$(mktemp -d -t sonalyx-pulse.XXXXXX)
    echo "No sound server answers; starting a private one with test devices (stopped when Sonalyx exits)."
    xsession_start_sound "$private_server"
fi

# Ctrl+C in the terminal, kill of this script or a closed terminal: Sonalyx
# is asked to close exactly once, as its close button would, and this script
# waits for it. It runs in a session of its own, so the terminal's Ctrl+C
# reaches it only through here (a second signal would end it unsaved).
close_app() { kill -TERM "$app" 2>/dev/null || true; }
trap close_app INT TERM HUP
setsid "$build/sonalyx" "$@" &
app=$!
# wait returns early (above 128) when a signal comes; then wait again.
while :; do
    rc=0
    wait "$app" || rc=$?
    kill -0 "$app" 2>/dev/null || break
done
if [[ $rc -gt 128 ]]; then # it ended just after the signal: its own status
    wait "$app" 2>/dev/null && rc=0 || { last=$?; [[ $last -ne 127 ]] && rc=$last; }
fi
app=
exit "$rc"
