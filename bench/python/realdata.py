"""Haystacks and needles from data that nobody here wrote, and inputs built to
defeat SIMD filters.

Sources, all read from the machine: Debian's fortune files in English
(`fortunes`), Russian (`fortunes-ru`) and Chinese (`fortunes-zh`), the
running interpreter's standard library (`.py` files), the MD5 digests that
dpkg keeps for every installed package (`/var/lib/dpkg/info/*.md5sums`), and
shared libraries; and machine-written text (machine_text.py): this machine's
package logs continued by a generator of their shapes, generated CSV and JSON
records. A missing source is installed with apt-get when that is
possible, and its class is skipped otherwise.

A class's haystack of n bytes is the first n bytes of its source, repeated
when the source is shorter. Absent needles are windows of a held-out part of
the source (the last tenth, never in a haystack) that do not occur in the
haystack part; "once" plants that needle near the end; "common" needles are
frequent words whose first occurrence comes early. Machine-written text's
absent needles are near misses instead: a window of a held-out line with one
byte changed to another the text uses, 2 to 64 bytes; its common needles
are field names and separators.

A haystack lies where CPython's allocator puts it, unless QARVO_BENCH_PHASE=N
asks for a copy whose first byte lies N bytes past a 64-byte boundary
(placement.py: a peer's speed can depend on it).
"""

import os
import shutil
import subprocess
import sys
import sysconfig
from collections.abc import Iterator
from pathlib import Path

import machine_text
import placement
from workloads import KIB, MIB, Case, make_case

FORTUNES = Path("/usr/share/games/fortunes")
DPKG_INFO = Path("/var/lib/dpkg/info")
LIBRARY_DIRS = (
    Path("/usr/lib/x86_64-linux-gnu"),
    Path("/usr/lib/aarch64-linux-gnu"),
    Path("/usr/lib"),
)

# Fortune files of the Chinese package; every other top-level file is English.
CHINESE_FILES = ("chinese", "song100", "tang300")
DEBIAN_PACKAGES = {"english": "fortunes", "russian": "fortunes-ru", "chinese": "fortunes-zh"}

SIZES = (32, KIB, 100 * KIB, MIB, 64 * MIB)


def _fortune_files(directory: Path, names=None) -> list[Path]:
    if not directory.is_dir():
        return []
    files = sorted(
        p for p in directory.iterdir() if p.is_file() and p.suffix not in (".dat", ".u8")
    )
    if names is not None:
        files = [p for p in files if p.name in names]
    return files


def _read_all(paths: list[Path], limit: int) -> bytes:
    parts, total = [], 0
    for path in paths:
        try:
            data = path.read_bytes()
        except OSError:
            continue
        parts.append(data)
        total += len(data)
        if total >= limit:
            break
    return b"".join(parts)


def english() -> bytes:
    return _read_all(
        [p for p in _fortune_files(FORTUNES) if p.name not in CHINESE_FILES and not p.is_symlink()],
        16 * MIB,
    )


def russian() -> bytes:
    return _read_all(_fortune_files(FORTUNES / "ru"), 16 * MIB)


def chinese() -> bytes:
    return _read_all(_fortune_files(FORTUNES, CHINESE_FILES), 16 * MIB)


def python_source() -> bytes:
    stdlib = Path(sysconfig.get_paths()["stdlib"])
    files = sorted(p for p in stdlib.glob("*.py"))
    files += sorted(p for p in stdlib.glob("*/*.py") if "test" not in p.parts[-2])
    return _read_all(files, 16 * MIB)


def hex_digests() -> bytes:
    """The digest column of dpkg's md5sums files, one digest per line."""
    lines = []
    for path in sorted(DPKG_INFO.glob("*.md5sums")):
        try:
            for line in path.read_bytes().splitlines():
                digest = line[:32]
                if len(digest) == 32:
                    lines.append(digest)
        except OSError:
            continue
    return b"\n".join(lines) + b"\n" if lines else b""


def shared_libraries() -> bytes:
    for directory in LIBRARY_DIRS:
        if directory.is_dir():
            files = sorted(p for p in directory.glob("*.so*") if p.is_file() and not p.is_symlink())
            data = _read_all(files, 24 * MIB)
            if data:
                return data
    return b""


