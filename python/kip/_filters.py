"""kip's filters on numpy arrays. Every function checks its arguments, hands the C library views
of the caller's arrays where their strides allow it, and releases the GIL while it filters."""

import numpy as np

from . import _checks
from . import _kip

__all__ = [
    "convolve", "rank", "median", "dilation", "erosion", "opening", "closing",
    "subtract_local_mean", "subtract_local_median",
]


def _wrappable(a):
    """True when the C interface can take a's pixels as they lie: rows of adjacent pixels, rows a
    whole number of pixels apart and no closer than a row's width, aligned."""
    rows, cols = a.shape
    item = a.itemsize
    if not a.flags.aligned:
        return False
    if cols > 1 and a.strides[1] != item:
        return False
    if rows > 1 and (a.strides[0] % item or a.strides[0] < cols * item):
        return False
    return True


def _source(image, name="image", types=_checks.PIXEL_TYPES):
    _checks.ndarray(image, name)
    _checks.image_type(image.dtype, image.ndim, name, types)
    return image if _wrappable(image) else np.ascontiguousarray(image)


def _mask(mask, shape, full=False):
    """The image mask as uint8; full: members are 255 (what morphology needs), else non-zero."""
    if mask is None:
        return None
    _checks.ndarray(mask, "mask")
    _checks.mask_type(mask, shape)
    if full:
        return np.where(mask != 0, np.uint8(255), np.uint8(0))
    if mask.dtype == np.bool_:
        mask = mask.view(np.uint8)
    return mask if _wrappable(mask) else np.ascontiguousarray(mask)


def _target(out, shape, dtype):
    """Checks out= and returns (array to write, caller's array to copy into afterwards or None)."""
    if out is None:
        return np.empty(shape, dtype), None
    _checks.ndarray(out, "out")
    if out.dtype != dtype:
        raise TypeError(f"out: {np.dtype(dtype)} expected, got {out.dtype}")
    if out.shape != tuple(shape):
        raise ValueError(f"out: shape {tuple(shape)} expected, got {out.shape}")
    if not out.flags.writeable:
        raise ValueError("out: a writeable array expected")
    return out, None


def _run(call, out, shape, dtype, inputs):
    """Runs call(target) into out (or a new array). A target the C interface cannot take as it
    lies, or one that shares memory with an input, is computed apart and copied in afterwards, so
    aliasing gives the result of separate arrays."""
    target, _ = _target(out, shape, dtype)
    if 0 in shape:
        return target
    if not _wrappable(target) or any(x is not None and np.may_share_memory(target, x) for x in inputs):
        result = np.empty(shape, dtype)
        call(result)
        target[...] = result
        return target
    call(target)
    return target


