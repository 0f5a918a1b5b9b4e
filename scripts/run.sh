#!/usr/bin/env bash
# Installs what is missing, builds, and runs the gateway in the foreground from build/bin.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
exec build/bin/pellwick -debug
