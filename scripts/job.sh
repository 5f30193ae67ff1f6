#!/usr/bin/env bash
# The main job: builds the plugin, the SDK and the tools, then runs the host against a device.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
build/bin/zrhost list
