#!/usr/bin/env bash
# Builds the Debian package of the player into build-package/ (installing what the build and the
# package tools need), then checks it with lintian. Prints the package's path and sizes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-package"
"$top/scripts/install-deps.sh"
tools=(dpkg-dev lintian)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
fi
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  "${launcher[@]}" > /dev/null
# Only what the package holds: the player, its plugins and data, and the installed tools.
cmake --build "$build" --target novaro_installed
(cd "$build" && cpack -G DEB > cpack.log) || { cat "$build/cpack.log"; exit 1; }
package=$(ls "$build"/novaro_*.deb)
echo "Package: $package"
echo "Package size: $(du -k "$package" | cut -f1) KiB; installed size: $(dpkg-deb -f "$package" Installed-Size) KiB"
echo "Depends: $(dpkg-deb -f "$package" Depends)"
# Lintian: errors fail the build; the warnings left are explained in the README.
lintian --tag-display-limit 0 --fail-on error "$package"
