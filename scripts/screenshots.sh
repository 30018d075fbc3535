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
# instruments, levels, distortion, response, manual) choose what to take, all
# by default.
#
# Writes OUTDIR/{waveform,spectrum,spectrogram}-{dark,light}.png and
# OUTDIR/screen-{dark,light}.png (the whole screen); then, used as a user
# does with mouse clicks and keys (xdotool), each open menu
# (menu-{file,view,options,help}.png), the about box (about.png), the
# generator (generator.png) and the whole screen with the generator's 440 Hz
# on the default playback device captured through its loopback
# (generator-tone.png); the spectrum's readout under the pointer with its
# peak line (spectrum-readout.png) and its context menu (spectrum-menu.png);
# the spectrum's averaging, peak hold and weighting and the octave bands
# with the generator's pink noise (spectrum-average.png,
# spectrum-scales.png, bands-pink.png, bands-readout.png, bands-scales.png,
# bands-menu.png, generator-pink.png); the Levels window reading the test
# microphone's tone and its calibration dialog (levels.png, calibrate.png);
# the Distortion Analyzer reading its own test tone played on the default
# playback device and heard by the test microphone (distortion.png); the
# Response window measuring the headset's loopback at two levels, the curves
# over each other (response.png); and the manual's first page as a
# headless browser shows it (manual.png). Tools: xwd (x11-apps), xwininfo (x11-utils),
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
    configure_and_build "$build" sonalyx sonalyx-measure -- -DCMAKE_BUILD_TYPE=Release -DSONALYX_BENCH=OFF -DBUILD_TESTING=OFF
fi

work=$(mktemp -d -t sonalyx-shots.XXXXXX)
app_pid=
cleanup() {
    xsession_end_app "$app_pid"
    xsession_stop
    rm -rf "$work"
}
trap cleanup EXIT

# The test microphone's room tone, 1000 Hz, as the sound server started
# with it; for the groups after one that took it away.
restore_room_tone() {
    pactl list short modules | grep -q module-sine ||
        pactl load-module module-sine sink=test_speakers frequency=1000 >/dev/null
}

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
        xwd -silent -root | convert xwd:- -crop 330x300+$((x[i] > 20 ? x[i] - 20 : 0))+0 "$out/menu-$name.png"
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
    xdotool windowmove "$gen" 1290 690
    local y
    for y in 82 142; do # the left and right frequency edits: 440 Hz
        xdotool mousemove --window "$gen" 228 $y click 1 key End BackSpace BackSpace BackSpace BackSpace BackSpace
        xdotool type --delay 50 440
    done
    xdotool mousemove --window "$gen" 253 211 click 1 # Open
    sleep 1
    window_shot '^Generator$' "$out/generator.png"
    # The source: the loopback of the default playback device, first in the list.
    xdotool mousemove 150 45 click 1 sleep 0.7 key Home Return
    sleep 5
    [[ -n $(xsession_window_id '^Sonalyx - Test Speakers') ]] || { echo "the loopback was not chosen" >&2; return 1; }
    xwd -silent -root | convert xwd:- "$out/generator-tone.png"
    xsession_end_app "$app_pid"
    app_pid=
    restore_room_tone
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
    xwd -silent -root | convert xwd:- -crop 270x210+$((X > 10 ? X - 10 : 0))+$((Y > 10 ? Y - 10 : 0)) +repage "$out/spectrum-menu.png"
    xdotool key Escape
    xsession_end_app "$app_pid"
    app_pid=
}

