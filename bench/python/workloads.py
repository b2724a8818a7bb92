"""The benchmark cases: a haystack, a needle, and where they come from.

Needles meant not to match are built so they cannot occur, and every case is
checked against bytes.find when it is made, so a workload can never silently
measure something other than what its label says.
"""

import itertools
from collections.abc import Iterator
from dataclasses import dataclass, field
from functools import cache

import corpus

KIB = 1 << 10
MIB = 1 << 20

NEEDLE_LENGTHS = (1, 2, 3, 4, 8, 16, 32, 64)

# English letters by frequency: needles built from the front of this list look
# like text, so scanners that hunt for the first byte meet it constantly.
LETTERS_BY_FREQUENCY = b"etaoinshrdlcumwfgypbvkjxqz"

# Ordinary words from the corpus vocabulary, used around an absent trigram.
PHRASE = (
    b"e the people were there and then the state of the world was one where "
    b"the time of the house made all of them"
)


@dataclass(frozen=True)
class Case:
    group: str  # which table the case belongs to
    corpus: str  # "english", "random" or an adversarial family
    needle: bytes
    haystack: bytes = field(repr=False)
    expected: int | None  # bytes.find's answer, -1 turned into None

    @property
    def size(self) -> int:
        return len(self.haystack)


def make_case(group: str, corpus_name: str, haystack: bytes, needle: bytes) -> Case:
    found = haystack.find(needle)
    return Case(group, corpus_name, needle, haystack, None if found < 0 else found)


@cache
def absent_english_ngram(n: int) -> bytes:
    """The first n-gram of frequent letters that pseudo-English can never hold."""
    possible = corpus.possible_english_ngrams(n)
    for letters in itertools.product(LETTERS_BY_FREQUENCY, repeat=n):
        candidate = bytes(letters)
        if candidate not in possible:
            return candidate
    raise RuntimeError(f"every {n}-gram of letters can occur in the corpus")


def english_absent_needle(length: int) -> bytes:
    """A text-like needle that cannot occur: ordinary words around an absent trigram."""
    if length <= 3:
        return absent_english_ngram(length)
    cut = length // 2 - 1
    needle = (PHRASE[:cut] + absent_english_ngram(3) + PHRASE[cut:])[:length]
    assert len(needle) == length
    return needle


def random_absent_needle(length: int, seed: int = 77) -> bytes:
    """Random bytes with the corpus' absent byte placed in the middle."""
    needle = bytearray(corpus.random_bytes(length, seed=seed + length))
    needle[length // 2] = corpus.ABSENT_RANDOM_BYTE
    return bytes(needle)


ABSENT_NEEDLE = {"english": english_absent_needle, "random": random_absent_needle}


def require_no_match(case: Case) -> Case:
    if case.expected is not None:
        raise RuntimeError(f"needle {case.needle!r} occurs in the {case.corpus} corpus")
    return case


def no_match_cases(texts: dict[str, bytes], sizes: list[int]) -> Iterator[Case]:
    for name, text in texts.items():
        for size in sizes:
            for length in NEEDLE_LENGTHS:
                needle = ABSENT_NEEDLE[name](length)
                yield require_no_match(make_case("no-match", name, text[:size], needle))


def rare_first_byte_cases(text: bytes, lengths: tuple[int, ...]) -> Iterator[Case]:
    """English no-match with a rare first byte ('q') followed by frequent ones,
    and the mirror image: frequent bytes ending in the rare one."""
    for length in lengths:
        rare_first = b"q" + PHRASE[: length - 1]
        rare_last = PHRASE[: length - 1] + b"q"
        yield require_no_match(make_case("rare-byte", "english q...", text, rare_first))
        yield require_no_match(make_case("rare-byte", "english ...q", text, rare_last))


def match_at_end_cases(texts: dict[str, bytes], sizes: list[int]) -> Iterator[Case]:
    """The needle's only occurrence is the last bytes of the haystack."""
    for name, text in texts.items():
        for size in sizes:
            for length in (1, 2, 3, 4, 16, 64):
                needle = ABSENT_NEEDLE[name](length)
                haystack = text[: size - length] + needle
                case = make_case("match-at-end", name, haystack, needle)
                assert case.expected == size - length
                yield case


def adversarial_needles(length: int) -> dict[str, bytes]:
    """Two needles that agree with a run of 'a' almost everywhere.

    "a..ab" differs only in its last byte. "a..ab a..a" differs only in the
    middle, so a filter on the first, second and last bytes passes at every
    offset of the run and the full comparison decides.
    """
    half = length // 2
    return {
        "a^(m-1) b": b"a" * (length - 1) + b"b",
        "a^k b a^k": b"a" * half + b"b" + b"a" * half,
    }


def adversarial_cases(sizes: list[int], lengths: tuple[int, ...]) -> Iterator[Case]:
    run = b"a" * max(sizes)
    for length in lengths:
        for family, needle in adversarial_needles(length).items():
            for size in sizes:
                yield require_no_match(make_case("adversarial", family, run[:size], needle))


def per_call_cases(text: bytes) -> Iterator[Case]:
    """Tiny haystacks, where the cost of one call outweighs the scan."""
    for size in (16, 64):
        for length in (1, 2, 3, 4, 8, 16):
            if length < size:
                needle = english_absent_needle(length)
                yield require_no_match(make_case("per-call", "english", text[:size], needle))


def doubling(start: int, stop: int) -> list[int]:
    sizes = []
    while start <= stop:
        sizes.append(start)
        start *= 2
    return sizes
