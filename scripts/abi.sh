#!/usr/bin/env bash
# The ABI check of the SDK's shared libraries against the last release, kept in abi/ as abidw's
# XML (abigail-tools). The headers and libraries are taken as a host gets them: installed.
#   scripts/abi.sh check [BUILD]    compares BUILD's libraries (build/ unless given) with abi/: fails
#                                   on every change but additions, unless the SONAME was raised
#   scripts/abi.sh update [BUILD]   records BUILD's libraries as the release's ABI; run it when a
#                                   release is cut, from a RelWithDebInfo build made with g++
set -euo pipefail
cd "$(dirname "$0")/.."
command=${1:-check}
build=${2:-build}
case $command in check | update) ;; *) echo "usage: scripts/abi.sh check|update [BUILD]" >&2; exit 2 ;; esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work" >/dev/null
headers=$work/include/zrdevice
status=0
for name in libzrdevice libzrcutfile; do
    library=$(find "$work" -name "$name.so.*.*" -type f)
    soname=$(objdump -p "$library" | awk '$1 == "SONAME" { print $2 }')
    baseline=abi/$name.abi
    if [ "$command" = update ]; then
        abidw --no-corpus-path --short-locs --exported-interfaces-only --headers-dir "$headers" --drop-private-types \
            --suppressions abi/private.suppr --out-file "$baseline" "$library"
        echo "$baseline: the ABI of $soname"
        continue
    fi
    released=$(sed -n "s/.* soname='\([^']*\)'.*/\1/p; /soname=/q" "$baseline")
    if [ "$soname" != "$released" ]; then
        echo "$soname: the SONAME moved on from $released, so its ABI may change; scripts/abi.sh update records it when the release is cut"
        continue
    fi
    # Added functions and variables keep the ABI; anything else reported breaks it.
    if abidiff --no-added-syms --exported-interfaces-only --headers-dir2 "$headers" --drop-private-types \
        --suppressions abi/private.suppr "$baseline" "$library" > "$work/report"; then
        echo "$soname: the ABI of the last release holds"
    else
        echo "$soname: the ABI differs from the last release ($baseline):"
        cat "$work/report"
        status=1
    fi
done
if [ $status -ne 0 ]; then
    echo "An incompatible change needs a new SOVERSION: raise the major version in CMakeLists.txt."
fi
exit $status
