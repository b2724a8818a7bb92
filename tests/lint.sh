#!/usr/bin/env bash
# Formatting and lint checks: clang-format on the C++ sources, ruff on the
# Python ones.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
venv=build/venv-lint
[ -x "$venv/bin/ruff" ] || { python3 -m venv --clear "$venv" &&
  "$venv/bin/python" -m pip install --quiet --disable-pip-version-check ruff; }
git ls-files '*.cpp' '*.hpp' | xargs clang-format --dry-run --Werror
"$venv/bin/ruff" check .
"$venv/bin/ruff" format --check .
echo "lint: OK"
