"""Type information for qarvo, a native extension module."""

from collections.abc import Sequence
from typing import Final, SupportsIndex

from typing_extensions import Buffer

__all__ = ["search_one", "search_two", "search_three", "search_n", "__version__"]

__version__: Final[str]

def search_one(haystack: Buffer, needle: SupportsIndex) -> int | None:
    """Search for the first occurrence of a single byte `needle` (0-255) in `haystack`."""

def search_two(haystack: Buffer, needle: Sequence[SupportsIndex]) -> int | None:
    """Search for the first occurrence of a two-byte `needle` in `haystack`."""

def search_three(haystack: Buffer, needle: Sequence[SupportsIndex]) -> int | None:
    """Search for the first occurrence of a three-byte `needle` in `haystack`."""

def search_n(haystack: Buffer, needle: Buffer | Sequence[SupportsIndex]) -> int | None:
    """Search for the first occurrence of an arbitrary byte sequence `needle` in `haystack`."""
