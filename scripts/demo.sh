#!/usr/bin/env bash
# Builds what the demo runs (the platform library, the module, its data and
# the player; no test or benchmark program) and runs the player on the
# bundled scene with its built-in music signal. Frames are written to
# build/demo-frames/; the log to the folder that stands for C:.
# ./scripts/test.sh builds everything.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target velmora-player vis_velmora velmora_data
exec ./build/bin/velmora-player --frames 480 --out build/demo-frames --every 30 \
  --script scripts/demo-input.txt "$@"
