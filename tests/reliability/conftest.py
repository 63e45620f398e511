"""Settings shared by the reliability tests."""

import sys
from pathlib import Path

# The models live beside the per-class tests, one directory up.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

from profiles import PROFILE  # noqa: E402


def pytest_report_header(config):
    return f"barworks hypothesis profile: {PROFILE}"
