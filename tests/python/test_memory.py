"""Running out of memory: a needle sized by the caller raises MemoryError and
the process goes on; an internal allocation ends it with a report naming the
size."""

import os
import signal
import sys
import textwrap

import pytest
import qarvo
from conftest import UNDER_ASAN, run_child

needs_plain_allocator = pytest.mark.skipif(
    UNDER_ASAN, reason="the sanitizer's operator new ends the process on any failed allocation"
)


class Claims:
    """A sequence whose __len__ claims `length` items and whose every item is 1."""

    def __init__(self, length):
        self.length = length

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        return 1


@needs_plain_allocator
@pytest.mark.parametrize("length", [sys.maxsize, 1 << 62], ids=["maxsize", "2**62"])
def test_needle_longer_than_memory_raises_memory_error(length):
    haystack = bytearray(b"xxabcx")
    needle = Claims(length)
    before = sys.getrefcount(haystack), sys.getrefcount(needle)
    for _ in range(3):
        with pytest.raises(MemoryError) as info:
            qarvo.search_n(haystack, needle)
        assert type(info.value) is MemoryError
        assert info.value.args == ()
        del info
    assert (sys.getrefcount(haystack), sys.getrefcount(needle)) == before
    haystack.extend(b"!")  # BufferError if the haystack's export was kept
    assert qarvo.search_n(haystack, b"abc") == 2


# The call of the issue report, in a child limited to about 3 GB of address
# space: the needle claims 2**40 items. bytes() of it raises MemoryError in the
# same setting, and so must search_n, with the haystack released after it.
LIMITED_CHILD = textwrap.dedent(
    """
    import resource, sys
    import qarvo

    limit = 3_000_000 * 1024
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

    class S:
        def __len__(self):
            return 1 << 40

        def __getitem__(self, i):
            return 1

    haystack = bytearray(b"..abc..")
    for make in (bytes, lambda s: qarvo.search_n(haystack, s)):
        try:
            make(S())
        except MemoryError as e:
            print(type(e).__name__, e.args)
        else:
            print("no error")
    haystack.extend(b"released")
    print(qarvo.search_n(haystack, b"abc"), sys.getrefcount(haystack))
    """
)


@needs_plain_allocator
def test_oversized_needle_under_an_address_space_limit():
    child = run_child(LIMITED_CHILD, os.pathsep.join(p for p in sys.path if p))
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == ["MemoryError ()", "MemoryError ()", "2 2"]
    assert child.stderr == ""


@needs_plain_allocator
def test_internal_allocation_failure_ends_the_process_naming_the_size(hooks):
    assert hooks.allocate_internally(64) >= 64
    size = 1 << 45
    code = f"import _qarvo_testhooks as h; h.allocate_internally({size}); print('survived')"
    child = run_child(code, os.path.dirname(hooks.__file__))
    assert child.returncode == -signal.SIGABRT, child
    assert f"memory allocation of {size} bytes failed\n" in child.stderr
    assert "survived" not in child.stdout
    assert "Traceback" not in child.stderr
