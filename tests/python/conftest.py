import importlib.util
import json
import os
import subprocess
import sys
from pathlib import Path

# No screen here: SDL must pick its dummy driver before pygame is imported.
os.environ["SDL_VIDEODRIVER"] = "dummy"
os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")

import pytest

TESTS_DIR = Path(__file__).resolve().parent
MARKS_VARIABLE = "QUORVELC_TEST_MARKS"

# Each fake pygame module first notes that its import was attempted.
_MARK_IMPORT = (
    "import os\nwith open(os.environ['" + MARKS_VARIABLE + "'], 'a') as marks:\n    marks.write(__name__ + '\\n')\n"
)


def _module_dir():
    found = importlib.util.find_spec("Quorvelc")
    assert found is not None and found.origin, "the built Quorvelc module is not on sys.path"
    return str(Path(found.origin).parent)


@pytest.fixture
def fake_pygame(tmp_path):
    """Writes a fake `pygame` package; gives its parent directory and the
    file in which its modules note their imports."""

    def make(base="", surface="", surflock=""):
        root = tmp_path / "fake"
        package = root / "pygame"
        package.mkdir(parents=True)
        (package / "__init__.py").write_text("")
        for name, body in (("base", base), ("surface", surface), ("surflock", surflock)):
            (package / (name + ".py")).write_text(_MARK_IMPORT + body)
        return root, tmp_path / "marks.txt"

    return make


@pytest.fixture
def run_python(tmp_path):
    """Runs `code` in a fresh interpreter that finds the built module and
    records.py (after `first_path`, if given) and gives the JSON object that
    the code prints on its last line of output."""

    def run(code, first_path=None, timeout=60):
        path = [str(first_path)] if first_path else []
        path += [_module_dir(), str(TESTS_DIR)]
        if os.environ.get("PYTHONPATH"):
            path.append(os.environ["PYTHONPATH"])
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(path), **{MARKS_VARIABLE: str(tmp_path / "marks.txt")})
        try:
            done = subprocess.run(
                [sys.executable, "-c", code],
                env=env,
                cwd=tmp_path,
                capture_output=True,
                text=True,
                timeout=timeout,
                check=False,
            )
        except subprocess.TimeoutExpired:
            pytest.fail(f"subprocess still running after {timeout} s")
        assert done.returncode == 0, f"exit {done.returncode}\n{done.stdout}\n{done.stderr}"
        return json.loads(done.stdout.strip().splitlines()[-1])

    return run
