#!/usr/bin/python3
"""A tour of kip from Python: every filter family on numpy arrays, the same on a chunked dask
array, and a batch of TIFF files. Run from a build tree with PYTHONPATH=<build>/python, or after
`cmake --install`."""

import tempfile
import time
from pathlib import Path

import dask.array as da
import numpy as np
import tifffile

import kip
import kip.dask


def scene(rows=768, cols=1024, seed=7):
    """Bright parts on a background lit unevenly, with salt-and-pepper specks."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:rows, 0:cols]
    light = 60 + 80 * x / cols + 40 * y / rows
    parts = ((x // 128 + y // 96) % 3 == 0) * 70
    image = np.clip(light + parts + rng.normal(0, 6, (rows, cols)), 0, 255).astype(np.uint8)
    specks = rng.random((rows, cols))
    image[specks < 0.01] = 0
    image[specks > 0.99] = 255
    return image


def main():
    image = scene()
    parts = image > 150
    steps = {
        "median 5x5": lambda: kip.median(image, size=5),
        "rank 25%, disk": lambda: kip.rank(image, 0.25, footprint=np.hypot(*np.mgrid[-3:4, -3:4]) <= 3),
        "median in the parts only": lambda: kip.median(image, size=7, mask=parts),
        "weighted mean 5x5": lambda: kip.convolve(image, [[1, 2, 3, 2, 1]] * 5),
        "Sobel x (int16)": lambda: kip.convolve(image, [[1, 0, -1], [2, 0, -2], [1, 0, -1]]),
        "opening 1x15": lambda: kip.opening(image, size=(1, 15)),
        "weighted dilation": lambda: kip.dilation(image, weights=[[-8, -4, -8], [-4, 0, -4], [-8, -4, -8]]),
        "flatten (local mean 51x51)": lambda: kip.subtract_local_mean(image, size=51),
        "flatten (local median 31x31)": lambda: kip.subtract_local_median(image, size=31),
    }
    for name, step in steps.items():
        start = time.perf_counter()
        result = step()
        ms = 1000 * (time.perf_counter() - start)
        print(f"{name:30s} {result.dtype}  mean {result.mean():7.2f}  {ms:6.1f} ms")

    # The unevenly lit background is gone: columns left and right now have the same mean.
    flat = kip.subtract_local_mean(image, size=101)
    print(f"column means before {image[:, :50].mean():.0f} / {image[:, -50:].mean():.0f},"
          f" after {flat[:, :50].mean():.0f} / {flat[:, -50:].mean():.0f}")

    # The same filters on a chunked dask array give the same bits.
    chunked = da.from_array(image, chunks=(200, 300))
    same = kip.dask.median(chunked, size=5).compute()
    print("dask median equals numpy median:", bool((same == kip.median(image, size=5)).all()))

    # A directory of TIFF files, filtered image by image.
    with tempfile.TemporaryDirectory() as folder:
        for i in range(4):
            tifffile.imwrite(Path(folder) / f"frame{i}.tif", scene(256, 320, seed=i))
        stack = kip.dask.batch(folder, kip.median, size=3).compute()
        print("batch of", stack.shape[0], "frames:", stack.shape[1:], stack.dtype)

    try:
        kip.dilation(image.astype(np.uint16), border="clipped")
    except kip.Error as error:
        print("kip.Error:", error.name, hex(error.code & 0xFFFFFFFF))


if __name__ == "__main__":
    main()
