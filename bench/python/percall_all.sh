#!/usr/bin/env bash
# The per-call benchmark on every installed CPython: every_python.sh percall.
exec "$(dirname "$0")/every_python.sh" percall "$@"
