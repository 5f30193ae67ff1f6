#!/usr/bin/env bash
# Times the cut-file readers on a 50 MB HP-GL nest and a 20 MB DXF of the same parts (lines and
# circles as CAD writes them), one process a file so that each peak memory is its own:
#   scripts/bench_cutread.sh [BENCH_CUTFILE...]
# With more than one bench_cutfile (say one built from an earlier commit), each reads the same
# files, one after the other, for a comparison.
set -euo pipefail
cd "$(dirname "$0")/.."
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=(build/bin/bench_cutfile)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export QT_QPA_PLATFORM=offscreen
"${programs[0]}" write-hpgl 50 "$dir/nest.plt" >/dev/null
"${programs[0]}" write-dxf 20 "$dir/nest.dxf" >/dev/null
for program in "${programs[@]}"; do
    echo "$program"
    for file in nest.plt nest.dxf; do
        "$program" read "$dir/$file" || true
    done
done
