"""The operator commands run as a user runs them: python -m vantix ... in a
subprocess, against the simulated camera and a real Modbus TCP server."""

from __future__ import annotations

import json
import re
import signal
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

from vantix.sim import PRESETS
from vantix.sim.modbus import ModbusServer, free_port

pytest.importorskip("harvesters.core")

MONO12, LEGACY = PRESETS["mono12"], PRESETS["legacy"]


def vantix(*argv: str, timeout: float = 120) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-m", "vantix", *argv], capture_output=True, text=True, timeout=timeout
    )


@pytest.fixture
def plc():
    with ModbusServer() as server:
        yield server


def test_version_and_json_documents_alone_on_stdout(plc):
    assert vantix("--version").stdout.startswith("vantix ")
    devices = json.loads(vantix("devices", "--sim", "--json").stdout)
    by_preset = {d["preset"]: d for d in devices["devices"]}
    assert by_preset["legacy"]["pixel_formats"] == list(LEGACY.pixel_formats)
    assert by_preset["bayer12"]["serial_number"] == PRESETS["bayer12"].serial
    report = json.loads(
        vantix("plc-test", "--host", plc.host, "--port", str(plc.port), "--json").stdout
    )
    assert report["ok"] is True
    listing = json.loads(vantix("features", "--camera", "mono12", "--json").stdout)
    width = next(f for f in listing["features"] if f["name"] == "Width")
    assert (width["value"], width["range"]) == (MONO12.width, f"16..{MONO12.width} step 16")


@pytest.mark.parametrize(
    ("argv", "code", "complaint"),
    [
        (["features", "--camera", "mono12", "NoSuchNode"], 3, "no node 'NoSuchNode'"),
        (["features", "--camera", "mono12", "Width=7"], 3, "failed to set node Width=7"),
        (["features", "--camera", "mono12", "--serial", "x"], 2, "--serial pick a camera"),
        (["demo", "--model", "KV"], 2, "--model pick a camera"),
        (["demo", "--frames", "4", "--train", "16"], 2, "larger than --train (16)"),
        (
            ["demo", "--camera", "legacy", "--pixel-format", "Mono12p"],
            3,
            "offers: " + ", ".join(LEGACY.pixel_formats),
        ),
        (
            ["grab", "--camera", "legacy", "--pixel-format", "Mono12p", "--out", "{tmp}"],
            3,
            "offers: " + LEGACY.pixel_formats[0],
        ),
        (["devices", "--cti", "{tmp}/none.cti"], 3, "none.cti does not exist"),
        (["devices", "--cti", "/dev/null"], 3, "is not a file or a folder"),
        (["plc", "read", "--host", "127.0.0.1", "--port", "{port}", "100"], 4, "cannot reach"),
    ],
)
def test_refusals_name_the_reason(tmp_path, argv, code, complaint):
    port = str(free_port())
    done = vantix(*(a.format(tmp=tmp_path, port=port) for a in argv))
    assert done.returncode == code, done.stderr
    assert complaint.format(tmp=tmp_path) in done.stderr and "Traceback" not in done.stderr
    assert done.stdout == ""


def test_features_set_then_read_what_the_camera_holds():
    done = vantix("features", "--camera", "mono12", "PixelFormat=Mono8", "Width=640", "Gain")
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["PixelFormat = Mono8", "Width = 640", "Gain = 0.0"]


@pytest.mark.parametrize(("kind", "trigger"), [("png", "hardware"), ("npy", "software")])
def test_grab_writes_frames_and_their_metadata(tmp_path, kind, trigger):
    done = vantix(
        "grab", "--camera", "mono12", "--frames", "3", "--pixel-format", "Mono8",
        "--trigger", trigger, "--format", kind, "--out", str(tmp_path),
    )  # fmt: skip
    assert done.returncode == 0, done.stderr
    records = [json.loads(line) for line in (tmp_path / "frames.jsonl").read_text().splitlines()]
    assert [r["frame_id"] for r in records] == sorted({r["frame_id"] for r in records})
    assert {(r["pixel_format"], r["serial"]) for r in records} == {("Mono8", MONO12.serial)}
    first = tmp_path / records[0]["file"]
    if kind == "npy":
        assert np.load(first).shape == (MONO12.height, MONO12.width, 3)
    else:
        assert first.read_bytes()[:4] == b"\x89PNG"
    assert len(records) == 3 and "frames [" in done.stderr


def test_plc_serve_prints_writes_and_serves_reads(tmp_path):
    port = str(free_port())
    server = subprocess.Popen(
        [sys.executable, "-m", "vantix", "plc", "serve", "--port", port, "--seconds", "60"],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        assert server.stdout.readline().startswith(f"serving Modbus TCP on 127.0.0.1:{port}")
        assert (
            vantix("plc", "write", "--host", "127.0.0.1", "--port", port, "100", "2").returncode
            == 0
        )
        assert server.stdout.readline() == "unit 1 register 100 <- 2\n"
        # A request the server refuses costs it no traceback.
        refused = vantix("plc", "read", "--host", "127.0.0.1", "--port", port, "299", "5")
        assert refused.returncode == 4
        demo = vantix(
            "demo", "--frames", "8", "--train", "4", "--camera", "mono12", "--trigger", "software",
            "--plc", f"127.0.0.1:{port}", "--out", str(tmp_path / "d.png"), "--json",
        )  # fmt: skip
        assert demo.returncode == 0, demo.stderr
        assert json.loads(demo.stdout)["registers"]["sequence [102]"] == 4
        read = vantix("plc", "read", "--host", "127.0.0.1", "--port", port, "100", "3")
        assert read.stdout.splitlines()[2] == "102 4"
    finally:
        server.send_signal(signal.SIGTERM)
        out, err = server.communicate(timeout=30)
    assert server.returncode == 0 and "Traceback" not in err + out
    assert "unit 1 register 102 <- 4" in out


def test_simulated_demo_prints_its_writes(tmp_path):
    argv = ["demo", "--frames", "6", "--train", "4", "--camera", "mono12", "--simulate"]
    argv += ["--trigger", "software", "--out", str(tmp_path / "d.png")]
    plain = vantix(*argv)
    assert plain.stdout.count("PLC write (simulated): reg[100]=") == 2
    as_json = vantix(*argv, "--json", "-q")
    assert json.loads(as_json.stdout)["registers"] is None
    assert as_json.stderr.count("PLC write (simulated)") == 2 and "frames [" not in as_json.stderr


ROOT = Path(__file__).resolve().parents[2]
README_BLOCKS = re.findall(r"^```python\n(.*?)^```", (ROOT / "README.md").read_text(), re.S | re.M)


@pytest.mark.parametrize(
    "source",
    [pytest.param(block, id=f"README-{n}") for n, block in enumerate(README_BLOCKS)]
    + [pytest.param(p.read_text(), id=p.name) for p in sorted((ROOT / "examples").glob("*.py"))],
)
def test_documented_examples_run_as_written(tmp_path, source):
    done = subprocess.run(
        [sys.executable, "-c", source], cwd=tmp_path, capture_output=True, text=True, timeout=120
    )
    assert done.returncode == 0, done.stderr
