"""Opens the simulated 12-bit mono camera and reads a few frames.

python examples/camera_example.py
"""

from vantix import sim
from vantix.io.camera.base import TriggerMode
from vantix.io.camera.gentl_camera import GentlCamera

camera = GentlCamera(
    {"cti_path": sim.producer_path(), "serial": sim.CAMERAS["mono12"], "pixel_format": "Mono8"}
)
camera.set_trigger_mode(TriggerMode.SOFTWARE)  # one frame per read()
with camera:
    for _ in range(3):
        frame = camera.read(timeout_s=5)
        if frame is None:
            raise SystemExit("no frame within 5 s")
        print(
            f"frame {frame.meta['device_frame_id']}: {frame.width}x{frame.height} BGR "
            f"from {frame.meta['pixel_format']}, mean {frame.image.mean():.1f}"
        )
