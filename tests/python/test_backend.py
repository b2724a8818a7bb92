"""Which search-core variant runs, that forcing one takes effect, and that a
name of no variant the process can run is refused at import."""

import os
import subprocess
import sys
import textwrap

import pytest
import qarvo
from conftest import naive_find

ALL_BACKENDS = ("scalar", "sse2", "neon", "avx2", "avx512bw")


def test_forced_backend_is_the_active_one(hooks):
    supported = hooks.supported_backends()
    assert supported[0] == "scalar"
    requested = os.environ.get("QARVO_BACKEND")
    if requested in supported:
        assert hooks.active_backend() == requested
    else:
        assert hooks.active_backend() == supported[-1]


def test_every_function_answers_like_a_plain_scan_on_the_active_backend():
    # A quick end-to-end check per variant; the exhaustive ones live in the
    # core suites and the property tests.
    haystack = bytes(range(256)) * 5 + b"needle in the haystack"
    for needle in (b"\xff", b"\xff\x00", b"\xfe\xff\x00", b"needle", b"haystack", b"absent!"):
        expected = naive_find(haystack, needle)
        assert qarvo.search_n(haystack, needle) == expected
        if len(needle) == 1:
            assert qarvo.search_one(haystack, needle[0]) == expected
        elif len(needle) == 2:
            assert qarvo.search_two(haystack, needle) == expected
        elif len(needle) == 3:
            assert qarvo.search_three(haystack, needle) == expected


def run_child(script, backend):
    env = {key: value for key, value in os.environ.items() if key != "QARVO_BACKEND"}
    if backend is not None:
        env["QARVO_BACKEND"] = backend
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(script)],
        env=env,
        capture_output=True,
        text=True,
        timeout=60,
        check=False,
    )


def unsupported_backend(supported):
    return next(name for name in ALL_BACKENDS if name not in supported)


@pytest.mark.parametrize(
    ("value", "reason"),
    [
        ("avx512", "is not a variant"),
        ("AVX2", "is not a variant"),
        ("sse2 ", "is not a variant"),
        (None, "is a variant this build or CPU cannot run"),
    ],
)
def test_import_refuses_a_backend_naming_no_variant_it_can_run(hooks, value, reason):
    supported = hooks.supported_backends()
    value = value if value is not None else unsupported_backend(supported)
    child = run_child("import qarvo", value)
    message = (
        f"QARVO_BACKEND='{value}' {reason}; accepted values: "
        f"{', '.join(supported)} (unset: the widest of these)"
    )
    assert child.returncode == 1, child.stderr
    assert child.stderr.splitlines()[-1] == f"ImportError: {message}"


def test_a_refused_import_can_be_retried_and_the_choice_then_stays():
    # The refusal leaves no module behind, so the import runs again once the
    # variable is fixed; from then on the variant is fixed, whatever the
    # variable says.
    child = run_child(
        """
        import os
        try:
            import qarvo
        except ImportError as error:
            print("refused:", error)
        os.environ["QARVO_BACKEND"] = ""
        import qarvo
        os.environ["QARVO_BACKEND"] = "no-such-variant"
        print(qarvo.search_n(b"abcabd" * 100 + b"xyz", b"xyz"))
        """,
        "no-such-variant",
    )
    assert child.returncode == 0, child.stderr
    lines = child.stdout.splitlines()
    assert lines[0].startswith("refused: QARVO_BACKEND='no-such-variant' is not a variant;")
    assert lines[1] == "600"
