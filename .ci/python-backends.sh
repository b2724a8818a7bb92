#!/usr/bin/env bash
# Runs the variant-dependent Python test modules (variant_tests in
# common.sh) once per search-core variant that this CPU runs, forced with
# QARVO_BACKEND; a test checks that the forced one is active. python-3.11 has
# run the whole suite on the chosen variant.
#   .ci/python-backends.sh PYTHON [MINOR] [-- extra pytest args...]
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
python_suite_start python-backends "$@" || exit 1
tag=$(python_tag "$py")
venv="$root/build/venv-$tag"
hooks="$root/build/wheel-$tag/tests/hooks"
# Installs the current tree into the venv and builds the hooks.
QARVO_SUITE=install QARVO_INSTALL_ONLY=1 bash "$root/.ci/python-tests.sh" "$py" "$want" \
  >/dev/null || exit 1
backends=$(cd /tmp && QARVO_TESTHOOKS_DIR="$hooks" PYTHONPATH="$hooks" "$venv/bin/python" -c \
  'import _qarvo_testhooks as h; print(" ".join(h.supported_backends()))') || exit 1
cd "$root/tests/python" || exit 1
for backend in $backends; do
  echo "== python tests with QARVO_BACKEND=$backend =="
  run_pytest env QARVO_BACKEND="$backend" QARVO_TESTHOOKS_DIR="$hooks" \
    "$venv/bin/python" -m pytest -q -p no:cacheprovider "${pytest_args[@]}" "${variant_tests[@]}"
done
