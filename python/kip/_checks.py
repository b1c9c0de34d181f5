"""Argument checks shared by the numpy and Dask functions: every one raises before any pixel is
touched, with a message that says what was expected."""

import numbers

import numpy as np

PIXEL_TYPES = (np.dtype(np.uint8), np.dtype(np.uint16))


def image_type(dtype, ndim, name="image", types=PIXEL_TYPES):
    """Checks an image's dtype and dimensions (TypeError, ValueError)."""
    dtype = np.dtype(dtype)
    if dtype not in types:
        expected = " or ".join(t.name for t in types)
        raise TypeError(f"{name}: {expected} pixels expected, got {dtype}")
    if ndim != 2:
        raise ValueError(f"{name}: a 2-D array expected, got {ndim}-D")


def ndarray(a, name):
    if not isinstance(a, np.ndarray):
        raise TypeError(f"{name}: a numpy array expected, got {type(a).__name__}"
                        " (kip.dask takes dask arrays)")
    return a


def odd_size(size, name="size"):
    """size: an int or a (rows, columns) pair, both odd and positive; returns (rows, columns)."""
    if size is None:
        size = 3
    if isinstance(size, numbers.Integral) and not isinstance(size, bool):
        size = (size, size)
    try:
        rows, cols = size
    except (TypeError, ValueError):
        raise TypeError(f"{name}: an int or a (rows, columns) pair expected, got {size!r}") from None
    for n in (rows, cols):
        if not isinstance(n, numbers.Integral) or isinstance(n, bool):
            raise TypeError(f"{name}: integer sizes expected, got {size!r}")
        if n < 1 or n % 2 == 0:
            raise ValueError(f"{name}: odd positive sizes expected, got {tuple(size)!r}")
        if n > 2**31 - 1:
            raise ValueError(f"{name}: sizes must fit 32 bits, got {tuple(size)!r}")
    return int(rows), int(cols)


def footprint(size, footprint, name="footprint"):
    """The neighbourhood as a C-ordered uint8 array (1 for members), from size= or footprint=."""
    if footprint is None:
        rows, cols = odd_size(size)
        return np.ones((rows, cols), np.uint8)
    if size is not None:
        raise ValueError("give size= or footprint=, not both")
    fp = np.asarray(footprint)
    if fp.dtype != np.bool_ and fp.dtype.kind not in "iu":
        raise TypeError(f"{name}: a boolean or integer array expected, got {fp.dtype}")
    if fp.ndim != 2:
        raise ValueError(f"{name}: a 2-D array expected, got {fp.ndim}-D")
    odd_size(fp.shape, name + " shape")
    return np.ascontiguousarray(fp != 0, dtype=np.uint8)


def percentile(p):
    if isinstance(p, bool) or not isinstance(p, numbers.Real):
        raise TypeError(f"percentile: a number expected, got {type(p).__name__}")
    p = float(p)
    if not 0.0 <= p <= 1.0:  # also refuses NaN
        raise ValueError(f"percentile: a fraction in [0, 1] expected (0.5 is the median), got {p}")
    return p


def mask_type(mask, shape):
    """Checks the image mask's type and shape: 2-D, bool or uint8, the image's shape."""
    dtype = np.dtype(mask.dtype)
    if dtype != np.bool_ and dtype != np.uint8:
        raise TypeError(f"mask: a bool or uint8 array expected, got {dtype}")
    if tuple(mask.shape) != tuple(shape):
        raise ValueError(f"mask: the image's shape {tuple(shape)} expected, got {tuple(mask.shape)}")


def choice(value, name, choices):
    if value not in choices:
        raise ValueError(f"{name}: one of {', '.join(repr(c) for c in choices)} expected, got {value!r}")
    return choices[value]


CONVOLVE_BORDERS = {"mirrored": 2, "clipped": 0}
MORPHOLOGY_BORDERS = {"truncated": 1, "clipped": 0}


def convolve_weights(weights, signed):
    """The kernel as a C-ordered uint8 (unsigned) or int16 (signed) array."""
    w = np.asarray(weights)
    if w.dtype != np.bool_ and w.dtype.kind not in "iu":
        raise TypeError(f"weights: an integer array expected, got {w.dtype}")
    if w.ndim != 2:
        raise ValueError(f"weights: a 2-D array expected, got {w.ndim}-D")
    odd_size(w.shape, "weights shape")
    if signed is None:
        signed = w.dtype == np.int16 or bool((w < 0).any())
    lo, hi, dtype = (-32768, 32767, np.int16) if signed else (0, 255, np.uint8)
    if w.size and (w.min() < lo or w.max() > hi):
        kind = "signed" if signed else "unsigned"
        raise ValueError(f"weights: {kind} weights in {lo}..{hi} expected")
    return np.ascontiguousarray(w, dtype=dtype)


def morphology_weights(weights, shape, dtype):
    """Weights of a weighted element: integers in -255..255 of the footprint's shape, 8-bit only."""
    if weights is None:
        return None
    w = np.asarray(weights)
    if w.dtype.kind not in "iu":
        raise TypeError(f"weights: an integer array expected, got {w.dtype}")
    if w.shape != tuple(shape):
        raise ValueError(f"weights: the footprint's shape {tuple(shape)} expected, got {w.shape}")
    if w.size and (w.min() < -255 or w.max() > 255):
        raise ValueError("weights: values in -255..255 expected")
    if np.dtype(dtype) != np.uint8:
        raise ValueError("weights: a uint8 image expected (weighted elements work on 8-bit images only)")
    return np.ascontiguousarray(w, dtype=np.int16)
