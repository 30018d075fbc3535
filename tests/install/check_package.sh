#!/usr/bin/env bash
# Checks Sonalyx's Debian package as a desktop receives it: unpacked with
# dpkg-deb -x into a scratch root, it holds the program, the manual, the
# launcher entry, the icons and the AppStream metainfo, all valid and naming
# each other; its control file asks for the libraries and the run-time
# pieces (Qt's X11 plugin) the program needs; and the unpacked program starts
# on a private Xvfb with a private sound server and shows its main window.
#
#   SONALYX_PACKAGE_TEST=1 bash tests/install/check_package.sh [DEB]
#
# Without DEB it builds the package first (scripts/package.sh, in
# build-package/ or $SONALYX_PACKAGE_BUILD_DIR). Building a package is slow,
# so without SONALYX_PACKAGE_TEST it skips (exit 77); scripts/package.sh
# --check sets it. Exit 0 when every check passed, 1 otherwise.
set -euo pipefail

if [[ -z ${SONALYX_PACKAGE_TEST:-} ]]; then
    echo "Skipped: set SONALYX_PACKAGE_TEST=1 to build and check the Debian package"
    exit 77
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=scripts/setup.sh
source "$root/scripts/setup.sh"
# shellcheck source=scripts/xsession.sh
source "$root/scripts/xsession.sh"
SONALYX_PACKAGES+=(dpkg-dev file desktop-file-utils appstream x11-utils)
ensure_packages
# A sanitizer run's preloaded helper is not for the packaged program.
unset LD_PRELOAD

