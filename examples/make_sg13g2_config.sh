#!/usr/bin/env bash
# Regenerates examples/sg13g2.layers.config from the IHP SG13G2 PDK's layer
# properties (sg13g2.lyp) and the stack table examples/sg13g2.stack.
#   bash examples/make_sg13g2_config.sh [PATH/TO/sg13g2.lyp]
# Without an argument the PDK file is looked for at ../shared/pdk/sg13g2.lyp
# beside the repository.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
lyp="${1:-$root/../shared/pdk/sg13g2.lyp}"
[ -f "$lyp" ] || { echo "make_sg13g2_config.sh: no layer-properties file at $lyp" >&2; exit 1; }
cd "$root"
bash scripts/setup.sh
cmake -S . -B build-example -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF >/dev/null
cmake --build build-example -j"$(nproc)" --target layergen >/dev/null
build-example/layergen --lyp "$lyp" --stack examples/sg13g2.stack >examples/sg13g2.layers.config.new
mv examples/sg13g2.layers.config.new examples/sg13g2.layers.config
licence="$(dirname "$lyp")/LICENSE-Apache-2.0"
[ -f "$licence" ] && cp "$licence" examples/sg13g2.LICENSE
echo "wrote examples/sg13g2.layers.config"
