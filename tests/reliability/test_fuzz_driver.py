"""The fuzzing driver against the installed module: its seed corpus replays
cleanly, and it does notice a wrong answer, a wrong refusal or a feed answer
one ulp off. The driver
leans on the conversion account and the models, so a change to either that
it does not follow shows up here rather than as a crash in a fuzzing run."""

import math
import sys
from pathlib import Path

import pytest

import barworks

FUZZ = Path(__file__).resolve().parents[2] / "fuzz"
sys.path.insert(0, str(FUZZ))

import driver  # noqa: E402
from hostile import Refusal  # noqa: E402

SEEDS = sorted((FUZZ / "corpus").iterdir())


def test_the_seed_corpus_is_small_and_varied():
    assert 20 <= len(SEEDS) <= 100
    built = set()
    for seed in SEEDS:
        run = driver.Run(seed.read_bytes())
        keep = run.keep
        run.keep = lambda live, keep=keep: (built.add(repr(live.row)), keep(live))
        run.go()
    assert built == {repr(row) for row in driver.CONSTRUCTED}


@pytest.mark.parametrize("seed", SEEDS, ids=[seed.name for seed in SEEDS])
def test_seed_replays_cleanly(seed):
    driver.Run(seed.read_bytes()).go()


# The two checks of the driver itself run once in the refleak pass: the
# failures they provoke carry tracebacks through pytest's own machinery,
# which keeps a few of them; nothing of the module is involved.
@pytest.mark.single_pass
def test_a_wrong_answer_is_a_mismatch(monkeypatch):
    monkeypatch.setattr(driver, "same_result", lambda row, got, want: False)
    with pytest.raises(driver.Mismatch, match="the model"):
        for seed in SEEDS:
            driver.Run(seed.read_bytes()).go()


@pytest.mark.single_pass
def test_a_wrong_refusal_is_a_mismatch(monkeypatch):
    # Every keyword binding is expected to fail with a message nobody gives.
    monkeypatch.setattr(driver, "binding", lambda *call: Refusal(TypeError, "never said"))
    with pytest.raises(driver.Mismatch, match="never said"):
        for seed in SEEDS:
            driver.Run(seed.read_bytes()).go()


@pytest.mark.single_pass
def test_a_feed_answer_one_ulp_off_is_a_mismatch(monkeypatch):
    feed = barworks.feed

    def off(*arguments, **options):
        answers = feed(*arguments, **options)
        if answers.dtype.kind == "f" and answers.size:
            flat = answers.reshape(-1)
            flat[-1] = math.nextafter(flat[-1], math.inf)
        return answers

    monkeypatch.setattr(barworks, "feed", off)
    with pytest.raises(driver.Mismatch, match="its twin"):
        for seed in SEEDS:
            driver.Run(seed.read_bytes()).go()


@pytest.mark.parametrize("names, positional, keywords, message", [
    (["a"], [1, 2], [], "f() takes 1 positional arguments but 2 were given"),
    ([], [1], [], "f() takes 0 positional arguments but 1 was given"),
    (["a"], [1], [("a", 2)], "f() got multiple values for argument 'a'"),
    (["a"], [], [("b", 2), ("c", 3)], "f() got an unexpected keyword argument 'b'"),
    (["a", "b"], [], [("b", 1)], "f() missing 1 required positional argument: 'a'"),
    (["a", "b", "c"], [], [], "f() missing 3 required positional arguments: 'a', 'b', and 'c'"),
    (["a", "b", "c"], [1], [], "f() missing 2 required positional arguments: 'b' and 'c'"),
])
def test_binding_account(names, positional, keywords, message):
    refusal = driver.binding("f()", names, positional, keywords)
    assert refusal.type is TypeError and refusal.message == message


def test_binding_account_fills_in_declaration_order():
    assert driver.binding("f()", ["a", "b"], [], [(driver.Name("b"), 2), ("a", 1)]) == [1, 2]
    assert driver.binding("f()", ["a"], [], [(driver.FailingName("x"), 1)]) is driver.API_FAILURE
    assert driver.binding("f()", ["a", "b", "c"], [1], [("c", 3)], defaults=(8, 9)) == [1, 8, 3]
