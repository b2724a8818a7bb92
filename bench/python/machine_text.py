"""Machine-written text for the real-data harness: logs, CSV and JSON.

Logs start with this machine's own package logs (`/var/log/dpkg.log`,
`/var/log/alternatives.log`, `/var/log/apt/term.log`) and go on with lines of
the same three shapes, generated from the package names and versions those
logs hold (a short fixed list where they are missing). CSV and JSON records
(ids, timestamps, names, e-mail addresses, amounts, status words) come from a
generator alone. Every generator depends only on its seed and on the logs it
was given, so every run scans the same bytes on one machine.

Needles of machine-written text differ from prose needles: every byte of a
line is common (digits, separators, the letters of a few field names), so a
filter that tests the needle's rarest bytes by a table for prose meets them
constantly. `near_miss` cuts them from the text itself.
"""

import random
from collections import Counter
from collections.abc import Iterator
from pathlib import Path

LOG_FILES = (
    Path("/var/log/dpkg.log"),
    Path("/var/log/alternatives.log"),
    Path("/var/log/apt/term.log"),
)
SIZE = 4 << 20  # each source's length: a 1 MiB haystack is never a repetition

_FALLBACK_PACKAGES = (
    ("libc-bin", "2.36-9+deb12u10"),
    ("libsystemd0", "252.38-1~deb12u1"),
    ("git-man", "1:2.39.5-0+deb12u2"),
    ("python3.11-minimal", "3.11.2-6+deb12u6"),
    ("gnupg-utils", "2.2.40-1.1"),
    ("libssl3", "3.0.17-1~deb12u2"),
)
_STATES = (
    "half-installed",
    "unpacked",
    "half-configured",
    "installed",
    "triggers-pending",
    "triggers-awaited",
    "not-installed",
    "config-files",
)
_ARCHES = ("amd64", "all", "amd64", "amd64")
_ALTERNATIVES = ("pager", "editor", "cc", "c++", "python", "awk", "pinentry", "vi", "rmt")


def _real_logs() -> bytes:
    parts = []
    for path in LOG_FILES:
        try:
            parts.append(path.read_bytes())
        except OSError:
            continue
    return b"".join(parts)


def _packages(logs: bytes) -> list[tuple[str, str]]:
    """(name, version) pairs of the dpkg lines that install or upgrade one."""
    seen: dict[str, str] = {}
    for line in logs.splitlines():
        fields = line.split()
        if len(fields) == 6 and fields[2] in (b"install", b"upgrade"):
            name = fields[3].split(b":")[0].decode("ascii", "replace")
            seen.setdefault(name, fields[5].decode("ascii", "replace"))
    return sorted(seen.items()) or list(_FALLBACK_PACKAGES)


class _Clock:
    """Timestamps that advance by a few seconds per line."""

    def __init__(self, rng: random.Random):
        self.rng = rng
        self.seconds = 0

    def tick(self, most: int = 3) -> None:
        self.seconds += self.rng.randint(0, most)

    def stamp(self) -> str:
        day, rest = divmod(self.seconds, 86400)
        month, day = divmod(day, 28)
        year, month = divmod(month, 12)
        return (
            f"{2025 + year:04d}-{month + 1:02d}-{day + 1:02d} "
            f"{rest // 3600:02d}:{rest // 60 % 60:02d}:{rest % 60:02d}"
        )


def _dpkg_block(rng: random.Random, clock: _Clock, packages) -> Iterator[str]:
    clock.seconds += rng.randint(60, 4 * 3600)
    yield f"{clock.stamp()} startup archives unpack\n"
    for name, version in rng.sample(packages, min(len(packages), rng.randint(1, 12))):
        arch = rng.choice(_ARCHES)
        clock.tick()
        if rng.random() < 0.3:
            old = version.rsplit("-", 1)[0] + "-" + str(rng.randint(1, 9))
            yield f"{clock.stamp()} upgrade {name}:{arch} {old} {version}\n"
        else:
            yield f"{clock.stamp()} install {name}:{arch} <none> {version}\n"
        for state in ("half-installed", "unpacked"):
            yield f"{clock.stamp()} status {state} {name}:{arch} {version}\n"
        clock.tick()
        yield f"{clock.stamp()} configure {name}:{arch} {version} <none>\n"
        for state in ("unpacked", "half-configured", "installed"):
            yield f"{clock.stamp()} status {state} {name}:{arch} {version}\n"
        if rng.random() < 0.4:
            trigger = rng.choice(packages)
            yield f"{clock.stamp()} status {rng.choice(_STATES)} {trigger[0]}:amd64 {trigger[1]}\n"
            yield f"{clock.stamp()} trigproc {trigger[0]}:amd64 {trigger[1]} <none>\n"


