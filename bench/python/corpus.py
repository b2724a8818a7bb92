"""Deterministic haystacks: pseudo-English text and random bytes.

Both generators depend only on their seed, so every run (and every backend
subprocess) scans exactly the same bytes.
"""

import itertools
import random

# Common English words, most frequent first; weights fall off as 1/rank, which
# gives the skewed letter and word frequencies of real prose. A few entries
# carry a capital or punctuation so the text has sentence-like structure.
_WORDS = """
the of and to in a is that for it as was with be by on not he I this are or his
from at which but have an had they you were their one all we can her has there
been if more when will would who so no The It In He But They said what up out
them about into time only other some could then these two may first than any
like its my new now over such our man me even most made after also did many
before must through back years where much your way well down should because
each just those people how too little state good very make world still own see
men work long get here between both life being under never day same another know
while last might us great old year off come since against go came right used take
three states himself few house use during without again place American around
however home small found thought went say part once general high upon school
every don't does got united left number course war until always away something
fact though water less public put think almost hand enough far took head yet
government system better set told nothing night end why called didn't eyes find
going look asked later knew point next program city business give group toward
young days let room president side social given present several order national
possible rather second face per among form important often things looking early
white case John become large big need four within felt along children saw best
church ever least power development light thing seemed family interest want
members mind country area others done turned although open God service certain
kind problem began different door thus help sense means whole matter perhaps
itself York times law human line above name example action company hands local
show whether five history gave today either act feet across taken past quite
question quickly quiet sequence require unique equal frequent square quarter
time. day. world. life. work. way. years, people, men, man, house, home, water,
"""
VOCABULARY = _WORDS.split()

_CUMULATIVE_WEIGHTS = list(
    itertools.accumulate(1.0 / rank for rank in range(1, len(VOCABULARY) + 1))
)

# The byte value that the random corpus never contains, so a needle holding it
# cannot match however large the haystack is.
ABSENT_RANDOM_BYTE = 0xFF


def english(size: int, seed: int = 2024) -> bytes:
    """Space-separated words drawn from VOCABULARY, cut to exactly `size` bytes."""
    rng = random.Random(seed)
    chunks: list[bytes] = []
    produced = 0
    while produced < size:
        words = rng.choices(VOCABULARY, cum_weights=_CUMULATIVE_WEIGHTS, k=20_000)
        chunk = (" ".join(words) + " ").encode("ascii")
        chunks.append(chunk)
        produced += len(chunk)
    return b"".join(chunks)[:size]


def random_bytes(size: int, seed: int = 4048) -> bytes:
    """Uniform random bytes over 0..254 (ABSENT_RANDOM_BYTE mapped to 0)."""
    table = bytes(range(ABSENT_RANDOM_BYTE)) + b"\x00"
    return random.Random(seed).randbytes(size).translate(table)


def possible_english_ngrams(n: int) -> set[bytes]:
    """Every n-gram (1 <= n <= 3) that english() could produce with any seed.

    An n-gram lies inside one word, or crosses the space between two words
    (then it uses at most n - 1 bytes of each), or, for n = 3, spans a whole
    one-letter word with the spaces around it.
    """
    words = [w.encode("ascii") for w in VOCABULARY]
    tail = n - 1
    windows = list(words)
    if tail:
        windows += [a[-tail:] + b" " + b[:tail] for a in words for b in words]
    one_letter = [w for w in words if len(w) == 1]
    windows += [a[-1:] + b" " + s + b" " + b[:1] for s in one_letter for a in words for b in words]
    return {w[i : i + n] for w in windows for i in range(len(w) - n + 1)}
