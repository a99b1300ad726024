"""A bare GenTL consumer over ctypes: calls the producer's C functions
directly, for what harvesters never asks (bad handles, odd sizes, module
event codes, the raw XML of each port)."""

from __future__ import annotations

import ctypes as C

SUCCESS = 0
ERRORS = {
    -1001: "ERROR",
    -1002: "NOT_INITIALIZED",
    -1003: "NOT_IMPLEMENTED",
    -1004: "RESOURCE_IN_USE",
    -1005: "ACCESS_DENIED",
    -1006: "INVALID_HANDLE",
    -1007: "INVALID_ID",
    -1008: "NO_DATA",
    -1009: "INVALID_PARAMETER",
    -1010: "IO",
    -1011: "TIMEOUT",
    -1012: "ABORT",
    -1013: "INVALID_BUFFER",
    -1014: "NOT_AVAILABLE",
    -1015: "INVALID_ADDRESS",
    -1016: "BUFFER_TOO_SMALL",
    -1017: "INVALID_INDEX",
    -1019: "INVALID_VALUE",
    -1022: "BUSY",
}
EVENT_NEW_BUFFER, EVENT_MODULE = 1, 5
ACCESS_READONLY, ACCESS_CONTROL, ACCESS_EXCLUSIVE = 2, 3, 4
URL_INFO_URL, PORT_INFO_PORTNAME = 0, 12


class GenTLError(Exception):
    def __init__(self, function: str, code: int, text: str):
        super().__init__(f"{function}: {ERRORS.get(code, code)}: {text}")
        self.code, self.name, self.text = code, ERRORS.get(code, str(code)), text


class Producer:
    """The producer's functions; every call raises GenTLError on failure."""

    def __init__(self, path: str):
        self.lib = C.CDLL(path)

    def call(self, name: str, *args) -> None:
        code = getattr(self.lib, name)(*args)
        if code != SUCCESS:
            raise GenTLError(name, code, self.last_error()[1])

    def code(self, name: str, *args) -> str:
        """The outcome's name ("SUCCESS" or the error) instead of raising."""
        code = getattr(self.lib, name)(*args)
        return "SUCCESS" if code == SUCCESS else ERRORS.get(code, str(code))

    def last_error(self) -> tuple[int, str]:
        code, size = C.c_int32(), C.c_size_t(0)
        assert self.lib.GCGetLastError(C.byref(code), None, C.byref(size)) == SUCCESS
        text = C.create_string_buffer(size.value)
        assert self.lib.GCGetLastError(C.byref(code), text, C.byref(size)) == SUCCESS
        return code.value, text.value.decode()

    def handle(self, name: str, *args) -> C.c_void_p:
        out = C.c_void_p()
        self.call(name, *args, C.byref(out))
        return out

    def text(self, name: str, *args) -> str:
        """A string answer in the two-call form (size, then fill)."""
        size = C.c_size_t(0)
        kind = (C.c_int32(),) if name.endswith("Info") else ()
        typed = [C.byref(k) for k in kind]
        self.call(name, *args, *typed, None, C.byref(size))
        buf = C.create_string_buffer(size.value)
        self.call(name, *args, *typed, buf, C.byref(size))
        return buf.value.decode()

    def open_first_device(self, access: int = ACCESS_EXCLUSIVE, index: int = 0):
        """(system, interface, device) handles of the index-th device found."""
        tl = self.handle("TLOpen")
        self.call("TLUpdateInterfaceList", tl, None, C.c_uint64(0))
        found = 0
        count = C.c_uint32()
        self.call("TLGetNumInterfaces", tl, C.byref(count))
        for i in range(count.value):
            if_id = self.text("TLGetInterfaceID", tl, C.c_uint32(i))
            iface = self.handle("TLOpenInterface", tl, if_id.encode())
            self.call("IFUpdateDeviceList", iface, None, C.c_uint64(0))
            n = C.c_uint32()
            self.call("IFGetNumDevices", iface, C.byref(n))
            for d in range(n.value):
                if found == index:
                    dev_id = self.text("IFGetDeviceID", iface, C.c_uint32(d))
                    return (
                        tl,
                        iface,
                        self.handle("IFOpenDevice", iface, dev_id.encode(), C.c_int32(access)),
                    )
                found += 1
            self.call("IFClose", iface)
        raise LookupError(index)

    def document(self, port) -> str:
        """The GenApi document a port's URL points at."""
        url = self.text("GCGetPortURLInfo", port, C.c_uint32(0), C.c_int32(URL_INFO_URL))
        _, address, length = url.split(";")
        size = C.c_size_t(int(length, 16))
        data = C.create_string_buffer(size.value)
        self.call("GCReadPort", port, C.c_uint64(int(address, 16)), data, C.byref(size))
        return data.raw.decode()
