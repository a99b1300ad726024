"""vantix: the native core of the machine-vision inspection package.

set_num_threads(n) / get_num_threads(): how many threads the native kernels
(pixel conversion, FeatureBank.build) share their work among, the calling
thread included. The default is the CPUs this process may run on; 1 keeps
every kernel on the calling thread with no helper thread at all.
"""

from vantix._threads import get_num_threads, set_num_threads

__all__ = ["get_num_threads", "set_num_threads"]
