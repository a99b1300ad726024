"""The bench itself: Aravis's client finds the fake camera and receives the
images that fake_image describes, across the 16-bit block id wrap; with -r
the fake loses packets and offers no resend. The producer's tests rely on
all three."""

from __future__ import annotations

import json

import numpy as np
import pytest

from .conftest import fake_image, run_client


def test_discovery_finds_the_fake(fake):
    devices = run_client("discover")["devices"]
    mine = [d for d in devices if d["serial"] == fake.serial]
    assert mine == [
        {
            "id": f"Aravis-Fake-{fake.serial}",
            "vendor": "Aravis",
            "model": "Fake",
            "serial": fake.serial,
            "address": "127.0.0.1",
            "physical_id": mine[0]["physical_id"],
            "protocol": "GigEVision",
        }
    ]
    assert fake.heartbeat_ms == 3000


@pytest.mark.parametrize("packet_size", [576, 1400])
def test_frames_are_the_documented_image(fake, tmp_path, packet_size):
    # 37 x 23 leaves a short last packet; 150 frames at 1000/s from the fake's
    # first block id (65401) pass 65535 -> 1.
    run_client("set", fake.address, "Width=37", "Height=23", "AcquisitionFrameRate=1000")
    got = run_client(
        "stream", fake.address, "--frames", "150", "--packet-size", str(packet_size),
        "--dump", str(tmp_path),
    )  # fmt: skip
    assert got["frames"] == {"complete": 150, "incomplete": 0, "failed": 0}
    assert got["packet_size"] == packet_size and got["stream"]["n_resend_requests"] == 0
    ids = got["block_ids"]
    assert 0 not in ids and 65535 in ids and 1 in ids
    assert all(b == a % 65535 + 1 for a, b in zip(ids, ids[1:]))
    for entry in json.loads((tmp_path / "index.json").read_text())["frames"]:
        raw = np.fromfile(tmp_path / entry["file"], np.uint8).reshape(23, 37)
        np.testing.assert_array_equal(raw, fake_image(37, 23, entry["block_id"]))


def test_the_lossy_fake_sends_incomplete_frames_and_offers_no_resend(start_fake):
    fake = start_fake(loss_per_mille=100)
    assert run_client("get", fake.address, "0x0934")["features"]["0x0934"] & 0x4 == 0
    run_client("set", fake.address, "Width=128", "Height=32", "AcquisitionFrameRate=200")
    got = run_client("stream", fake.address, "--frames", "40")
    assert got["frames"]["complete"] > 0 and got["frames"]["incomplete"] > 0
    assert got["stream"]["n_missing_packets"] > 0 and got["stream"]["n_resend_requests"] == 0
