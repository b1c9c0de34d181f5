"""kip: exact neighbourhood filters for 8-bit and 16-bit grey images, on numpy arrays.

Functions: convolve, rank, median, dilation, erosion, opening, closing, subtract_local_mean,
subtract_local_median. They take 2-D uint8/uint16 arrays (any view whose rows are contiguous is
used without a copy), write into out= when given, release the GIL while filtering and raise
kip.Error (with .code and .name) when the library refuses a call. kip.dask has the same functions
for dask arrays.
"""

from ._kip import Error, __version__, set_threads, status_name
from ._filters import (closing, convolve, dilation, erosion, median, opening, rank, subtract_local_mean,
                       subtract_local_median)

__all__ = [
    "Error", "set_threads", "status_name", "convolve", "rank", "median", "dilation", "erosion", "opening",
    "closing", "subtract_local_mean", "subtract_local_median",
]
