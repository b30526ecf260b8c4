#!/usr/bin/env bash
# Mutation sample: applies each hand-chosen mutant of scripts/mutants.txt to its source file in
# place, rebuilds the test programs that its tests run, runs those tests and reports whether they
# caught it. Prints per mutant killed / survived / not applicable / build failed, then the score
# (killed / applicable; a mutant that does not compile is reported and left out of the score).
#
#   scripts/mutation.sh [-j JOBS] [--timeout SECONDS] [--only REGEX] [--list FILE] [--build DIR]
#
# -j: compile jobs (1); --timeout: seconds each mutant's tests may take before they count as hung,
# which kills the mutant (600); --only: the mutants whose "NUMBER FILE: REASON" matches REGEX (e.g.
# '^(8|12) ' or 'KmzImporter'); --list: the mutant list (scripts/mutants.txt). Tests that need a
# display get an X server of the script's own.
#
# The source tree is left as it was found, whatever happens: the mutated file is copied aside
# before each edit and copied back on every exit (a trap), and a run killed outright is repaired by
# the next one from the copy it left in BUILD/mutation/. The final check compares `git diff` with
# the one at the start.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=1
timeout_seconds=600
only=""
list="$top/scripts/mutants.txt"
build="$top/build"
while [ $# -gt 0 ]; do
  case "$1" in
    -j) jobs=$2; shift 2 ;;
    -j*) jobs=${1#-j}; shift ;;
    --timeout) timeout_seconds=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --list) list=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    *) echo "scripts/mutation.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
if [ ! -f "$build/build.ninja" ]; then
  echo "scripts/mutation.sh: no configured build in $build (run scripts/build.sh first)" >&2
  exit 2
fi
# The tests that render need a display: the whole run goes under one private X server.
if [ -z "${DISPLAY:-}" ]; then
  exec "$top/scripts/with-private-x.sh" -screen 0 1024x768x24 +extension GLX -noreset -- \
    "$0" -j "$jobs" --timeout "$timeout_seconds" --only "$only" --list "$list" --build "$build"
fi
export ALSOFT_DRIVERS=${ALSOFT_DRIVERS:-null}

state="$build/mutation"
mkdir -p "$state"
# One run at a time per build: two would mutate and restore each other's files.
exec 9> "$state/lock"
if ! flock -n 9; then
  echo "scripts/mutation.sh: another run is using $build (lock $state/lock)" >&2
  exit 2
fi
active="$state/active" # "<source path>" while a mutant is in place; its original is $state/original

restore() {
  if [ -f "$active" ]; then
    local source
    source=$(cat "$active")
    # Copied back with a new time stamp, so that the next build compiles the original again.
    cat "$state/original" > "$source"
    touch "$source"
    rm -f "$active" "$state/original"
  fi
}
# A run killed outright (SIGKILL, power) left its mutant in place: put the original back first.
if [ -f "$active" ]; then
  echo "Restoring $(cat "$active") left mutated by an interrupted run."
  restore
fi
trap restore EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

diff_before=$(git -C "$top" diff | sha1sum)

# mutant fields, decoded: the texts' \n, \t and \\ escapes.
decode() {
  python3 -c 'import sys; s = sys.argv[1]; out = []; i = 0
while i < len(s):
    if s[i] == "\\" and i + 1 < len(s):
        out.append({"n": "\n", "t": "\t", "\\": "\\"}.get(s[i + 1], "\\" + s[i + 1])); i += 2
    else:
        out.append(s[i]); i += 1
sys.stdout.write("".join(out))' "$1"
}

# Writes FILE with ORIGINAL replaced by REPLACEMENT; status 3 when ORIGINAL is not there exactly once.
apply_mutant() {
  python3 - "$1" "$2" "$3" << 'EOF'
import sys
path, original, replacement = sys.argv[1:4]
with open(path, encoding="utf-8") as f:
    text = f.read()
if text.count(original) != 1:
    sys.exit(3)
with open(path, "w", encoding="utf-8") as f:
    f.write(text.replace(original, replacement))
EOF
}

# The test programs (ninja targets) that the tests matching a regex run.
targets_of() {
  ctest --test-dir "$build" -R "$1" --show-only=json-v1 2> /dev/null | python3 -c '
import json, os, sys
names = set()
for test in json.load(sys.stdin).get("tests", []):
    if test.get("command"):
        names.add(os.path.basename(test["command"][0]))
print(" ".join(sorted(names)))'
}

mapfile -t lines < <(grep -v -e '^#' -e '^[[:space:]]*$' "$list")
files=() originals=() replacements=() regexes=() reasons=() programs=() numbers=()
number=0
for line in "${lines[@]}"; do
  number=$((number + 1))
  IFS=$'\t' read -r file original replacement regex reason first <<< "$line"
  if [ -n "$only" ] && ! printf '%d %s: %s\n' "$number" "$file" "$reason" | grep -q -E -- "$only"; then
    continue
  fi
  files+=("$file") originals+=("$original") replacements+=("$replacement")
  regexes+=("$regex") reasons+=("$reason") programs+=("${first:-}") numbers+=("$number")
