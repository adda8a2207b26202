"""What the installed distribution gives a user beyond the function itself:
its version in the package metadata, the typed stub (checked with mypy
against the demo and against calls it must reject), and a README whose
Python examples run as written."""

import ast
import importlib.metadata
import importlib.util
import os
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import Quorvelc

ROOT = Path(__file__).resolve().parents[2]
IMPORT_SYSTEM_NAMES = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}


def _project_version():
    text = (ROOT / "pyproject.toml").read_text()
    project = text.split("[project]", 1)[1].split("\n[", 1)[0]
    return re.search(r'^version\s*=\s*"([^"]+)"', project, re.MULTILINE).group(1)


def test_version_is_in_the_metadata_not_the_namespace():
    assert importlib.metadata.version("Quorvelc") == _project_version()
    assert set(vars(Quorvelc)) == IMPORT_SYSTEM_NAMES | {"RImage_asSDLSurface"}


def test_stub_is_installed_beside_the_module_and_as_stub_package():
    module_dir = Path(importlib.util.find_spec("Quorvelc").origin).parent
    source = (ROOT / "Quorvelc.pyi").read_text()
    for installed in (module_dir / "Quorvelc.pyi", module_dir / "Quorvelc-stubs" / "__init__.pyi"):
        assert installed.is_file(), f"{installed} is missing"
        assert installed.read_text() == source, f"{installed} differs from Quorvelc.pyi"
    recorded = {str(f) for f in importlib.metadata.files("Quorvelc")}
    assert {"Quorvelc.pyi", "Quorvelc-stubs/__init__.pyi", "Quorvel/py.typed"} <= recorded


def test_stub_parses_on_python_3_9_and_matches_the_module():
    tree = ast.parse((ROOT / "Quorvelc.pyi").read_text(), feature_version=(3, 9))
    functions = {n.name for n in tree.body if isinstance(n, ast.FunctionDef)}
    runtime = {name for name in vars(Quorvelc) if name not in IMPORT_SYSTEM_NAMES}
    assert functions == runtime
    # Anything else the stub defines is a Protocol, which exists for type checkers only.
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            assert [ast.unparse(b) for b in node.bases] == ["Protocol"], node.name


# File name -> (code, the mypy error codes it must get). Each file uses the
# installed stub; the demo is checked as it is.
MYPY_CASES = {
    "accepted.py": (
        """
        from typing import Optional
        import pygame
        import Quorvelc

        class Wrapper:
            def __init__(self, this: str) -> None:
                self.this = this

        class ReadOnly:
            @property
            def this(self) -> str:
                return "NULL"

        def area(image: Optional[str]) -> int:
            surface: Optional[pygame.Surface] = Quorvelc.RImage_asSDLSurface(image)
            if surface is None:
                return 0
            return surface.get_width() * surface.get_height()

        area("NULL")
        Quorvelc.RImage_asSDLSurface(Wrapper("NULL"))
        Quorvelc.RImage_asSDLSurface(ReadOnly())
        Quorvelc.RImage_asSDLSurface(None)
    """,
        set(),
    ),
    "integer_argument.py": (
        """
        import Quorvelc
        Quorvelc.RImage_asSDLSurface(42)
    """,
        {"arg-type"},
    ),
    "keyword_argument.py": (
        """
        import Quorvelc
        Quorvelc.RImage_asSDLSurface(image="NULL")
    """,
        {"call-arg"},
    ),
    "this_not_text.py": (
        """
        import Quorvelc
        class Wrapper:
            this = 7
        Quorvelc.RImage_asSDLSurface(Wrapper())
    """,
        {"arg-type"},
    ),
    "none_unchecked.py": (
        """
        import Quorvelc
        Quorvelc.RImage_asSDLSurface("NULL").get_width()
    """,
        {"union-attr"},
    ),
    "uses_quorvel.py": (
        """
        import array
        import pygame
        import Quorvel

        pixels = array.array("B", bytes(12))
        surface: pygame.Surface = Quorvel.frombuffer(pixels, (2, 2), "RGB", pitch=6)
        record: Quorvel.RImage = Quorvel.record_for(pixels, size=(2, 2), format="RGB")
        width: int = record.width
        text: str = Quorvel.pointer_text(record) + Quorvel.pointer_text(0)
        kept = Quorvel.fromrecord(text)
        if kept is not None:
            kept.get_width()
        with Quorvel.pixels(surface) as view:
            shape: tuple[int, ...] = view.shape
            order: str = view.format
    """,
        set(),
    ),
    "quorvel_misused.py": (
        """
        import Quorvel
        Quorvel.frombuffer(bytearray(3), (1, 1), format=3)
        Quorvel.pointer_text("NULL")
        Quorvel.fromrecord("NULL").get_width()
    """,
        {"arg-type", "union-attr"},
    ),
    "version_attribute.py": (
        """
        import Quorvelc
        print(Quorvelc.__version__)
    """,
        {"attr-defined"},
    ),
}


