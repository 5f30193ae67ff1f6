#!/usr/bin/env bash
# The guide's examples against an installed SDK, as a host builds them: with the CMake package and
# with pkg-config (their Makefile). Both builds list the parameters and read, place and write a
# cut file; the CMake build also reads a machine's information and cuts a job on the installed
# zrsim, with the installed zrcloud as the cloud service. No example may use a symbol of the
# libraries' private version nodes.
#   examples.sh PREFIX EXAMPLES WORK SAMPLES
set -euo pipefail
prefix=$1
examples=$2
work=$3
samples=$4
rm -rf "$work"
mkdir -p "$work"
export QT_QPA_PLATFORM=offscreen

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Both ways find the SDK in PREFIX, as a host does for an SDK outside /usr.
cmake -S "$examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake"
pc_file=$(find "$prefix" -name zrdevice.pc)
cp -r "$examples" "$work/make"
PKG_CONFIG_PATH=$(dirname "$pc_file") make -C "$work/make"
export LD_LIBRARY_PATH=$(dirname "$(dirname "$pc_file")")

names=(list_parameters connect_and_read run_job cut_file)
for build in cmake make; do
    for name in "${names[@]}"; do
        if objdump -T "$work/$build/$name" | grep -q "_PRIVATE_"; then
            fail "$build/$name uses a private symbol: $(objdump -TC "$work/$build/$name" | grep _PRIVATE_)"
        fi
    done
    "$work/$build/list_parameters" > "$work/$build/parameters.txt"
    grep -q "^user: WORK_MODE PU_SPEED" "$work/$build/parameters.txt" || fail "$build: no user groups"
    grep -q "^SP1_SPEED " "$work/$build/parameters.txt" || fail "$build: SP1_SPEED not listed"
    "$work/$build/cut_file" "$samples/gasket.svg" "$work/$build/gasket.plt" "$work/$build/gasket.png" \
        > "$work/$build/cut.txt"
    grep -q " contours, .* mm cut, " "$work/$build/cut.txt" || fail "$build: cut_file said $(cat "$work/$build/cut.txt")"
    [ "$(head -c 3 "$work/$build/gasket.plt")" = "IN;" ] || fail "$build: gasket.plt is no HP-GL"
    [ -s "$work/$build/gasket.png" ] || fail "$build: no picture"
done

# A machine and a cloud service on free ports of 127.0.0.1, from the installed tools.
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done' EXIT
"$prefix/bin/zrsim" --port 0 --speed 5000 --report-interval 50 > "$work/zrsim.log" 2>&1 &
pids+=($!)
"$prefix/bin/zrcloud" --http-port 0 --ws-port 0 > "$work/zrcloud.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    grep -q "listening on tcp" "$work/zrsim.log" && grep -q "WebSocket base" "$work/zrcloud.log" && break
    sleep 0.1
done
port=$(sed -n 's/.*listening on tcp 127.0.0.1:\([0-9]*\).*/\1/p' "$work/zrsim.log")
http=$(sed -n 's/^HTTP base: //p' "$work/zrcloud.log")
ws=$(sed -n 's/^WebSocket base: //p' "$work/zrcloud.log")
[ -n "$port" ] && [ -n "$ws" ] || fail "zrsim or zrcloud did not start: $(cat "$work"/*.log)"

"$work/cmake/connect_and_read" 127.0.0.1 "$port" > "$work/read.txt" || fail "connect_and_read: $(cat "$work/read.txt")"
grep -q "^TCP CONNECTED.$" "$work/read.txt" || fail "connect_and_read did not connect"
grep -q "^FIRMWARE ." "$work/read.txt" || fail "connect_and_read read no firmware: $(cat "$work/read.txt")"

"$work/cmake/run_job" 127.0.0.1 "$port" "$samples/gasket.svg" "$http" "$ws" > "$work/job.txt" \
    || fail "run_job: $(cat "$work/job.txt")"
grep -q ": copy 2 of 2 done, 100" "$work/job.txt" || fail "run_job did not cut both copies: $(cat "$work/job.txt")"
grep -q "^work record taken$" "$work/job.txt" || fail "run_job's work record: $(cat "$work/job.txt")"
cat "$work/read.txt" "$work/job.txt"
echo "examples: built both ways and run"
