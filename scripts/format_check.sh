#!/usr/bin/env bash
# Checks that every tracked C++ source under src/, tests/ and bench/ (*.cpp,
# *.h) is formatted as .clang-format says (clang-format 14, Debian's
# clang-format package; installed first if missing, see scripts/setup.sh).
#
#   bash scripts/format_check.sh         list the files clang-format would
#                                        change; exit 1 if there are any
#   bash scripts/format_check.sh --fix   reformat those files in place
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/setup.sh
source "$root/scripts/setup.sh"

fix=0
case ${1:-} in
"") ;;
--fix) fix=1 ;;
*)
    echo "usage: bash scripts/format_check.sh [--fix]" >&2
    exit 2
    ;;
esac

if ! command -v clang-format >/dev/null; then
    # Only clang-format: the build's packages are not needed for this.
    # shellcheck disable=SC2034 # read by ensure_packages
    SONALYX_PACKAGES=(clang-format)
    ensure_packages
    hash clang-format # still missing (a package without /usr/bin/clang-format): stop here
fi
if ! clang-format --version | grep -q 'version 14\.'; then
    echo "warning: .clang-format is tuned for clang-format 14, this is: $(clang-format --version)" >&2
fi

cd "$root"
clang-format --dump-config >/dev/null # a broken .clang-format stops here, with its error
mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h')
unformatted=()
for file in "${files[@]}"; do
    # A tracked file deleted in the work tree has nothing to check.
    [[ -f $file ]] || continue
    if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
        unformatted+=("$file")
    fi
done

if [[ ${#unformatted[@]} -eq 0 ]]; then
    echo "All ${#files[@]} files are formatted."
    exit 0
fi
if [[ $fix -eq 1 ]]; then
    clang-format -i "${unformatted[@]}"
    printf 'formatted %s\n' "${unformatted[@]}"
    exit 0
fi
printf '%s\n' "${unformatted[@]}"
echo "${#unformatted[@]} of ${#files[@]} files need formatting: bash scripts/format_check.sh --fix" >&2
exit 1
