#!/usr/bin/env bash
# The packages on a fresh Debian 12: builds them (scripts/package.sh), bootstraps Debian 12 once
# (debootstrap, kept in build-package/bookworm), and in fresh copies of it:
#   - apt installs the three packages, which must find every dependency (timed);
#   - in a second root, with a host developer's tools (g++, cmake, pkg-config) and the packages'
#     dependencies, apt installs the packages, then without a network: zrhost --version, a job on the sample gasket on zrhost's simulated machine,
#     the model's English labels from the installed translations, every example built with CMake
#     and with pkg-config and run (tests/consumer/examples.sh), the service's units verified and
#     their command run (tests/service_units.sh), and the system unit's own command once, which
#     leaves its database in /var/lib/zrhost;
#   - apt removes the packages: against the root as it was before them, nothing may be left but
#     the user's data (the service's database, root's home).
# It prints the packages' sizes and the times. Not part of the test run: it takes minutes and the
# network. Run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/package.sh
debs=(build-package/packages/*.deb)
base=build-package/bookworm
root=build-package/root

# debootstrap removes its own folder from the root when it has finished.
if [ ! -f "$base/etc/debian_version" ] || [ -d "$base/debootstrap" ]; then
    rm -rf "$base"
    debootstrap bookworm "$base" http://deb.debian.org/debian
fi
# A fresh root with what the checks use in /tmp/check. Mounts live in a namespace of their own and
# go with it; the root is removed only from outside.
fresh_root() {
    rm -rf "$root"
    cp -a "$base" "$root"
    mkdir -p "$root/tmp/check"
    cp "${debs[@]}" tests/consumer/examples.sh tests/service_units.sh "$root/tmp/check/"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
}

in_root() {
    unshare --mount --fork sh -c 'mount -t proc proc "$0/proc" && mount --rbind /dev "$0/dev" &&
        exec chroot "$0" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive bash -euo pipefail -c "$1"' "$root" "$1"
}
# The same, without a network: loopback only.
in_root_offline() {
    unshare --net --mount --fork sh -c 'ip link set lo up && mount -t proc proc "$0/proc" &&
        mount --rbind /dev "$0/dev" && exec chroot "$0" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LANG=C.UTF-8 bash -euo pipefail -c "$1"' "$root" "$1"
}
# Every file and folder of the root but apt's and dpkg's records, caches, logs and scratch space.
snapshot='find / -xdev \( -path /proc -o -path /dev -o -path /sys -o -path /tmp -o -path /run \
    -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /var/cache -o -path /var/log \) -prune \
    -o -print | sort'

# Milliseconds a command in the root takes.
timed() {
    local start
    start=$(date +%s%N)
    in_root "$1" >&2
    echo $((($(date +%s%N) - start) / 1000000))
}
fresh_root
in_root "apt-get update -qq"
download_ms=$(timed "apt-get install -y -qq --download-only /tmp/check/*.deb >/dev/null")
install_ms=$(timed "apt-get install -y -qq /tmp/check/*.deb >/dev/null")

# The packages' dependencies on Debian's packages, without the packages themselves.
packages=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done | paste -sd' ' -)
dependencies=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Depends | sed 's/, /\n/g'; done \
    | grep -v -E "^(${packages// /|}) " | sort -u | paste -sd, -)
fresh_root
in_root "apt-get update -qq && apt-get install -y -qq build-essential cmake pkg-config >/dev/null &&
    apt-get satisfy -y -qq '$dependencies' >/dev/null"
in_root "$snapshot" > build-package/before.txt
in_root "apt-get install -y -qq /tmp/check/*.deb >/dev/null"

in_root_offline '
zrhost --version
zrhost job /usr/share/zrdevice/samples/gasket.svg --simulator --speed 2000 --no-progress
LANG=en_US.UTF-8 zrhost list | grep -q "Speed" || { echo "no English labels: the translations were not found"; exit 1; }
bash /tmp/check/examples.sh /usr /usr/share/doc/libzrdevice-dev/examples /tmp/examples /usr/share/zrdevice/samples
mkdir -p /tmp/units/system /tmp/units/user
cp /usr/lib/systemd/system/zrhost.service /tmp/units/system/
cp /usr/lib/systemd/user/zrhost.service /tmp/units/user/
bash /tmp/check/service_units.sh /tmp/units /usr/bin/zrhost /tmp/units-work
# The system unit as it stands: systemd makes its state folder, the service fills it; the settings
# name the simulated machine on its usual port.
mkdir -p /var/lib/zrhost
zrsim --port 9100 > /tmp/zrsim.log 2>&1 &
sim=$!
ZRHOST_CONFIG=/etc/zrhost/zrhost.conf zrhost config machine=127.0.0.1:9100
command=$(sed -n "s/^ExecStart=//p" /usr/lib/systemd/system/zrhost.service)
ZRHOST_CONFIG=/etc/zrhost/zrhost.conf $command > /tmp/serve.log 2>&1 &
pid=$!
for _ in $(seq 100); do grep -q "Serving ws://" /tmp/serve.log && break; sleep 0.1; done
zrhost status --server ws://127.0.0.1:9190
kill -TERM $pid
wait $pid || [ $? -eq 130 ]
kill -TERM $sim
rm -r /etc/zrhost
zrhost history --database /var/lib/zrhost/service.sqlite
'

in_root "apt-get remove -y -qq $packages >/dev/null"
in_root "$snapshot" > build-package/after.txt
left=$(comm -13 build-package/before.txt build-package/after.txt)
echo "Left after apt remove:"
echo "$left"
if echo "$left" | grep -v -q -E '^/var/lib/zrhost(/|$)|^/root/|^$'; then
    echo "FAIL: the packages left more than the user's data" >&2
    exit 1
fi
rm -rf "$root"

echo
echo "Packages:"
for deb in "${debs[@]}"; do
    printf '  %-40s %6d KiB file, %6s KiB installed\n' "$(basename "$deb")" \
        "$(( $(stat -c %s "$deb") / 1024 ))" "$(dpkg-deb -f "$deb" Installed-Size)"
done
printf 'On the fresh root: %d.%d s to download the dependencies, then %d.%d s for apt install\n' \
    $((download_ms / 1000)) $((download_ms % 1000 / 100)) $((install_ms / 1000)) $((install_ms % 1000 / 100))
