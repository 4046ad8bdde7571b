#!/usr/bin/env bash
# Builds the benchmarks and runs them on generated libraries.
#   bash bench/run.sh            every case
#   bash bench/run.sh read       reading only (flat and deep, no -s), against KLayout's load
#   bash bench/run.sh chip       reading the large chip-like library (no -s) against KLayout's
#                                load, then whole runs with -s on the chip-like libraries, each
#                                against dd writing the same bytes into the same folder
#   bash bench/run.sh svg        the SVG drawing alone (--only svg) against a read, and the
#                                time headless Chromium takes to show the SVG
#   bash bench/run.sh gzip       compressed read against zcat alone and the plain read
# The generated libraries and the drawings take gigabytes; everything the
# run writes is removed when it ends. QM_BENCH_DIR=<folder> puts them
# there instead of a fresh temporary folder (libraries already in it are
# used, and kept).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh bench
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF -DQM_BENCH=ON >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillmask gen_layout bench_run bench_gzip bench_read >/dev/null
B=build-bench
if [ -n "${QM_BENCH_DIR:-}" ]; then
  mkdir -p "$QM_BENCH_DIR"
  W=$(cd "$QM_BENCH_DIR" && pwd)
  mine=""
else
  W=$(mktemp -d "${TMPDIR:-/tmp}/qmbench.XXXXXX")
  mine=$W
fi
made=()
run=$(mktemp -d "$W/run.XXXXXX")  # the drawings of the runs
cleanup() {
  rm -rf "$run"
  for f in "${made[@]}"; do rm -f "$f"; done
  [ -n "$mine" ] && rm -rf "$mine"
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM
what=${1:-all}
gen() {
  if [ ! -f "$W/$2" ]; then
    made+=("$W/$2")
    $B/bench/gen_layout "$1" "$W/$2" ${3:-}
  fi
}
if [ "$what" = all ] || [ "$what" = read ]; then
  gen flat flat.gds
  gen deep deep.gds
  echo "== read, flat (2M rectangles), echo to /dev/null"
  $B/bench/bench_run "$PWD/$B/quillmask" "$W/flat.gds" "$run" 2000000
  $B/bench/bench_read "$PWD/$B/quillmask" "$W/flat.gds" "$run" "$PWD/bench/klayout_load.rb" 1.0
  echo "== read, deep (2M references and arrays), echo to /dev/null"
  $B/bench/bench_run "$PWD/$B/quillmask" "$W/deep.gds" "$run" 2000000
  $B/bench/bench_read "$PWD/$B/quillmask" "$W/deep.gds" "$run" "$PWD/bench/klayout_load.rb" 1.0
fi
if [ "$what" = all ] || [ "$what" = gzip ]; then
  gen flat flat.gds
  [ -f "$W/flat.gds.gz" ] || { made+=("$W/flat.gds.gz"); gzip -c "$W/flat.gds" >"$W/flat.gds.gz"; }
  echo "== compressed input (flat, 2M rectangles), echo to /dev/null"
  $B/bench/bench_gzip "$PWD/$B/quillmask" "$W/flat.gds" "$W/flat.gds.gz" "$run"
fi
if [ "$what" = all ] || [ "$what" = chip ]; then
  gen chipa chipa2000.gds 2000
  echo "== read, chip-like (chipa, 2000 blocks), echo to /dev/null"
  $B/bench/bench_read "$PWD/$B/quillmask" "$W/chipa2000.gds" "$run" "$PWD/bench/klayout_load.rb" 0.6
  gen chipa chipa.gds
  gen chipb chipb.gds
  gen chipc chipc.gds
  for layers in 4 10; do
    [ -f "$W/cfg$layers" ] || { made+=("$W/cfg$layers"); $B/bench/gen_layout config "$W/cfg$layers" $layers; }
    for c in chipa chipb chipc chipa2000; do
      echo "== $c, $layers visible layers, -s TOP"
      $B/bench/bench_run "$PWD/$B/quillmask" "$W/$c.gds" "$run" --dd -- -s TOP -c "$W/cfg$layers"
    done
  done
fi
if [ "$what" = all ] || [ "$what" = svg ]; then
  gen chipa chipa.gds
  gen chipa chipa2000.gds 2000
  [ -f "$W/cfg10" ] || { made+=("$W/cfg10"); $B/bench/gen_layout config "$W/cfg10" 10; }
  for c in chipa chipa2000; do
    rm -f "$run"/result.*
    echo "== $c, read without -s"
    $B/bench/bench_run "$PWD/$B/quillmask" "$W/$c.gds" "$run"
    rm -f "$run"/result.*
    echo "== $c, -s TOP --only svg, 10 visible layers"
    $B/bench/bench_run "$PWD/$B/quillmask" "$W/$c.gds" "$run" -- -s TOP -c "$W/cfg10" --only svg
    mv "$run/result.svg" "$run/$c.svg"
  done
  if command -v chromium >/dev/null; then
    echo "== headless Chromium: open and screenshot chipa.svg"
    profile=$(mktemp -d "$run/profile.XXXXXX")
    t0=$(date +%s.%N)
    timeout 300 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
      --disable-component-update --disable-sync --user-data-dir="$profile" --screenshot="$run/chipa.png" \
      --window-size=1200,1200 "file://$run/chipa.svg" >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    if [ -s "$run/chipa.png" ]; then
      echo "screenshot in $(awk "BEGIN{print $t1 - $t0}") s ($(stat -c %s "$run/chipa.png") bytes of PNG)"
    else
      echo "no screenshot after $(awk "BEGIN{print $t1 - $t0}") s"
    fi
  fi
fi
