"""Type information for qarvo, a native extension module."""

from collections.abc import Iterable, Iterator, Sequence
from typing import Final, SupportsIndex, final, overload

from typing_extensions import Buffer

__all__ = [
    "search_one",
    "search_two",
    "search_three",
    "search_n",
    "__version__",
    "find",
    "rfind",
    "count",
    "finditer",
    "find_all",
    "Finder",
    "find_any",
    "rfind_any",
    "find_not_any",
    "rfind_not_any",
    "MultiFinder",
]

__version__: Final[str]

def search_one(haystack: Buffer, needle: SupportsIndex) -> int | None:
    """Search for the first occurrence of a single byte `needle` (0-255) in `haystack`."""

def search_two(haystack: Buffer, needle: Sequence[SupportsIndex]) -> int | None:
    """Search for the first occurrence of a two-byte `needle` in `haystack`."""

def search_three(haystack: Buffer, needle: Sequence[SupportsIndex]) -> int | None:
    """Search for the first occurrence of a three-byte `needle` in `haystack`."""

def search_n(haystack: Buffer, needle: Buffer | Sequence[SupportsIndex]) -> int | None:
    """Search for the first occurrence of an arbitrary byte sequence `needle` in `haystack`."""

def find(
    haystack: Buffer,
    needle: Buffer | SupportsIndex | Sequence[SupportsIndex],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
    *,
    ignore_case: object = False,
) -> int | None:
    """The lowest offset in `haystack[start:end]` where `needle` occurs, or None."""

def rfind(
    haystack: Buffer,
    needle: Buffer | SupportsIndex | Sequence[SupportsIndex],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
    *,
    ignore_case: object = False,
) -> int | None:
    """The highest offset in `haystack[start:end]` where `needle` occurs, or None."""

def count(
    haystack: Buffer,
    needle: Buffer | SupportsIndex | Sequence[SupportsIndex],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
    *,
    overlapping: object = False,
    ignore_case: object = False,
) -> int:
    """Return the number of occurrences of `needle` in `haystack[start:end]`."""

def finditer(
    haystack: Buffer,
    needle: Buffer | SupportsIndex | Sequence[SupportsIndex],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
    *,
    overlapping: object = False,
    ignore_case: object = False,
) -> Iterator[int]:
    """An iterator over the offsets of the occurrences that `count` counts."""

def find_all(
    haystack: Buffer,
    needle: Buffer | SupportsIndex | Sequence[SupportsIndex],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
    *,
    overlapping: object = False,
    ignore_case: object = False,
) -> Offsets:
    """The offsets of the occurrences that `count` counts, as Offsets."""

@final
class Offsets(Sequence[int]):
    """What find_all returns: read-only ints that export a buffer of int64 (format 'q')."""

    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, index: SupportsIndex) -> int: ...
    @overload
    def __getitem__(self, index: slice) -> Offsets: ...
    def __buffer__(self, flags: int, /) -> memoryview: ...

@final
class Finder:
    """A needle prepared once for many searches."""

    def __new__(
        cls,
        needle: Buffer | SupportsIndex | Sequence[SupportsIndex],
        *,
        ignore_case: object = False,
    ) -> Finder: ...
    @property
    def needle(self) -> bytes:
        """The needle, as bytes."""
    @property
    def ignore_case(self) -> bool:
        """Whether ASCII letters match either case."""
    def find(
        self, haystack: Buffer, start: SupportsIndex | None = None, end: SupportsIndex | None = None
    ) -> int | None: ...
    def rfind(
        self, haystack: Buffer, start: SupportsIndex | None = None, end: SupportsIndex | None = None
    ) -> int | None: ...
    def count(
        self,
        haystack: Buffer,
        start: SupportsIndex | None = None,
        end: SupportsIndex | None = None,
        *,
        overlapping: object = False,
    ) -> int: ...
    def finditer(
        self,
        haystack: Buffer,
        start: SupportsIndex | None = None,
        end: SupportsIndex | None = None,
        *,
        overlapping: object = False,
    ) -> Iterator[int]: ...
    def find_all(
        self,
        haystack: Buffer,
        start: SupportsIndex | None = None,
        end: SupportsIndex | None = None,
        *,
        overlapping: object = False,
    ) -> Offsets: ...

def find_any(
    haystack: Buffer,
    byteset: Buffer | Sequence[SupportsIndex],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
) -> int | None:
    """The lowest offset in `haystack[start:end]` whose byte is in `byteset`, or None."""

def rfind_any(
    haystack: Buffer,
    byteset: Buffer | Sequence[SupportsIndex],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
) -> int | None:
    """The highest offset in `haystack[start:end]` whose byte is in `byteset`, or None."""

def find_not_any(
    haystack: Buffer,
    byteset: Buffer | Sequence[SupportsIndex],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
) -> int | None:
    """The lowest offset in `haystack[start:end]` whose byte is not in `byteset`."""

def rfind_not_any(
    haystack: Buffer,
    byteset: Buffer | Sequence[SupportsIndex],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
) -> int | None:
    """The highest offset in `haystack[start:end]` whose byte is not in `byteset`."""

@final
class MultiFinder:
    """A set of needles prepared once, searched for in one pass.

    A match is the leftmost one, and among the needles that occur there the first listed, as
    Python's re matches the escaped alternation of the needles; matches are (offset, index).
    """

    def __new__(
        cls,
        needles: Iterable[Buffer | SupportsIndex | Sequence[SupportsIndex]],
        *,
        ignore_case: object = False,
    ) -> MultiFinder: ...
    @property
    def needles(self) -> tuple[bytes, ...]:
        """The needles, as a tuple of bytes."""
    @property
    def ignore_case(self) -> bool:
        """Whether ASCII letters match either case."""
    def find(
        self, haystack: Buffer, start: SupportsIndex | None = None, end: SupportsIndex | None = None
    ) -> tuple[int, int] | None:
        """The first match in `haystack[start:end]` as (offset, index), or None."""
    def count(
        self, haystack: Buffer, start: SupportsIndex | None = None, end: SupportsIndex | None = None
    ) -> int:
        """The number of matches; each search goes on after the end of the previous match."""
    def finditer(
        self, haystack: Buffer, start: SupportsIndex | None = None, end: SupportsIndex | None = None
    ) -> Iterator[tuple[int, int]]:
        """The matches that `count` counts, as (offset, index) pairs, left to right."""
    def find_all(
        self, haystack: Buffer, start: SupportsIndex | None = None, end: SupportsIndex | None = None
    ) -> list[tuple[int, int]]:
        """The matches that `count` counts, as a list of (offset, index) pairs."""
