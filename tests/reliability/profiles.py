"""Hypothesis profiles, chosen with BARWORKS_HYPOTHESIS_PROFILE.

"suite" (the default) is quick enough for every test run; "leaks" has few
examples, since the refleak pass repeats each test six times on the slow
debug interpreter; "thorough" runs many, for the sanitizer build. Every
profile has a fixed seed, so a failure reproduces with the same command.

A profile's examples are a budget shared by the classes a test runs one
machine for (`shared_among`), so that adding classes does not lengthen the
run.
"""

import os

from hypothesis import HealthCheck, settings

_common = dict(
    derandomize=True,
    database=None,
    deadline=None,
    print_blob=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large,
                           HealthCheck.filter_too_much],
)
# Examples over all classes of one test, and the fewest one class gets.
# The thorough budget keeps the sanitizer pass, with the rest of the suite,
# within CI's time.
_BUDGET = {"suite": 840, "leaks": 210, "thorough": 14000}
_FEWEST = 4
settings.register_profile("suite", max_examples=60, stateful_step_count=20, **_common)
settings.register_profile("leaks", max_examples=15, stateful_step_count=20, **_common)
settings.register_profile("thorough", max_examples=2000, stateful_step_count=12, **_common)

PROFILE = os.environ.get("BARWORKS_HYPOTHESIS_PROFILE", "suite")
SETTINGS = settings.get_profile(PROFILE)


def shared_among(classes, share=1.0):
    """The profile with `share` of its budget split evenly over `classes` machines."""
    examples = max(_FEWEST, int(_BUDGET[PROFILE] * share) // classes)
    return settings(SETTINGS, max_examples=examples)
