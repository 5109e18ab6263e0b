#!/bin/sh
# Formats C++ sources in place: the files or folders given (relative to the
# project's root), or every tracked source when none are.
#   scripts/format.sh [PATH…]
set -eu
cd "$(dirname "$0")/.."
git ls-files -- "${@:-.}" | grep -E '\.(cpp|h)$' | xargs -r clang-format -i
