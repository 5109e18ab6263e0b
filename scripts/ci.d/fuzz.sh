#!/bin/sh
# Short fuzzing run of the alarm client's frame reader and JSON routing.
# Leak checking needs ptrace, which CI containers may not allow.
cd "$(dirname "$0")/../.." || exit 1
ASAN_OPTIONS="detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}" exec sh scripts/fuzz.sh 10
