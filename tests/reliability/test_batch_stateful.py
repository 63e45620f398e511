"""The state machines of test_stateful.py with feed and feed_bars among
their rules, on every class that streams. Apart from the others because
feed answers with numpy arrays, which the refleak pass counts apart."""

import pytest
from hypothesis.stateful import run_state_machine_as_test

from profiles import shared_among
from test_stateful import ROWS, machine_for

BATCHED = [row for row in ROWS if row.input is not None]


def _warm_up():
    # The first machine run fills caches in hypothesis and numpy that the
    # refleak pass would otherwise count against the first test as growth.
    run_state_machine_as_test(machine_for(BATCHED[0], batch=True),
                              settings=shared_among(len(BATCHED), 0.2))


_warm_up()


@pytest.mark.parametrize("row", BATCHED, ids=repr)
def test_random_call_sequences_with_feed_match_the_model(row):
    run_state_machine_as_test(machine_for(row, batch=True), settings=shared_among(len(BATCHED), 0.2))
