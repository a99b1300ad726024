"""Stands in for the host package's pymodbus compatibility module, with its
contract: ``unit(unit_id)`` gives the keyword arguments that name a Modbus
unit (slave / device address) in a request of the installed pymodbus.

The supported pymodbus releases (3.11 and later) all call it ``device_id``.
"""

from __future__ import annotations

__all__ = ["unit"]


def unit(unit_id: int) -> dict[str, int]:
    """Keyword arguments naming ``unit_id`` in a pymodbus request."""
    return {"device_id": unit_id}
