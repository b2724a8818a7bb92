#!/usr/bin/env bash
# The part of wheels.sh that runs inside the sid root (through sid-run.sh),
# where CPython 3.14 and 3.15 live; nothing is fetched there.
#   .ci/wheels-sid.sh build   wheels from build/import/qarvo-*.tar.gz with the
#                             zig in build/import/ziglang, into build/export
#   .ci/wheels-sid.sh test    each build/import/*.whl installed into a fresh
#                             environment and the Python suite run against it
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
suite_start wheels-sid
import=$root/build/import
pythons=(python3.14 python3.15)

case ${1:-} in
build)
  sdist=$(find "$import" -maxdepth 1 -name 'qarvo-*.tar.gz' | head -n 1)
  # zig keeps its builds of libc++ and the glibc stubs in a cache keyed by its
  # own path, so it lives at one path in the root, beside the per-run copies,
  # and is copied there once.
  # wheels.sh imports it only when that copy is missing.
  zig_version=${QARVO_ZIG_VERSION:-$("$import/ziglang/zig" version)}
  zig_home=$(dirname "$root")/zig-$zig_version
  if [ ! -x "$zig_home/zig" ]; then
    rm -rf "$zig_home.new"
    cp -a "$import/ziglang" "$zig_home.new" && mv -T "$zig_home.new" "$zig_home" || exit 1
  fi
  QARVO_ZIG=$zig_home/zig
  ZIG_GLOBAL_CACHE_DIR=$(dirname "$root")/zig-cache
  CXX=$root/packaging/zig-c++
  CXXFLAGS="-isystem $(pyconfig_dir "$root/build/pyconfig" /usr x86_64-linux-gnu "${pythons[@]}")"
  export QARVO_ZIG ZIG_GLOBAL_CACHE_DIR CXX CXXFLAGS
  unset CFLAGS
  mkdir -p "$root/build/sdist"
  tar -C "$root/build/sdist" --strip-components=1 -xzf "$sdist" || exit 1
  for py in "${pythons[@]}"; do
    # Debian's scikit-build-core, CMake and Ninja: no build isolation, no index.
    run_step "wheel for $py" wheel_in_shared_build "$py" "$root/build/sdist" \
      "$root/build/wheel-build" "$root/build/export" --no-build-isolation --no-index
  done
  ;;
test)
  for py in "${pythons[@]}"; do
    tag=$("$py" -c 'import sys; print("cp%d%d" % sys.version_info[:2])')
    wheel=$(find "$import" -maxdepth 1 -name "qarvo-*-$tag-$tag-*.whl" | head -n 1)
    if [ -z "$wheel" ]; then
      fail "no $tag wheel"
      continue
    fi
    echo "== installed $(basename "$wheel") on $py"
    venv=$root/build/venv-wheel-$tag
    # pytest, hypothesis and NumPy come from the root's own packages.
    if "$py" -m venv --clear --system-site-packages "$venv" &&
      "$venv/bin/python" -m pip install --quiet --disable-pip-version-check --no-index \
        --no-deps "$wheel" &&
      (cd "$root/tests/python" && "$venv/bin/python" -c \
        'import qarvo, sys; assert qarvo.__file__.startswith(sys.prefix), qarvo.__file__'); then
      pushd "$root/tests/python" >/dev/null || exit 1
      # The test modules wheels.sh names (all of them when run alone).
      read -ra wheel_tests <<<"${QARVO_WHEEL_TESTS:-.}"
      run_pytest "$venv/bin/python" -m pytest -q -p no:cacheprovider "${wheel_tests[@]}"
      popd >/dev/null || exit 1
    else
      fail "$(basename "$wheel") does not install into a fresh environment of $py"
    fi
  done
  ;;
*)
  echo "usage: $0 build|test" >&2
  exit 2
  ;;
esac
