"""Wrong handles, sizes, pointers and addresses get the matching GenTL
error and a last-error text an operator understands, never a crash."""

from __future__ import annotations

import ctypes as C

from vantix import sim

from .gentl_client import Producer


def test_calls_before_initialisation_and_the_empty_last_error(producer):
    p = Producer(producer)
    assert p.code("TLOpen", C.byref(C.c_void_p())) == "NOT_INITIALIZED"
    assert "call GCInitLib first" in p.last_error()[1]
    assert p.code("GCCloseLib") == "SUCCESS"  # closing twice is harmless


def test_stale_and_forged_handles_are_refused(p):
    tl, iface, dev = p.open_first_device()
    ds = p.handle("DevOpenDataStream", dev, b"Stream0")
    p.call("DevClose", dev)
    for name, args in [
        ("DSGetInfo", (ds, 0, None, None, C.byref(C.c_size_t()))),
        ("DevGetPort", (dev, C.byref(C.c_void_p()))),
        ("GCReadPort", (dev, C.c_uint64(0), C.create_string_buffer(4), C.byref(C.c_size_t(4)))),
        ("IFGetNumDevices", (C.c_void_p(12345), C.byref(C.c_uint32()))),
        ("GCGetNumPortURLs", (None, C.byref(C.c_uint32()))),
        ("DevGetInfo", (None, 0, None, None, C.byref(C.c_size_t()))),
        ("DSQueueBuffer", (iface, tl)),
    ]:
        assert p.code(name, *args) == "INVALID_HANDLE", name
    assert "is not the handle of an open" in p.last_error()[1]


def test_sizes_pointers_and_addresses_are_checked(p):
    tl, iface, dev = p.open_first_device()
    remote = p.handle("DevGetPort", dev)
    small = C.c_size_t(3)
    assert (
        p.code("GCGetInfo", 0, None, C.create_string_buffer(3), C.byref(small))
        == "BUFFER_TOO_SMALL"
    )
    assert p.code("GCGetInfo", 0, None, None, None) == "INVALID_PARAMETER"
    assert p.code("TLGetInterfaceID", tl, 99, None, C.byref(C.c_size_t())) == "INVALID_INDEX"
    assert p.code("IFOpenDevice", iface, b"nobody", 4, C.byref(C.c_void_p())) == "INVALID_ID"
    document = len(p.document(remote))
    past_end = C.c_size_t(16)
    assert (
        p.code(
            "GCReadPort",
            remote,
            C.c_uint64(0x100000 + document - 8),
            C.create_string_buffer(16),
            C.byref(past_end),
        )
        == "INVALID_ADDRESS"
    )
    assert "has nothing to read at" in p.last_error()[1]
    assert (
        p.code("GCReadPort", remote, C.c_uint64(0x100000), None, C.byref(C.c_size_t(4)))
        == "INVALID_PARAMETER"
    )
    assert (
        p.code(
            "GCWritePort",
            remote,
            C.c_uint64(0x100000),
            C.create_string_buffer(4),
            C.byref(C.c_size_t(4)),
        )
        == "ACCESS_DENIED"
    )


def test_buffers_smaller_than_the_payload_and_misuse_of_the_queues(p):
    _, _, dev = p.open_first_device()
    ds = p.handle("DevOpenDataStream", dev, b"Stream0")
    memory = C.create_string_buffer(1024)
    assert (
        p.code("DSAnnounceBuffer", ds, memory, C.c_size_t(1024), None, C.byref(C.c_void_p()))
        == "BUFFER_TOO_SMALL"
    )
    assert "smaller than the payload" in p.last_error()[1]
    assert p.code("DSStartAcquisition", ds, 0, C.c_uint64(2**64 - 1)) == "INVALID_BUFFER"
    size = sim.PRESETS["mono12"].width * sim.PRESETS["mono12"].height  # Mono8, the first camera
    big = C.create_string_buffer(size)
    buf = p.handle("DSAnnounceBuffer", ds, big, C.c_size_t(size), None)
    assert (
        p.code("DSAnnounceBuffer", ds, big, C.c_size_t(size), None, C.byref(C.c_void_p()))
        == "RESOURCE_IN_USE"
    )
    p.call("DSQueueBuffer", ds, buf)
    assert p.code("DSQueueBuffer", ds, buf) == "RESOURCE_IN_USE"
    assert p.code("DSRevokeBuffer", ds, buf, None, None) == "BUSY"
    assert p.code("DSFlushQueue", ds, 77) == "INVALID_PARAMETER"
    p.call("DSFlushQueue", ds, 4)
    p.call("DSRevokeBuffer", ds, buf, None, None)
    assert (
        p.code("DSGetBufferInfo", ds, buf, 0, None, None, C.byref(C.c_size_t())) == "INVALID_HANDLE"
    )


def test_event_waits_time_out_and_are_killed(p):
    _, _, dev = p.open_first_device()
    ds = p.handle("DevOpenDataStream", dev, b"Stream0")
    event = p.handle("GCRegisterEvent", ds, 1)
    data, size = C.create_string_buffer(16), C.c_size_t(16)
    assert p.code("EventGetData", event, data, C.byref(size), C.c_uint64(20)) == "TIMEOUT"
    assert (
        p.code("EventGetData", event, data, C.byref(C.c_size_t(8)), C.c_uint64(0))
        == "BUFFER_TOO_SMALL"
    )
    p.call("EventKill", event)
    assert p.code("EventGetData", event, data, C.byref(size), C.c_uint64(2**64 - 1)) == "ABORT"
    p.call("EventFlush", event)
    p.call("DSClose", ds)
    assert p.code("EventGetData", event, data, C.byref(size), C.c_uint64(0)) == "INVALID_HANDLE"


def test_unsupported_calls_answer_not_implemented(p):
    tl, iface, dev = p.open_first_device()
    ds = p.handle("DevOpenDataStream", dev, b"Stream0")
    assert p.code("GCRegisterEvent", dev, 4, C.byref(C.c_void_p())) == "NOT_IMPLEMENTED"
    assert p.code("DSGetNumFlows", ds, C.byref(C.c_uint32())) == "NOT_IMPLEMENTED"
    assert p.code("GCInitLib") == "RESOURCE_IN_USE"
    assert p.code("TLOpen", C.byref(C.c_void_p())) == "RESOURCE_IN_USE"
    assert "already open in this process" in p.last_error()[1]
