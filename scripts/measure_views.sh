#!/usr/bin/env bash
# Measures Sonalyx while it captures: the CPU time of the whole process
# (all its threads, Mesa's included) as percent of one core over a window of
# SECONDS_TO_MEASURE seconds (default 30), read from /proc/<pid>/stat, its
# resident memory at the end, and the median and 95th-percentile paint time
# of each view, logged by the program when SONALYX_PAINT_STATS is set. For
# comparison the same for xoscope (Debian package; a scope-only program
# reading the default source, the test microphone, through ALSA's PulseAudio
# plugin), its window filling the screen.
#
# Runs on a private Xvfb (default 1920 x 1080) with Mesa's software renderer
# and a private sound server (its test microphone plays a 1000 Hz sine), in
# two set-ups:
#   first-run   no settings: the default layout with all three views
#   two-views   the waveform and spectrum windows only, at their default
#               310 x 270, the spectrogram hidden
#   octave      the three views as stored by default (IsInstalled set, no
#               geometry) without and then with the Octave Bands window
#               (1/3 octave), after first-run, so that the figures come
#               from the same run and the last two differ only in that window
#   levels      the same with the Levels window instead of the Octave Bands
#   distortion  the same with the Distortion Analyzer window (one channel,
#               65536 samples, analysed once a second on the UI thread)
#
#   bash scripts/measure_views.sh [first-run|two-views|octave|levels|distortion|all|sonalyx] [WIDTHxHEIGHT]
#
# "all" measures the four set-ups and xoscope, "sonalyx" the four set-ups
# only; "octave" measures first-run, three-views and octave, "levels"
# first-run, three-views and levels, "distortion" first-run, three-views
# and distortion.
#
# BUILD_DIR: the build to run (default build-release/, built if needed, as
# scripts/run.sh does). SECONDS_TO_MEASURE: the window (default 30).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/setup.sh
source "$root/scripts/setup.sh"
# shellcheck source=scripts/xsession.sh
source "$root/scripts/xsession.sh"

mode=${1:-all}
export XSESSION_SCREEN=${2:-1920x1080}
window=${SECONDS_TO_MEASURE:-30}
warmup=5
build=${BUILD_DIR:-$root/build-release}
SONALYX_PACKAGES+=(xoscope libasound2-plugins xdotool x11-utils)
ensure_packages
if [[ -z ${BUILD_DIR:-} ]]; then
    configure_and_build "$build" sonalyx -- -DCMAKE_BUILD_TYPE=Release -DSONALYX_BENCH=OFF -DBUILD_TESTING=OFF
fi

work=$(mktemp -d -t sonalyx-measure.XXXXXX)
app_pid=
cleanup() {
    xsession_end_app "$app_pid"
    xsession_stop
    rm -rf "$work"
}
trap cleanup EXIT

# utime + stime of a process, in clock ticks.
cpu_ticks() {
    awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}

median_of() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else print v[int((NR + 1) / 2)] }'
}

p95_of() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else print v[int(NR * 0.95 + 0.999)] }'
}

resident_mib() {
    awk '/^VmRSS:/ { printf "%.0f", $2 / 1024 }' "/proc/$1/status"
}

cpu_percent() { # TICKS SECONDS
    awk -v d="$1" -v hz="$(getconf CLK_TCK)" -v s="$2" 'BEGIN { printf "%.1f", 100 * d / hz / s }'
}

# xoscope on the same screen and server, its window as large as the screen.
measure_xoscope() {
    xoscope >"$work/xoscope.log" 2>&1 &
    app_pid=$!
    local id tries
    for tries in $(seq 50); do
        id=$(xsession_window_id '^Xoscope$')
        [[ -n $id ]] && break
        sleep 0.2
    done
    [[ -n $id ]] || { echo "xoscope did not open a window" >&2; return 1; }
    xdotool windowsize "$id" "${XSESSION_SCREEN%x*}" "${XSESSION_SCREEN#*x}"
    sleep "$warmup"
    local t0 t1
    t0=$(cpu_ticks "$app_pid")
    sleep "$window"
    t1=$(cpu_ticks "$app_pid")
    echo "== xoscope: ${window} s, window ${XSESSION_SCREEN}"
    echo "   xoscope CPU: $(cpu_percent $((t1 - t0)) "$window") % of one core, resident $(resident_mib "$app_pid") MiB"
    xsession_end_app "$app_pid"
    app_pid=
}

