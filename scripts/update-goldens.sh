#!/usr/bin/env bash
# Writes the kept pictures of the demo frames (tests/golden/pictures) again from
# the general pixel path, after a change that is meant to alter them.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j4 --target test_golden
VELMORA_UPDATE_GOLDENS=1 build/bin/test_golden --gtest_filter='GoldenFrames.GeneralPath*'
git status --short tests/golden/pictures
