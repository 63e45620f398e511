"""The state machines of test_stateful.py with feed and feed_bars among
their rules, on every class that streams. Apart from the others because
feed answers with numpy arrays, which the refleak pass counts apart."""

import pytest
from hypothesis.stateful import run_state_machine_as_test

from profiles import shared_among
from test_stateful import ROWS, machine_for

BATCHED = [row for row in ROWS if row.input is not None]


# Once in the refleak pass: with numpy loaded it judges by blocks alone, and
# hypothesis's own caches grow these machines by a few blocks a run for
# about eight runs. Leaks of feed itself are judged there by test_feed.py.
@pytest.mark.single_pass
@pytest.mark.parametrize("row", BATCHED, ids=repr)
def test_random_call_sequences_with_feed_match_the_model(row):
    run_state_machine_as_test(machine_for(row, batch=True), settings=shared_among(len(BATCHED), 0.2))
