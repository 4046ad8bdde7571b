#!/usr/bin/env bash
# Installs what building and testing need, when it is missing.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v clang++ >/dev/null || need+=(clang)
[ -e /usr/lib/x86_64-linux-gnu/libclang_rt.fuzzer-x86_64.a ] || ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
[ -e /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -e /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
[ -e /usr/include/zlib.h ] || need+=(zlib1g-dev)
command -v gs >/dev/null || need+=(ghostscript)
command -v povray >/dev/null || need+=(povray)
command -v hp2xx >/dev/null || need+=(hp2xx)
command -v chromium >/dev/null || need+=(chromium)
[ -e /usr/include/pugixml.hpp ] || need+=(libpugixml-dev)
[ -e /usr/include/png.h ] || need+=(libpng-dev)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi
