"""The style stage: the tree stays formatted and lint-clean, ruff for
Python, clang-format and clang-tidy for C++."""

from __future__ import annotations

import sys

import clang_tidy
from common import ROOT, passes, tool


def cpp_sources() -> list[str]:
    return [
        str(p)
        for folder, pattern in (("src", "**/*"), ("tests/cpp", "*"), ("tools", "*"))
        for p in sorted((ROOT / folder).glob(pattern))
        if p.suffix in (".cpp", ".hpp")
    ]


def main() -> int:
    ruff, clang_format = tool("ruff"), tool("clang-format")
    checks = {
        "ruff check": [ruff, "check", "."],
        "ruff format": [ruff, "format", "--check", "."],
        "clang-format": [clang_format, "--dry-run", "-Werror", *cpp_sources()],
    }
    results = [passes(name, command, cwd=ROOT) for name, command in checks.items()]
    results.append(clang_tidy.main([]) == 0)
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
