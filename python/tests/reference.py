"""Brute-force numpy versions of each filter's definition: slow, small, obviously right."""

import numpy as np


def _shifted(a, dy, dx, valid):
    """a[y + dy, x + dx] at every (y, x), with where that position lies inside (and is valid)."""
    h, w = a.shape
    v = np.zeros((h, w), np.int64)
    ok = np.zeros((h, w), bool)
    ys, xs = slice(max(0, -dy), min(h, h - dy)), slice(max(0, -dx), min(w, w - dx))
    if ys.stop <= ys.start or xs.stop <= xs.start:
        return v, ok
    src = (slice(ys.start + dy, ys.stop + dy), slice(xs.start + dx, xs.stop + dx))
    v[ys, xs] = a[src]
    ok[ys, xs] = valid[src]
    return v, ok


def _offsets(footprint, turned):
    cy, cx = footprint.shape[0] // 2, footprint.shape[1] // 2
    for i, j in zip(*np.nonzero(footprint)):
        yield ((cy - i, cx - j) if turned else (i - cy, j - cx)), (i, j)


def rank(a, p, footprint, mask=None):
    """Percentile p of the footprint (scipy orientation) cut at the border; rank rule of kip."""
    valid = np.ones(a.shape, bool) if mask is None else mask != 0
    shifted = [_shifted(a, dy, dx, valid) for (dy, dx), _ in _offsets(footprint, False)]
    if not shifted:  # a footprint without members
        shifted = [(np.zeros(a.shape, np.int64), np.zeros(a.shape, bool))]
    v, ok = np.array([s[0] for s in shifted]), np.array([s[1] for s in shifted])
    n = ok.sum(0)
    k = np.where(p * n <= 0, 1, np.ceil(p * n)).astype(np.int64)
    k = np.minimum(k, n)
    v = np.sort(np.where(ok, v, 1 << 40), axis=0)
    out = np.take_along_axis(v, np.maximum(k - 1, 0)[None], 0)[0]
    out = np.where(n == 0, a if mask is not None else 0, out)
    return np.where(valid, out, a).astype(a.dtype)


def morphology_pass(a, footprint, weights, mask, dilate):
    valid = np.ones(a.shape, bool) if mask is None else mask != 0
    best = np.full(a.shape, 0 if dilate else np.iinfo(a.dtype).max, np.int64)
    for (dy, dx), (i, j) in _offsets(footprint, True):
        v, ok = _shifted(a, dy, dx, valid)
        if weights is not None:
            v = np.clip(v + (weights[i, j] if dilate else -weights[i, j]), 0, 255)
        best = np.where(ok, np.maximum(best, v) if dilate else np.minimum(best, v), best)
    return np.where(valid, best, a).astype(a.dtype)


def morphology(a, operation, footprint, weights=None, mask=None):
    if a.dtype == np.uint8 and footprint.shape == (1, 1):
        return a.copy()  # the 8-bit 1 x 1 element copies, weight, operation and mask aside
    passes = {"dilation": [True], "erosion": [False], "opening": [False, True], "closing": [True, False]}
    for dilate in passes[operation]:
        a = morphology_pass(a, footprint, weights, mask, dilate)
    return a


def convolve(a, weights, border):
    """True convolution; mirrored: reflection with the edge repeated, period twice the size."""
    h, w = a.shape
    ky, kx = weights.shape
    cy, cx = ky // 2, kx // 2
    ys = np.arange(h)[:, None] + cy - np.arange(ky)[None, :]
    xs = np.arange(w)[:, None] + cx - np.arange(kx)[None, :]
    ys, xs = ys % (2 * h), xs % (2 * w)
    ys, xs = np.where(ys >= h, 2 * h - 1 - ys, ys), np.where(xs >= w, 2 * w - 1 - xs, xs)
    total = np.zeros((h, w), np.int64)
    for i in range(ky):
        for j in range(kx):
            total += int(weights[i, j]) * a[ys[:, i]][:, xs[:, j]].astype(np.int64)
    if weights.dtype == np.int16:
        wt = weights.astype(np.int64)
        norm = max(wt[wt > 0].sum(), -wt[wt < 0].sum())
        out = np.zeros_like(total) if norm == 0 else np.sign(total) * (np.abs(total) // norm)
        out = out.astype(np.int16)
    else:
        s = int(weights.astype(np.int64).sum())
        out = (np.zeros_like(total) if s == 0 else total // s).astype(np.uint8)
    if border == "clipped":
        out = out[cy:h - cy, cx:w - cx]
    return out


def subtract_local_mean(a, size, mask=None):
    h, w = a.shape
    hy, hx = size[0] // 2, size[1] // 2
    sel = np.ones(a.shape, bool) if mask is None else mask != 0
    y, x = np.mgrid[0:h, 0:w]
    ry = np.minimum(hy, np.minimum(y, h - 1 - y))
    rx = np.minimum(hx, np.minimum(x, w - 1 - x))
    pad = lambda m: np.pad(np.cumsum(np.cumsum(m, 0), 1), ((1, 0), (1, 0)))
    s_int, n_int = pad(np.where(sel, a, 0).astype(np.int64)), pad(sel.astype(np.int64))
    box = lambda t: t[y + ry + 1, x + rx + 1] - t[y - ry, x + rx + 1] - t[y + ry + 1, x - rx] + t[y - ry, x - rx]
    s, n = box(s_int), box(n_int)
    mean = np.floor((s.astype(np.float32) / np.maximum(n, 1).astype(np.float32)).astype(np.float64) + 0.5)
    background = np.where(sel, mean, a).astype(np.int64)
    return _lift(a, background)


def subtract_local_median(a, size, mask=None):
    background = rank(a, 0.5, np.ones(size, bool), mask).astype(np.int64)
    return _lift(a, background)


def _lift(a, background):
    top = np.iinfo(a.dtype).max
    return np.clip(a.astype(np.int64) - background + (top + 1) // 2, 0, top).astype(a.dtype)
