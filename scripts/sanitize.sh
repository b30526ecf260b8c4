#!/usr/bin/env bash
# Builds the whole project with clang, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/ and runs every test there under a virtual X server, as scripts/test.sh does.
# A sanitizer report ends the process that made it, so the test that ran it fails and ctest shows
# the report. Arguments go to ctest (e.g. -R Settings). NOVARO_SANITIZE_BUILD_ONLY=1 only builds.
# The first run is slow: a second full build, about half an hour on 2 cores; the suite itself
# takes about 1.5x as long as under scripts/test.sh.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-sanitize"

# The project's own packages come from scripts/install-deps.sh; the sanitizers need clang and its
# runtimes on top.
if ! command -v clang++ > /dev/null ||
  ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed"; then
  echo "scripts/sanitize.sh needs clang and its sanitizer runtimes:" >&2
  echo "  sudo apt-get install clang libclang-rt-14-dev   (after scripts/install-deps.sh)" >&2
  exit 1
fi

# Set before building too: the build runs the data generator and lists the tests of each suite.
# Leak checking is off: Mesa, the X libraries and OpenAL keep their allocations until exit.
# Suppressions cover system libraries only, never the project's own code.
export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:detect_stack_use_after_return=0:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$top/scripts/ubsan.supp"
export ALSOFT_DRIVERS=${ALSOFT_DRIVERS:-null}

sanitizers="-fsanitize=address,undefined"
flags="$sanitizers -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" -DCMAKE_SHARED_LINKER_FLAGS="$sanitizers" \
  -DCMAKE_MODULE_LINKER_FLAGS="$sanitizers" > /dev/null
cmake --build "$build"
if [ "${NOVARO_SANITIZE_BUILD_ONLY:-0}" = 1 ]; then
  exit 0
fi

cd "$build"
xvfb-run -a -s "-screen 0 1280x1024x24 +extension GLX -noreset" \
  ctest --output-on-failure -j 2 "$@"