def install_missing(classes: list[str]) -> None:
    """apt-get the fortune packages that are missing, if this process may."""
    missing = [DEBIAN_PACKAGES[c] for c in classes if c in DEBIAN_PACKAGES and not SOURCES[c]()]
    if not missing or os.geteuid() != 0 or shutil.which("apt-get") is None:
        return
    print(f"installing {' '.join(missing)}", file=sys.stderr)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    # apt-get's progress goes to stderr: the harnesses print their results,
    # JSON among them, on stdout.
    subprocess.run(
        ["apt-get", "install", "-y", "-qq", *missing],
        env=env,
        check=False,
        stdout=sys.stderr,
    )


SOURCES = {
    "english": english,
    "russian": russian,
    "chinese": chinese,
    "python": python_source,
    "md5": hex_digests,
    "binary": shared_libraries,
    "log": machine_text.logs,
    "csv": machine_text.csv_records,
    "json": machine_text.json_records,
}
# Machine-written text: its absent needles are near misses (machine_text.py).
MACHINE = {"log", "csv", "json"}


class Source:
    """A source split into the haystack part and the held-out needle pool."""

    def __init__(self, name: str, data: bytes):
        cut = len(data) * 9 // 10
        self.name = name
        self.body = data[:cut]
        self.pool = data[cut:]
        # Needles absent from this are absent from any repetition of the body,
        # as long as they are shorter than it.
        self._doubled = self.body + self.body
        self.alphabet = machine_text.byte_alphabet(self.body[: 1 << 20])

    def haystack(self, size: int) -> bytes:
        repeats = -(-size // len(self.body))
        data = (self.body * repeats)[:size]
        phase = placement.requested_phase()
        return data if phase is None else placement.placed(data, phase)

    def occurs(self, needle: bytes) -> bool:
        return needle in self._doubled

    def absent_needle(self, length: int, utf8: bool = False) -> bytes:
        """The first pool window of `length` bytes (starting on a character
        for UTF-8 text) that the body never holds; for short lengths, where
        every pool window may occur, a pair of pool windows spliced."""
        step = max(1, len(self.pool) // 4096)
        for start in range(len(self.pool) // 3, len(self.pool) - length, step):
            if utf8 and 0x80 <= self.pool[start] < 0xC0:
                continue
            window = self.pool[start : start + length]
            if not self.occurs(window):
                return window
        for value in range(255, -1, -1):  # a byte value the body lacks
            needle = bytes([value]) * length
            if not self.occurs(needle):
                return needle
        raise RuntimeError(f"no absent needle of {length} bytes in {self.name}")


# Frequent fragments per class: first occurrence early in the haystack.
COMMON = {
    "english": (b"the", b" the ", b"and "),
    "russian": (" и ".encode(), "что".encode()),
    "chinese": ("的".encode(), "，".encode(), "不知".encode()),
    "python": (b"(", b"fn", b"let", b"def __init__(", b"self."),
    "md5": (b"\n0",),
    "binary": (b"\x00\x00\x00\x00", b"\xff\xff"),
    "log": (b" status ", b"installed", b"Setting up ", b":amd64"),
    "csv": (b",", b"\n1", b"amount", b"@example.com,"),
    "json": (b'"', b'": ', b'"id"', b'"user": {"name": "'),
}
ABSENT_LENGTHS = {
    "english": (1, 2, 4, 8, 16, 64),
    "russian": (2, 4, 8, 16, 64),
    "chinese": (3, 4, 8, 16, 64),
    "python": (4, 8, 16, 32),
    "md5": (32,),
    "binary": (4, 8, 16),
    "log": (2, 3, 8, 16, 32, 64),
    "csv": (2, 3, 8, 16, 32, 64),
    "json": (2, 3, 8, 16, 32, 64),
}
ONCE_LENGTHS = (4, 16, 64)  # md5: a digest on the last line instead
# Machine-written text: short ones too, found late.
MACHINE_ONCE_LENGTHS = (2, 3, 16, 64)
UTF8 = {"english", "russian", "chinese", "python"}


def planted(haystack: bytes, needle: bytes) -> bytes:
    """The needle written over the haystack near its end (1/32 of it before)."""
    at = len(haystack) - len(needle) - len(haystack) // 32
    return haystack[:at] + needle + haystack[at + len(needle) :]


def absent(source: Source, length: int, skip: int = 0) -> bytes:
    """An absent needle of the source's kind: for digests, a whole held-out
    digest (the `skip`-th one not in the body), else a pool window."""
    if source.name in MACHINE:
        return machine_text.near_miss(
            source.pool, length, source.occurs, source.alphabet, seed=skip + 1
        )
    if source.name != "md5":
        return source.absent_needle(length, utf8=source.name in UTF8)
    digests = (d for d in source.pool.split(b"\n") if len(d) == 32 and not source.occurs(d))
    for _ in range(skip):
        next(digests)
    return next(digests)


def real_cases(source: Source, sizes: tuple[int, ...]) -> Iterator[Case]:
    name = source.name
    group = "real"
    largest = max(sizes)
    for size in sizes:
        haystack = source.haystack(size)
        huge = size == largest and size > MIB  # one needle per kind there
        for length in ABSENT_LENGTHS[name]:
            if length < size and (not huge or length == 16 or name == "md5"):
                yield make_case(group, f"{name} absent", haystack, absent(source, length))
        if name == "md5":  # a held-out digest written over the last line
            if size >= KIB:
                needle = absent(source, 32, skip=1)
                last_line = haystack[:-33] + needle + b"\n"
                yield make_case(group, f"{name} last line", last_line, needle)
        else:
            for length in MACHINE_ONCE_LENGTHS if name in MACHINE else ONCE_LENGTHS:
                if size >= KIB and (not huge or length == 16):
                    needle = absent(source, length)
                    yield make_case(group, f"{name} once", planted(haystack, needle), needle)
        if not huge:
            for needle in COMMON[name]:
                if len(needle) < size:
                    yield make_case(group, f"{name} common", haystack, needle)


def constructed_cases(sizes: tuple[int, ...]) -> Iterator[Case]:
    """Inputs built against filters that test a few fixed needle bytes."""
    group = "constructed"
    for size in sizes:
        # One byte repeated; the needle is that byte but for one other byte
        # near its end, so its first, second and last bytes match at every
        # offset. Once with a common letter in a run of a rarer one.
        for run_byte, other in ((b"a", b"b"), (b"z", b"e")):
            run = run_byte * size
            for length in (8, 64, 128, 600):
                if length < size:
                    needle = run_byte * (length - 3) + other + run_byte * 2
                    label = f"{run_byte.decode()}-run, {other.decode()} near end"
                    yield make_case(group, label, run, needle)
        words = (b"qaz" * (size // 3 + 1))[:size]
        for length in (8, 32):
            needle = bytearray((b"qaz" * 30)[:length])
            needle[length // 2 if needle[length // 2] == ord("a") else length // 2 + 1] = ord("x")
            yield make_case(group, "qaz-run, middle differs", words, bytes(needle))
        blocks = (b"abcd" * (size // 4 + 1))[:size]
        for length in (64, 256):
            needle = bytearray((b"abcd" * 80)[:length])
            needle[length // 2] = ord("z")
            needle[-1] = ord("d")  # first, second and last bytes match at every 4th offset
            yield make_case(group, "abcd-run, long needle", blocks, bytes(needle))
        # The needle's rare byte ('Q') at every fourth position of the text,
        # never followed by the rest of the needle.
        text = (b"the Qui ck fox and Qthe lazy dog " * (size // 32 + 1))[:size]
        needle = b"the lazy Quick fox"
        yield make_case(group, "rare byte everywhere", text, needle)


def build(classes: list[str], sizes: tuple[int, ...], constructed_sizes: tuple[int, ...]):
    install_missing(classes)
    cases, skipped = [], []
    for name in classes:
        data = SOURCES[name]()
        if len(data) < 64 * KIB:
            skipped.append(name)
            continue
        cases += list(real_cases(Source(name, data), sizes))
    cases += list(constructed_cases(constructed_sizes))
    return cases, skipped