def convolve(image, weights, border="mirrored", signed=None, out=None):
    """Convolution of a uint8 image with an integer kernel.

    The kernel is applied turned by a half turn (true convolution, as scipy.ndimage.convolve).
    Unsigned weights (0..255) give a uint8 result: the weighted mean rounded down. Signed weights
    (-32768..32767) give an int16 result: the weighted sum divided by max(P, N), P the sum of the
    positive weights and N of the magnitudes of the negative ones, truncated toward zero.

    Parameters
    ----------
    image : 2-D uint8 ndarray
    weights : 2-D integer array with odd sides
    border : 'mirrored' (default; the image extended by reflection with the edge pixel repeated,
        scipy's mode='reflect'; result of the image's shape) or 'clipped' (only pixels whose
        whole neighbourhood lies in the image; the result is smaller by the kernel's half size on
        each side).
    signed : None (signed when weights are int16 or have a negative value), True or False.
    out : optional ndarray of the result's shape and dtype to write into.

    Returns the result (out when given). Raises TypeError/ValueError for bad arguments, kip.Error
    when the library refuses the call.
    """
    image = _source(image, types=(np.dtype(np.uint8),))
    w = _checks.convolve_weights(weights, signed)
    mode = _checks.choice(border, "border", _checks.CONVOLVE_BORDERS)
    rows, cols = image.shape
    if mode == 0:
        shape = (max(0, rows - 2 * (w.shape[0] // 2)), max(0, cols - 2 * (w.shape[1] // 2)))
    else:
        shape = image.shape
    dtype = np.int16 if w.dtype == np.int16 else np.uint8
    return _run(lambda t: _kip.convolve(image, w, mode, t), out, shape, dtype, [image])


def rank(image, percentile, size=None, footprint=None, mask=None, out=None):
    """Rank filter: each pixel becomes the given percentile of its neighbourhood.

    With n neighbours and percentile p, the result is the smallest value that at least k of them
    do not exceed, k = max(1, min(n, ceil(p * n))): 0 is the minimum, 1 the maximum, 0.5 the
    median (the lower middle value for even n). The neighbourhood is cut at the image border.

    Parameters
    ----------
    image : 2-D uint8 or uint16 ndarray
    percentile : fraction in [0, 1] (not 0..100)
    size : int or (rows, columns), odd (default 3); or
    footprint : 2-D boolean array with odd sides, in scipy.ndimage's orientation (the member at
        [i, j] is the pixel at offset (i - rows // 2, j - columns // 2)).
    mask : optional bool/uint8 array of the image's shape: only selected pixels take part and are
        computed; the others keep their value. A neighbourhood with no pixel left gives 0 without
        an image mask and the pixel's own value with one.
    out : optional ndarray of the image's shape and dtype.

    Returns the result. Raises TypeError/ValueError for bad arguments, kip.Error on failure.
    """
    image = _source(image)
    p = _checks.percentile(percentile)
    fp = _checks.footprint(size, footprint)[::-1, ::-1].copy()
    m = _mask(mask, image.shape)
    return _run(lambda t: _kip.rank(image, m, fp, p, t), out, image.shape, image.dtype, [image, m])


def median(image, size=None, footprint=None, mask=None, out=None):
    """Median filter: rank(image, 0.5, ...), the lower middle value when the count is even.

    Small rectangles run through sorting networks, everything else through the rank engines; large
    images are cut into bands on the library's job threads (kip.set_threads sets how many).
    Arguments as kip.rank. Raises TypeError/ValueError for bad arguments, kip.Error on failure.
    """
    image = _source(image)
    fp = _checks.footprint(size, footprint)[::-1, ::-1].copy()
    m = _mask(mask, image.shape)
    return _run(lambda t: _kip.median(image, m, fp, t), out, image.shape, image.dtype, [image, m])


_OPERATIONS = {"dilation": 0, "erosion": 1, "opening": 2, "closing": 3}


def _morphology(operation, image, size, footprint, weights, mask, border, out):
    image = _source(image)
    if footprint is None and size is None and weights is not None:
        size = np.shape(weights)
    fp = _checks.footprint(size, footprint)
    w = _checks.morphology_weights(weights, fp.shape, image.dtype)
    mode = _checks.choice(border, "border", _checks.MORPHOLOGY_BORDERS)
    m = _mask(mask, image.shape, full=True)
    op = _OPERATIONS[operation]
    fp = fp * np.uint8(255)
    return _run(lambda t: _kip.morphology(image, m, op, fp, w, mode, t), out, image.shape, image.dtype, [image])


_MORPHOLOGY_DOC = """Grey-scale {what}.

    Flat elements take the {extreme} of the pixels under the element; weighted ones (uint8 only)
    first {shift} each neighbour by its weight and clamp to 0..255. The element and its weights are
    applied turned by a half turn about the centre, as scipy.ndimage.grey_dilation applies them.
    A 1 x 1 element on a uint8 image copies the image (its weight and the mask are not used).

    Parameters
    ----------
    image : 2-D uint8 or uint16 ndarray
    size : int or (rows, columns), odd (default 3); or
    footprint : 2-D boolean array with odd sides
    weights : optional integer array in -255..255 of the element's shape (uint8 images only)
    mask : optional bool/uint8 array of the image's shape: unselected pixels keep their value and
        are no neighbours
    border : 'truncated' (default: the element is cut at the image border) or 'clipped' (the
        library computes it for 1 x 1 uint8 elements only and raises kip.Error otherwise)
    out : optional ndarray of the image's shape and dtype

    Returns the result. Raises TypeError/ValueError for bad arguments, kip.Error on failure.
    """


def dilation(image, size=None, footprint=None, weights=None, mask=None, border="truncated", out=None):
    return _morphology("dilation", image, size, footprint, weights, mask, border, out)


def erosion(image, size=None, footprint=None, weights=None, mask=None, border="truncated", out=None):
    return _morphology("erosion", image, size, footprint, weights, mask, border, out)


def opening(image, size=None, footprint=None, weights=None, mask=None, border="truncated", out=None):
    return _morphology("opening", image, size, footprint, weights, mask, border, out)


def closing(image, size=None, footprint=None, weights=None, mask=None, border="truncated", out=None):
    return _morphology("closing", image, size, footprint, weights, mask, border, out)


dilation.__doc__ = _MORPHOLOGY_DOC.format(what="dilation", extreme="maximum", shift="raise")
erosion.__doc__ = _MORPHOLOGY_DOC.format(what="erosion", extreme="minimum", shift="lower")
opening.__doc__ = _MORPHOLOGY_DOC.format(what="opening: erosion, then dilation", extreme="minimum, then maximum",
                                         shift="lower, then raise,")
closing.__doc__ = _MORPHOLOGY_DOC.format(what="closing: dilation, then erosion", extreme="maximum, then minimum",
                                         shift="raise, then lower,")


def _subtract(use_median, image, size, mask, out):
    image = _source(image)
    rows, cols = _checks.odd_size(size)
    m = _mask(mask, image.shape)
    return _run(lambda t: _kip.subtract_local(image, m, use_median, cols, rows, t), out, image.shape, image.dtype,
                [image, m])


def subtract_local_mean(image, size=None, mask=None, out=None):
    """Local background subtraction with the mean: clamp(image - mean + mid, 0, max), mid 128 for
    uint8 and 32768 for uint16.

    The box of `size` (int or (rows, columns), odd, default 3) stays centred on the pixel and
    shrinks symmetrically near the image border. With a mask (bool/uint8 of the image's shape) the
    mean is over selected pixels, and unselected pixels become mid. Raises TypeError/ValueError for
    bad arguments, kip.Error on failure.
    """
    return _subtract(False, image, size, mask, out)


def subtract_local_median(image, size=None, mask=None, out=None):
    """Local background subtraction with the median: clamp(image - median + mid, 0, max), the
    median's neighbourhood cut at the image border. Arguments as subtract_local_mean; unselected
    pixels of a mask become mid. Raises TypeError/ValueError for bad arguments, kip.Error on failure.
    """
    return _subtract(True, image, size, mask, out)
