"""kip's filters on dask arrays, bit-identical to one call on the whole image.

Each function runs the numpy filter on every chunk together with a margin of real neighbouring
pixels (dask.array.map_overlap with boundary 'none'), then keeps the chunk's own pixels. The
margin is the reach of the filter (twice that for opening and closing, which filter twice). A
chunk at the image edge gets no margin on that side, so the library meets the real image edge
there and treats it as it does in a whole-image call: cut neighbourhoods, the reflection of the
mirrored border, the shrinking box of the local mean. Chunks smaller than the margin are merged
by dask first. Works on the threaded scheduler and on dask.distributed alike.

batch() filters a stack of images (or the TIFF files of a directory) image by image.

Every function returns a lazy dask array. Bad arguments raise TypeError or ValueError when the
graph is built; a failure of the library raises kip.Error when it is computed.
"""

import functools
import os

import dask
import dask.array as da
import numpy as np

from . import _checks
from . import _filters

__all__ = [
    "convolve", "rank", "median", "dilation", "erosion", "opening", "closing",
    "subtract_local_mean", "subtract_local_median", "batch",
]


def _array(image, name="image", types=_checks.PIXEL_TYPES):
    if not isinstance(image, da.Array):
        if not isinstance(image, np.ndarray):
            raise TypeError(f"{name}: a dask or numpy array expected, got {type(image).__name__}")
        image = da.from_array(image)
    _checks.image_type(image.dtype, image.ndim, name, types)
    return image


def _dask_mask(mask, image):
    if mask is None:
        return None
    if not isinstance(mask, (da.Array, np.ndarray)):
        raise TypeError(f"mask: a dask or numpy array expected, got {type(mask).__name__}")
    _checks.mask_type(mask, image.shape)
    return mask if isinstance(mask, da.Array) else da.from_array(mask, chunks=image.chunks)


def _depth(image, reach):
    # A margin as wide as the image takes the whole axis, which is all any pixel can reach: with
    # the mirrored border a kernel wider than the image reflects back and forth inside it.
    return {axis: max(0, min(r, n - 1)) for axis, (r, n) in enumerate(zip(reach, image.shape))}


def _block(func, block, mask_block=None, **kwargs):
    if mask_block is not None:
        kwargs["mask"] = mask_block
    return func(np.asarray(block), **kwargs)


def _overlap(func, image, mask, reach, dtype, **kwargs):
    depth = _depth(image, reach)
    meta = np.empty((0, 0), dtype)
    call = functools.partial(_block, func, **kwargs)
    arrays = [image] if mask is None else [image, mask]
    return da.map_overlap(call, *arrays, depth=depth, boundary="none", dtype=dtype, meta=meta)


def _clipped_block(block, weights, signed):
    # The clipped result of the chunk with its margin, put back in place inside a zero frame so
    # that map_overlap can cut the margin off; the frame falls outside the final result.
    result = _filters.convolve(np.asarray(block), weights, "clipped", signed)
    full = np.zeros(block.shape, result.dtype)
    hy, hx = weights.shape[0] // 2, weights.shape[1] // 2
    full[hy:hy + result.shape[0], hx:hx + result.shape[1]] = result
    return full


def convolve(image, weights, border="mirrored", signed=None):
    """kip.convolve over a dask array (uint8): same arguments, the same bits as one whole-image
    call. With border='clipped' the result is smaller by the kernel's half size on each side."""
    image = _array(image, types=(np.dtype(np.uint8),))
    w = _checks.convolve_weights(weights, signed)
    _checks.choice(border, "border", _checks.CONVOLVE_BORDERS)
    dtype = np.int16 if w.dtype == np.int16 else np.uint8
    hy, hx = w.shape[0] // 2, w.shape[1] // 2
    signed = w.dtype == np.int16
    if border == "mirrored":
        return _overlap(_filters.convolve, image, None, (hy, hx), dtype, weights=w, signed=signed)
    rows, cols = image.shape
    if rows <= 2 * hy or cols <= 2 * hx:
        return da.zeros((max(0, rows - 2 * hy), max(0, cols - 2 * hx)), dtype)
    depth = _depth(image, (hy, hx))
    framed = da.map_overlap(functools.partial(_clipped_block, weights=w, signed=signed), image, depth=depth,
                            boundary="none", dtype=dtype, meta=np.empty((0, 0), dtype))
    return framed[hy:rows - hy, hx:cols - hx]


