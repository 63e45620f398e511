"""Every python block of the README runs, and every print whose line carries
an expected result as a comment (on the call's last line, or on the comment
lines right below it) prints exactly that."""

import ast
import importlib.util
import io
import os
import pathlib
import re
import sys
import tokenize

import pytest

import _barworks

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"
TEXT = README.read_text()
BLOCK = re.compile(r"^```python\n(.*?)^```$", re.MULTILINE | re.DOTALL)


def python_blocks():
    return [pytest.param(TEXT.count("\n", 0, match.start(1)) + 1, match.group(1),
                         id=f"README.md:{TEXT.count(chr(10), 0, match.start(1)) + 1}")
            for match in BLOCK.finditer(TEXT)]


def promised_outputs(source):
    """For each print call with a promised result: its line range and the text."""
    comments, code_lines = {}, set()
    for token in tokenize.generate_tokens(io.StringIO(source).readline):
        if token.type == tokenize.COMMENT:
            comments[token.start[0]] = token.string[1:].strip()
        elif token.type not in (tokenize.NL, tokenize.NEWLINE, tokenize.INDENT, tokenize.DEDENT,
                                tokenize.ENDMARKER):
            code_lines.add(token.start[0])
    promises = []
    for node in ast.walk(ast.parse(source)):
        if not (isinstance(node, ast.Call) and isinstance(node.func, ast.Name)
                and node.func.id == "print"):
            continue
        lines = range(node.lineno, node.end_lineno + 1)
        if node.end_lineno in comments:
            promises.append((lines, comments[node.end_lineno]))
            continue
        below, following = [], node.end_lineno + 1
        while following in comments and following not in code_lines:
            below.append(comments[following])
            following += 1
        if below:
            promises.append((lines, "\n".join(below)))
    return promises


def skip_without_peers(source):
    """A block that shows a peer library (polars) runs where the peers are
    installed, and is skipped, saying so, elsewhere."""
    if os.environ.get("BARWORKS_PEERS") == "required":
        return
    for node in ast.walk(ast.parse(source)):
        names = [alias.name for alias in node.names] if isinstance(node, ast.Import) else []
        for name in names:
            if importlib.util.find_spec(name.partition(".")[0]) is None:
                pytest.skip(f"shows {name}, which lives in the peers' environment (make test)")


@pytest.mark.parametrize("first_line, source", python_blocks())
def test_readme_block_prints_what_it_promises(first_line, source):
    skip_without_peers(source)
    # Padding keeps the README's own line numbers in any traceback.
    padded = "\n" * (first_line - 1) + source
    printed = []

    def record(*values, sep=" ", end="\n", file=None, flush=False):
        caller = sys._getframe(1)
        line = caller.f_lineno if caller.f_code.co_filename == str(README) else None
        printed.append((line, sep.join(map(str, values))))

    exec(compile(padded, str(README), "exec"), {"__name__": "__readme__", "print": record})

    promises = promised_outputs(padded)
    for lines, promised in promises:
        outputs = [text for line, text in printed if line in lines]
        assert outputs, f"README.md:{lines.start}: the print promising {promised!r} never ran"
        for text in outputs:
            assert text == promised, f"README.md:{lines.start}"


def test_readme_promises_are_found():
    # A parser that found nothing would let every block pass unchecked.
    promised = sum(len(promised_outputs(source)) for _, source in
                   (param.values for param in python_blocks()))
    assert promised >= 30


@pytest.mark.parametrize("name", _barworks.__all__)
def test_class_table_lists_every_class(name):
    table = TEXT.split("## The classes", 1)[1].split("\n## ", 1)[0]
    assert re.search(rf"^\| `{name}[(` ]", table, re.MULTILINE) or f", `{name}(" in table, name
