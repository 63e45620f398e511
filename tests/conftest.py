"""Markers every test file may use."""


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "single_pass: run once even in the refleak pass (the test counts itself)")
