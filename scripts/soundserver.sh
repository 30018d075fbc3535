#!/usr/bin/env bash
# Starts or stops a private PulseAudio daemon whose files all live in DIR.
#
#   scripts/soundserver.sh start DIR   prints PULSE_SERVER=unix:DIR/native
#   scripts/soundserver.sh stop DIR
#
# The daemon has these devices and nothing of a user's own sound server is
# read or touched (its own config, runtime, state and home dirs are in DIR):
#   sink   test_speakers  "Test Speakers"    null sink, default sink
#   sink   test_headset   "Test Headset"     null sink
#   source test_mic       "Test Microphone"  hears "Test Speakers", where a
#                                            1000 Hz sine plays; default source
#   source test_line_in   "Test Line In"     stereo remap of test_headset.monitor
# plus the two sinks' monitors. The microphone is a microphone in the room
# of the speakers: a sine source module would deliver its tone in 2 s bursts
# (its latency is fixed), which no real microphone does, while the null
# sink runs on a real-time clock. Clients connect anonymously to DIR/native.
set -euo pipefail

usage() {
    echo "usage: $0 start|stop DIR" >&2
    exit 2
}

[[ $# -eq 2 ]] || usage
action=$1
dir=$(realpath -m "$2")

# Everything the daemon and pactl look at, confined to DIR.
confine_env() {
    export HOME="$dir/home"
    export XDG_CONFIG_HOME="$dir/config"
    export XDG_RUNTIME_DIR="$dir/runtime"
    export PULSE_RUNTIME_PATH="$dir/runtime"
    export PULSE_STATE_PATH="$dir/state"
    export PULSE_CONFIG_PATH="$dir/config/pulse"
    export PULSE_SERVER="unix:$dir/native"
    unset PULSE_SINK PULSE_SOURCE PULSE_COOKIE DISPLAY
    # A bus that is not there: the daemon must not autolaunch a D-Bus
    # daemon or register on the user's session bus.
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"
}

write_config() {
    mkdir -p "$HOME" "$XDG_CONFIG_HOME/pulse" "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"
    chmod 700 "$dir" "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"

    cat >"$XDG_CONFIG_HOME/pulse/daemon.conf" <<'EOF'
# Private test daemon: no priority games, the program's native format.
high-priority = no
realtime-scheduling = no
flat-volumes = no
default-sample-format = s16le
default-sample-rate = 44100
alternate-sample-rate = 48000
default-sample-channels = 2
default-channel-map = front-left,front-right
default-fragments = 4
default-fragment-size-msec = 10
EOF

    # Quoting: the whole properties value in single quotes, so the
    # description keeps its blank ("Test Speakers").
    cat >"$XDG_CONFIG_HOME/pulse/default.pa" <<EOF
.fail
load-module module-native-protocol-unix socket=$dir/native auth-anonymous=1
load-module module-null-sink sink_name=test_speakers rate=44100 channels=2 sink_properties='device.description="Test Speakers"'
load-module module-null-sink sink_name=test_headset rate=44100 channels=2 sink_properties='device.description="Test Headset"'
load-module module-sine sink=test_speakers frequency=1000
load-module module-remap-source source_name=test_mic master=test_speakers.monitor channels=2 channel_map=front-left,front-right master_channel_map=front-left,front-right remix=no source_properties='device.description="Test Microphone"'
load-module module-remap-source source_name=test_line_in master=test_headset.monitor channels=2 channel_map=front-left,front-right master_channel_map=front-left,front-right remix=no source_properties='device.description="Test Line In"'
set-default-sink test_speakers
set-default-source test_mic
EOF

    # Clients (pactl, tests) must not try to start a daemon of their own.
    cat >"$XDG_CONFIG_HOME/pulse/client.conf" <<'EOF'
autospawn = no
EOF
}

# A null sink that no client asks for low latency renders 2 s blocks, and
# only notices a new low-latency listener at the end of the block it is in:
# a tone started then could take up to 2 s to reach its monitor. A real
# sound card reacts at once. So a discarding 10 ms recorder stays on each
# sink's monitor (test_line_in carries test_headset's) for the daemon's life.
# test_mic cannot be helped: module-sine-source always pushes 2 s at once.
start_latency_keepers() {
    local source sink tries
    : >"$dir/keepers.pid"
    for source in test_speakers.monitor test_line_in; do
        parec --latency-msec=10 --device="$source" --raw --client-name="latency keeper" \
            </dev/null >/dev/null 2>>"$dir/keepers.log" &
        echo $! >>"$dir/keepers.pid"
    done
    for tries in $(seq 50); do
        [[ $(pactl list short source-outputs | grep -c protocol-native) -ge 2 ]] && break
        sleep 0.05
    done
    # The sinks are still in the 2 s block they started with; a suspend and
    # resume makes them start over at the keepers' latency.
    for sink in test_speakers test_headset; do
        pactl suspend-sink "$sink" 1
        pactl suspend-sink "$sink" 0
    done
}

stop_latency_keepers() {
    local pid
    [[ -f $dir/keepers.pid ]] || return 0
    while read -r pid; do
        kill "$pid" 2>/dev/null || true
    done <"$dir/keepers.pid"
    rm -f "$dir/keepers.pid"
}

daemon_pid() {
    local pidfile="$PULSE_RUNTIME_PATH/pid"
    [[ -s $pidfile ]] && cat "$pidfile"
}

start() {
    if [[ -S $dir/native ]] && pactl info >/dev/null 2>&1; then
        echo "PULSE_SERVER=$PULSE_SERVER"
        return 0
    fi
    write_config
    # Running as root in user mode is what we want here: the daemon warns
    # about it and carries on.
    pulseaudio --system=false -n --daemonize=yes --use-pid-file=yes --fail=yes \
        --exit-idle-time=-1 --disallow-exit=no --disallow-module-loading=no \
        --high-priority=no --realtime=no --no-cpu-limit=yes \
        --log-target="file:$dir/pulseaudio.log" \
        --file="$XDG_CONFIG_HOME/pulse/default.pa" 2>>"$dir/pulseaudio.stderr" || {
        echo "soundserver: pulseaudio failed to start; log follows" >&2
        cat "$dir/pulseaudio.log" "$dir/pulseaudio.stderr" >&2 2>/dev/null || true
        return 1
    }
    local tries
    for tries in $(seq 100); do
        if pactl info >/dev/null 2>&1; then
            start_latency_keepers
            echo "PULSE_SERVER=$PULSE_SERVER"
            return 0
        fi
        sleep 0.1
    done
    echo "soundserver: the daemon does not answer on $dir/native" >&2
    stop
    return 1
}

# A daemonized process that has exited may linger as a zombie until init
# reaps it; that counts as gone.
running() {
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [[ -n $state && $state != Z ]]
}

stop() {
    stop_latency_keepers
    local pid
    pid=$(daemon_pid) || true
    if [[ -z ${pid:-} ]]; then
        return 0
    fi
    if running "$pid"; then
        kill -TERM "$pid" 2>/dev/null || true
        local tries
        for tries in $(seq 100); do
            running "$pid" || break
            sleep 0.05
        done
        if running "$pid"; then
            kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    rm -f "$PULSE_RUNTIME_PATH/pid" "$dir/native"
}

# ---- PipeWire ---------------------------------------------------------------

# The same devices as the daemon's, in PipeWire's own terms: two null sinks
# and two virtual sources that hear their monitors, at 44100 Hz throughout so
# that nothing is resampled. (pipewire-pulse's module-null-sink cuts a
# description at its first blank, so the sinks are made here.)
write_pipewire_config() {
    mkdir -p "$HOME" "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d" "$XDG_CONFIG_HOME/pipewire/pipewire-pulse.conf.d" \
        "$XDG_RUNTIME_DIR" "$XDG_STATE_HOME"
    chmod 700 "$dir" "$XDG_RUNTIME_DIR"
    # A desktop's session manager gives a stream the volume and device it had
    # last time; here one test's volume must not become the next one's.
    mkdir -p "$XDG_CONFIG_HOME/wireplumber/main.lua.d"
    cat >"$XDG_CONFIG_HOME/wireplumber/main.lua.d/51-no-restore.lua" <<'END'
stream_defaults.properties["restore-props"] = false
stream_defaults.properties["restore-target"] = false
END
    cat >"$XDG_CONFIG_HOME/pipewire/pipewire-pulse.conf.d/50-private.conf" <<END
pulse.properties = {
    server.address = [ "unix:$dir/native" ]
}
END
    cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/50-test-devices.conf" <<'END'
context.properties = {
    default.clock.rate = 44100
    default.clock.allowed-rates = [ 44100 ]
}
context.objects = [
    { factory = adapter
      args = { factory.name = support.null-audio-sink node.name = "test_speakers" node.description = "Test Speakers"
               media.class = "Audio/Sink" audio.position = [ FL FR ] audio.rate = 44100 object.linger = true
               monitor.channel-volumes = true } }
    { factory = adapter
      args = { factory.name = support.null-audio-sink node.name = "test_headset" node.description = "Test Headset"
               media.class = "Audio/Sink" audio.position = [ FL FR ] audio.rate = 44100 object.linger = true
               monitor.channel-volumes = true } }
]
context.modules = [
    { name = libpipewire-module-loopback
      args = { node.description = "Test Microphone"
               capture.props = { node.name = "test_mic.hearing" target.object = "test_speakers"
                                 stream.capture.sink = true audio.position = [ FL FR ] }
               playback.props = { node.name = "test_mic" node.description = "Test Microphone"
                                  media.class = "Audio/Source" audio.position = [ FL FR ] } } }
    { name = libpipewire-module-loopback
      args = { node.description = "Test Line In"
               capture.props = { node.name = "test_line_in.hearing" target.object = "test_headset"
                                 stream.capture.sink = true audio.position = [ FL FR ] }
               playback.props = { node.name = "test_line_in" node.description = "Test Line In"
                                  media.class = "Audio/Source" audio.position = [ FL FR ] } } }
]
END
}

wait_for_socket() {
    local tries
    for tries in $(seq 100); do
        [[ -S $1 ]] && return 0
        sleep 0.05
    done
    return 1
}

# Runs a part of the server in the background; its pid goes to DIR/pids.
run_part() {
    local name=$1
    shift
    "$@" >>"$dir/$name.log" 2>&1 </dev/null &
    echo $! >>"$dir/pids"
}

all_devices_listed() {
    local listed name
    listed=$( (pactl list short sinks && pactl list short sources) 2>/dev/null) || return 1
    for name in test_speakers test_headset test_mic test_line_in; do
        grep -q "[[:space:]]$name[[:space:]]" <<<"$listed" || return 1
    done
}

defaults_set() {
    pactl set-default-sink test_speakers >/dev/null 2>&1 || return 1
    pactl set-default-source test_mic >/dev/null 2>&1 || return 1
    local info
    info=$(pactl info 2>/dev/null) || return 1
    grep -q "^Default Sink: test_speakers$" <<<"$info" && grep -q "^Default Source: test_mic$" <<<"$info"
}

start_pipewire() {
    if [[ -S $dir/native ]] && pactl info >/dev/null 2>&1; then
        echo "PULSE_SERVER=$PULSE_SERVER"
        return 0
    fi
    write_pipewire_config
    : >"$dir/pids"
    dbus-daemon --session --fork --address="unix:path=$dir/bus" --print-pid=3 3>>"$dir/pids"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
    run_part pipewire pipewire
    # The session manager gives up at once when PipeWire is not listening yet.
    wait_for_socket "$XDG_RUNTIME_DIR/pipewire-0" || {
        echo "soundserver: PipeWire did not open its socket; log follows" >&2
        cat "$dir/pipewire.log" >&2
        stop_pipewire
        return 1
    }
    run_part wireplumber wireplumber
    run_part pipewire-pulse pipewire-pulse
    local tries
    for tries in $(seq 150); do
        # The defaults are the session manager's; it may not take them yet.
        if pactl info >/dev/null 2>&1 && all_devices_listed && defaults_set; then
            if [[ -n ${TONE_PLAYER:-} ]]; then
                # The microphone in the room of the speakers hears 1000 Hz.
                run_part tone "$TONE_PLAYER" test_speakers 1000 1000 0.25
            fi
            echo "PULSE_SERVER=$PULSE_SERVER"
            return 0
        fi
        sleep 0.1
    done
    echo "soundserver: PipeWire did not come up on $dir/native; logs follow" >&2
    cat "$dir"/pipewire*.log "$dir/wireplumber.log" >&2 2>/dev/null || true
    stop_pipewire
    return 1
}

stop_pipewire() {
    local pid tries
    [[ -f $dir/pids ]] || return 0
    # In the reverse order of the start: the tone player first, the bus last.
    for pid in $(tac "$dir/pids"); do
        kill -TERM "$pid" 2>/dev/null || true
        for tries in $(seq 50); do
            running "$pid" || break
            sleep 0.05
        done
        kill -KILL "$pid" 2>/dev/null || true
    done
    # A part stopped by force leaves its socket; the next start waits for a new one.
    rm -f "$dir/pids" "$dir/native" "$dir/bus" "$XDG_RUNTIME_DIR"/pipewire-0*
}

confine_env
export XDG_STATE_HOME="$dir/state"
case ${SOUND_SERVER:-pulseaudio}:$action in
pulseaudio:start) start ;;
pulseaudio:stop) stop ;;
pipewire:start) start_pipewire ;;
pipewire:stop) stop_pipewire ;;
*) usage ;;
esac
