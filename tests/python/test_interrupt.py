# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Ctrl-C during a build: the KeyboardInterrupt raised in the diagnostic
# callback stops the build and comes out of check(), in a child Python
# process, whether the signal arrives while the library builds (a terminal's
# Ctrl-C) or is raised inside the callback itself.
import signal
import subprocess
import sys
import time

# About a second of building: 150,000 lines, a warning every tenth.
CHILD = r"""
import signal, sys, folioset
from folioset import _api
macro = (b"@CONVERT:X=1px\n" + b"Some text on a line of the fax page\n" * 9) * 15000
kept = []
if sys.argv[1] == "in-callback":
    record = _api._Diagnostics._record
    def raising(self, d):
        if not kept and len(self.list) == 99:
            kept.append(self)
            signal.raise_signal(signal.SIGINT)
        record(self, d)
    _api._Diagnostics._record = raising
print("building", flush=True)
try:
    folioset.check(macro)
    print("finished", flush=True)
except KeyboardInterrupt:
    print("recorded", len(kept[0].list) if kept else -1, flush=True)
    raise
"""


def test_ctrl_c_stops_the_build_and_raises_keyboard_interrupt():
    for how in ("from-terminal", "in-callback"):
        child = subprocess.Popen([sys.executable, "-c", CHILD, how], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True)
        assert child.stdout.readline() == "building\n"
        if how == "from-terminal":
            time.sleep(0.2)
            child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
        assert child.returncode != 0, (how, out, err)
        assert "KeyboardInterrupt" in err and "Exception ignored" not in err, (how, err)
        assert "finished" not in out
        if how == "in-callback":
            # The diagnostic in whose callback it came is kept, and the build
            # stopped before the next line gave another.
            assert out.split() == ["recorded", "100"]
