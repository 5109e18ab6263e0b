#!/bin/sh
# Applies small deliberate faults to the sources one at a time and checks that
# the tests notice each of them.
#   scripts/mutate.sh [LIST]    (default tests/mutations.txt)
# A list has one change a line, four fields separated by tabs: the file, a
# piece of text that occurs exactly once in it, its replacement, and a
# `ctest -R` pattern of the tests to run. `#` starts a comment line.
# For each change: apply, build, run those tests, restore the file, and print
# `caught` (a test failed) or `SURVIVED` (all passed). A change whose text is
# not found exactly once, or that does not build, is reported as `invalid`.
# BUILD_DIR (default build) must be configured already; `ctest` runs inside a
# private network namespace when `unshare -n` is allowed.
# A tool for people, not part of CI: it rebuilds once per change.
set -u
cd "$(dirname "$0")/.."
list="${1:-tests/mutations.txt}"
build="${BUILD_DIR:-build}"
[ -f "$list" ] || { echo "mutate.sh: no list $list" >&2; exit 2; }
[ -f "$build/CMakeCache.txt" ] || { echo "mutate.sh: $build is not configured (cmake -S . -B $build)" >&2; exit 2; }
command -v python3 >/dev/null 2>&1 || { echo "mutate.sh: needs python3" >&2; exit 2; }

backup=""
target=""
restore() {
    if [ -n "$backup" ] && [ -f "$backup" ]; then
        # A fresh time stamp, so that the next build recompiles the file:
        # with its old one the mutated object would count as up to date.
        cp "$backup" "$target" && rm -f "$backup"
    fi
    backup=""
}
trap 'restore; exit 130' INT TERM
trap 'restore' EXIT

isolated() {
    if unshare -n true 2>/dev/null; then
        unshare -n sh -c 'ip link set lo up 2>/dev/null; exec "$@"' isolated "$@"
    else
        "$@"
    fi
}

caught=0
survived=0
invalid=0
line_no=0
tab="$(printf '\t')"
while IFS= read -r line || [ -n "$line" ]; do
    line_no=$((line_no + 1))
    case "$line" in '' | '#'*) continue ;; esac
    target="$(printf '%s' "$line" | cut -f1)"
    pattern="$(printf '%s' "$line" | cut -f4)"
    case "$line" in *"$tab"*"$tab"*"$tab"*) ;; *)
        echo "line $line_no: invalid (needs four tab-separated fields)"
        invalid=$((invalid + 1))
        continue ;;
    esac
    backup="$(mktemp "${TMPDIR:-/tmp}/mutate.XXXXXX")"
    cp -p "$target" "$backup" 2>/dev/null || { echo "line $line_no: invalid (no file $target)"; invalid=$((invalid + 1)); rm -f "$backup"; backup=""; continue; }
    if ! MUTATION_LINE="$line" python3 - "$target" <<'EOF'
import os, sys
fields = os.environ["MUTATION_LINE"].split("\t")
old, new = fields[1], fields[2]
path = sys.argv[1]
with open(path, encoding="utf-8") as f:
    text = f.read()
if text.count(old) != 1:
    sys.exit(1)
with open(path, "w", encoding="utf-8") as f:
    f.write(text.replace(old, new, 1))
EOF
    then
        echo "line $line_no: invalid (text not found exactly once in $target)"
        invalid=$((invalid + 1))
        restore
        continue
    fi
    if ! cmake --build "$build" -j"$(nproc)" >"$build/mutate-build.log" 2>&1; then
        echo "line $line_no: invalid (does not build; see $build/mutate-build.log) $target"
        invalid=$((invalid + 1))
        restore
        continue
    fi
    if (cd "$build" && isolated ctest -j"$(nproc)" --timeout 900 -R "$pattern" >mutate-test.log 2>&1); then
        echo "line $line_no: SURVIVED $target ($pattern)"
        survived=$((survived + 1))
    else
        echo "line $line_no: caught $target ($pattern)"
        caught=$((caught + 1))
    fi
    restore
done <"$list"

# Leave the build matching the sources again.
cmake --build "$build" -j"$(nproc)" >"$build/mutate-build.log" 2>&1
[ "$invalid" -gt 0 ] && echo "$invalid invalid (see above)"
echo "$caught caught, $survived survived"
[ "$survived" -eq 0 ] && [ "$invalid" -eq 0 ]
