#!/usr/bin/env bash
# Cross-builds the plug-in, the simulator and the test suite for 64-bit Arm
# (aarch64-linux-gnu), checks the Arm plug-in's ELF facts and runs the whole
# suite under qemu user-mode emulation. Installs what it misses; idempotent.
# Usage: scripts/arm.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-arm}
shift || true

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
# The target's libraries come from Debian's arm64 packages through multiarch.
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $SUDO dpkg --add-architecture arm64
  $SUDO apt-get update -qq
fi
# The arm64 -dev packages are Multi-Arch: same, so they install beside the
# amd64 ones at the same version (apt upgrades the amd64 ones when needed).
# CLI11 is header-only and Multi-Arch: foreign: the build machine's serves.
# So does fast-cpp-csv-parser (libfccp-dev, header-only, Architecture: all).
# libyaml-cpp-dev is not Multi-Arch: same: its arm64 package would replace the
# build machine's, so the cross build takes the build machine's headers and
# links the arm64 runtime library, which installs beside the amd64 one.
bash scripts/deps.sh dpkg-dev g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user \
  libjsoncpp-dev:arm64 libcurl4-openssl-dev:arm64 libssl-dev:arm64 libboost-dev:arm64 \
  libboost-date-time-dev:arm64 libboost-thread-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64 \
  libcpp-httplib-dev:arm64 libyaml-cpp0.7:arm64

start=$(date +%s)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-aarch64-linux-gnu.cmake" "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
built=$(date +%s)

# The Arm plug-in as a host on a controller sees it.
plugin=$build/aikorvane.so
readelf=aarch64-linux-gnu-readelf
header=$($readelf -h -W "$plugin")
dynamic=$($readelf -d -W "$plugin")
fail() { echo "arm.sh: $*" >&2; exit 1; }
grep -Eq 'Class: +ELF64' <<<"$header" || fail "$plugin is not ELF64"
grep -Eq 'Type: +DYN' <<<"$header" || fail "$plugin is not a shared object"
grep -Eq 'Machine: +AArch64' <<<"$header" || fail "$plugin is not AArch64 code"
grep -qF 'Library soname: [aikorvane.so]' <<<"$dynamic" || fail "$plugin has no soname aikorvane.so"
needed=$(sed -nE 's/.*Shared library: \[([^]]+)\].*/\1/p' <<<"$dynamic")
while read -r library; do
  case $library in
    libstdc++.so.* | libm.so.* | libgcc_s.so.* | libc.so.* | ld-linux-aarch64.so.*) ;;
    *) fail "NEEDED $library is not a system runtime library" ;;
  esac
done <<<"$needed"
exported=$($readelf --dyn-syms -W "$plugin" |
  awk '$7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK") && $4 != "SECTION" {print $8}')
[ "$exported" = "get_providers" ] || fail "exports other than get_providers: $exported"
echo "== Arm plug-in $plugin"
grep -E 'Class:|Type:|Machine:|Flags:' <<<"$header" | sed 's/^ */  /'
echo "  soname: aikorvane.so"
echo "  NEEDED: $(tr '\n' ' ' <<<"$needed")"
echo "  exported: $exported"

# The toolchain sets CMAKE_CROSSCOMPILING_EMULATOR, so ctest runs every test
# executable (and the package test the installed simulator) under qemu-aarch64.
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600
tested=$(date +%s)
echo "arm.sh: cross build $((built - start)) s, emulated test run $((tested - built)) s"
