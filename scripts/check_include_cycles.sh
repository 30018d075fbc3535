#!/usr/bin/env bash
# Checks that the top-level folders of src/ (about, analysis, app, ...) depend
# on each other without a cycle. A file in src/A/ that has #include "B/..."
# makes the edge A -> B, for B another folder of src/.
#
#   bash scripts/check_include_cycles.sh              check src/
#   bash scripts/check_include_cycles.sh --root DIR   check DIR's folders instead
#   bash scripts/check_include_cycles.sh --self-test  check this script on two
#                                                     small trees, one with a cycle
#
# Without a cycle it prints the edges, one a line, and exits 0. Otherwise it
# prints every cycle as a path (app -> views -> app), each edge with the
# file:line that makes it, and exits 1.
set -euo pipefail

script=$(realpath "${BASH_SOURCE[0]}")
root=$(dirname "$script")/../src
label=src

self_test() {
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    # acyclic: c -> b -> a; a's include of itself and of a folder outside the tree are no edges
    mkdir -p "$tmp/ok/a" "$tmp/ok/b" "$tmp/ok/c/deep"
    printf '#include "a/x.h"\n#include "gtest/gtest.h"\n' >"$tmp/ok/a/x.cpp"
    printf '#pragma once\n' >"$tmp/ok/a/x.h"
    printf '#include "a/x.h"\n' >"$tmp/ok/b/y.h"
    printf '#include <vector>\n  #  include "b/y.h"\n' >"$tmp/ok/c/deep/z.cpp"
    # a -> b -> a, plus an edge c -> a outside the cycle
    mkdir -p "$tmp/bad/a" "$tmp/bad/b" "$tmp/bad/c"
    printf '#pragma once\n#include "b/y.h"\n' >"$tmp/bad/a/x.h"
    printf '#include "a/x.h"\n' >"$tmp/bad/b/y.cpp"
    printf '#include "a/x.h"\n' >"$tmp/bad/c/z.cpp"

    local out failed=0
    if ! out=$("$script" --root "$tmp/ok" 2>&1); then
        echo "self-test: the tree without a cycle failed:" >&2
        echo "$out" >&2
        failed=1
    elif [[ $out != $'b -> a  '*$'\nc -> b  '* || $(wc -l <<<"$out") -ne 2 ]]; then
        echo "self-test: wrong edges for the tree without a cycle:" >&2
        echo "$out" >&2
        failed=1
    fi
    if out=$("$script" --root "$tmp/bad" 2>&1); then
        echo "self-test: the tree with a -> b -> a passed:" >&2
        echo "$out" >&2
        failed=1
    elif [[ $out != *"cycle: a -> b -> a"* || $out != *"/bad/a/x.h:2"* || $out != *"/bad/b/y.cpp:1"* ||
        $(grep -c '^cycle:' <<<"$out") -ne 1 ]]; then
        echo "self-test: the cycle a -> b -> a was not reported as expected:" >&2
        echo "$out" >&2
        failed=1
    fi
    [[ $failed -eq 0 ]] && echo "self-test passed"
    return "$failed"
}

usage() {
    echo "usage: bash scripts/check_include_cycles.sh [--root DIR | --self-test]" >&2
    exit 2
}

while [[ $# -gt 0 ]]; do
    case $1 in
    --root)
        [[ $# -ge 2 ]] || usage
        root=$2
        label=${2%/}
        shift 2
        ;;
    --self-test)
        self_test
        exit
        ;;
    *) usage ;;
    esac
done
[[ -d $root ]] || {
    echo "no such directory: $root" >&2
    exit 2
}

python3 - "$root" "$label" <<'EOF'
import os, re, sys

root, label = sys.argv[1:]
folders = sorted(d for d in os.listdir(root) if os.path.isdir(os.path.join(root, d)))
include = re.compile(r'^\s*#\s*include\s*"([^"/]+)/')
sources = ('.c', '.cc', '.cpp', '.cxx', '.h', '.hh', '.hpp', '.inl')

# edges[a][b]: the places (file:line) where a file of a includes one of b
edges = {a: {} for a in folders}
for a in folders:
    for dirpath, dirnames, filenames in os.walk(os.path.join(root, a)):
        dirnames.sort()
        for name in sorted(filenames):
            if not name.endswith(sources):
                continue
            path = os.path.join(dirpath, name)
            shown = os.path.join(label, os.path.relpath(path, root))
            with open(path, encoding='utf-8', errors='replace') as f:
                for number, line in enumerate(f, 1):
                    m = include.match(line)
                    if m and m.group(1) != a and m.group(1) in edges:
                        edges[a].setdefault(m.group(1), []).append(f'{shown}:{number}')

def where(a, b):
    places = edges[a][b]
    more = f' (and {len(places) - 1} more)' if len(places) > 1 else ''
    return f'{places[0]}{more}'

# Every elementary cycle once: started from its smallest folder, through larger ones only.
cycles = []
def walk(start, path):
    for b in sorted(edges[path[-1]]):
        if b == start:
            cycles.append(path + [start])
        elif b > start and b not in path:
            walk(start, path + [b])
for start in folders:
    walk(start, [start])

if not cycles:
    for a in folders:
        for b in sorted(edges[a]):
            print(f'{a} -> {b}  {where(a, b)}')
    sys.exit(0)
for cycle in cycles:
    print('cycle: ' + ' -> '.join(cycle))
    for a, b in zip(cycle, cycle[1:]):
        print(f'  {a} -> {b}  {where(a, b)}')
print(f'{len(cycles)} include cycle(s) among the folders of {label}/')
sys.exit(1)
EOF
