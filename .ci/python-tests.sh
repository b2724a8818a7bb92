#!/usr/bin/env bash
# Installs qarvo into a fresh virtual environment of the given interpreter,
# builds the test-only extension beside it and runs the Python suites.
#   .ci/python-tests.sh PYTHON [MINOR] [-- extra pytest args...]
# PYTHON is an executable; with MINOR (e.g. 3.11) it must be that version: a
# missing or different interpreter fails the suite instead of testing another.
# QARVO_SYSTEM_SITE=1 lets the venv see the interpreter's own packages (used
# inside the Debian root, where pytest, hypothesis and numpy come from apt).
# QARVO_SUITE names the suite on the closing line; QARVO_INSTALL_ONLY=1 stops
# after the installation and the build of the test-only extension.
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
python_suite_start "" "$@" || exit 1

tag=$(python_tag "$py")
venv="$root/build/venv-$tag"
build="$root/build/wheel-$tag"
hooks="$build/tests/hooks"

# What the installation below was made from: the tree (commit, changes, new
# files) and the settings that reach the build. A later suite of the same run
# on the same interpreter (python-backends, python-large) finds it unchanged
# and skips the fresh environment, the installs and the builds.
installed_from=$({
  git -C "$root" rev-parse HEAD && git -C "$root" diff HEAD &&
    (cd "$root" && git ls-files -z --others --exclude-standard | xargs -0 -r sha256sum)
  echo "${QARVO_SYSTEM_SITE:-0} ${CFLAGS:-} ${CXXFLAGS:-} ${LDFLAGS:-} $("$py" -VV)"
} 2>/dev/null | sha256sum | cut -d' ' -f1)
stamp="$venv/.qarvo-installed-from"
vpy="$venv/bin/python"
if [ -x "$vpy" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$installed_from" ] &&
  compgen -G "$hooks/_qarvo_testhooks*.so" >/dev/null; then
  echo "python-tests: $venv already holds this tree's build"
else
  rm -f "$stamp"
  install_and_build=1
fi

if [ -n "${install_and_build:-}" ]; then
  venv_args=(--clear)
  [ "${QARVO_SYSTEM_SITE:-0}" = 1 ] && venv_args+=(--system-site-packages)
  "$py" -m venv "${venv_args[@]}" "$venv" || exit 1

  pip_quiet=(--quiet --disable-pip-version-check)
  build_args=()
  if [ "${QARVO_SYSTEM_SITE:-0}" != 1 ]; then
    "$vpy" -m pip install "${pip_quiet[@]}" pytest hypothesis numpy mypy || exit 1
  else
    # The build backend (scikit-build-core) comes from the interpreter's own
    # packages too, so the install needs no package index at all.
    build_args=(--no-build-isolation --no-index)
  fi
  # Development build: warnings are errors. The install builds the module
  # alone; the test-only extension is then built in the same directory, from
  # the objects the installed module was linked from.
  "$vpy" -m pip install "${pip_quiet[@]}" "${build_args[@]}" \
    -Ccmake.define.QARVO_WERROR=ON -Ccmake.define.QARVO_BUILD_TESTS=ON \
    -Cbuild.targets=qarvo -Cbuild-dir="$build" "$root" || exit 1
  cmake --build "$build" --target qarvo_testhooks -j "$jobs" >/dev/null || exit 1
  echo "$installed_from" >"$stamp"
fi

# Only the installation, for scripts that run the suites their own way.
if [ "${QARVO_INSTALL_ONLY:-0}" = 1 ]; then
  pass
  exit 0
fi

# A debug interpreter's leak checks count only code built with Py_DEBUG.
if [[ "$(basename "$venv")" == *d ]]; then
  run_step "built against the debug configuration" \
    bash "$root/.ci/check-debug-build.sh" "$build"
fi

cd "$root/tests/python" || exit 1
echo "== python tests on $("$vpy" -c 'import sys; print(sys.version.split()[0], sys.abiflags)') =="
run_pytest env QARVO_TESTHOOKS_DIR="$hooks" "$vpy" -m pytest -q -p no:cacheprovider "${pytest_args[@]}" .
