#!/usr/bin/env bash
# Builds Velmora and runs every test, first as a normal build, then under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the threaded drawing
# under ThreadSanitizer, then runs the fuzz targets for a short while
# (FUZZ_SECONDS each, default 25).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The render threads under ThreadSanitizer: the test programs that draw
# through them or share pixel programs and textures with them, with four
# threads, and those of the music's decoder thread; only they are built, to
# keep the time down. A race report fails its test.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE=thread -DVELMORA_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target test_renderer test_golden test_frame test_host test_fx test_d3d9 \
  test_music test_music_analysis replay_device_threads
VELMORA_RENDER_THREADS=4 TSAN_OPTIONS=halt_on_error=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L '^(renderer|golden|frame|host|fx|d3d9|music|music_analysis)$'
# The device thread fuzzer's corpus, drawn on one and on four threads, under
# ThreadSanitizer (about a minute): each input once, then four variants (a
# fixed sequence) of each hand-made one, named for the case it holds. A plain
# program replays them: clang takes -fsanitize=fuzzer,thread, but that would
# be a second build of the platform library, with clang, for a short run;
# this one adds a file to the build above. A failing input is left in
# build-tsan/replay-input.
(cd build-tsan && export TSAN_OPTIONS=halt_on_error=1 &&
  bin/replay_device_threads ../tests/fuzz/corpus/fuzz_device_threads &&
  bin/replay_device_threads -mutants=4 ../tests/fuzz/corpus/fuzz_device_threads/*_*)

# The fuzz targets (clang's libFuzzer with both sanitizers) over their corpora
# and a little beyond: a crash, a hang or an oversized allocation fails the run.
if command -v clang++ >/dev/null; then
  FUZZ_JOBS=$jobs FUZZ_BUILD_JOBS=$jobs ./scripts/fuzz.sh "${FUZZ_SECONDS:-25}"
else
  echo "clang++ missing: fuzz targets not run"
fi