def rank(image, percentile, size=None, footprint=None, mask=None):
    """kip.rank over a dask array (uint8 or uint16, 2-D); mask may be a dask or numpy array of the
    image's shape. Margin: the footprint's half size. Arguments as kip.rank."""
    image = _array(image)
    p = _checks.percentile(percentile)
    fp = _checks.footprint(size, footprint)
    m = _dask_mask(mask, image)
    reach = (fp.shape[0] // 2, fp.shape[1] // 2)
    return _overlap(_filters.rank, image, m, reach, image.dtype, percentile=p, footprint=fp)


def median(image, size=None, footprint=None, mask=None):
    """kip.median over a dask array. Each chunk runs on the library's job threads as well; with
    many dask workers on one machine, kip.set_threads(1) avoids oversubscription."""
    image = _array(image)
    fp = _checks.footprint(size, footprint)
    m = _dask_mask(mask, image)
    reach = (fp.shape[0] // 2, fp.shape[1] // 2)
    return _overlap(_filters.median, image, m, reach, image.dtype, footprint=fp)


def _morphology(func, passes, image, size, footprint, weights, mask, border):
    image = _array(image)
    if footprint is None and size is None and weights is not None:
        size = np.shape(weights)
    fp = _checks.footprint(size, footprint)
    w = _checks.morphology_weights(weights, fp.shape, image.dtype)
    _checks.choice(border, "border", _checks.MORPHOLOGY_BORDERS)
    m = _dask_mask(mask, image)
    reach = (passes * (fp.shape[0] // 2), passes * (fp.shape[1] // 2))
    return _overlap(func, image, m, reach, image.dtype, footprint=fp, weights=w, border=border)


def dilation(image, size=None, footprint=None, weights=None, mask=None, border="truncated"):
    """kip.dilation over a dask array; margin: the element's half size. Arguments as kip.dilation."""
    return _morphology(_filters.dilation, 1, image, size, footprint, weights, mask, border)


def erosion(image, size=None, footprint=None, weights=None, mask=None, border="truncated"):
    """kip.erosion over a dask array; margin: the element's half size. Arguments as kip.erosion."""
    return _morphology(_filters.erosion, 1, image, size, footprint, weights, mask, border)


def opening(image, size=None, footprint=None, weights=None, mask=None, border="truncated"):
    """kip.opening over a dask array; margin: twice the element's half size, as the intermediate
    erosion must be exact wherever the dilation reads it. Arguments as kip.opening."""
    return _morphology(_filters.opening, 2, image, size, footprint, weights, mask, border)


def closing(image, size=None, footprint=None, weights=None, mask=None, border="truncated"):
    """kip.closing over a dask array; margin: twice the element's half size. Arguments as
    kip.closing."""
    return _morphology(_filters.closing, 2, image, size, footprint, weights, mask, border)


def subtract_local_mean(image, size=None, mask=None):
    """kip.subtract_local_mean over a dask array; margin: the box's half size, so that the box
    shrinks at the real image edge only. Arguments as kip.subtract_local_mean."""
    image = _array(image)
    rows, cols = _checks.odd_size(size)
    m = _dask_mask(mask, image)
    return _overlap(_filters.subtract_local_mean, image, m, (rows // 2, cols // 2), image.dtype, size=(rows, cols))


def subtract_local_median(image, size=None, mask=None):
    """kip.subtract_local_median over a dask array; margin: the box's half size. Arguments as
    kip.subtract_local_median."""
    image = _array(image)
    rows, cols = _checks.odd_size(size)
    m = _dask_mask(mask, image)
    return _overlap(_filters.subtract_local_median, image, m, (rows // 2, cols // 2), image.dtype,
                    size=(rows, cols))


# ---- Batches -------------------------------------------------------------------------------------

def _read_tiff(path):
    import tifffile
    return tifffile.imread(path)


def _stack_from_files(paths):
    import tifffile
    if not paths:
        raise ValueError("batch: no images to filter")
    with tifffile.TiffFile(paths[0]) as first:
        shape, dtype = first.series[0].shape, first.series[0].dtype
    images = [da.from_delayed(dask.delayed(_read_tiff)(p), shape, dtype) for p in paths]
    return da.stack(images)


def _filter_stack(block, func, kwargs):
    return np.stack([func(image, **kwargs) for image in block])


def _result_of(func, shape, dtype, kwargs):
    """Shape and dtype of func's result on one image, without filtering one."""
    if func is not _filters.convolve:
        return shape, dtype
    w = _checks.convolve_weights(kwargs.get("weights"), kwargs.get("signed"))
    if kwargs.get("border", "mirrored") == "clipped":
        shape = (max(0, shape[0] - 2 * (w.shape[0] // 2)), max(0, shape[1] - 2 * (w.shape[1] // 2)))
    return shape, np.dtype(np.int16 if w.dtype == np.int16 else np.uint8)


def batch(images, func, images_per_chunk=1, **kwargs):
    """Filters a stack of images image by image with a kip numpy function, e.g.
    batch(stack, kip.median, size=5).

    images : a 3-D array (numpy or dask, images along the first axis), a directory (its *.tif and
        *.tiff files in name order, read with tifffile when a chunk is computed) or a list of TIFF
        paths. Every image must have the same shape and dtype.
    func : one of kip's numpy functions (kip.median, kip.rank, ...); kwargs are passed to it.
    images_per_chunk : images filtered together by one task.

    Returns a lazy dask array of the results, one image per entry along the first axis; compute
    it (threaded scheduler or a dask.distributed client) or store it chunk by chunk.
    """
    if func not in [getattr(_filters, name) for name in _filters.__all__]:
        raise TypeError("func: one of kip's numpy functions expected (kip.median, kip.rank, ...)")
    if isinstance(images, (str, os.PathLike)):
        directory = os.fspath(images)
        names = sorted(n for n in os.listdir(directory) if n.lower().endswith((".tif", ".tiff")))
        images = _stack_from_files([os.path.join(directory, n) for n in names])
    elif isinstance(images, (list, tuple)):
        images = _stack_from_files([os.fspath(p) for p in images])
    elif isinstance(images, np.ndarray):
        images = da.from_array(images, chunks=(images_per_chunk, -1, -1))
    elif not isinstance(images, da.Array):
        raise TypeError(f"images: a 3-D array, a directory or a list of paths expected, got {type(images).__name__}")
    if images.ndim != 3:
        raise ValueError(f"images: a 3-D stack expected, got {images.ndim}-D")
    images = images.rechunk((images_per_chunk, -1, -1))
    shape, dtype = _result_of(func, images.shape[1:], images.dtype, kwargs)
    chunks = (images.chunks[0], (shape[0],), (shape[1],))
    return da.map_blocks(_filter_stack, images, func, kwargs, dtype=dtype, chunks=chunks,
                         meta=np.empty((0, 0, 0), dtype))
