#!/usr/bin/env bash
# Installs what is missing, with apt-get:
#   bash scripts/setup.sh build   compilers and cmake: enough to build and run quillmask and its tools
#   bash scripts/setup.sh bench   the same, Google Benchmark and the reference reader the
#                                 read benchmarks compare with (klayout)
#   bash scripts/setup.sh         everything the tests, the benchmarks and the fuzz targets need
set -euo pipefail
mode=${1:-all}
case $mode in
  build|bench|all) ;;
  *) echo "usage: scripts/setup.sh [build|bench|all]" >&2; exit 1 ;;
esac
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
# Building needs zlib (compressed input) and pugixml (layergen reads
# layer-properties files).
[ -e /usr/include/zlib.h ] || need+=(zlib1g-dev)
[ -e /usr/include/pugixml.hpp ] || need+=(libpugixml-dev)
if [ "$mode" != build ]; then
  [ -e /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
fi
if [ "$mode" = bench ]; then
  # Only the benchmarks use it: they time its load of the same library.
  command -v klayout >/dev/null || need+=(klayout)
fi
if [ "$mode" = all ]; then
  command -v clang++ >/dev/null || need+=(clang)
  [ -e /usr/lib/x86_64-linux-gnu/libclang_rt.fuzzer-x86_64.a ] || ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
  [ -e /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  [ -e /usr/include/png.h ] || need+=(libpng-dev)
  command -v gs >/dev/null || need+=(ghostscript)
  command -v povray >/dev/null || need+=(povray)
  command -v chromium >/dev/null || need+=(chromium)
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi
