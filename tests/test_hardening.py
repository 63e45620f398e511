"""Faults a hostile caller or an embedding program could reach: records that
were never built, a re-initialised interpreter, strings the frame cannot make,
a process ended from inside a call, and signed zeros."""

import functools
import math
import os
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import textwrap
from pathlib import Path

import pytest

import _barworks
from classes import BY_NAME, CLASSES

MODULE_DIR = str(Path(_barworks.__file__).resolve().parent)


def run_python(code):
    """Runs `code` in a fresh interpreter like this one, with the module
    (-P: the source tree is never imported in place of the build)."""
    env = dict(os.environ, PYTHONPATH=MODULE_DIR + os.pathsep + os.environ.get("PYTHONPATH", ""))
    return subprocess.run([sys.executable, "-P", "-c", textwrap.dedent(code)], env=env,
                          capture_output=True, text=True, timeout=120)


def bits(value):
    return math.copysign(1.0, value), value


# Every class's instances made without their constructor: each method and
# slot refuses with a TypeError, and freeing them is safe.
NEVER_BUILT = """
    import gc, _barworks
    from classes import BY_NAME
    name = {name!r}
    row = BY_NAME[name]
    cls = row.cls
    cls.__new__ = staticmethod(lambda cls, *a, **k: object.__new__(cls))
    hollow = cls(*row.sample)
    expected = name + " object was not initialized by its constructor"
    calls = [(method, getattr(hollow, method)) for method, _ in row.methods]
    if name == "Signal":
        calls += [("repr", lambda: repr(hollow)), ("int", lambda: int(hollow))]
        assert (hollow == 0) is False and (hollow != _barworks.Signal.BUY) is True
    for method, call in calls:
        try:
            call(row.sample_input) if method == "next" else call()
        except TypeError as error:
            assert str(error) == expected, (method, str(error))
        else:
            raise AssertionError(method + " accepted a never-built instance")
    if name == "Bar":
        from barworks import classic
        # The module's bar classes and the classic ones read a Bar apart.
        for reader in (_barworks.TrueRange(), classic.BalanceOfPower()):
            try:
                reader.next(hollow)
            except TypeError as error:
                assert str(error).endswith("': " + expected), str(error)
            else:
                raise AssertionError("a never-built Bar was read")
    del hollow
    gc.collect()
    print("ok")
"""


@pytest.mark.parametrize("name", [row.name for row in CLASSES])
def test_never_built_instance_refuses_every_call(name):
    tests = str(Path(__file__).resolve().parent)
    result = run_python(f"import sys; sys.path.insert(0, {tests!r})\n"
                        + textwrap.dedent(NEVER_BUILT).format(name=name))
    assert result.returncode == 0 and result.stdout == "ok\n", result.stderr


EMBEDDING = r"""
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static const char *const kRounds[] = {
    "import _barworks\n"
    "s = _barworks.SimpleMovingAverage(2)\n"
    "assert [s.next(x) for x in (1.0, 3.0)] == [1.0, 2.0]\n"
    "assert str(_barworks.SimpleMovingAverageCrossover(1, 2).next(1.0)) == 'Signal.HOLD'\n",
    "import _barworks\n"
    "names = [name for name, value in vars(_barworks).items()]\n"
    "assert _barworks.__all__[0] == 'Bar' and len(_barworks.__all__) == 15, _barworks.__all__\n"
    "s = _barworks.SimpleMovingAverage(3)\n"
    "assert s.next(4.0) == 4.0 and repr(_barworks.Signal.SELL) == 'Signal.SELL'\n"
    "try:\n"
    "    _barworks.SimpleMovingAverage(268435456)\n"
    "except BaseException as error:\n"
    "    assert type(error).__name__ == 'PanicException'\n",
};

int main(int argc, char **argv) {
  for (int round = 0; round < 3; ++round) {
    Py_Initialize();
    PyObject *sys_path = PySys_GetObject("path");
    PyObject *dir = PyUnicode_FromString(argv[1]);
    if (sys_path == NULL || dir == NULL || PyList_Insert(sys_path, 0, dir) < 0) return 3;
    Py_DECREF(dir);
    if (PyRun_SimpleString(kRounds[round == 0 ? 0 : 1]) != 0) return 10 + round;
    if (Py_FinalizeEx() < 0) return 20 + round;
  }
  return 0;
}
"""


