"""What every atheris harness here shares: its command line, and the check that
a call let go of the buffers it was given.

    python3 fuzz_x.py --replay PATH...   runs each input file (or each file of a
                                         directory) once, without atheris
    python3 fuzz_x.py [libFuzzer flags]  fuzzes one_input
"""

import os
import sys


def replay(one_input, paths):
    files = []
    for path in paths:
        if os.path.isdir(path):
            files += [os.path.join(path, f) for f in sorted(os.listdir(path))]
        else:
            files.append(path)
    for path in files:
        with open(path, "rb") as f:
            one_input(f.read())
    print(f"replayed {len(files)} inputs")


def run(one_input, *instrumented):
    """Replays or fuzzes one_input; `instrumented` are the other functions whose
    branches atheris should see."""
    if sys.argv[1:2] == ["--replay"]:
        replay(one_input, sys.argv[2:])
        return
    import atheris

    for fn in (one_input, *instrumented):
        atheris.instrument_func(fn)
    atheris.Setup(sys.argv, one_input)
    atheris.Fuzz()


def check_released(*objects):
    """Nothing a call acquired is still held: a bytearray can be resized (which
    raises BufferError while an export is left), a memoryview released."""
    for obj in objects:
        if isinstance(obj, bytearray):
            obj.append(0)
            obj.pop()
        elif isinstance(obj, memoryview):
            obj.release()
