#!/usr/bin/env bash
# Builds the Debian packages of a build tree, unpacks them into a scratch root
# and runs the installed simulator on the bundled default scenario.
# Usage: package_test.sh BUILD_DIR CPACK VERSION DEB_ARCH LIBDIR BUILD_SIM READELF [EMULATOR...]
#   LIBDIR is the install libdir below the package prefix /usr; BUILD_SIM is the
#   build tree's aikorvane-sim; EMULATOR runs target programs of a cross build.
set -euo pipefail
build=$(realpath "$1") cpack=$2 version=$3 arch=$4 libdir=$5 build_sim=$(realpath "$6") readelf=$7
shift 7
emulator=("$@")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; echo "FAIL: cpack"; exit 1; }
plugin_deb=$scratch/pkg/aikorvane_${version}_${arch}.deb
sim_deb=$scratch/pkg/aikorvane-sim_${version}_${arch}.deb
for deb in "$plugin_deb" "$sim_deb"; do
  [ -f "$deb" ] || { ls "$scratch/pkg"; echo "FAIL: $deb not built"; exit 1; }
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$deb: architecture is not $arch"
done

# Package names of a Depends field, one a line.
depends_names() { dpkg-deb -f "$1" Depends | tr ',' '\n' | sed -E 's/^ *([^ ]+).*/\1/'; }

# The plug-in takes everything else from its host: only the C and C++ runtime
# (and a sanitizer runtime in sanitized builds) may be required.
plugin_depends=$(depends_names "$plugin_deb")
[ -n "$plugin_depends" ] || fail "plug-in package declares no runtime dependency"
while read -r name; do
  case $name in
    libc6 | libgcc-s1 | libstdc++6 | libasan[0-9]* | libubsan[0-9]* | libtsan[0-9]*) ;;
    *) fail "plug-in package depends on $name" ;;
  esac
done <<<"$plugin_depends"

sim_depends=$(dpkg-deb -f "$sim_deb" Depends)
for wanted in "aikorvane (= $version)" libjsoncpp libcurl4 libc6 libstdc++6; do
  [[ $sim_depends == *"$wanted"* ]] || fail "simulator package does not depend on $wanted: $sim_depends"
done

root=$scratch/root
dpkg-deb -x "$plugin_deb" "$root"
dpkg-deb -x "$sim_deb" "$root"
plugin=$root/usr/$libdir/aikorvane/aikorvane.so
sim=$root/usr/bin/aikorvane-sim
examples=$root/usr/share/aikorvane/examples
for file in "$plugin" "$sim" "$examples/default/settings.json" "$examples/default/trace.txt" \
  "$root/usr/share/doc/aikorvane/README.md" "$root/usr/share/man/man1/aikorvane-sim.1.gz"; do
  [ -f "$file" ] || fail "not installed: ${file#"$root"}"
done
# Each package: copyright and a changelog whose latest entry is this version.
for package in aikorvane aikorvane-sim; do
  doc=$root/usr/share/doc/$package
  grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$doc/copyright" || fail "$package: no machine-readable copyright file"
  [[ $(gzip -dc "$doc/changelog.gz" | head -1) == "aikorvane ($version) "* ]] ||
    fail "$package: the changelog's latest entry is not $version"
done
# The plug-in's private folder is not the dynamic linker's business.
plugin_control=$(dpkg-deb --ctrl-tarfile "$plugin_deb" | tar -t)
grep -Eq 'postinst|postrm' <<<"$plugin_control" && fail "plug-in package has maintainer scripts"
"$readelf" -d -W "$plugin" | grep -qF 'Library soname: [aikorvane.so]' ||
  fail "installed plug-in has no soname aikorvane.so"

# The installed simulator finds the installed plug-in and examples from its own
# location, whatever the working directory.
mkdir -p "$scratch/cwd" && cd "$scratch/cwd"
status=0
"${emulator[@]}" "$sim" >"$scratch/installed.out" 2>"$scratch/installed.err" || status=$?
[ "$status" -eq 0 ] || { cat "$scratch/installed.err"; fail "installed simulator exited with $status"; }
grep -q '^== aikorvane-sim summary' "$scratch/installed.out" || fail "no summary from the installed simulator"
grep -qx 'errors: 0' "$scratch/installed.out" || fail "installed simulator reports errors"
grep -Eq '^rounds: [1-9]' "$scratch/installed.out" || fail "installed simulator ran no round"
# Same scenario, same output as the build tree's simulator (packaging strips
# the binaries; it must not change what they do).
"${emulator[@]}" "$build_sim" >"$scratch/build.out" 2>/dev/null || true
cmp -s "$scratch/installed.out" "$scratch/build.out" ||
  { diff "$scratch/build.out" "$scratch/installed.out" | head -20; fail "installed and build-tree output differ"; }

check=$("${emulator[@]}" "$sim" --check 2>&1) || fail "installed simulator rejects the default settings"
[[ $check == *"settings accepted: $examples/default/settings.json"* ]] ||
  fail "installed simulator did not take the installed examples: $check"

# Without its installed plug-in it must fail rather than load another one.
mv "$plugin" "$scratch/moved.so"
if missing=$("${emulator[@]}" "$sim" 2>&1); then fail "installed simulator ran without its plug-in"; fi
[[ $missing == *"$plugin"* ]] || fail "installed simulator did not look for $plugin: $missing"

echo "packages: $(cd "$scratch/pkg" && ls ./*.deb | tr '\n' ' ')"
echo "aikorvane Depends: $(dpkg-deb -f "$plugin_deb" Depends)"
echo "aikorvane-sim Depends: $sim_depends"
if [ "$failures" -eq 0 ]; then echo "package test passed"; else echo "$failures failures"; exit 1; fi
