#!/usr/bin/env bash
# Builds the Debian package of the player and its -dbgsym package (the detached debug information)
# into build-package/ (installing what the build and the package tools need), then checks both with
# lintian. Prints the packages' paths and sizes.
#   --configure-only DIR   only configures a package build tree in DIR (the tests read its flags)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-package"
configure_only=0
if [ "${1:-}" = "--configure-only" ]; then
  configure_only=1
  build=${2:?--configure-only needs a folder}
fi
"$top/scripts/install-deps.sh"
tools=(dpkg-dev lintian desktop-file-utils)
if [ $configure_only -eq 1 ]; then tools=(dpkg-dev); fi
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
# Debian's hardening flags (all of them: bindnow is not in the default set), as a Debian build of
# the package would use them. They are read from the source folder so that the debug information
# names sources relative to it (-ffile-prefix-map), whoever builds it where.
flags() { (cd "$top" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"); }
cppflags=$(flags CPPFLAGS)
ldflags=$(flags LDFLAGS)
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  "-DCMAKE_C_FLAGS=$cppflags $(flags CFLAGS)" "-DCMAKE_CXX_FLAGS=$cppflags $(flags CXXFLAGS)" \
  "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags" \
  "-DCMAKE_MODULE_LINKER_FLAGS=$ldflags" \
  "${launcher[@]}" > /dev/null
if [ $configure_only -eq 1 ]; then exit 0; fi
# Only what the package holds: the player, its plugins and data, and the installed tools. One
# compile job per core (ninja's own default, cores + 2, only adds swapping on a small machine);
# NOVARO_PACKAGE_JOBS lowers it on a machine shared with other builds.
jobs=${NOVARO_PACKAGE_JOBS:-$(nproc)}
start=$(date +%s)
cmake --build "$build" --target novaro_installed -j "$jobs"
echo "Build: $(($(date +%s) - start)) s with $jobs jobs"
rm -f "$build"/novaro_*.deb "$build"/novaro-dbgsym_*.deb "$build"/novaro-dbgsym_*.ddeb
(cd "$build" && cpack -G DEB > cpack.log) || { cat "$build/cpack.log"; exit 1; }
# CPack makes the debug package as Ubuntu does (.ddeb) and leaves it as Debian would not take it:
# its md5sums name the build tree, the debug files are executable, and it has no documentation.
# It is rebuilt here as dh_strip makes one: files 0644, md5sums of the package's own paths, its
# documentation folder a link to the player's (the copyright and changelog), and a .deb.
for ddeb in "$build"/novaro-dbgsym_*.ddeb; do
  tree="$build/dbgsym-tree"
  rm -rf "$tree"
  dpkg-deb -R "$ddeb" "$tree"
  find "$tree/usr" -type f -exec chmod 0644 {} +
  sed -i '/^Package-Type: ddeb$/d' "$tree/DEBIAN/control"
  mkdir -p "$tree/usr/share/doc"
  ln -s novaro "$tree/usr/share/doc/novaro-dbgsym"
  (cd "$tree" && find usr -type f -print0 | sort -z | xargs -0 md5sum) > "$tree/DEBIAN/md5sums"
  dpkg-deb --root-owner-group --build "$tree" "${ddeb%.ddeb}.deb" > /dev/null
  rm -rf "$tree" "$ddeb"
done
package=$(ls "$build"/novaro_*.deb)
debug_package=$(ls "$build"/novaro-dbgsym_*.deb)
echo "Package: $package"
echo "Package size: $(du -k "$package" | cut -f1) KiB; installed size: $(dpkg-deb -f "$package" Installed-Size) KiB"
echo "Depends: $(dpkg-deb -f "$package" Depends)"
echo "Debug package: $debug_package ($(du -k "$debug_package" | cut -f1) KiB)"
# The desktop entries as desktop environments read them; then lintian: errors fail the build, the
# warnings left are explained in the README.
desktop-file-validate "$top"/data/package/*.desktop
lintian -EvIL +pedantic --tag-display-limit 0 --fail-on error "$package" "$debug_package"
