"""Which search-core variant runs, and that forcing one takes effect."""

import os

import qarvo
from conftest import naive_find


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
