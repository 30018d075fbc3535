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
configure_and_build "$build" sonalyx -- -DCMAKE_BUILD_TYPE=Release -DSONALYX_BENCH=OFF -DBUILD_TESTING=OFF

private_server=
cleanup() {
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

rc=0
"$build/sonalyx" "$@" || rc=$?
exit "$rc"
