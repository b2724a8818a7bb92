#!/usr/bin/env bash
# Formatting and lint checks: clang-format on the C++ sources, ruff on the
# Python ones, shellcheck on the shell scripts.
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/../.ci/common.sh"
suite_start "${QARVO_SUITE:-lint}"
cd "$root" || exit 1
venv=build/venv-lint
if [ ! -x "$venv/bin/ruff" ]; then
  python3 -m venv --clear "$venv" &&
    "$venv/bin/python" -m pip install --quiet --disable-pip-version-check ruff || exit 1
fi
run_step "clang-format" bash -c "git ls-files -z '*.cpp' '*.hpp' | xargs -0 clang-format --dry-run --Werror"
run_step "ruff check" "$venv/bin/ruff" check .
run_step "ruff format" "$venv/bin/ruff" format --check .
mapfile -t scripts < <(git ls-files '*.sh' .ci/run 'packaging/zig-*')
run_step "shellcheck" shellcheck -x "${scripts[@]}"
