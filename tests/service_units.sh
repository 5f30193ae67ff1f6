#!/usr/bin/env bash
# The machine service's systemd units, as configured for this build, with the build's zrhost in
# place of the installed one: systemd-analyze has nothing to say about them, and the command each
# starts names no machine, serves the machine its settings file names (the system unit's copy of
# /etc/zrhost/zrhost.conf, the user's own), keeps its database where the unit makes room for it
# (the system unit's state folder, the user's data folder) and its claim on the machine in its
# runtime folder while it runs, and ends on SIGTERM (systemctl stop) with a status the unit counts
# as success, its claim gone.
#   service_units.sh UNITS ZRHOST WORK
set -euo pipefail
units=$1
zrhost=$2
work=$3
rm -rf "$work"
mkdir -p "$work/runtime"
chmod 700 "$work/runtime"
export QT_QPA_PLATFORM=offscreen

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

for kind in system user; do
    unit=$work/$kind.service
    sed "s|^ExecStart=.*/zrhost |ExecStart=$zrhost |" "$units/$kind/zrhost.service" > "$unit"
    scope=--system
    [ $kind = user ] && scope=--user
    said=$(XDG_RUNTIME_DIR=$work/runtime systemd-analyze $scope verify "$unit" 2>&1) \
        || fail "$kind unit: $said"
    [ -z "$said" ] || fail "$kind unit: $said"

    command=$(sed -n 's/^ExecStart=//p' "$unit")
    [[ $command != *--ip* && $command != *--usb* ]] || fail "$kind unit names the machine: $command"
    # The settings name the machine: a port of this computer that no machine listens on.
    settings=$work/$kind.conf
    printf '[General]\nmachine=127.0.0.1:1\n' > "$settings"
    claims=$work/runtime/zrhost
    if [ $kind = system ]; then
        grep -q '^LoadCredential=zrhost.conf:/etc/zrhost/zrhost.conf$' "$unit" \
            && grep -q '^Environment=ZRHOST_CONFIG=%d/zrhost.conf$' "$unit" \
            || fail "the system unit does not read /etc/zrhost/zrhost.conf"
        export ZRHOST_CONFIG=$settings
        runtime=$(sed -n 's/^RuntimeDirectory=//p' "$unit")
        export RUNTIME_DIRECTORY=$work/run/$runtime
        claims=$RUNTIME_DIRECTORY
        state=$(sed -n 's/^StateDirectory=//p' "$unit")
        [[ $command == *" --database /var/lib/$state/"* ]] \
            || fail "the system unit keeps its database outside its state folder /var/lib/$state"
        command=${command//\/var\/lib\/$state/$work/state}
        mkdir -p "$work/state"
        database=$work/state/service.sqlite
    else
        unset ZRHOST_CONFIG RUNTIME_DIRECTORY
        export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
        mkdir -p "$work/config/zrhost"
        cp "$settings" "$work/config/zrhost/zrhost.conf"
        database=$work/data/zrhost/service.sqlite
    fi
    # shellcheck disable=SC2086 # the unit's command line, split as systemd splits it
    $command --listen 127.0.0.1:0 > "$work/$kind.log" 2>&1 &
    pid=$!
    for _ in $(seq 100); do
        grep -q "Serving ws://" "$work/$kind.log" || ! kill -0 $pid 2>/dev/null && break
        sleep 0.1
    done
    stop() {
        kill $pid 2>/dev/null || true
        fail "$*"
    }
    grep -q "Serving ws://" "$work/$kind.log" || stop "$kind: $(cat "$work/$kind.log")"
    [ -f "$database" ] || stop "$kind: no database at $database"
    grep -q "127.0.0.1:1" "$work/$kind.log" || stop "$kind: not the settings' machine: $(cat "$work/$kind.log")"
    [ -f "$claims/tcp-127.0.0.1-1.claim" ] || stop "$kind: no claim on the machine in $claims"
    kill -TERM $pid
    status=0
    wait $pid || status=$?
    # systemd counts an exit with 0 or a SuccessExitStatus, or an end by its SIGTERM (143), as clean.
    success=" 0 143 $(sed -n 's/^SuccessExitStatus=//p' "$unit") "
    [[ $success == *" $status "* ]] || fail "$kind: stopped with $status, which the unit counts as a failure"
    [ ! -e "$claims/tcp-127.0.0.1-1.claim" ] || fail "$kind: the claim outlived the service"
    echo "$kind unit: verified; serves with its database at $database; stops with $status"
done
