#!/usr/bin/env bash
# Redraws examples/example.svg, the picture of the bundled example shown in
# the README, with quillmask itself: the example layout of examples/run.sh
# drawn with examples/demo.layers.config, the SVG drawing only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/setup.sh build
cmake -S . -B build-example -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF >/dev/null
cmake --build build-example -j"$(nproc)" --target quillmask make_example >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$root/build-example/make_example" demo.gds
"$root/build-example/quillmask" -i demo.gds -s TOP -c "$root/examples/demo.layers.config" \
  --only svg -g "$root/examples/example.svg" >/dev/null 2>messages.txt || { cat messages.txt; exit 1; }
echo "wrote examples/example.svg ($(stat -c %s "$root/examples/example.svg") bytes)"
