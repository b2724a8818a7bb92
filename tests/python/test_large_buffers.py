"""A haystack past 4 GiB: a 5 GiB sparse file searched through mmap by every
function, with the needles placed beyond the 32-bit range, at exact offsets.

Reading the file's hole fills about 5 GiB of page cache, which takes tens of
seconds on a busy machine, so these tests run only with QARVO_LARGE_BUFFERS=1
(CI runs them once, in a suite of their own: .ci/python-large.sh)."""

import mmap
import os
import resource
import sys

import pytest
import qarvo

SIZE = 5 << 30
# Each needle starts past 4 GiB and ends the first run of nonzero bytes; the
# rest of the file is a hole that reads as zeros.
BASE = (4 << 30) + 4093  # straddles a page boundary and every vector width
NEEDLES = {
    "search_one": (BASE + 7, b"\x01"),
    "search_two": (BASE + 11, b"\x02\x03"),
    "search_three": (BASE + 23, b"\x04\x05\x06"),
    "search_n": (BASE + 37, b"\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10"),
}
TAIL = SIZE - 3  # a last match that ends at the very end of the buffer


def room_for_a_large_mapping(directory):
    if os.environ.get("QARVO_LARGE_BUFFERS") != "1":
        return "set QARVO_LARGE_BUFFERS=1 to search a 5 GiB file"
    if sys.maxsize < 2**40:
        return "needs a 64-bit address space"
    soft, _ = resource.getrlimit(resource.RLIMIT_AS)
    if soft != resource.RLIM_INFINITY and soft < SIZE + (1 << 30):
        return f"address space limited to {soft} bytes"
    stats = os.statvfs(directory)
    if stats.f_bavail * stats.f_frsize < 64 << 20:
        return "less than 64 MiB free on the temporary file system"
    return None


@pytest.fixture(scope="module")
def large_map(tmp_path_factory):
    directory = tmp_path_factory.mktemp("large")
    reason = room_for_a_large_mapping(directory)
    if reason:
        pytest.skip(reason)
    path = directory / "sparse.bin"
    with open(path, "wb") as f:
        f.truncate(SIZE)
        for offset, needle in NEEDLES.values():
            f.seek(offset)
            f.write(needle)
        f.seek(TAIL)
        f.write(b"\xfe\xfd\xfc")
    if os.stat(path).st_blocks * 512 > 64 << 20:
        path.unlink()
        pytest.skip("the temporary file system does not keep files sparse")
    with open(path, "rb") as f:
        try:
            mapped = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        except (OSError, OverflowError) as exc:
            path.unlink()
            pytest.skip(f"cannot map 5 GiB: {exc}")
    try:
        yield mapped
    finally:
        mapped.close()
        path.unlink()


def needle_argument(name, needle):
    return needle[0] if name == "search_one" else needle


def test_every_function_finds_its_needle_past_4_gib(large_map):
    assert len(large_map) == SIZE
    for name, (offset, needle) in NEEDLES.items():
        fn = getattr(qarvo, name)
        assert fn(large_map, needle_argument(name, needle)) == offset, name
        assert large_map[offset : offset + len(needle)] == needle


def test_matches_that_end_at_the_last_byte_of_5_gib(large_map):
    assert qarvo.search_one(large_map, 0xFC) == SIZE - 1
    assert qarvo.search_two(large_map, b"\xfd\xfc") == SIZE - 2
    assert qarvo.search_three(large_map, b"\xfe\xfd\xfc") == TAIL
    assert qarvo.search_n(large_map, b"\x00\xfe\xfd\xfc") == TAIL - 1
    assert qarvo.search_n(large_map, b"\xfe\xfd\xfc\x00") is None


def test_views_offset_by_4_gib_count_from_their_own_start(large_map):
    view = memoryview(large_map)[4 << 30 :]
    try:
        offset, needle = NEEDLES["search_n"]
        assert qarvo.search_n(view, needle) == offset - (4 << 30)
        assert qarvo.search_one(view, 0xFE) == TAIL - (4 << 30)
    finally:
        view.release()
