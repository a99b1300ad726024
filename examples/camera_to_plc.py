"""A camera-to-PLC loop: frames from the simulated camera, a brightness
check as the inspection, each verdict written to a PLC over Modbus TCP.

    python examples/camera_to_plc.py                  # against an embedded server
    python examples/camera_to_plc.py 127.0.0.1:5020   # against `python -m vantix plc serve`
"""

import sys

from vantix import sim
from vantix.io.camera.base import TriggerMode
from vantix.io.camera.gentl_camera import GentlCamera
from vantix.io.sink.plc_link import PlcLinkSink
from vantix.schemas.common import InspectionResult, Verdict
from vantix.sim.modbus import ModbusServer

FRAMES = 5

if len(sys.argv) > 1:
    host, _, port = sys.argv[1].rpartition(":")
    server = None
else:  # no PLC named: the embedded Modbus TCP server stands in for one
    server = ModbusServer()
    server.start()
    host, port = server.host, str(server.port)

camera = GentlCamera({"cti_path": sim.producer_path(), "serial": sim.CAMERAS["legacy"]})
camera.set_trigger_mode(TriggerMode.SOFTWARE)
sink = PlcLinkSink({"host": host, "port": int(port), "strict_open": True})
try:
    with camera:
        sink.open()
        for n in range(FRAMES):
            frame = camera.read(timeout_s=5)
            brightness = float(frame.image.mean()) / 255 if frame is not None else 0.0
            verdict = Verdict.OK if frame is not None and brightness > 0.1 else Verdict.NG
            sink.send(InspectionResult(verdict, brightness), {"product_id": f"part-{n}"})
            print(f"part-{n}: {verdict.value} (brightness {brightness:.2f})")
        sink.close()
finally:
    if server is not None:
        print("registers 100..103:", [server.recorder.value(a) for a in range(100, 104)])
        server.close()
