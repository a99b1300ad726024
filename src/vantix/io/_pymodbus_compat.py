"""Differences between pymodbus releases that callers must not care about.

The keyword that names the Modbus unit (slave / device address) in a request
has been ``unit`` (2.x), ``slave`` (3.0 to 3.9) and ``device_id`` (3.10 on).
Some releases take ``**kwargs`` and silently drop a keyword they do not know,
addressing the default unit instead, so passing a guess and catching
``TypeError`` is not safe: the name is read from the installed client's
``write_register`` signature.
"""

from __future__ import annotations

import inspect
import sys
from typing import Any

__all__ = ["unit"]

# Newest first: the first one the signature names is used.
_KEYWORDS = ("device_id", "slave", "unit")
# What every request took before the keyword became a named parameter.
_LEGACY_KEYWORD = "unit"

# (write_register function, keyword): the signature is read again only when
# the installed client changes, e.g. after a reload in a test.
_cached: tuple[Any, str] | None = None


def _keyword_for(write_register: Any) -> str:
    try:
        parameters = inspect.signature(write_register).parameters
    except (TypeError, ValueError):  # no introspectable signature
        return _KEYWORDS[0]
    for name in _KEYWORDS:
        if name in parameters:
            return name
    return _LEGACY_KEYWORD


def unit(unit_id: int) -> dict[str, int]:
    """Keyword arguments naming ``unit_id`` for the installed pymodbus.

    Without pymodbus the current name is returned, so callers can always
    expand the result into a request.
    """
    global _cached
    # Called for every register request: the imported module is taken from
    # sys.modules when it is there, the import system is asked otherwise (also
    # when the entry is None, which makes the import fail).
    client_module = sys.modules.get("pymodbus.client")
    if client_module is None:
        try:
            import pymodbus.client
        except ImportError:
            return {_KEYWORDS[0]: unit_id}
        client_module = sys.modules["pymodbus.client"]
    write_register = client_module.ModbusTcpClient.write_register
    cached = _cached
    if cached is None or cached[0] is not write_register:
        cached = _cached = (write_register, _keyword_for(write_register))
    return {cached[1]: unit_id}