def _term_block(rng: random.Random, clock: _Clock, packages) -> Iterator[str]:
    clock.seconds += rng.randint(60, 4 * 3600)
    date, time_of_day = clock.stamp().split()
    yield f"\nLog started: {date}  {time_of_day}\n"
    chosen = rng.sample(packages, min(len(packages), rng.randint(1, 20)))
    for number, (name, version) in enumerate(chosen):
        arch = rng.choice(_ARCHES)
        deb = f"{name}_{version.replace(':', '%3a')}_{arch}.deb"
        yield f"Selecting previously unselected package {name}.\n"
        yield f"Preparing to unpack .../{number:03d}-{deb} ...\n"
        yield f"Unpacking {name} ({version}) ...\n"
    for name, version in chosen:
        yield f"Setting up {name} ({version}) ...\n"
    clock.tick(120)
    date, time_of_day = clock.stamp().split()
    yield f"Log ended: {date}  {time_of_day}\n\n"


def _alternatives_block(rng: random.Random, clock: _Clock, packages) -> Iterator[str]:
    clock.seconds += rng.randint(60, 4 * 3600)
    for _ in range(rng.randint(1, 6)):
        name = rng.choice(_ALTERNATIVES)
        target = rng.choice(packages)[0]
        clock.tick()
        stamp = clock.stamp()
        yield (
            f"update-alternatives {stamp}: run with --quiet --install /usr/bin/{name} "
            f"{name} /usr/bin/{target} {rng.choice((10, 20, 40, 50, 77, 100))}\n"
        )
        yield (
            f"update-alternatives {stamp}: link group {name} updated to point to "
            f"/usr/bin/{target}\n"
        )


def _fill(size: int, lines: Iterator[str], start: bytes = b"") -> bytes:
    parts, total = [start], len(start)
    for line in lines:
        data = line.encode("ascii", "replace")
        parts.append(data)
        total += len(data)
        if total >= size:
            break
    return b"".join(parts)[:size]


def logs(size: int = SIZE, seed: int = 31) -> bytes:
    """This machine's package logs, then generated lines of their shapes."""
    real = _real_logs()
    packages = _packages(real)
    rng = random.Random(seed)
    clock = _Clock(rng)
    blocks = (_dpkg_block, _dpkg_block, _term_block, _alternatives_block)

    def lines() -> Iterator[str]:
        while True:
            yield from rng.choice(blocks)(rng, clock, packages)

    return _fill(size, lines(), real[:size])


_FIRST = str.split(
    "James Mary Robert Patricia John Jennifer Michael Linda David Elizabeth William "
    "Barbara Richard Susan Joseph Jessica Thomas Sarah Charles Karen Olga Ivan Mei "
    "Wei Aisha Omar Lucia Mateo Sofia Liam Noah Emma Ava Yuki Hiro"
)
_LAST = str.split(
    "Smith Johnson Williams Brown Jones Garcia Miller Davis Rodriguez Martinez "
    "Hernandez Lopez Gonzalez Wilson Anderson Thomas Taylor Moore Jackson Martin Lee "
    "Petrov Ivanova Chen Wang Khan Rossi Muller Schmidt Tanaka Silva Novak"
)
_CITIES = str.split(
    "London Paris Berlin Madrid Rome Vienna Prague Warsaw Lisbon Dublin Oslo Tokyo "
    "Seoul Boston Chicago Denver Austin Toronto Sydney Nairobi Lagos Lima Quito"
)
_DOMAINS = ("example.com", "mail.org", "corp.net", "shop.io")
_STATUS = ("paid", "pending", "shipped", "refunded", "cancelled", "delivered")
_LEVELS = ("info", "info", "info", "debug", "warn", "error")
_METHODS = ("GET", "GET", "GET", "POST", "PUT", "DELETE")
_PATHS = ("/api/v1/orders", "/api/v1/users", "/api/v1/items", "/health", "/api/v2/search")
_CODES = (200, 200, 200, 200, 201, 204, 304, 400, 404, 500)


