#!/usr/bin/env bash
# Installs qarvo into a fresh virtual environment of the given interpreter,
# builds the test-only extension beside it and runs the Python suites.
#   .ci/python-tests.sh [python-executable] [extra pytest args...]
# QARVO_SYSTEM_SITE=1 lets the venv see the interpreter's own packages (used
# inside the Debian root, where pytest, hypothesis and numpy come from apt).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
py=${1:-python3}
shift || true

tag=$("$py" -c 'import sys; print(sys.implementation.cache_tag + sys.abiflags)')
venv="$root/build/venv-$tag"
hooks="$root/build/hooks-$tag"

venv_args=(--clear)
[ "${QARVO_SYSTEM_SITE:-0}" = 1 ] && venv_args+=(--system-site-packages)
"$py" -m venv "${venv_args[@]}" "$venv"
vpy="$venv/bin/python"

pip_quiet=(--quiet --disable-pip-version-check)
build_args=()
if [ "${QARVO_SYSTEM_SITE:-0}" != 1 ]; then
  "$vpy" -m pip install "${pip_quiet[@]}" pytest hypothesis numpy mypy
else
  # The build backend (scikit-build-core) comes from the interpreter's own
  # packages too, so the install needs no package index at all.
  build_args=(--no-build-isolation --no-index)
fi
# Development build: warnings are errors.
"$vpy" -m pip install "${pip_quiet[@]}" "${build_args[@]}" \
  -Ccmake.define.QARVO_WERROR=ON -Cbuild-dir="$root/build/wheel-$tag" "$root"

cmake -S "$root" -B "$hooks" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPython_EXECUTABLE="$vpy" -DQARVO_BUILD_TESTS=ON -DQARVO_WERROR=ON >/dev/null
cmake --build "$hooks" --target qarvo_testhooks -j2 >/dev/null

cd "$root/tests/python"
echo "== python tests on $("$vpy" -c 'import sys; print(sys.version.split()[0], sys.abiflags or "")') =="
QARVO_TESTHOOKS_DIR="$hooks/tests/hooks" "$vpy" -m pytest -q -p no:cacheprovider "$@" .