@functools.cache
def embedding_program():
    """Builds the embedding program against the running interpreter, once."""
    directory = tempfile.mkdtemp(prefix="barworks-embed-")
    config = shutil.which(f"python{sysconfig.get_python_version()}{sys.abiflags}-config")
    compiler = shutil.which("cc") or shutil.which("gcc")
    if config is None or compiler is None:
        pytest.skip("no python-config or C compiler for an embedding program")
    flags = subprocess.run([config, "--cflags", "--embed", "--ldflags"], capture_output=True,
                           text=True, check=True).stdout.split()
    source = Path(directory) / "embed.c"
    source.write_text(EMBEDDING)
    program = Path(directory) / "embed"
    subprocess.run([compiler, str(source), "-o", str(program), *flags], check=True,
                   capture_output=True)
    return program


def test_interpreter_finalised_and_started_again():
    program = embedding_program()
    result = subprocess.run([str(program), MODULE_DIR], capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, (result.returncode, result.stderr)


class FailingName(str):
    def __str__(self):
        raise ValueError("no text for this name")


@pytest.mark.parametrize("call", [
    lambda: _barworks.SimpleMovingAverage(**{FailingName("bogus"): 1}),
    lambda: _barworks.SimpleMovingAverage(3).next(**{FailingName("bogus"): 1}),
    lambda: _barworks.Bar(1.0, 2.0, 0.5, 1.5, 10, **{FailingName("bogus"): 1}),
], ids=["constructor", "next", "surplus"])
def test_unprintable_keyword_name_is_an_internal_fault(call, capfd):
    with pytest.raises(BaseException) as caught:
        call()
    assert type(caught.value).__name__ == "PanicException"
    assert caught.value.args == ("Python API call failed",)
    assert "no text for this name" in capfd.readouterr().err


# str() of the conversion's TypeError runs the argument's own code, which
# asks to end the process or interrupts it: the call fails, the program goes
# on and its exit status is its own.
@pytest.mark.parametrize("raised", ["SystemExit(7)", "KeyboardInterrupt()"])
def test_error_printed_inside_a_call_never_ends_the_process(raised):
    result = run_python(f"""
        import _barworks
        class Unprintable:
            def __str__(self):
                raise {raised}
        class Price:
            def __float__(self):
                raise TypeError(Unprintable())
        try:
            _barworks.SimpleMovingAverage(3).next(Price())
        except BaseException as error:
            print(type(error).__name__, error.args)
        print("still running")
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "PanicException ('Python API call failed',)\nstill running\n"
    assert raised.split("(")[0] in result.stderr


UNDERFLOW = [1e150, 2.3e-162, 0.0, 0.0]


@pytest.mark.parametrize("name, arguments", [
    ("StandardDeviation", (2,)),
    ("SharpeRatio", (2, -1.0)),
])
def test_variance_underflowing_to_negative_zero_counts_as_zero(name, arguments):
    row = BY_NAME[name]
    indicator = row.cls(*arguments)
    reference = row.new_model(arguments)
    answers = [indicator.next(x) for x in UNDERFLOW]
    assert [bits(a) for a in answers] == [bits(reference.next(x)) for x in UNDERFLOW]
    assert bits(answers[-1]) == ((1.0, 0.0) if name == "StandardDeviation" else (1.0, math.inf))


def test_tracemalloc_sees_window_buffers():
    tracemalloc = pytest.importorskip("tracemalloc")
    if not tracemalloc.is_tracing():
        tracemalloc.start()
        started = True
    else:
        started = False
    try:
        before = tracemalloc.get_traced_memory()[0]
        windows = [_barworks.SimpleMovingAverage(100_000), _barworks.Maximum(100_000)]
        grown = tracemalloc.get_traced_memory()[0] - before
        del windows
        after = tracemalloc.get_traced_memory()[0] - before
    finally:
        if started:
            tracemalloc.stop()
    assert grown >= 2 * 800_000 and after < 100_000



# A class of the same name and instance size that another build (or anything
# else) put in _barworks's place is refused by the companion, not misread.
FOREIGN_CLASS = """
    import _barworks
    real = _barworks.SimpleMovingAverage
    slots = (real.__basicsize__ - object.__basicsize__) // 8
    fake = type("SimpleMovingAverage", (), {{"__slots__": tuple(f"s{{i}}" for i in range(slots))}})
    assert fake.__basicsize__ == real.__basicsize__
    _barworks.SimpleMovingAverage = fake
    try:
        import barworks.{module}
    except ImportError as error:
        print(error)
"""


@pytest.mark.parametrize("module", ["_native", "_state"])
def test_a_class_of_another_layout_is_not_adopted(module):
    done = subprocess.run([sys.executable, "-P", "-c", textwrap.dedent(FOREIGN_CLASS.format(module=module))],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == ("_barworks.SimpleMovingAverage does not have the instance "
                                   "layout this module was built for")