# The instruments with the generator's pink noise through the test
# microphone (which hears the default playback device): the spectrum
# averaged, peak-held and A-weighted, with and without its scale panel
# (spectrum-average.png, spectrum-scales.png); the octave bands in 1/3
# octave (bands-pink.png), the readout over the 1 kHz band
# (bands-readout.png), the scale panel (bands-scales.png) and the context
# menu (bands-menu.png); the generator with Pink Noise chosen
# (generator-pink.png). The choices are written into the settings file
# beforehand, as a user would have left them; the other two views are
# closed so that nothing covers the two windows.
shoot_instruments() {
    local config=$work/config-instruments
    mkdir -p "$config"
    xsession_settings "$config" "IsInstalled=1" "FormWave Show=0" "FormSpTm Show=0" \
        "FormSpect X=0" "FormSpect Y=100" "FormSpect Width=780" "FormSpect Hight=560" "FormSpect Show=1" \
        "FormSpect Averaging=1" "FormSpect PeakHold=1" "FormSpect PeakDecay=0" "FormSpect Weighting=1" \
        "FormBands X=800" "FormBands Y=100" "FormBands Width=780" "FormBands Height=440" "FormBands Show=1" \
        "FormBands Fraction=1" "FormBands Top=0" "FormBands Span=60" "FormBands Averaging=3" \
        "FormBands Weighting=0" "FormBands Peak=1" "FormBands Peak Decay=0"
    # Only the noise: the test microphone's room tone goes before the start,
    # so that no held peak remembers it.
    pactl unload-module module-sine 2>/dev/null || true
    XDG_CONFIG_HOME=$config "$build/sonalyx" >"$work/instruments.log" 2>&1 &
    app_pid=$!
    sleep 5
    local -a x
    read -r -a x <<<"$(menu_positions)"
    [[ ${#x[@]} -eq 4 ]] || { echo "menu bar not found (${x[*]})" >&2; return 1; }
    # Options > Generator, Pink Noise (the second row of the choice), Open.
    xdotool mousemove "${x[2]}" 8 click 1 sleep 0.5 key Down Return
    sleep 1
    local gen
    gen=$(xsession_window_id '^Generator$')
    [[ -n $gen ]] || { echo "the generator did not open" >&2; return 1; }
    xdotool windowmove "$gen" 1290 690
    sleep 0.5
    xdotool mousemove --window "$gen" 185 55 click 1 # Pink Noise
    xdotool mousemove --window "$gen" 253 211 click 1 # Open
    sleep 1
    window_shot '^Generator$' "$out/generator-pink.png"
    # The 4 s average of the bands forgets the silence before the noise.
    sleep 20
    local spect bands width height
    spect=$(xsession_window_id '^Spectr?um')
    bands=$(xsession_window_id '^Octave Bands')
    [[ -n $spect && -n $bands ]] || { echo "the spectrum or the octave bands window is missing" >&2; return 1; }
    xdotool mousemove 1200 900 # off both plots: no readout
    sleep 1
    window_shot '^Spectr?um' "$out/spectrum-average.png"
    window_shot '^Octave Bands' "$out/bands-pink.png"
    # The readout over the 1 kHz band, the 17th of the thirty 1/3-octave
    # bands from 25 Hz, right of the 44-pixel level scale.
    width=$(xwininfo -id "$bands" | awk '/Width:/ { print $2 }')
    height=$(xwininfo -id "$bands" | awk '/Height:/ { print $2 }')
    xdotool mousemove --window "$bands" $((44 + (width - 52) * 33 / 60)) $((height / 2))
    sleep 1
    window_shot '^Octave Bands' "$out/bands-readout.png"
    xdotool click 3
    sleep 0.7
    local X Y
    eval "$(xdotool getmouselocation --shell)"
    xwd -silent -root | convert xwd:- -crop 200x58+$((X > 10 ? X - 10 : 0))+$((Y > 10 ? Y - 10 : 0)) +repage "$out/bands-menu.png"
    xdotool key Escape
    sleep 0.3
    # The scale panels, opened by a double click on each plot.
    xdotool mousemove --window "$bands" $((width - 60)) $((height - 60)) click --repeat 2 --delay 80 1
    xdotool mousemove --window "$spect" 700 480 click --repeat 2 --delay 80 1
    xdotool mousemove 1200 900
    sleep 1.5
    window_shot '^Spectr?um' "$out/spectrum-scales.png"
    window_shot '^Octave Bands' "$out/bands-scales.png"
    xsession_end_app "$app_pid"
    app_pid=
    restore_room_tone
}

# The Levels window alone, reading the test microphone's 1000 Hz tone
# (levels.png), and its calibration dialog opened with "Calibrate..."
# (calibrate.png).
shoot_levels() {
    local config=$work/config-levels
    mkdir -p "$config"
    xsession_settings "$config" "IsInstalled=1" "FormWave Show=0" "FormSpect Show=0" "FormSpTm Show=0" \
        "FormLevels X=0" "FormLevels Y=100" "FormLevels Width=640" "FormLevels Height=520" "FormLevels Show=1" \
        "FormLevels Weighting=1"
    restore_room_tone
    XDG_CONFIG_HOME=$config "$build/sonalyx" >"$work/levels.log" 2>&1 &
    app_pid=$!
    # Short-term loudness needs 3 s of signal before it shows.
    sleep 8
    local levels
    levels=$(xsession_window_id '^Levels')
    [[ -n $levels ]] || { echo "the levels window is missing" >&2; return 1; }
    xdotool mousemove 1200 900
    sleep 0.5
    window_shot '^Levels' "$out/levels.png"
    # "Calibrate..." in the strip along the window's top.
    xdotool mousemove --window "$levels" 238 15 click 1
    sleep 1.5
    window_shot '^Calibrate$' "$out/calibrate.png"
    xsession_end_app "$app_pid"
    app_pid=
}

# The Distortion Analyzer alone, its test tone (997 Hz, -6 dBFS) started
# with "Play" on the default playback device, which the test microphone
# hears; the room tone is taken away first (distortion.png).
shoot_distortion() {
    local config=$work/config-distortion
    mkdir -p "$config"
    xsession_settings "$config" "IsInstalled=1" "FormWave Show=0" "FormSpect Show=0" "FormSpTm Show=0" \
        "FormDistortion X=0" "FormDistortion Y=100" "FormDistortion Width=900" "FormDistortion Height=620" \
        "FormDistortion Show=1"
    pactl unload-module module-sine 2>/dev/null || true
    XDG_CONFIG_HOME=$config "$build/sonalyx" >"$work/distortion.log" 2>&1 &
    app_pid=$!
    sleep 4
    local window
    window=$(xsession_window_id '^Distortion')
    [[ -n $window ]] || { echo "the distortion window is missing" >&2; return 1; }
    # "Play" in the second row of the strip along the window's top.
    xdotool mousemove --window "$window" 525 42 click 1
    # The transform's 1.5 s of the tone alone, and the next analysis.
    sleep 5
    xdotool mousemove 1200 900
    sleep 0.5
    window_shot '^Distortion' "$out/distortion.png"
    xsession_end_app "$app_pid"
    app_pid=
    restore_room_tone
}

# The place of a device in one of the program's lists (playback or
# recording), by its server name, from `sonalyx-measure devices`.
device_index() { # LIST NAME
    "$build/sonalyx-measure" devices | python3 -c '
import json, sys
entries = json.load(sys.stdin)[sys.argv[1]]
print(next(i for i, entry in enumerate(entries) if entry["name"] == sys.argv[2]))' "$1" "$2"
}

# The Response window alone, measuring the headset (a null sink) through its
# monitor with a 2 s sweep at -6 dBFS and again at -30 dBFS, both curves
# shown (response.png).
shoot_response() {
    local config=$work/config-response play record
    play=$(device_index playback test_headset)
    record=$(device_index recording test_headset.monitor)
    mkdir -p "$config"
    xsession_settings "$config" "IsInstalled=1" "FormWave Show=0" "FormSpect Show=0" "FormSpTm Show=0" \
        "FormResponse X=0" "FormResponse Y=100" "FormResponse Width=1000" "FormResponse Height=620" \
        "FormResponse Show=1" "FormResponse Length=2" "FormResponse Playback Device=$play" \
        "FormResponse Recording Device=$record"
    XDG_CONFIG_HOME=$config "$build/sonalyx" >"$work/response.log" 2>&1 &
    app_pid=$!
    sleep 4
    local window
    window=$(xsession_window_id '^Response')
    [[ -n $window ]] || { echo "the response window is missing" >&2; return 1; }
    # "Measure" in the first row of the strip; the sweep, its silence and
    # the analysis.
    xdotool mousemove --window "$window" 742 15 click 1
    sleep 5
    # The level box left of it: -30 dBFS, and measure again.
    xdotool mousemove --window "$window" 630 15 click 1 key ctrl+a type -- "-30"
    xdotool key Tab
    xdotool mousemove --window "$window" 742 15 click 1
    sleep 5
    xdotool mousemove 1200 900
    sleep 0.5
    window_shot '^Response' "$out/response.png"
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
[[ ${#groups[@]} -gt 0 ]] || groups=(views menus readouts instruments levels distortion response manual)
xsession_start "$work"
for group in "${groups[@]}"; do
    case $group in
    views) shoot dark 0 && shoot light 1 ;;
    menus) shoot_menus ;;
    readouts) shoot_readouts ;;
    instruments) shoot_instruments ;;
    levels) shoot_levels ;;
    distortion) shoot_distortion ;;
    response) shoot_response ;;
    manual) shoot_manual ;;
    *)
        echo "unknown group '$group' (views, menus, readouts, instruments, levels, distortion, response, manual)" >&2
        exit 2
        ;;
    esac
done
ls -1 "$out"
