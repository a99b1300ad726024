"""The command line against the simulated camera and an embedded Modbus server."""

import re
import signal
import subprocess
import sys

import pytest

from vantix import cli
from vantix.demo import pipeline
from vantix.sim.modbus import ModbusServer, free_port

pytest.importorskip("harvesters.core")


@pytest.fixture
def plc():
    with ModbusServer() as server:
        yield server


def test_demo_runs_end_to_end_and_the_plc_holds_the_last_result(tmp_path):
    out = tmp_path / "demo.png"
    run = subprocess.run(
        [
            sys.executable,
            "-m",
            "vantix",
            "demo",
            "--frames",
            "26",
            "--train",
            "6",
            "--out",
            str(out),
        ],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert run.returncode == 0, run.stderr
    assert "verdict OK" in run.stdout and "verdict NG" in run.stdout
    assert re.search(r"^last sequence number\s+20$", run.stdout, re.MULTILINE)
    assert re.search(r"^register sequence \[102\]\s+20$", run.stdout, re.MULTILINE)
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_demo_verdicts_reach_the_registers(plc, tmp_path):
    options = pipeline.Options(
        frames=16, train=6, defect_every=2, plc=(plc.host, plc.port), out=str(tmp_path / "x.png")
    )
    summary = pipeline.run(options)
    assert summary.frames == 16 and summary.timeouts == 0
    # Every second judged frame carries a blemish and is NG; the others are OK.
    assert summary.verdicts == {"OK": 5, "NG": 5, "ERROR": 0}
    verdicts = [v for (_, address, v) in plc.recorder.writes if address == 100]
    assert verdicts == [1, 2] * 5
    assert plc.recorder.value(102) == 10 and summary.last_sequence == 10
    assert plc.recorder.value(110) == 2  # heartbeats after results 5 and 10


def test_demo_in_simulation_mode_writes_nothing(tmp_path, capsys):
    assert (
        cli.main(
            [
                "demo",
                "--frames",
                "10",
                "--train",
                "4",
                "--simulate",
                "--camera",
                "mono12",
                "--pixel-format",
                "Mono12Packed",
                "--trigger",
                "software",
                "--out",
                str(tmp_path / "x.png"),
            ]
        )
        == cli.EXIT_OK
    )
    assert "simulation (log only)" in capsys.readouterr().out
    import pymodbus.client  # noqa: F401 - importable again afterwards


@pytest.mark.parametrize(
    "argv,code,message",
    [
        (
            ["demo", "--cti", "/nonexistent/producer.cti"],
            cli.EXIT_CAMERA,
            "error (camera): no GenTL producer (.cti) found. Install the camera vendor SDK",
        ),
        (
            ["demo", "--cti", "{producer}", "--serial", "no-such-serial"],
            cli.EXIT_CAMERA,
            "error (camera): no camera matched. devices found: [",
        ),
        (
            ["demo", "--plc", "127.0.0.1:{port}"],
            cli.EXIT_PLC,
            "error (plc): PlcLinkSink: cannot connect to 127.0.0.1:",
        ),
        (["demo", "--frames", "5", "--train", "5"], cli.EXIT_USAGE, "larger than --train (5)"),
    ],
)
def test_operator_mistakes_give_messages_and_exit_codes(producer, argv, code, message, capsys):
    argv = [arg.format(producer=producer, port=free_port()) for arg in argv]
    assert cli.main(argv) == code
    err = capsys.readouterr().err
    assert message in err and "Traceback" not in err


@pytest.mark.parametrize(
    ("argv", "complaint"),
    [
        (["demo", "--out", "{tmp}/missing/x.png"], "folder {tmp}/missing does not exist"),
        (["demo", "--out", "{tmp}"], "is a folder, not a picture file"),
        (["demo", "--out", "{tmp}/picture"], "needs an image extension"),
        (["demo", "--threshold", "0"], "must be a number above 0"),
        (["demo", "--defect-every", "-3"], "must be at least 0"),
        (["demo", "--plc", "127.0.0.1:70000"], "must be 1..65535"),
        (["plc-test", "--host", "127.0.0.1", "--port", "70000"], "must be 1..65535"),
    ],
)
def test_bad_arguments_are_refused_before_anything_runs(tmp_path, capsys, argv, complaint):
    with pytest.raises(SystemExit) as exit_:
        cli.main([arg.format(tmp=tmp_path) for arg in argv])
    err = capsys.readouterr().err
    assert exit_.value.code == cli.EXIT_USAGE
    assert complaint.format(tmp=tmp_path) in err.splitlines()[-1] and "Traceback" not in err


def test_devices_without_producers_gives_the_reason_and_the_simulator(tmp_path, capsys):
    assert cli.main(["devices", "--cti", str(tmp_path)]) == cli.EXIT_CAMERA
    err = capsys.readouterr().err
    assert "no GenTL producer (.cti) found" in err
    assert "python -m vantix devices --sim" in err


def test_devices_shows_why_a_producer_offers_none(sim_config):
    config = sim_config(devices=[{"access": "all"}])
    run = subprocess.run(
        [sys.executable, "-m", "vantix", "devices", "--sim"],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert run.returncode == cli.EXIT_CAMERA
    assert f"simulator configuration {config}: devices[0].access: expected one of" in run.stderr


def test_plc_test_reports_each_outcome(plc, capsys):
    assert cli.main(["plc-test", "--host", plc.host, "--port", str(plc.port)]) == cli.EXIT_OK
    assert "connected and responding - " in capsys.readouterr().out
    assert cli.main(["plc-test", "--host", "127.0.0.1", "--port", str(free_port())]) == cli.EXIT_PLC
    assert "cannot reach 127.0.0.1:" in capsys.readouterr().out
    assert (
        cli.main(["plc-test", "--host", plc.host, "--port", str(plc.port), "--unit", "9"])
        == cli.EXIT_PLC
    )
    assert "슬레이브 응답 오류(unit 9)" in capsys.readouterr().out


def test_ctrl_c_stops_the_demo_cleanly(tmp_path):
    # Opening a camera must leave Ctrl+C working: the acquirer replaces the
    # interpreter's SIGINT handler, and the camera puts it back.
    demo = subprocess.Popen(
        [
            sys.executable,
            "-m",
            "vantix",
            "-v",
            "demo",
            "--frames",
            "100000",
            "--out",
            str(tmp_path / "x.png"),
        ],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        for line in demo.stderr:
            if "GentlCamera connected" in line:
                break
        demo.send_signal(signal.SIGINT)
        _, err = demo.communicate(timeout=60)
    finally:
        demo.kill()
    assert demo.returncode == cli.EXIT_INTERRUPTED
    assert "interrupted" in err and "Traceback" not in err
