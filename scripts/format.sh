#!/bin/sh
# Formats the project's C++ sources in place.
cd "$(dirname "$0")/.."
git ls-files '*.cpp' '*.h' | xargs -r clang-format -i
