"""changelog.py: the version in pyproject.toml, printed when CHANGELOG.md's top
entry (`## [VERSION] - YYYY-MM-DD`) names it; exit status 1 otherwise."""

import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def main() -> int:
    project = re.search(r'^version\s*=\s*"([^"]+)"', (ROOT / "pyproject.toml").read_text(), re.MULTILINE)
    top = re.search(r"^## \[([^\]]+)\] - \d{4}-\d{2}-\d{2}$", (ROOT / "CHANGELOG.md").read_text(), re.MULTILINE)
    if not project or not top or top.group(1) != project.group(1):
        print(
            f"pyproject.toml's version {project and project.group(1)} is not the top entry"
            f" of CHANGELOG.md ({top and top.group(1)})",
            file=sys.stderr,
        )
        return 1
    print(project.group(1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
