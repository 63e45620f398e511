"""Hypothesis profiles, chosen with BARWORKS_HYPOTHESIS_PROFILE.

"suite" (the default) is quick enough for every test run; "leaks" has few
examples, since the refleak pass repeats each test six times on the slow
debug interpreter; "thorough" runs 2,000 examples per class, for the
sanitizer build. Every profile has a fixed seed, so a failure reproduces
with the same command.
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
settings.register_profile("suite", max_examples=60, stateful_step_count=20, **_common)
settings.register_profile("leaks", max_examples=15, stateful_step_count=20, **_common)
settings.register_profile("thorough", max_examples=2000, stateful_step_count=12, **_common)

PROFILE = os.environ.get("BARWORKS_HYPOTHESIS_PROFILE", "suite")
SETTINGS = settings.get_profile(PROFILE)
