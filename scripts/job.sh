#!/usr/bin/env bash
# The main job: installs what is missing, builds the plugin, the SDK and the tools, then runs a
# real cutting job through the plugin as a host does: zrhost loads the plugin, connects a device
# to the project's simulated ZR-TX4150V (started inside zrhost on a free loopback port), reads
# the machine information, registers the machine with the project's local cloud service (also
# started inside zrhost), opens the device's remote channel, reads the sample gasket drawn as SVG,
# places it on the table and orders its cuts, cuts it twice with a progress line, and prints the
# work record the cloud service received. The simulated machine cuts at 150 mm/s, so the job
# takes about ten seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Only what the job needs: the program, the plugin and the translations (the tests come with
# scripts/test.sh).
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target zrhost zrtx4150v zrtx4150v_translations zrhost_translations
exec build/bin/zrhost job tools/samples/gasket.svg --copies 2 --simulator --speed 150 --cloud-embedded
