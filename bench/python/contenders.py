"""The searchers that run side by side, each prepared once per case.

Preparing (binding a method, compiling a pattern, wrapping the haystack in a
StringZilla Str) happens outside the timed loop; the timed call is the bare
search. Each contender also says how to turn its raw result into bytes.find's
answer with -1 as None, which is what every result is checked against.
"""

import os
import re
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

from workloads import Case

try:
    import stringzilla
except ImportError:  # the table then simply has no StringZilla column
    stringzilla = None

try:
    import hyperscan
except ImportError:  # nor a hyperscan column
    hyperscan = None


@dataclass(frozen=True)
class Prepared:
    call: Callable[..., Any]  # the function the timed loop calls
    args: tuple  # its positional arguments
    normalize: Callable[[Any], int | None]  # raw result -> offset or None


def _offset_or_none(found: int) -> int | None:
    return None if found < 0 else found


def _match_start(match: re.Match | None) -> int | None:
    return None if match is None else match.start()


def _same(result: int | None) -> int | None:
    return result


def bytes_find(case: Case) -> Prepared:
    return Prepared(case.haystack.find, (case.needle,), _offset_or_none)


def re_search(case: Case) -> Prepared:
    pattern = re.compile(re.escape(case.needle))
    return Prepared(pattern.search, (case.haystack,), _match_start)


def stringzilla_find(case: Case) -> Prepared:
    text = stringzilla.Str(case.haystack)
    return Prepared(text.find, (case.needle,), _offset_or_none)


def hyperscan_find_or_skip(case: Case) -> Prepared | None:
    """Hyperscan rejects an empty pattern; such cases are left to the others."""
    return hyperscan_find(case) if case.needle else None


def hyperscan_find(case: Case) -> Prepared:
    """A database compiled once, scanned with a scratch made once; the handler
    stops the scan at the first match. The needle is written as \\xHH escapes:
    the Python binding passes patterns as C strings, which would end at a NUL,
    and Hyperscan compiles such a pattern as the plain literal it is. Matches
    are reported in order of their end, which for a fixed-length literal is
    the order of their start, so the first report is the first occurrence."""
    database = hyperscan.Database(mode=hyperscan.HS_MODE_BLOCK)
    pattern = b"".join(b"\\x%02x" % byte for byte in case.needle)
    database.compile(expressions=[pattern], flags=0)
    scratch = hyperscan.Scratch(database)
    scan, terminated = database.scan, hyperscan.ScanTerminated
    found: list[int] = []
    length = len(case.needle)

    def on_match(_id, _start, end, _flags, _context):
        found.append(end - length)
        return True  # stop scanning

    def search(haystack: bytes) -> int | None:
        found.clear()
        try:
            scan(haystack, match_event_handler=on_match, scratch=scratch)
        except terminated:
            return found[0]
        return None

    return Prepared(search, (case.haystack,), _same)


@dataclass(frozen=True)
class Contender:
    name: str
    prepare: Callable[[Case], Prepared | None]  # None: not run for this case
    is_peer: bool  # peers compete for "best peer"; qarvo's entries do not


def load_qarvo():
    """Import qarvo if it is installed; QARVO_BACKEND must be set before this."""
    try:
        import qarvo
    except ImportError:
        return None
    return qarvo


def qarvo_contenders(qarvo) -> list[Contender]:
    """ "qarvo" is the routine made for the needle's length; "search_n" is the
    general one, listed again for needles of one to three bytes."""

    def specialised(case: Case) -> Prepared:
        needle = case.needle
        if len(needle) == 1:
            return Prepared(qarvo.search_one, (case.haystack, needle[0]), _same)
        if len(needle) == 2:
            return Prepared(qarvo.search_two, (case.haystack, needle), _same)
        if len(needle) == 3:
            return Prepared(qarvo.search_three, (case.haystack, needle), _same)
        return Prepared(qarvo.search_n, (case.haystack, needle), _same)

    def general_for_short(case: Case) -> Prepared | None:
        if len(case.needle) > 3:
            return None
        return Prepared(qarvo.search_n, (case.haystack, case.needle), _same)

    return [
        Contender("qarvo", specialised, is_peer=False),
        Contender("qarvo search_n", general_for_short, is_peer=False),
    ]


def peer_contenders() -> list[Contender]:
    peers = [
        Contender("bytes.find", bytes_find, is_peer=True),
        Contender("re.search", re_search, is_peer=True),
    ]
    if stringzilla is not None:
        peers.append(Contender("sz Str.find", stringzilla_find, is_peer=True))
    if hyperscan is not None:
        peers.append(Contender("hyperscan", hyperscan_find_or_skip, is_peer=True))
    return peers


def qarvo_function_name(length: int) -> str:
    return {1: "search_one", 2: "search_two", 3: "search_three"}.get(length, "search_n")


def describe_qarvo(qarvo) -> dict[str, str]:
    """Version, location and the search-core variant, as far as Python can tell."""
    if qarvo is None:
        return {"status": "not installed: qarvo columns are empty"}
    forced = os.environ.get("QARVO_BACKEND")
    info = {
        "version": getattr(qarvo, "__version__", "?"),
        "file": getattr(qarvo, "__file__", "?"),
        "backend": f"{forced} (forced by QARVO_BACKEND)"
        if forced
        else "auto (widest the CPU runs)",
    }
    try:  # the test-only extension can name the variant actually in use
        import _qarvo_testhooks

        info["backend"] += f"; test hooks report {_qarvo_testhooks.active_backend()}"
    except ImportError:
        pass
    return info
