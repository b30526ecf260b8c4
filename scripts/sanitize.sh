#!/usr/bin/env bash
# Builds the whole project with clang and a sanitizer, then runs every test there under a virtual
# X server, as scripts/test.sh does.
#
#   scripts/sanitize.sh [address|thread] [ctest arguments]
#
# address (the default): AddressSanitizer and UndefinedBehaviorSanitizer, into build-sanitize/. A
#   report ends the process that made it, so the test that ran it fails and ctest shows the report.
# thread: ThreadSanitizer, into build-tsan/. Every race is reported (the process goes on) and the
#   process then ends with status 66, so the test fails; scripts/tsan.supp names the reports
#   inside system libraries that are left out, each with its reason.
#
# NOVARO_SANITIZE_BUILD_ONLY=1 only builds; NOVARO_SANITIZE_TARGETS="a b" builds only those
# targets (e.g. novaro_run_directory for the player alone). The first run is slow: a second full
# build, about half an hour on 2 cores; the suite takes 1.5x (address) to 3x (thread) as long as
# under scripts/test.sh.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mode=address
case "${1:-}" in
  address | thread) mode=$1; shift ;;
esac

# The project's own packages come from scripts/install-deps.sh; the sanitizers need clang and its
# runtimes on top.
if ! command -v clang++ > /dev/null ||
  ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed"; then
  echo "scripts/sanitize.sh needs clang and its sanitizer runtimes:" >&2
  echo "  sudo apt-get install clang libclang-rt-14-dev   (after scripts/install-deps.sh)" >&2
  exit 1
fi

# Set before building too: the build runs the data generator and lists the tests of each suite.
export ALSOFT_DRIVERS=${ALSOFT_DRIVERS:-null}
NOVARO_SANITIZER=$mode
. "$top/scripts/sanitizer-env.sh"
if [ "$mode" = thread ]; then
  build="$top/build-tsan"
  sanitizers="-fsanitize=thread"
  flags="$sanitizers -fno-omit-frame-pointer"
else
  build="$top/build-sanitize"
  sanitizers="-fsanitize=address,undefined"
  flags="$sanitizers -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
fi

launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" -DCMAKE_SHARED_LINKER_FLAGS="$sanitizers" \
  -DCMAKE_MODULE_LINKER_FLAGS="$sanitizers" > /dev/null
targets=()
for target in ${NOVARO_SANITIZE_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$build" "${targets[@]}"
if [ "${NOVARO_SANITIZE_BUILD_ONLY:-0}" = 1 ]; then
  exit 0
fi

cd "$build"
"$top/scripts/with-private-x.sh" -screen 0 1280x1024x24 +extension GLX -noreset -- \
  ctest --output-on-failure -j 2 "$@"
