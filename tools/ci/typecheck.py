"""The types stage: the type stubs of the native modules agree with them
(stubtest), and the package type-checks against them (mypy), both on the
package installed in the running Python's environment."""

from __future__ import annotations

import sys
import tempfile

from common import passes

NATIVE = [
    "vantix._threads",
    "vantix.inspection.modules.anomaly.feature_bank",
    "vantix.io.sink.plc_link",
    "vantix.io.camera.gentl_camera",
]


def main() -> int:
    # From an empty folder, so that the installed package is checked, not the tree.
    with tempfile.TemporaryDirectory() as empty:
        checks = {
            "stubtest": [sys.executable, "-m", "mypy.stubtest", *NATIVE],
            "mypy": [sys.executable, "-m", "mypy", "--cache-dir", ".", "-p", "vantix"],
        }
        results = [passes(name, command, cwd=empty) for name, command in checks.items()]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
