#!/usr/bin/env bash
# Builds Velmora and runs the player on the bundled scene with its built-in
# music signal. Frames are written to build/demo-frames/; the log to the
# folder that stands for C:.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
exec ./build/bin/velmora-player --frames 480 --out build/demo-frames --every 30 \
  --script scripts/demo-input.txt "$@"
