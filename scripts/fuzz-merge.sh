#!/usr/bin/env bash
# Minimises the committed corpus of each fuzz target (all by default):
#
#   scripts/fuzz-merge.sh [TARGET...]
#
# Keeps the inputs of tests/fuzz/corpus/TARGET/ and build-fuzz/corpus-own/TARGET/
# (grown by `FUZZ_REAL=0 scripts/fuzz.sh`, so derived from our own files only)
# that reach code the build's data files do not; the data files themselves stay
# out of the repository, fuzz.sh adds them as seeds. Inputs named other than by
# their hash are hand-made and always stay. Run scripts/fuzz.sh first (it builds
# the targets).
set -euo pipefail
cd "$(dirname "$0")/.."

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in tests/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

for target in "${targets[@]}"; do
  work=$(mktemp -d)
  # The data files first: what they reach is the baseline of the merge.
  if [ -d "build-fuzz/seeds-data/$target" ]; then
    cp -L "build-fuzz/seeds-data/$target"/* "$work/" 2>/dev/null || true
  fi
  baseline=$(ls "$work")
  sources=(tests/fuzz/corpus/"$target")
  [ -d "build-fuzz/corpus-own/$target" ] && sources+=("build-fuzz/corpus-own/$target")
  # Edges only (no hit counts): the smallest set that reaches all the code.
  "build-fuzz/bin/$target" -merge=1 -use_counters=0 -use_value_profile=0 -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 -close_fd_mask=1 \
    "$work" "${sources[@]}" >"build-fuzz/logs/$target.merge.log" 2>&1
  for name in $baseline; do
    rm -f "$work/$name"
  done
  # Hand-made inputs (named for what they hold, not by their hash) stay, even
  # when they reach nothing new or crash: they hold cases kept on purpose.
  keep=$(mktemp -d)
  find "tests/fuzz/corpus/$target" -maxdepth 1 -type f ! -regex '.*/[0-9a-f]\{40\}' -exec cp {} "$keep/" \; 2>/dev/null || true
  rm -rf "tests/fuzz/corpus/$target"
  mkdir -p "tests/fuzz/corpus/$target"
  cp "$work"/* "tests/fuzz/corpus/$target/" 2>/dev/null || true
  cp "$keep"/* "tests/fuzz/corpus/$target/" 2>/dev/null || true
  rm -rf "$work" "$keep"
  printf '%-24s %4d inputs, %6d bytes\n' "$target" "$(ls "tests/fuzz/corpus/$target" | wc -l)" \
    "$(cat "tests/fuzz/corpus/$target"/* 2>/dev/null | wc -c)"
done