class _Record:
    """One record's fields, drawn from a seeded generator."""

    def __init__(self, rng: random.Random, clock: _Clock, number: int):
        clock.tick(9)
        first, last = rng.choice(_FIRST), rng.choice(_LAST)
        self.id = 100000 + number
        self.timestamp = clock.stamp().replace(" ", "T") + "Z"
        self.name = f"{first} {last}"
        self.email = f"{first.lower()}.{last.lower()}{rng.randint(1, 99)}@{rng.choice(_DOMAINS)}"
        self.city = rng.choice(_CITIES)
        self.amount = f"{rng.lognormvariate(3.5, 1.0):.2f}"
        self.quantity = rng.randint(1, 12)
        self.status = rng.choice(_STATUS)


def csv_records(size: int = SIZE, seed: int = 47) -> bytes:
    """A header and comma-separated records: id, timestamp, name, e-mail,
    city, amount, quantity, status."""
    rng = random.Random(seed)
    clock = _Clock(rng)

    def lines() -> Iterator[str]:
        yield "id,timestamp,name,email,city,amount,quantity,status\n"
        number = 0
        while True:
            r = _Record(rng, clock, number)
            number += 1
            yield (
                f"{r.id},{r.timestamp},{r.name},{r.email},{r.city},{r.amount},"
                f"{r.quantity},{r.status}\n"
            )

    return _fill(size, lines())


def json_records(size: int = SIZE, seed: int = 59) -> bytes:
    """JSON lines: a request log record per line with a nested user object."""
    rng = random.Random(seed)
    clock = _Clock(rng)

    def lines() -> Iterator[str]:
        number = 0
        while True:
            r = _Record(rng, clock, number)
            number += 1
            method, path = rng.choice(_METHODS), rng.choice(_PATHS)
            latency = f"{rng.expovariate(1 / 40):.1f}"
            yield (
                f'{{"id": {r.id}, "ts": "{r.timestamp}", "level": "{rng.choice(_LEVELS)}", '
                f'"request": {{"method": "{method}", "path": "{path}", '
                f'"status": {rng.choice(_CODES)}, "latency_ms": {latency}}}, '
                f'"user": {{"name": "{r.name}", "email": "{r.email}", "city": "{r.city}"}}, '
                f'"order": {{"amount": {r.amount}, "quantity": {r.quantity}, '
                f'"status": "{r.status}"}}}}\n'
            )

    return _fill(size, lines())


def byte_alphabet(text: bytes) -> list[int]:
    """The printable bytes the text uses, most frequent first."""
    counts = Counter(text)
    return [b for b, _ in counts.most_common() if 0x21 <= b < 0x7F]


def _same_kind(byte: int, alphabet: list[int]) -> list[int]:
    """Bytes of the alphabet of the same kind: digits, letters or punctuation."""
    ch = chr(byte)
    if ch.isdigit():
        return [b for b in alphabet if chr(b).isdigit()]
    if ch.isalpha():
        return [b for b in alphabet if chr(b).isalpha()]
    return [b for b in alphabet if not chr(b).isalnum()]


def near_miss(pool: bytes, length: int, occurs, alphabet: list[int], seed: int) -> bytes:
    """`length` bytes of a line of `pool` with one byte changed to another of
    its kind (a digit, letter or punctuation mark the text uses) that
    `occurs` says is absent. Falls back to the text's most frequent bytes in
    the first combination that is absent, for lengths where every changed
    window occurs."""
    rng = random.Random(seed * 1000 + length)
    lines = [line for line in pool.split(b"\n") if len(line) >= length]
    for _ in range(4000 if lines else 0):
        line = rng.choice(lines)
        start = rng.randrange(len(line) - length + 1)
        needle = bytearray(line[start : start + length])
        at = rng.randrange(length)
        choices = [b for b in _same_kind(needle[at], alphabet) if b != needle[at]]
        if not choices:
            continue
        needle[at] = rng.choice(choices[:16])
        if not occurs(bytes(needle)):
            return bytes(needle)
    common = alphabet[:24]
    for a in common:
        for b in common:
            for c in common:
                needle = bytes([a, b, c, a, b, c] * length)[:length]
                if not occurs(needle):
                    return needle
    raise RuntimeError(f"no absent near miss of {length} bytes")
