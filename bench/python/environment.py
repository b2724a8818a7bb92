"""What the numbers were measured on: CPU, Python, qarvo and peer versions."""

import os
import platform
import re
import sys
from pathlib import Path

import placement
from contenders import describe_qarvo, hyperscan, stringzilla

CPUINFO = Path("/proc/cpuinfo")


def load_average() -> float:
    return os.getloadavg()[0]


def _cpuinfo_field(name: str) -> str | None:
    try:
        text = CPUINFO.read_text()
    except OSError:
        return None
    match = re.search(rf"^{name}\s*:\s*(.*)$", text, re.MULTILINE)
    return match.group(1).strip() if match else None


def cpu_model() -> str:
    return _cpuinfo_field("model name") or platform.processor() or platform.machine()


def cpu_flags() -> set[str]:
    return set((_cpuinfo_field("flags") or _cpuinfo_field("Features") or "").split())


def backends_to_compare(requested: str | None) -> list[str]:
    """The variants named, or every one this CPU can run."""
    if requested:
        return [] if requested == "none" else requested.split(",")
    if platform.machine() in ("aarch64", "arm64"):
        return ["scalar", "neon"]
    flags = cpu_flags()
    wide = [name for name in ("avx2", "avx512bw") if name in flags]
    return ["scalar", "sse2", *wide]


def describe(qarvo) -> dict[str, dict[str, str]]:
    peers = {"bytes.find, re": f"CPython {platform.python_version()}"}
    if stringzilla is not None:
        capabilities = getattr(stringzilla, "__capabilities__", ())
        peers["StringZilla"] = f"{stringzilla.__version__} ({', '.join(capabilities)})"
    else:
        peers["StringZilla"] = "not installed (pip install stringzilla)"
    if hyperscan is not None:
        peers["hyperscan"] = f"python-hyperscan {hyperscan.__version__}"
    else:
        peers["hyperscan"] = "not installed (pip install hyperscan)"
    return {
        "machine": {
            "CPU": cpu_model(),
            "cores": str(os.cpu_count()),
            "system": f"{platform.system()} {platform.release()} {platform.machine()}",
        },
        "python": {"version": sys.version.split()[0], "executable": sys.executable},
        "haystacks": {"placement": placement.describe()},
        "qarvo": describe_qarvo(qarvo),
        "peers": peers,
    }
