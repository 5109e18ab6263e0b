#!/bin/sh
# Short fuzzing run of the alarm client's frame reader and JSON routing.
cd "$(dirname "$0")/../.." && exec sh scripts/fuzz.sh 10