done
total=$number
count=${#files[@]}
if [ "$count" -eq 0 ]; then
  echo "scripts/mutation.sh: no mutant selected" >&2
  exit 2
fi

log="$state/log"
: > "$log"
build_targets() {
  # shellcheck disable=SC2086
  ninja -C "$build" -j "$jobs" $1 >> "$log" 2>&1
}
run_tests() {
  timeout -s KILL $((timeout_seconds + 60)) \
    ctest --test-dir "$build" -R "$1" --timeout "$timeout_seconds" --stop-on-failure >> "$log" 2>&1
}

# Every test regex must pass on the unmutated tree, or its mutants would count as killed by a
# failure that was there already.
echo "Building and running each mutant's tests on the unmutated tree (log: $log)..."
declare -A baseline targets_for
for i in $(seq 0 $((count - 1))); do
  regex=${regexes[$i]}
  [ -n "${baseline[$regex]+x}" ] && continue
  # Tests that GoogleTest's discovery lists only once their program is built name it in a sixth field.
  if [ -n "${programs[$i]}" ] && ! build_targets "${programs[$i]}"; then
    echo "scripts/mutation.sh: the unmutated tree does not build (${programs[$i]}): see $log" >&2
    exit 1
  fi
  targets=$(targets_of "$regex")
  targets_for[$regex]=$targets
  if [ -z "$targets" ]; then
    baseline[$regex]="no test"
  elif ! build_targets "$targets"; then
    echo "scripts/mutation.sh: the unmutated tree does not build ($targets): see $log" >&2
    exit 1
  elif run_tests "$regex"; then
    baseline[$regex]=ok
  else
    baseline[$regex]="fails unmutated"
  fi
  [ "${baseline[$regex]}" = ok ] || echo "  tests '$regex': ${baseline[$regex]}"
done

killed=0 survived=0 inapplicable=0 broken=0
survivors=()
for i in $(seq 0 $((count - 1))); do
  file=${files[$i]} regex=${regexes[$i]} reason=${reasons[$i]}
  original=$(decode "${originals[$i]}")
  replacement=$(decode "${replacements[$i]}")
  label="$(printf '%2d/%d' "${numbers[$i]}" "$total") $file: $reason"
  source="$top/$file"
  started=$SECONDS
  if [ "${baseline[$regex]}" != ok ]; then
    verdict="not applicable (tests '$regex': ${baseline[$regex]})"
    inapplicable=$((inapplicable + 1))
  elif [ ! -f "$source" ]; then
    verdict="not applicable (no such file)"
    inapplicable=$((inapplicable + 1))
  else
    cp "$source" "$state/original"
    echo "$source" > "$active"
    set +e
    apply_mutant "$source" "$original" "$replacement"
    applied=$?
    set -e
    echo "=== mutant ${numbers[$i]}: $file: $reason" >> "$log"
    if [ "$applied" -eq 3 ]; then
      rm -f "$active" "$state/original"
      verdict="not applicable (original text not found once)"
      inapplicable=$((inapplicable + 1))
    elif [ "$applied" -ne 0 ]; then
      echo "scripts/mutation.sh: could not edit $file" >&2
      exit 1
    elif ! build_targets "${targets_for[$regex]}"; then
      verdict="build failed"
      broken=$((broken + 1))
    elif run_tests "$regex"; then
      verdict="SURVIVED"
      survived=$((survived + 1))
      survivors+=("$label")
    else
      verdict="killed"
      killed=$((killed + 1))
    fi
    restore
  fi
  printf '%-16s %s (%s, %ds)\n' "${verdict%% (*}" "$label" "$regex" $((SECONDS - started))
  case "$verdict" in "not applicable ("*) echo "                   ${verdict#not applicable }" ;; esac
done

# The build left as the tree is, so that the next test run tests the real code.
echo "Rebuilding the unmutated programs..."
all_targets=$(printf '%s\n' "${targets_for[@]}" | tr ' ' '\n' | sort -u | tr '\n' ' ')
[ -n "${all_targets// /}" ] && build_targets "$all_targets"

applicable=$((killed + survived))
echo
echo "mutants: $count; killed $killed, survived $survived, not applicable $inapplicable, build failed $broken"
if [ "$applicable" -gt 0 ]; then
  echo "score: $killed / $applicable = $((100 * killed / applicable))%"
fi
for survivor in "${survivors[@]}"; do
  echo "  survived: $survivor"
done
if [ "$(git -C "$top" diff | sha1sum)" != "$diff_before" ]; then
  echo "scripts/mutation.sh: the source tree differs from the start (git diff)" >&2
  exit 1
fi
echo "source tree as found (git diff unchanged)"
