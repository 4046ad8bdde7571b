#!/usr/bin/env bash
# Builds the benchmarks and runs them on generated libraries.
#   bash bench/run.sh            every case
#   bash bench/run.sh read       reading only (flat and deep, no -s)
#   bash bench/run.sh chip       whole runs with -s on the chip-like libraries
#   bash bench/run.sh gzip       compressed read against zcat alone and the plain read
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF -DQM_BENCH=ON >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillmask gen_layout bench_run bench_gzip >/dev/null
B=build-bench
W=${QM_BENCH_DIR:-/tmp/qmbench}
mkdir -p "$W"
what=${1:-all}
gen() { [ -f "$W/$2" ] || $B/bench/gen_layout "$1" "$W/$2" ${3:-}; }
if [ "$what" = all ] || [ "$what" = read ]; then
  gen flat flat.gds
  gen deep deep.gds
  echo "== read, flat (2M rectangles), echo to /dev/null"
  $B/bench/bench_run "$PWD/$B/quillmask" "$W/flat.gds" "$W" 2000000
  echo "== read, deep (2M references and arrays), echo to /dev/null"
  $B/bench/bench_run "$PWD/$B/quillmask" "$W/deep.gds" "$W" 2000000
fi
if [ "$what" = all ] || [ "$what" = gzip ]; then
  gen flat flat.gds
  [ -f "$W/flat.gds.gz" ] || gzip -c "$W/flat.gds" >"$W/flat.gds.gz"
  echo "== compressed input (flat, 2M rectangles), echo to /dev/null"
  $B/bench/bench_gzip "$PWD/$B/quillmask" "$W/flat.gds" "$W/flat.gds.gz" "$W"
fi
if [ "$what" = all ] || [ "$what" = chip ]; then
  gen chipa chipa.gds
  gen chipb chipb.gds
  gen chipc chipc.gds
  for layers in 4 10; do
    $B/bench/gen_layout config "$W/cfg$layers" $layers
    for c in chipa chipb chipc; do
      echo "== $c, $layers visible layers, -s TOP"
      $B/bench/bench_run "$PWD/$B/quillmask" "$W/$c.gds" "$W" -- -s TOP -c "$W/cfg$layers"
    done
  done
fi