# measure LABEL [NAME=VALUE settings...]
measure() {
    local label=$1 config=$work/config-$1 log=$work/$1.log
    shift
    mkdir -p "$config"
    if [[ $# -gt 0 ]]; then
        xsession_settings "$config" "$@"
    fi
    XDG_CONFIG_HOME=$config SONALYX_PAINT_STATS=1 "$build/sonalyx" 2>"$log" >/dev/null &
    app_pid=$!
    sleep "$warmup"
    kill -0 "$app_pid" || { echo "Sonalyx ended early:" >&2; cat "$log" >&2; exit 1; }
    local t0 x0 lines0 t1 x1
    t0=$(cpu_ticks "$app_pid")
    x0=$(cpu_ticks "$XSESSION_XVFB_PID")
    lines0=$(wc -l <"$log")
    sleep "$window"
    t1=$(cpu_ticks "$app_pid")
    x1=$(cpu_ticks "$XSESSION_XVFB_PID")
    local rss
    rss=$(resident_mib "$app_pid")
    xsession_end_app "$app_pid"
    app_pid=
    local paints
    paints=$(tail -n +"$((lines0 + 1))" "$log" | grep '^paint ' || true)
    echo "== $label: ${window} s of capture on ${XSESSION_SCREEN}"
    echo "   Sonalyx CPU: $(cpu_percent $((t1 - t0)) "$window") % of one core, resident ${rss} MiB"
    echo "   (Xvfb CPU:   $(cpu_percent $((x1 - x0)) "$window") % of one core)"
    local view
    for view in Waveform Spectrum Spectrogram Levels Distortion; do
        local times
        times=$(grep "^paint $view " <<<"$paints" | awk '{ print $3 }' || true)
        [[ -z $times ]] && continue
        printf '   %-12s %4d paints, median %s ms, 95th percentile %s ms\n' "$view" "$(wc -l <<<"$times")" \
            "$(median_of <<<"$times")" "$(p95_of <<<"$times")"
    done
    local analyses
    analyses=$(tail -n +"$((lines0 + 1))" "$log" | grep '^analysis ' | awk '{ print $3 }' || true)
    if [[ -n $analyses ]]; then
        printf '   %-12s %4d analyses, median %s ms, 95th percentile %s ms\n' "Analysis" "$(wc -l <<<"$analyses")" \
            "$(median_of <<<"$analyses")" "$(p95_of <<<"$analyses")"
    fi
}

xsession_start "$work"
case $mode in
first-run) measure first-run ;;
two-views) measure two-views IsInstalled=1 "FormSpTm Show=0" ;;
octave)
    measure first-run
    measure three-views IsInstalled=1
    measure octave IsInstalled=1 "FormBands Show=1"
    ;;
levels)
    measure first-run
    measure three-views IsInstalled=1
    measure levels IsInstalled=1 "FormLevels Show=1"
    ;;
distortion)
    measure first-run
    measure three-views IsInstalled=1
    measure distortion IsInstalled=1 "FormDistortion Show=1"
    ;;
sonalyx)
    measure first-run
    measure two-views IsInstalled=1 "FormSpTm Show=0"
    measure octave IsInstalled=1 "FormBands Show=1"
    measure levels IsInstalled=1 "FormLevels Show=1"
    measure distortion IsInstalled=1 "FormDistortion Show=1"
    ;;
all)
    measure first-run
    measure two-views IsInstalled=1 "FormSpTm Show=0"
    measure octave IsInstalled=1 "FormBands Show=1"
    measure levels IsInstalled=1 "FormLevels Show=1"
    measure distortion IsInstalled=1 "FormDistortion Show=1"
    measure_xoscope
    ;;
*)
    echo "usage: $0 [first-run|two-views|octave|levels|distortion|all|sonalyx] [WIDTHxHEIGHT]" >&2
    exit 2
    ;;
esac
