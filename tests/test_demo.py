"""The demo as a user runs it: a CSV in, a table, a back-test and a PNG out;
bad files refused with one line that names the line and the column."""

import importlib.util
import os
import struct
import subprocess
import sys
import zlib
from pathlib import Path

import pytest

DEMO = Path(__file__).resolve().parents[1] / "examples" / "demo.py"

HEADER = "date,Open,High,Low,Close,Adj Close,Volume\n"
GOOD = [
    "2024-01-02,100.0,101.5,99.0,101.0,100.2,1200",
    "2024-01-03,101.0,102.0,100.5,101.8,101.0,1300.0",
    "2024-01-04,101.8,103.0,101.0,102.9,102.1,900",
    "2024-01-05,102.9,103.1,101.2,101.5,100.7,1100",
    "2024-01-08,101.5,102.4,100.1,100.4,99.6,1500",
]


@pytest.fixture(scope="module")
def demo():
    """The demo script as a module, for its parts and for failing runs that
    stop before anything is drawn."""
    found = importlib.util.spec_from_file_location("demo", DEMO)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def run(*arguments):
    return subprocess.run([sys.executable, "-P", str(DEMO), *map(str, arguments)],
                          capture_output=True, text=True, timeout=60)


def png_size(path):
    """Width and height of a PNG after checking its signature and inflating its image data."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    width, height = struct.unpack(">II", data[16:24])
    position, image = 8, b""
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        if kind == b"IDAT":
            image += data[position + 8:position + 8 + length]
        position += 12 + length
    assert len(zlib.decompress(image)) > width * height
    return width, height


def test_csv_gives_table_backtest_and_chart(tmp_path):
    # Extra columns, any header case, a byte-order mark, an integral float
    # volume and a trailing blank line are all ordinary in exported files.
    source = tmp_path / "prices.csv"
    source.write_text("\ufeff" + HEADER + "\n".join(GOOD) + "\n\n", encoding="utf-8")
    chart = tmp_path / "charts" / "demo.png"
    # Under the preloaded AddressSanitizer runtime (make check-asan) the C++
    # exceptions inside matplotlib's font code abort the interpreter, so the
    # run there covers the streaming and the back-test only.
    drawing = "libasan" not in os.environ.get("LD_PRELOAD", "")
    result = run("--csv", source, "--out", chart, *([] if drawing else ["--no-chart"]))
    assert result.returncode == 0, result.stderr
    assert "5 daily bars" in result.stdout
    assert "2024-01-08    100.40" in result.stdout
    assert "buy and hold" in result.stdout and "-0.6%" in result.stdout
    assert "µs per row" in result.stdout
    if drawing:
        assert f"Chart written to {chart}" in result.stdout
        assert png_size(chart) == (1430, 1100)
    else:
        assert not chart.exists()


LINE = "2024-01-09,100.0,101.0,99.0,100.5,100.0,{volume}"
BAD = [
    # (line 7 of the file, the message that names it)
    (LINE.format(volume="1200.5"), "line 7, column Volume: '1200.5' is not a whole number"),
    (LINE.format(volume="-3"), "line 7, column Volume: '-3' is negative"),
    (LINE.format(volume="4294967296"), "line 7, column Volume: '4294967296' is above the largest volume"),
    (LINE.format(volume="lots"), "line 7, column Volume: 'lots' is not a number"),
    ("2024-01-09,100.0,abc,99.0,100.5,100.0,10", "line 7, column High: 'abc' is not a number"),
    ("2024-01-09,100.0,101.0,99.0,nan,100.0,10", "line 7, column Close: 'nan' is not a positive finite price"),
    ("2024-01-09,100.0,101.0,99.0", "line 7, column Close: no value"),
    ("2024-01-09,100.0,101.0,99.0,,100.0,10", "line 7, column Close: no value"),
    ("2024-01-09,1,2,0.5,1.5,1.5,10,extra", "line 7, column 8: the line has 8 fields but the header names 7"),
    ("09/01/2024,1,2,0.5,1.5,1.5,10", "line 7, column Date: '09/01/2024' is not a date"),
    ("2024-01-05,1,2,0.5,1.5,1.5,10", "line 7, column Date: '2024-01-05' does not come after the row before it"),
]


@pytest.mark.parametrize("line, message", BAD, ids=[message.split("column ")[1] for _, message in BAD])
def test_bad_row_is_named_by_line_and_column(demo, capsys, tmp_path, line, message):
    source = tmp_path / "bad.csv"
    source.write_text(HEADER + "\n".join(GOOD) + "\n" + line + "\n")
    chart = tmp_path / "demo.png"
    assert demo.main(["--csv", str(source), "--out", str(chart)]) == 2
    printed = capsys.readouterr()
    assert printed.out == ""
    assert printed.err.count("\n") == 1 and message in printed.err
    assert not chart.exists()


@pytest.mark.parametrize("text, message", [
    ("Date,Open,High,Low,Close\n2024-01-02,1,2,0.5,1.5\n", "line 1, column Volume: missing from the header"),
    ("", "line 1, column Date: the file is empty"),
    (HEADER + GOOD[0] + "\n", "at least two data rows"),
])
def test_bad_file_shape(demo, capsys, tmp_path, text, message):
    source = tmp_path / "bad.csv"
    source.write_text(text)
    assert demo.main(["--csv", str(source), "--out", str(tmp_path / "demo.png")]) == 2
    printed = capsys.readouterr().err
    assert printed.count("\n") == 1 and message in printed


def test_missing_file_is_one_line(demo, capsys, tmp_path):
    assert demo.main(["--csv", str(tmp_path / "absent.csv"), "--out", str(tmp_path / "demo.png")]) == 2
    printed = capsys.readouterr().err
    assert printed.count("\n") == 1 and "cannot read the file" in printed


@pytest.mark.parametrize("closes, signals, expected", [
    # The answer at close t earns the move from t to t+1, never the move into t.
    ([100, 110, 121], [0, 0, 0], 0.21),
    ([100, 110, 121], [0, 2, 2], 0.10),
    ([100, 110, 121], [2, 0, 0], 0.10),
    ([100, 110, 99], [1, 0, 0], -0.10),
    # The last answer has no next close to trade into.
    ([100, 110, 121], [2, 2, 0], 0.0),
])
def test_long_on_buy_return_uses_no_future_close(demo, closes, signals, expected):
    assert demo.long_on_buy_return(closes, signals) == pytest.approx(expected)


def test_stream_answers_every_row_and_locates_the_extremes(demo):
    series = demo.synthetic_series(137, seed=5)
    lines = []
    out = demo.stream(series, progress=lambda *args, **kwargs: lines.append(args))
    assert lines == []
    assert len(out.sma_signal) == len(out.macd) == len(out.average_range) == 137
    window = series.closes[-demo.RANGE_DAYS:]
    # Ages counted back from the last row; among equal extremes the demo may name any.
    assert window[-1 - out.days_since_low] == min(window) == out.lowest[-1]
    assert window[-1 - out.days_since_high] == max(window) == out.highest[-1]
    assert demo.signal_changes([2, 2, 0, 0, 1, 0]) == 3


def test_progress_is_reported_for_long_inputs(demo):
    lines = []
    demo.stream(demo.synthetic_series(200, seed=1), progress=lambda text, **kwargs: lines.append(text),
                progress_above=199)
    assert len(lines) == 10 and lines[-1] == "  streamed 200 of 200 rows"
