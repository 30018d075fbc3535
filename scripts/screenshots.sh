#!/usr/bin/env bash
# Takes screenshots of Sonalyx's views while they show live capture, in both
# colour schemes. The windows stand where a first run's default layout puts
# them.
# Runs on a private Xvfb with Mesa's software renderer and a private sound
# server whose test microphone plays a 1000 Hz sine.
#
#   bash scripts/screenshots.sh [OUTDIR [GROUP...]]
#
# OUTDIR defaults to docs/screenshots; GROUPs (views, menus, readouts,
# manual) choose what to take, all by default.
#
# Writes OUTDIR/{waveform,spectrum,spectrogram}-{dark,light}.png and
# OUTDIR/screen-{dark,light}.png (the whole screen); then, used as a user
# does with mouse clicks and keys (xdotool), each open menu
# (menu-{file,view,options,help}.png), the about box (about.png), the
# generator (generator.png) and the whole screen with the generator's 440 Hz
# on the default playback device captured through its loopback
# (generator-tone.png); the spectrum's readout under the pointer with its
# peak line (spectrum-readout.png) and its context menu (spectrum-menu.png);
# and the manual's first page as a headless browser
# shows it (manual.png). Tools: xwd (x11-apps), xwininfo (x11-utils),
# convert (imagemagick), xdotool, chromium; installed when missing.
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
SONALYX_PACKAGES+=(x11-apps x11-utils imagemagick xdotool chromium)
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

# x centres of the menu bar's captions (File, View, Options, Help): runs of
# dark columns in the top 16 rows of the screen, where the main window is.
menu_positions() {
    xwd -silent -root | convert xwd:- -crop 400x16+0+0 -colorspace gray txt:- | awk -F'[,: ()]+' '
        BEGIN { start = -1 }
        NR > 1 && $3 < 100 { dark[$1] = 1 }
        END {
            for (x = 0; x < 412; ++x) {
                if (x in dark) { if (start < 0) start = x; last = x; gap = 0 }
                else if (start >= 0 && ++gap > 8) { printf "%d ", int((start + last) / 2); start = -1 }
            }
        }'
}

window_shot() { # TITLE-REGEX FILE
    local id
    id=$(xsession_window_id "$1")
    [[ -n $id ]] || { echo "no window '$1' found" >&2; return 1; }
    xwd -silent -id "$id" | convert xwd:- "$2"
}

# The menus, the about box and the generator, as a user opens them.
shoot_menus() {
    local config=$work/config-menus
    mkdir -p "$config"
    XDG_CONFIG_HOME=$config "$build/sonalyx" >"$work/menus.log" 2>&1 &
    app_pid=$!
    sleep 5
    local -a x
    read -r -a x <<<"$(menu_positions)"
    [[ ${#x[@]} -eq 4 ]] || { echo "menu bar not found (${x[*]})" >&2; return 1; }
    local i name
    local -a names=(file view options help)
    for i in 0 1 2 3; do
        name=${names[$i]}
        xdotool mousemove "${x[$i]}" 8 click 1
        sleep 0.7
        xwd -silent -root | convert xwd:- -crop 330x260+$((x[i] > 20 ? x[i] - 20 : 0))+0 "$out/menu-$name.png"
        xdotool key Escape
        sleep 0.3
    done
    # Help > About (the second item; a separator lies between).
    xdotool mousemove "${x[3]}" 8 click 1 sleep 0.5 key Down Down Return
    sleep 1
    window_shot '^About$' "$out/about.png"
    xdotool key Return # OK
    sleep 0.5
    # The test microphone's room tone would mix with the generator's.
    pactl unload-module module-sine
    # Options > Generator, moved out of the main window's way as a user would.
    xdotool mousemove "${x[2]}" 8 click 1 sleep 0.5 key Down Return
    sleep 1
    local gen
    gen=$(xsession_window_id '^Generator$')
    [[ -n $gen ]] || { echo "the generator did not open" >&2; return 1; }
    xdotool windowmove "$gen" 1290 715
    local y
    for y in 61 121; do # the left and right frequency edits: 440 Hz
        xdotool mousemove --window "$gen" 228 $y click 1 key End BackSpace BackSpace BackSpace BackSpace BackSpace
        xdotool type --delay 50 440
    done
    xdotool mousemove --window "$gen" 253 190 click 1 # Open
    sleep 1
    window_shot '^Generator$' "$out/generator.png"
    # The source: the loopback of the default playback device, first in the list.
    xdotool mousemove 150 45 click 1 sleep 0.7 key Home Return
    sleep 5
    [[ -n $(xsession_window_id '^Sonalyx - Test Speakers') ]] || { echo "the loopback was not chosen" >&2; return 1; }
    xwd -silent -root | convert xwd:- "$out/generator-tone.png"
    xsession_end_app "$app_pid"
    app_pid=
}

# The spectrum with the readout under the pointer at 1 kHz and the peak
# line (spectrum-readout.png), and its context menu (spectrum-menu.png).
shoot_readouts() {
    local config=$work/config-readouts
    mkdir -p "$config"
    xsession_settings "$config" "FormSpect Peak=1" # otherwise a first run
    XDG_CONFIG_HOME=$config "$build/sonalyx" >"$work/readouts.log" 2>&1 &
    app_pid=$!
    sleep 5
    local id width x
    id=$(xsession_window_id '^Spectr?um')
    [[ -n $id ]] || { echo "no spectrum window found" >&2; return 1; }
    xdotool windowraise "$id"
    # 1 kHz on the logarithmic axis (10 Hz .. 25 kHz) right of the 25-pixel strip.
    width=$(xwininfo -id "$id" | awk '/Width:/ { print $2 }')
    x=$(awk -v w="$width" 'BEGIN { printf "%d", 25 + (w - 25) * log(100) / log(2500) }')
    xdotool mousemove --window "$id" "$x" 60
    sleep 1
    window_shot '^Spectr?um' "$out/spectrum-readout.png"
    xdotool click 3
    sleep 0.7
    local X Y
    eval "$(xdotool getmouselocation --shell)"
    xwd -silent -root | convert xwd:- -crop 240x80+$((X > 10 ? X - 10 : 0))+$((Y > 10 ? Y - 10 : 0)) +repage "$out/spectrum-menu.png"
    xdotool key Escape
    xsession_end_app "$app_pid"
    app_pid=
}

shoot_manual() {
    chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
        --disable-component-update --disable-sync --user-data-dir="$work/chromium" --hide-scrollbars \
        --window-size=1200,1500 --screenshot="$out/manual.png" "file://$root/docs/manual/index.html" \
        >"$work/chromium.log" 2>&1
}

groups=("${@:2}")
[[ ${#groups[@]} -gt 0 ]] || groups=(views menus readouts manual)
xsession_start "$work"
for group in "${groups[@]}"; do
    case $group in
    views) shoot dark 0 && shoot light 1 ;;
    menus) shoot_menus ;;
    readouts) shoot_readouts ;;
    manual) shoot_manual ;;
    *) echo "unknown group '$group' (views, menus, readouts, manual)" >&2 && exit 2 ;;
    esac
done
ls -1 "$out"
