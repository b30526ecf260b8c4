#!/usr/bin/env bash
# Builds the whole project with clang, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/ and runs every test there under a virtual X server, as scripts/test.sh does.
# A sanitizer report ends the process that made it, so the test that ran it fails.
# Arguments go to ctest (e.g. -R novaro_settings). Set NOVARO_SANITIZE_BUILD_ONLY=1 to only build.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-sanitize"
"$top/scripts/install-deps.sh"

# clang and its sanitizer runtimes, from Debian, only when missing.
missing=()
for p in clang libclang-rt-14-dev; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

sanitizers="-fsanitize=address,undefined"
flags="$sanitizers -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" -DCMAKE_SHARED_LINKER_FLAGS="$sanitizers" \
  -DCMAKE_MODULE_LINKER_FLAGS="$sanitizers" > /dev/null
cmake --build "$build"
if [ "${NOVARO_SANITIZE_BUILD_ONLY:-0}" = 1 ]; then
  exit 0
fi

# Leak checking is off: Mesa, the X libraries and OpenAL keep their allocations until exit.
# Suppressions cover system libraries only, never the project's own code.
export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:abort_on_error=0:detect_stack_use_after_return=0:strict_string_checks=0:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$top/scripts/ubsan.supp"
export ALSOFT_DRIVERS=${ALSOFT_DRIVERS:-null}
cd "$build"
xvfb-run -a -s "-screen 0 1280x1024x24 +extension GLX -noreset" \
  ctest --output-on-failure -j 2 "$@"