@pytest.fixture(scope="module")
def mypy_errors(tmp_path_factory):
    """Runs mypy --strict once over the demo and the cases; gives the error
    codes per file name."""
    pytest.importorskip("mypy", reason="mypy is not installed (pip install '.[test]')")
    work = tmp_path_factory.mktemp("mypy")
    files = [str(ROOT / "examples" / "demo.py")]
    for name, (code, _) in MYPY_CASES.items():
        (work / name).write_text(textwrap.dedent(code))
        files.append(name)
    # Run outside the checkout, so that only the installed stub can be found.
    done = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--show-error-codes",
            "--no-error-summary",
            "--cache-dir",
            str(work / ".cache"),
            *files,
        ],
        cwd=work,
        capture_output=True,
        text=True,
        timeout=300,
        check=False,
    )
    assert done.returncode in (0, 1), f"mypy crashed:\n{done.stdout}\n{done.stderr}"
    errors = {}
    for line in done.stdout.splitlines():
        found = re.match(r"(.+?):\d+: error: .*\[([\w-]+)\]$", line)
        if found:
            errors.setdefault(Path(found.group(1)).name, set()).add(found.group(2))
    return errors, done.stdout


def test_mypy_accepts_the_demo(mypy_errors):
    errors, output = mypy_errors
    assert "demo.py" not in errors, output


@pytest.mark.parametrize("name", sorted(MYPY_CASES))
def test_mypy_holds_calls_to_the_stub(mypy_errors, name):
    errors, output = mypy_errors
    assert errors.get(name, set()) == MYPY_CASES[name][1], output


def _readme_python_blocks():
    text = (ROOT / "README.md").read_text()
    return re.findall(r"^```python\n(.*?)^```", text, re.MULTILINE | re.DOTALL)


def test_readme_shows_a_runnable_conversion():
    assert any("RImage_asSDLSurface" in block for block in _readme_python_blocks())


@pytest.mark.parametrize("block", _readme_python_blocks(), ids=lambda block: block.strip().splitlines()[0][:40])
def test_readme_python_examples_run_as_written(block, tmp_path):
    if "import numpy" in block:
        pytest.importorskip("numpy", reason="the example shows numpy arrays")
    # As a user would paste it: a fresh interpreter, outside the checkout.
    done = subprocess.run(
        [sys.executable, "-c", block],
        cwd=tmp_path,
        env=dict(os.environ, SDL_VIDEODRIVER="dummy"),
        capture_output=True,
        text=True,
        timeout=60,
        check=False,
    )
    assert done.returncode == 0, f"exit {done.returncode}\n{done.stdout}\n{done.stderr}"


# `Quorvel.RImage` is the record's one declaration: the user-facing programs
# use it rather than a copy that could drift from the layout the tests check.
@pytest.mark.parametrize("program", ["examples/demo.py", "README.md"])
def test_programs_use_the_one_record_declaration(program):
    text = (ROOT / program).read_text()
    if program == "README.md":
        text = next(b for b in _readme_python_blocks() if "RImage_asSDLSurface(" in b)
    tree = ast.parse(text)
    assert not [n.name for n in ast.walk(tree) if isinstance(n, ast.ClassDef) and n.name == "RImage"]
    imported = {
        a.name for n in ast.walk(tree) if isinstance(n, ast.ImportFrom) and n.module == "Quorvel" for a in n.names
    }
    assert {"RImage", "pointer_text"} <= imported
