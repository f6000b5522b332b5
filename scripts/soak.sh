#!/usr/bin/env bash
# Soaks the player and the module: FRAMES headless frames (default 100000) of
# the built-in music with the demo's input script repeated every 480 frames,
# sampling the player's resident size every 2 s. Writes build/soak/rss.txt
# (seconds since the start, resident kB) and says whether the resident
# size stayed flat after the first tenth of the run. Not part of CI: 100000
# frames take a while.
#
#   scripts/soak.sh [FRAMES]
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-100000}
period=480

if [ "${SOAK_NO_BUILD:-0}" != 1 ]; then
  ./scripts/deps.sh
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j 4 >/dev/null
fi

out=build/soak
rm -rf "$out"
mkdir -p "$out/drive_c"
# The demo's steps again and again: menus, links, key steps, profiles, help on and off.
awk -v frames="$frames" -v period="$period" '
  /^[0-9]/ { step[n++] = $0 }
  END {
    for (base = 0; base < frames; base += period)
      for (i = 0; i < n; i++) {
        split(step[i], f, " ")
        if (base + f[1] >= frames) continue
        line = (base + f[1])
        for (k = 2; k in f; k++) line = line " " f[k]
        print line
      }
  }' scripts/demo-input.txt >"$out/input.txt"

start=$(date +%s)
build/bin/velmora-player --frames "$frames" --loop --script "$out/input.txt" --drive-c "$out/drive_c" \
  >"$out/player.txt" 2>&1 &
player=$!
: >"$out/rss.txt"
while kill -0 "$player" 2>/dev/null; do
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$player/status" 2>/dev/null || true)
  [ -n "$rss" ] && echo "$(($(date +%s) - start)) $rss" >>"$out/rss.txt"
  sleep 2
done
status=0
wait "$player" || status=$?
echo "player: exit status $status after $(($(date +%s) - start)) s for $frames frames"
[ $status -eq 0 ] || exit $status

# Flat: the median of the last tenth within 2 MB (or 2 %) of the median of the second tenth.
awk '
  BEGIN { n = 0 }
  $2 > 0 { t[n] = $1; r[n] = $2; n++ }
  function median(from, to,   i, m, k, v, tmp) {
    m = 0
    for (i = from; i < to; i++) v[m++] = r[i]
    for (i = 1; i < m; i++) { tmp = v[i]; for (k = i - 1; k >= 0 && v[k] > tmp; k--) v[k + 1] = v[k]; v[k + 1] = tmp }
    return v[int(m / 2)]
  }
  END {
    if (n < 20) { print "too few samples (" n ") to judge"; exit 0 }
    peak = 0
    for (i = 0; i < n; i++) if (r[i] > peak) peak = r[i]
    early = median(int(n / 10), int(n / 5)); late = median(n - int(n / 10), n)
    growth = late - early
    printf "resident size: first %d kB, after warm-up %d kB, end %d kB, peak %d kB (%d samples)\n", r[0], early, late, peak, n
    if (growth <= 2048 || growth <= early * 0.02) print "flat"
    else { printf "growing: %+d kB\n", growth; exit 1 }
  }' "$out/rss.txt"
