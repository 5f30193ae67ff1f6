#!/usr/bin/env bash
# Runs the soaks, which the default test run leaves out: the machine link carrying a steady
# stream both ways, then jobs without pause on the simulated machine with its faults on and a
# cloud service attached. Each runs SECONDS (600 unless given) and counts every frame both ways.
#   scripts/soak.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
scripts/build.sh build -DZRDEVICE_WERROR=ON
export QT_QPA_PLATFORM=offscreen
ZR_LINK_SOAK_SECONDS=$seconds build/bin/tst_link_tcp sustainedExchange
ZR_JOB_SOAK_SECONDS=$seconds build/bin/soak_job