work=$(mktemp -d -t sonalyx-check-package.XXXXXX)
app_pid=
cleanup() {
    local rc=$?
    trap - EXIT
    xsession_end_app "$app_pid"
    xsession_stop
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

deb=${1:-}
if [[ -z $deb ]]; then
    BUILD_DIR=${SONALYX_PACKAGE_BUILD_DIR:-$root/build-package} bash "$root/scripts/package.sh" | tee "$work/package.log"
    deb=$(tail -n 1 "$work/package.log")
fi
if [[ ! -f $deb ]]; then
    echo "No package at '$deb'" >&2
    exit 1
fi
echo "Checking $deb"

passed=0
failed=0
problems=()
problem() { problems+=("$*"); }
# finish NAME: counts the group just checked by the problems it found.
finish() {
    if [[ ${#problems[@]} -eq 0 ]]; then
        echo "ok: $1"
        passed=$((passed + 1))
    else
        echo "FAILED: $1"
        printf '    %s\n' "${problems[@]}"
        failed=$((failed + 1))
    fi
    problems=()
}

pkgroot=$work/root
dpkg-deb -x "$deb" "$pkgroot"
apps=usr/share/applications/org.sonalyx.Sonalyx.desktop
metainfo=usr/share/metainfo/org.sonalyx.Sonalyx.metainfo.xml
icons=usr/share/icons/hicolor

# -- The package's name and what it asks apt for.
arch=$(dpkg --print-architecture)
[[ $(basename "$deb") == "sonalyx_2.0_$arch.deb" ]] || problem "file name $(basename "$deb"), not sonalyx_2.0_$arch.deb"
for field in Package:sonalyx Version:2.0 Architecture:"$arch" Section:sound; do
    value=$(dpkg-deb -f "$deb" "${field%%:*}")
    [[ $value == "${field#*:}" ]] || problem "${field%%:*} is '$value', not '${field#*:}'"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "    Depends: $depends"
for dep in libqt6widgets6 libpulse0 libebur128-1 libfftw3-double3 libsndfile1 qt6-qpa-plugins libgl1-mesa-dri; do
    [[ ", $depends," =~ ,\ ${dep}[\ ,] ]] || problem "Depends does not name $dep"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
[[ $recommends == *"pulseaudio | pipewire-pulse"* ]] || problem "Recommends names no sound server: '$recommends'"
finish "control file: name, version, dependencies"

# -- What it installs, and only under /usr.
outside=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v -E '^\./(usr/.*)?$' || true)
[[ -z $outside ]] || problem "files outside /usr: $outside"
for file in usr/bin/sonalyx "$apps" "$metainfo" "$icons/scalable/apps/org.sonalyx.Sonalyx.svg" \
    "$icons/48x48/apps/org.sonalyx.Sonalyx.png" "$icons/256x256/apps/org.sonalyx.Sonalyx.png" \
    usr/share/doc/sonalyx/manual/index.html usr/share/doc/sonalyx/screenshots/waveform-dark.png \
    usr/bin/sonalyx-measure usr/share/man/man1/sonalyx-measure.1.gz; do
    [[ -f $pkgroot/$file ]] || problem "missing: /$file"
done
[[ -x $pkgroot/usr/bin/sonalyx ]] || problem "/usr/bin/sonalyx is not executable"
# The command-line measurer runs without a display.
if ! out=$(env -u DISPLAY "$pkgroot/usr/bin/sonalyx-measure" --help 2>&1) || [[ $out != "usage: sonalyx-measure"* ]]; then
    problem "sonalyx-measure --help without a display: $out"
fi
if [[ -f $pkgroot/usr/share/man/man1/sonalyx-measure.1.gz ]] &&
    ! zcat "$pkgroot/usr/share/man/man1/sonalyx-measure.1.gz" | grep -q '^\.TH SONALYX-MEASURE 1'; then
    problem "the man page of sonalyx-measure is not a man page"
fi
# A run path into the build tree would work here and nowhere else.
if readelf -d "$pkgroot/usr/bin/sonalyx" 2>/dev/null | grep -q -E 'R(UN)?PATH'; then
    problem "/usr/bin/sonalyx has a run path: $(readelf -d "$pkgroot/usr/bin/sonalyx" | grep -E 'R(UN)?PATH')"
fi
for size in 48 256; do
    png=$pkgroot/$icons/${size}x$size/apps/org.sonalyx.Sonalyx.png
    [[ -f $png && $(file -b "$png") == "PNG image data, $size x $size,"* ]] || problem "the ${size}x$size icon is not a $size x $size PNG"
done
svg=$pkgroot/$icons/scalable/apps/org.sonalyx.Sonalyx.svg
[[ -f $svg && $(file -b "$svg") == SVG* ]] || problem "the scalable icon is not an SVG"
finish "contents: program, manual, launcher entry, icons, metainfo, sonalyx-measure and its man page"

# -- The launcher entry and the metainfo: valid, and naming the files installed.
if [[ -f $pkgroot/$apps ]]; then
    if ! out=$(desktop-file-validate "$pkgroot/$apps" 2>&1) || [[ -n $out ]]; then
        problem "desktop-file-validate: $out"
    fi
    entry() { sed -n "s/^$1=//p" "$pkgroot/$apps" | head -n 1; }
    [[ $(entry Name) == Sonalyx ]] || problem "Name is '$(entry Name)'"
    [[ -x $pkgroot/usr/bin/$(entry Exec | cut -d' ' -f1) ]] || problem "Exec '$(entry Exec)' is not a program in /usr/bin"
    [[ -f $pkgroot/$icons/scalable/apps/$(entry Icon).svg ]] || problem "Icon '$(entry Icon)' is not the installed icon"
fi
if [[ -f $pkgroot/$metainfo ]]; then
    if ! out=$(appstreamcli validate --no-net "$pkgroot/$metainfo" 2>&1) || grep -q -E '^[EW]:' <<<"$out"; then
        problem "appstreamcli validate: $out"
    fi
    grep -q '<launchable type="desktop-id">org.sonalyx.Sonalyx.desktop</launchable>' "$pkgroot/$metainfo" ||
        problem "the metainfo does not launch org.sonalyx.Sonalyx.desktop"
    grep -q '<binary>sonalyx</binary>' "$pkgroot/$metainfo" || problem "the metainfo does not provide the binary sonalyx"
    grep -q '<release version="2.0"' "$pkgroot/$metainfo" || problem "the metainfo has no release 2.0"
fi
finish "launcher entry and metainfo: valid and consistent"

# -- The unpacked program starts and shows its main window.
xsession_start "$work"
mkdir -p "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime "$pkgroot/usr/bin/sonalyx" >"$work/sonalyx.log" 2>&1 &
app_pid=$!
# Qt's hidden 1x1 client leader window carries the program's name too: the
# main window is one of that name that is larger and mapped.
main_window_shown() {
    local id
    for id in $(xwininfo -root -children | awk 'match($0, /"Sonalyx[^"]*"/) && !/ 1x1\+/ { print $1 }'); do
        xwininfo -id "$id" | grep -q 'Map State: IsViewable' && return 0
    done
    return 1
}
shown=0
for _ in $(seq 80); do
    if [[ -n $(xsession_window_id '^Sonalyx') ]] && main_window_shown; then
        shown=1
        break
    fi
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.25
done
if [[ $shown -eq 1 ]]; then
    sleep 3 # capture starts, the first blocks are drawn
    kill -0 "$app_pid" 2>/dev/null || problem "it ended within 3 s of showing its main window"
else
    problem "no main window named 'Sonalyx...' shown within 20 s"
fi
if [[ ${#problems[@]} -gt 0 ]]; then
    problem "the program said:"
    while IFS= read -r line; do problem "  $line"; done <"$work/sonalyx.log"
fi
# It closes when asked to, as at the end of a desktop session.
kill "$app_pid" 2>/dev/null || true
for _ in $(seq 40); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.25
done
if kill -0 "$app_pid" 2>/dev/null; then
    problem "still running 10 s after SIGTERM"
    kill -KILL "$app_pid" 2>/dev/null || true
fi
xsession_end_app "$app_pid"
app_pid=
finish "the unpacked program starts and shows its main window"

echo "package: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
