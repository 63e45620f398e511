"""Sub-interpreters are refused; the main interpreter's module keeps working.

The module keeps process-wide state (its class objects), so it binds itself
to the first interpreter that imports it. An isolated sub-interpreter is
refused by the import system (the module declares no support for one); a
legacy sub-interpreter, which would let it load, is refused by the module's
own interpreter check. Each case runs in a fresh process.
"""

import json
import os
import subprocess
import sys

SCRIPT = r"""
import json
import _interpreters
from concurrent import interpreters

import _barworks

report = {}
isolated = interpreters.create()
try:
    isolated.exec("import _barworks")
except interpreters.ExecutionFailed as failure:
    report["isolated"] = [failure.excinfo.type.__name__, failure.excinfo.msg]
finally:
    isolated.close()

legacy = _interpreters.create("legacy")
try:
    failure = _interpreters.exec(legacy, "import _barworks")
    report["legacy"] = failure and [failure.type.__name__, failure.msg]
    again = _interpreters.exec(legacy, "import _barworks")
    report["legacy again"] = again and again.type.__name__
finally:
    _interpreters.destroy(legacy)

average = _barworks.SimpleMovingAverage(2)
report["main"] = [average.next(1.0), average.next(2.0)]
report["same module"] = __import__("_barworks") is _barworks
print(json.dumps(report))
"""


def test_sub_interpreters_are_refused_and_main_keeps_working():
    result = subprocess.run([sys.executable, "-c", SCRIPT], capture_output=True, text=True,
                            timeout=120, env=os.environ)
    assert result.returncode == 0, result.stderr
    report = json.loads(result.stdout)
    assert report["isolated"][0] == "ImportError"
    assert report["legacy"][0] == "ImportError"
    assert "does not support sub-interpreters" in report["legacy"][1]
    assert report["legacy again"] == "ImportError"  # nothing was cached by the failure
    assert report["main"] == [1.0, 1.5]
    assert report["same module"] is True
