#!/usr/bin/env bash
# Runs the Python suites once per search-core variant that this CPU runs,
# forced with QARVO_BACKEND; a test checks that the forced one is active.
#   .ci/python-backends.sh [python-executable]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
py=${1:-python3}
shift || true
tag=$("$py" -c 'import sys; print(sys.implementation.cache_tag + sys.abiflags)')
venv="$root/build/venv-$tag"
# Installs the current tree into the venv and builds the hooks (collecting the
# tests only; the runs below execute them).
bash "$root/.ci/python-tests.sh" "$py" --collect-only -q >/dev/null
hooks="$root/build/hooks-$tag/tests/hooks"
backends=$(cd /tmp && QARVO_TESTHOOKS_DIR="$hooks" PYTHONPATH="$hooks" "$venv/bin/python" -c \
  'import _qarvo_testhooks as h; print(" ".join(h.supported_backends()))')
cd "$root/tests/python"
for backend in $backends; do
  echo "== python tests with QARVO_BACKEND=$backend =="
  QARVO_BACKEND=$backend QARVO_TESTHOOKS_DIR="$hooks" \
    "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@" .
done
