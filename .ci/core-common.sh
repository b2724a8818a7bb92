# Shared by the .ci/core-*.sh scripts: the repository root, the build
# generator, and one configure+build step in a build directory of its own.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${QARVO_JOBS:-2}
generator=()
if command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi

# configure_and_build BUILD_DIR [cmake options...]
# Optimised with debug info and with assertions left on (no NDEBUG), so the
# preconditions written in the core are checked while the tests run.
configure_and_build() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" "${generator[@]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g" \
    -DQARVO_BUILD_MODULE=OFF "$@"
  cmake --build "$dir" -j "$jobs"
}

# The variants the test binary runs its suites on, from its test list.
variants_of() {
  "$@" --gtest_list_tests --gtest_filter='Backends/FindOne.EmptyRangeIsNotFoundEvenWithoutData/*' |
    awk '/^ / && /\// { split($1, parts, "/"); print parts[2] }'
}
