#!/usr/bin/env bash
# Takes screenshots of Sonalyx's views while they show live capture, in both
# colour schemes. The windows stand where a first run's default layout puts
# them.
# Runs on a private Xvfb with Mesa's software renderer and a private sound
# server whose test microphone plays a 1000 Hz sine.
#
#   bash scripts/screenshots.sh [OUTDIR]     default OUTDIR: docs/screenshots
#
# Writes OUTDIR/{waveform,spectrum,spectrogram}-{dark,light}.png and
# OUTDIR/screen-{dark,light}.png (the whole screen) with xwd (x11-apps),
# xwininfo (x11-utils) and convert (imagemagick), installed when missing.
# BUILD_DIR: the build to run (default build-release/, built if needed, as
# scripts/run.sh does).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/setup.sh
source "$root/scripts/setup.sh"
# shellcheck source=scripts/xsession.sh
source "$root/scripts/xsession.sh"

out=$(realpath -m "${1:-$root/docs/screenshots}")
mkdir -p "$out"
build=${BUILD_DIR:-$root/build-release}
SONALYX_PACKAGES+=(x11-apps x11-utils imagemagick)
ensure_packages
if [[ -z ${BUILD_DIR:-} ]]; then
    configure_and_build "$build" sonalyx -- -DCMAKE_BUILD_TYPE=Release -DSONALYX_BENCH=OFF -DBUILD_TESTING=OFF
fi

work=$(mktemp -d -t sonalyx-shots.XXXXXX)
app_pid=
cleanup() {
    xsession_end_app "$app_pid"
    xsession_stop
    rm -rf "$work"
}
trap cleanup EXIT

# shoot SCHEME LIGHT(0/1)
shoot() {
    local scheme=$1 config=$work/config-$1
    mkdir -p "$config"
    xsession_settings "$config" "Light Background=$2" # otherwise a first run
    XDG_CONFIG_HOME=$config "$build/sonalyx" >"$work/$scheme.log" 2>&1 &
    app_pid=$!
    sleep 5 # first activation, capture start, a few blocks
    local view title id
    for view in 'waveform:^Waveform' 'spectrum:^Spectr?um' 'spectrogram:^Spectrogram'; do
        title=${view#*:}
        id=$(xsession_window_id "$title")
        if [[ -z $id ]]; then
            echo "no window '$title' found" >&2
            continue
        fi
        xwd -silent -id "$id" | convert xwd:- "$out/${view%%:*}-$scheme.png"
    done
    xwd -silent -root | convert xwd:- "$out/screen-$scheme.png"
    xsession_end_app "$app_pid"
    app_pid=
}

xsession_start "$work"
shoot dark 0
shoot light 1
ls -1 "$out"
