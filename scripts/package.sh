#!/usr/bin/env bash
# Builds Sonalyx's Debian package: a Release build (installed under /usr) in
# build-package/, without tests and benchmarks, packed by CPack. Installs
# missing Debian packages first (see scripts/setup.sh): the build's, and
# dpkg-dev and file (dpkg-shlibdeps works out the library dependencies),
# desktop-file-utils and appstream (the checks below).
#
#   bash scripts/package.sh            build, pack, validate; the last line
#                                      printed is the .deb's path
#   bash scripts/package.sh --check    then also tests/install/check_package.sh
#                                      on it: the files, the dependencies, and
#                                      the program starting under Xvfb
#
# Optional: BUILD_DIR (another build dir).
# Validates the launcher entry (desktop-file-validate) and the AppStream
# metainfo (appstreamcli validate --no-net) as the package holds them.
# Install the result with: apt-get install ./build-package/sonalyx_2.0_amd64.deb
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/setup.sh
source "$root/scripts/setup.sh"

check=0
case ${1:-} in
"") ;;
--check) check=1 ;;
*)
    echo "usage: bash scripts/package.sh [--check]" >&2
    exit 2
    ;;
esac

build=$(realpath -m "${BUILD_DIR:-$root/build-package}")
SONALYX_PACKAGES+=(dpkg-dev file desktop-file-utils appstream)
ensure_packages
configure_and_build "$build" -- -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF -DSONALYX_BENCH=OFF

rm -f "$build"/sonalyx_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/sonalyx_*.deb)
if [[ ${#debs[@]} -ne 1 || ! -f ${debs[0]} ]]; then
    echo "cpack made no single sonalyx_*.deb in $build" >&2
    exit 1
fi
deb=${debs[0]}

work=$(mktemp -d -t sonalyx-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
echo "Validating the launcher entry and the metainfo"
desktop-file-validate "$work/root/usr/share/applications/org.sonalyx.Sonalyx.desktop"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.sonalyx.Sonalyx.metainfo.xml"
dpkg-deb -f "$deb" Package Version Architecture Depends Recommends

if [[ $check -eq 1 ]]; then
    SONALYX_PACKAGE_TEST=1 bash "$root/tests/install/check_package.sh" "$deb"
fi
echo "$deb"
