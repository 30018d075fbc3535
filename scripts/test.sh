#!/usr/bin/env bash
# Builds Sonalyx and runs the whole test suite (unit, integration, GUI)
# against a private PulseAudio daemon and, when DISPLAY is unset, a private
# Xvfb. Installs missing Debian packages first (see scripts/setup.sh).
#
#   bash scripts/test.sh                    build dir build/
#   SANITIZE=thread bash scripts/test.sh    build-tsan/  (ThreadSanitizer)
#   SANITIZE=address bash scripts/test.sh   build-asan/  (AddressSanitizer + UBSan)
#   SOUND_SERVER=pipewire bash scripts/test.sh
#                                           the integration and GUI tests against a
#                                           private PipeWire (pipewire-pulse) instead
#
# Optional: BUILD_DIR (another build dir), CTEST_TIMEOUT (seconds per test),
# CTEST_ARGS (more ctest arguments, e.g. "-R PulseServer"), CTEST_JOBS (tests run
# at once, 2 unless set).
#
# The tests see: PULSE_SERVER (the private daemon), PULSE_CLIENTCONFIG,
# XDG_CONFIG_HOME and XDG_RUNTIME_DIR (scratch dirs, so no settings of the
# user's are read or written), DISPLAY and LIBGL_ALWAYS_SOFTWARE=1 (when Xvfb
# was started here), and TSAN_OPTIONS / ASAN_OPTIONS / LSAN_OPTIONS /
# UBSAN_OPTIONS with the suppression files in tests/sanitizers/.
# Everything started here is stopped on exit; the exit code is ctest's.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/setup.sh
source "$root/scripts/setup.sh"
# shellcheck source=scripts/xsession.sh
source "$root/scripts/xsession.sh"

sanitize=${SANITIZE:-}
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
case $sanitize in
"")
    build=${BUILD_DIR:-$root/build}
    timeout=${CTEST_TIMEOUT:-180}
    ;;
thread)
    build=${BUILD_DIR:-$root/build-tsan}
    cmake_args+=(-DSANITIZE=thread -DSONALYX_BENCH=OFF)
    timeout=${CTEST_TIMEOUT:-400}
    ;;
address)
    build=${BUILD_DIR:-$root/build-asan}
    cmake_args+=(-DSANITIZE=address -DSONALYX_BENCH=OFF)
    timeout=${CTEST_TIMEOUT:-400}
    ;;
*)
    echo "SANITIZE must be empty, thread or address (not '$sanitize')" >&2
    exit 2
    ;;
esac

sound_server=${SOUND_SERVER:-pulseaudio}
case $sound_server in
pulseaudio) ;;
pipewire)
    SONALYX_PACKAGES+=(pipewire pipewire-pulse wireplumber dbus)
    # The unit tests and benchmarks know no server; the other levels run.
    CTEST_ARGS="-L integration|gui ${CTEST_ARGS:-}"
    ;;
*)
    echo "SOUND_SERVER must be pulseaudio or pipewire (not '$sound_server')" >&2
    exit 2
    ;;
esac
export SOUND_SERVER=$sound_server

ensure_packages
configure_and_build "$build" -- "${cmake_args[@]}"
# The test microphone's tone where the server has no sine of its own.
export TONE_PLAYER="$build/tests/tone_player"

work=$(mktemp -d -t sonalyx-test.XXXXXX)

cleanup() {
    local rc=$?
    trap - EXIT
    xsession_stop
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

set_sanitizer_options() {
    local supp="$root/tests/sanitizers"
    # ignore_noninstrumented_modules: see tests/sanitizers/tsan.supp.
    export TSAN_OPTIONS="suppressions=$supp/tsan.supp ignore_noninstrumented_modules=1 second_deadlock_stack=1 history_size=4"
    # intercept_tls_get_addr=0: GCC 12's runtime can mistake a dynamic TLS
    # block for an old glibc header and its leak check then crashes at exit
    # ("Tracer caught signal 11") after a test has passed.
    export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:intercept_tls_get_addr=0"
    export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="suppressions=$supp/ubsan.supp:print_stacktrace=1:halt_on_error=1"
    if [[ $sanitize == address ]]; then
        # Keeps Mesa's DRI driver loaded so that its blocks kept until exit
        # stay reachable (see the file). Preloaded ahead of the ASan runtime,
        # hence verify_asan_link_order=0; harmless in other processes.
        cc -shared -fPIC -O1 -o "$work/keep_dri_loaded.so" "$supp/keep_dri_loaded.c" -ldl
        export LD_PRELOAD="$work/keep_dri_loaded.so${LD_PRELOAD:+:$LD_PRELOAD}"
        ASAN_OPTIONS+=":verify_asan_link_order=0"
    fi
}

# ThreadSanitizer in GCC 12 cannot map its shadow memory when the kernel
# randomises addresses with more than 28 bits; run without ASLR then.
tsan_launcher() {
    local bits
    bits=$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28)
    if [[ $sanitize == thread && $bits -gt 28 ]]; then
        echo setarch "$(uname -m)" -R
    fi
}

xsession_start_sound "$work"
echo "Private sound server ($sound_server): $PULSE_SERVER"
if [[ -z ${DISPLAY:-} ]]; then
    xsession_start_xvfb "$work" 99
    echo "Private X server: DISPLAY=$DISPLAY"
fi
mkdir -p "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
set_sanitizer_options

launcher=$(tsan_launcher)
rc=0
# shellcheck disable=SC2086
(cd "$build" && $launcher ctest --output-on-failure --timeout "$timeout" -j "${CTEST_JOBS:-2}" ${CTEST_ARGS:-}) || rc=$?
exit "$rc"
