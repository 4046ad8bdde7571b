#!/usr/bin/env bash
# Builds quillmask and draws the bundled example into examples/out/ (and
# the SVG drawing, result.svg, and the plot as an SVG picture, plot.svg).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build
cmake -S . -B build-example -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF >/dev/null
cmake --build build-example -j"$(nproc)" --target quillmask layergen plot2svg make_example >/dev/null
mkdir -p examples/out
cd examples/out
../../build-example/make_example demo.gds
../../build-example/quillmask -i demo.gds -s TOP -c ../demo.layers.config -g result.svg >echo.txt 2>messages.txt
../../build-example/plot2svg result.plt plot.svg
echo "wrote examples/out: result.ps result.pov result.plt result.svg result.txt plot.svg (echo in echo.txt, messages in messages.txt)"
ls -l result.ps result.pov result.plt result.svg result.txt plot.svg
