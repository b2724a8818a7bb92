"""Where a haystack's bytes lie in memory, and a copy placed where asked.

A peer's speed can depend on the address of the bytes it searches: a search
whose main loads are aligned when the haystack starts on a vector boundary
and straddle two cache lines when it does not runs at two speeds on a CPU
where a straddling load costs more (StringZilla's find on the Intel Xeon of
core/TUNING.md, 2026-12-11 third session). CPython puts a `bytes` object's
data 32 bytes past the start of its allocation, so a haystack of the harness
starts on a 64-byte boundary only now and then (never when glibc maps its
block on its own), while a region mapped with `mmap` starts on a page. A harness
that names the placement it timed (and can ask for one) makes rows
comparable from one run to the next.
"""

import ctypes
import ctypes.util
import os
import sys

# glibc's mallopt parameter for the size from which malloc maps memory of its
# own: such a block starts 16 bytes into a page, so the data of every large
# bytes object lands at the same offset; raising the threshold lets spacers
# move large copies as they move small ones.
_M_MMAP_THRESHOLD = -3
_heap_for_large: list[bool] = []  # one entry once the threshold is raised


def requested_phase() -> int | None:
    """The phase QARVO_BENCH_PHASE asks the harnesses to place haystacks at
    (bytes past a 64-byte boundary), or None: where the allocator puts them."""
    value = os.environ.get("QARVO_BENCH_PHASE", "")
    return int(value) if value else None


def describe() -> str:
    """The placement a run's haystacks take, for its environment record (the
    real-data sources' haystacks; constructed inputs lie where allocated)."""
    phase = requested_phase()
    if phase is None:
        return "as allocated by CPython"
    return f"real-data haystacks {phase} bytes past a 64-byte boundary (QARVO_BENCH_PHASE)"


def data_address(data: bytes) -> int:
    """The address of the first byte of `data` (CPython keeps it in place)."""
    return ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p).value or 0


def phase_of(data: bytes, alignment: int = 64) -> int:
    """How many bytes past a multiple of `alignment` the data starts."""
    return data_address(data) % alignment


def _keep_large_blocks_on_the_heap() -> None:
    if _heap_for_large or not sys.platform.startswith("linux"):
        return
    libc_name = ctypes.util.find_library("c")
    if libc_name is None:
        return
    libc = ctypes.CDLL(libc_name)
    if hasattr(libc, "mallopt") and libc.mallopt(_M_MMAP_THRESHOLD, 1 << 30) == 1:
        _heap_for_large.append(True)


# What placed() may hold in failed copies of a small haystack before it gives up.
_HELD_BYTES = 1 << 20


def placed(data: bytes, phase: int, alignment: int = 64) -> bytes:
    """An equal copy of `data` whose first byte lies `phase` bytes past a
    multiple of `alignment`, as CPython's allocator hands one out; raises
    RuntimeError when no copy lands there within a few attempts."""
    if not 0 <= phase < alignment:
        raise ValueError(f"phase {phase} is not below the alignment {alignment}")
    _keep_large_blocks_on_the_heap()
    # Copies that land elsewhere stay allocated until one lands at the phase:
    # each is carved after the last, so their phases step through the
    # multiples of 16 (malloc's grain) unless a copy's block is a multiple of
    # the alignment long, which the spacers between them break.
    # Small copies may first come from a free list whose blocks all sit at
    # other phases (pymalloc's pools hand freed blocks out first): they get
    # more attempts, up to about _HELD_BYTES held at once.
    attempts = max(alignment // 4, min(1024, _HELD_BYTES // max(len(data), 1)))
    held = []
    for attempt in range(attempts):
        copy = bytes(memoryview(data))
        if phase_of(copy, alignment) == phase:
            return copy
        held.append(copy)
        held.append(bytearray(1024 + 16 * (attempt % 4)))
    raise RuntimeError(
        f"no copy of {len(data)} bytes landed {phase} past a multiple of {alignment}"
    )
