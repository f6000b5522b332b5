#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UBSan) into
# build-fuzz/ and runs each for the given time over its corpus.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default 60 s, every target
#
# A crash, a hang of 10 s or an allocation of 512 MB or more is a fault: the
# input lands in build-fuzz/artifacts/TARGET/ and the script ends with status 1
# after the other targets ran. Seeds: the committed corpus (tests/fuzz/corpus/),
# the build's data files and, when that folder is there, the real third-party
# files of ../shared/testdata/real/. New inputs go to build-fuzz/corpus/TARGET/.
#
# Environment: FUZZ_JOBS=N runs N targets at once (default 1); FUZZ_ARGS adds
# libFuzzer options (with -fork=N the counts come from its progress lines);
# FUZZ_NO_BUILD=1 uses the targets as built; FUZZ_REAL=0 leaves the real files
# out (new inputs then derive from our own files only and go to
# build-fuzz/corpus-own/TARGET/, which scripts/fuzz-merge.sh may take into the
# committed corpus).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${1:-60}
shift || true

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing (scripts/deps.sh installs it)" >&2
  exit 2
fi
if [ "${FUZZ_NO_BUILD:-0}" != 1 ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON \
    -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j "${FUZZ_BUILD_JOBS:-4}" >/dev/null
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in tests/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

real=${VELMORA_REAL_TESTDATA:-$root/../shared/testdata/real}
# A worktree lies one folder deeper than the main checkout.
[ -d "$real" ] || real=$root/../../shared/testdata/real

# Files of a target's kind in the build's data folder (shipped and generated)
# and in the real test files, linked into seed folders of the build (never
# copied into the repository). Prints the folders that hold any.
seed_folders() {
  local target=$1 data=build-fuzz/plugin/data data_patterns=() real_patterns=()
  case $target in
    fuzz_scene) data_patterns=(scene.xml) ;;
    fuzz_spectrum_profile) data_patterns=('spectrum/*.xml') ;;
    fuzz_profile_list) data_patterns=(spectrum.xml) ;;
    fuzz_ik_model) data_patterns=('dancer_*.xml') ;;
    fuzz_ms3d) data_patterns=('*.ms3d'); real_patterns=('ms3d/*.ms3d') ;;
    fuzz_xmesh) data_patterns=('objects/*.x'); real_patterns=('x/*.x') ;;
    fuzz_texture) data_patterns=('textures/*') ;;
    fuzz_effect) data_patterns=('shaders/*.fx') ;;
  esac
  link_seeds "build-fuzz/seeds-data/$target" "$data" "${data_patterns[@]}"
  if [ "${FUZZ_REAL:-1}" = 1 ] && [ -d "$real" ]; then
    link_seeds "build-fuzz/seeds-real/$target" "$real" "${real_patterns[@]}"
  fi
}

link_seeds() {
  local folder=$1 from=$2 pattern file
  shift 2
  [ $# -gt 0 ] || return 0
  rm -rf "$folder"
  mkdir -p "$folder"
  for pattern in "$@"; do
    for file in "$from"/$pattern; do
      [ -f "$file" ] && ln -sf "$(cd "$(dirname "$file")" && pwd)/$(basename "$file")" "$folder/"
    done
  done
  echo "$folder"
}

run_target() {
  local target=$1 log=build-fuzz/logs/$1.log
  local corpus=build-fuzz/corpus/$target artifacts=build-fuzz/artifacts/$target/
  [ "${FUZZ_REAL:-1}" = 1 ] || corpus=build-fuzz/corpus-own/$target
  mkdir -p "$corpus" "$artifacts" build-fuzz/logs
  local args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512
    -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$artifacts")
  case $target in
    fuzz_scene | fuzz_spectrum_profile | fuzz_profile_list | fuzz_ik_model) args+=(-dict=tests/fuzz/dict/xml.dict) ;;
    *) [ -f "tests/fuzz/dict/$target.dict" ] && args+=(-dict="tests/fuzz/dict/$target.dict") ;;
  esac
  # shellcheck disable=SC2086
  local seeds=(tests/fuzz/corpus/"$target" $(seed_folders "$target"))
  local status=0
  # shellcheck disable=SC2086
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 LSAN_OPTIONS=suppressions=$root/tests/fuzz/lsan.supp \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "build-fuzz/bin/$target" "${args[@]}" ${FUZZ_ARGS:-} "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$runs" ] || runs=$(sed -n 's/^#\([0-9]*\): cov:.*/\1/p' "$log" | tail -1)
  # With -fork and -ignore_* the run goes on past faults: its progress lines count them.
  local faults
  faults=$(sed -n 's/^#[0-9]*: cov:.* oom\/timeout\/crash: \([0-9]*\/[0-9]*\/[0-9]*\).*/\1/p' "$log" | tail -1)
  if [ -n "$faults" ] && [ "$faults" != 0/0/0 ]; then
    echo "    $target: oom/timeout/crash $faults (inputs in $artifacts)" >>"$log"
    status=1
  fi
  if [ $status -eq 0 ]; then
    printf '%-24s %12s executions  ok\n' "$target" "${runs:-?}"
  else
    printf '%-24s %12s executions  FAULT (see %s)\n' "$target" "${runs:-?}" "$log"
    grep -m3 -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|fuzz_[a-z_]+: |    .*oom/timeout/crash)' "$log" | sed 's/^/    /' || true
  fi
  return $status
}

failed=0
jobs_max=${FUZZ_JOBS:-1}
pids=()
for target in "${targets[@]}"; do
  if [ ! -x "build-fuzz/bin/$target" ]; then
    echo "fuzz.sh: no target $target" >&2
    failed=1
    continue
  fi
  run_target "$target" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs_max" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do
  wait "$pid" || failed=1
done
exit $failed
