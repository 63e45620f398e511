"""Settings shared by the reliability tests."""

import sys
from pathlib import Path

# The models live beside the per-class tests, one directory up.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

from profiles import PROFILE  # noqa: E402


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "single_pass: run once even in the refleak pass (the test counts itself)")


def pytest_report_header(config):
    return f"barworks hypothesis profile: {PROFILE}"
