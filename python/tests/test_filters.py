"""kip's numpy functions against brute-force references, scipy/scikit-image, and themselves on
views; bad input; failures of the library; the GIL."""

import threading
import time

import numpy as np
import pytest
import scipy.ndimage as ndi
import skimage.filters.rank as skrank
from skimage.morphology import disk

import kip
import reference as ref
from conftest import random_footprint, random_image
from kip import _kip

DEPTHS = [np.uint8, np.uint16]


def random_case(rng, dtype, with_mask):
    shape = tuple(rng.integers(1, 40, 2))
    a = random_image(rng, shape, dtype)
    if rng.random() < 0.5:  # a view at a random offset of a larger array
        oy, ox = rng.integers(0, 9, 2)
        big = random_image(rng, (shape[0] + oy + int(rng.integers(0, 9)), shape[1] + ox + 11), dtype)
        big[oy:oy + shape[0], ox:ox + shape[1]] = a
        a = big[oy:oy + shape[0], ox:ox + shape[1]]
    mask = (rng.random(shape) < 0.7) if with_mask and rng.random() < 0.5 else None
    return a, mask


# ---- Against the brute-force references -------------------------------------------------------

@pytest.mark.parametrize("dtype", DEPTHS)
def test_rank_and_median_match_reference(rng, engines, dtype):
    for _ in range(25):
        a, mask = random_case(rng, dtype, True)
        fp = random_footprint(rng, centre=False) if rng.random() < 0.6 else np.ones((3, 5), bool)
        p = float(rng.choice([0.0, 1.0, 0.5, rng.random()]))
        np.testing.assert_array_equal(kip.rank(a, p, footprint=fp, mask=mask), ref.rank(a, p, fp, mask))
        np.testing.assert_array_equal(kip.median(a, footprint=fp, mask=mask), ref.rank(a, 0.5, fp, mask))


def test_median_bands_do_not_change_bits(rng):
    # Large enough for several bands: the threaded fast paths against one thread of general engines.
    a = random_image(rng, (520, 1010), np.uint8)
    for fp in [random_footprint(rng), np.ones((5, 3), bool)]:
        try:
            kip.set_threads(1)
            _kip._set_optimizations(False)
            expected = kip.median(a, footprint=fp)
            _kip._set_optimizations(True)
            for threads in (3, 8):
                kip.set_threads(threads)
                np.testing.assert_array_equal(kip.median(a, footprint=fp), expected)
        finally:
            kip.set_threads(0)
            _kip._set_optimizations(True)


@pytest.mark.parametrize("dtype", DEPTHS)
@pytest.mark.parametrize("operation", ["dilation", "erosion", "opening", "closing"])
def test_morphology_matches_reference(rng, engines, dtype, operation):
    for _ in range(12):
        a, mask = random_case(rng, dtype, True)
        fp = random_footprint(rng)
        weights = None
        if dtype == np.uint8 and rng.random() < 0.4:
            weights = rng.integers(-40, 40, fp.shape)
        got = getattr(kip, operation)(a, footprint=fp, weights=weights, mask=mask)
        np.testing.assert_array_equal(got, ref.morphology(a, operation, fp, weights, mask))


@pytest.mark.parametrize("border", ["mirrored", "clipped"])
def test_convolve_matches_reference(rng, engines, border):
    for _ in range(20):
        a = random_image(rng, tuple(rng.integers(1, 30, 2)), np.uint8)
        shape = 2 * rng.integers(0, 4, 2) + 1
        if rng.random() < 0.5:
            w = rng.integers(-300, 300, shape).astype(np.int16)
        else:
            w = rng.integers(0, 256, shape).astype(np.uint8)
        np.testing.assert_array_equal(kip.convolve(a, w, border=border), ref.convolve(a, w, border))


@pytest.mark.parametrize("dtype", DEPTHS)
def test_local_subtraction_matches_reference(rng, engines, dtype):
    for _ in range(15):
        a, mask = random_case(rng, dtype, True)
        size = tuple(2 * rng.integers(0, 5, 2) + 1)
        np.testing.assert_array_equal(kip.subtract_local_mean(a, size, mask), ref.subtract_local_mean(a, size, mask))
        np.testing.assert_array_equal(kip.subtract_local_median(a, size, mask),
                                      ref.subtract_local_median(a, size, mask))


# ---- Against scipy.ndimage and scikit-image where the definitions coincide ---------------------

@pytest.mark.parametrize("dtype", DEPTHS)
def test_peers_on_interior_pixels(rng, dtype):
    a = random_image(rng, (64, 80), dtype)
    inner = (slice(3, -3), slice(3, -3))
    np.testing.assert_array_equal(kip.median(a, size=(7, 5))[inner], ndi.median_filter(a, size=(7, 5))[inner])
    fp = random_footprint(rng)
    np.testing.assert_array_equal(kip.dilation(a, footprint=fp)[inner], ndi.grey_dilation(a, footprint=fp)[inner])
    # Erosion meets the element turned, as dilation does.
    np.testing.assert_array_equal(kip.erosion(a, footprint=fp)[inner],
                                  ndi.grey_erosion(a, footprint=fp[::-1, ::-1])[inner])
    if dtype == np.uint8:
        np.testing.assert_array_equal(kip.median(a, footprint=disk(3))[inner],
                                      skrank.median(a, footprint=disk(3))[inner])
        w = rng.integers(-30, 30, fp.shape)
        wide = ndi.grey_dilation(a.astype(np.int64), footprint=fp, structure=w)
        # The weighted element clamps each shifted neighbour; the clamped maximum is the same.
        np.testing.assert_array_equal(kip.dilation(a, footprint=fp, weights=w)[inner],
                                      np.clip(wide, 0, 255)[inner])


def test_convolve_matches_scipy_everywhere(rng):
    a = random_image(rng, (40, 50), np.uint8)
    w = rng.integers(0, 50, (5, 3)).astype(np.uint8)
    expected = ndi.convolve(a.astype(np.int64), w.astype(np.int64), mode="reflect") // int(w.sum())
    np.testing.assert_array_equal(kip.convolve(a, w), expected)


# ---- Views, out= and aliasing ---------------------------------------------------------------------

CALLS = [
    ("median", lambda a, **k: kip.median(a, size=(5, 3), **k)),
    ("rank", lambda a, **k: kip.rank(a, 0.3, footprint=[[1, 0, 1], [0, 1, 1], [1, 1, 0]], **k)),
    ("opening", lambda a, **k: kip.opening(a, size=(3, 5), **k)),
    ("mean", lambda a, **k: kip.subtract_local_mean(a, 5, **k)),
    ("localmedian", lambda a, **k: kip.subtract_local_median(a, (3, 5), **k)),
    ("convolve", lambda a, **k: kip.convolve(a, np.array([[1, 2, 1], [0, 3, 0], [1, 2, 1]], np.uint8), **k)),
    ("sobel", lambda a, **k: kip.convolve(a, np.array([[1, 0, -1], [2, 0, -2], [1, 0, -1]]), **k)),
]


@pytest.mark.parametrize("name,call", CALLS, ids=[c[0] for c in CALLS])
def test_views_give_the_result_of_their_copies(rng, name, call):
    big = random_image(rng, (60, 70), np.uint8)
    views = [big[5:40, 7:50], big[::2, ::3], big[::-1, 3:], np.asfortranarray(big), big.T,
             big.astype(np.uint16)[1:, 2:] if name not in ("convolve", "sobel") else big[:, ::-1]]
    for view in views:
        np.testing.assert_array_equal(call(view), call(np.ascontiguousarray(view)))
    assert call(big[:0]).shape[0] == 0
    # A window of a larger array written through out=, the frame around it untouched.
    a = big[10:50, 10:60]
    expected = call(a.copy())
    canvas = np.full((50, 60), 7, expected.dtype)
    assert call(a, out=canvas[5:45, 5:55]) is not None
    np.testing.assert_array_equal(canvas[5:45, 5:55], expected)
    assert (canvas[:5] == 7).all() and (canvas[:, :5] == 7).all() and (canvas[45:] == 7).all()
    # out= on non-contiguous memory.
    out = np.zeros(expected.shape[::-1], expected.dtype).T
    call(a, out=out)
    np.testing.assert_array_equal(out, expected)
    # out= aliasing the input (same dtype and shape only).
    if expected.dtype == a.dtype:
        same = a.copy()
        assert call(same, out=same) is same
        np.testing.assert_array_equal(same, expected)
        shifted = big.copy()
        call(shifted[10:50, 10:60], out=shifted[12:52, 9:59])
        np.testing.assert_array_equal(shifted[12:52, 9:59], expected)


def test_contiguous_rows_are_not_copied():
    big = np.zeros((20, 30), np.uint16)
    assert kip._filters._wrappable(big[3:9, 4:17])
    assert kip._filters._wrappable(big[::3, 2:5])
    assert not kip._filters._wrappable(big[:, ::2])
    assert not kip._filters._wrappable(np.asfortranarray(big))


# ---- Bad input ----------------------------------------------------------------------------------

BAD = [
    (TypeError, lambda a, o: kip.median(a.astype(np.int32), out=o)),
    (TypeError, lambda a, o: kip.median(a.astype(np.float32), out=o)),
    (TypeError, lambda a, o: kip.median(a.tolist(), out=o)),
    (ValueError, lambda a, o: kip.median(a[None], out=o)),
    (ValueError, lambda a, o: kip.median(a, size=4, out=o)),
    (ValueError, lambda a, o: kip.median(a, size=(3, 0), out=o)),
    (ValueError, lambda a, o: kip.median(a, footprint=np.ones((3, 2), bool), out=o)),
    (ValueError, lambda a, o: kip.median(a, size=3, footprint=np.ones((3, 3), bool), out=o)),
    (ValueError, lambda a, o: kip.rank(a, float("nan"), out=o)),
    (ValueError, lambda a, o: kip.rank(a, 50, out=o)),
    (TypeError, lambda a, o: kip.rank(a, "half", out=o)),
    (ValueError, lambda a, o: kip.median(a, mask=np.ones((5, 5), bool), out=o)),
    (TypeError, lambda a, o: kip.median(a, mask=np.ones(a.shape, np.float64), out=o)),
    (ValueError, lambda a, o: kip.dilation(a, weights=np.full((3, 3), 256), out=o)),
    (ValueError, lambda a, o: kip.dilation(a.astype(np.uint16), weights=np.ones((3, 3), int), out=o.astype(np.uint16))),
    (ValueError, lambda a, o: kip.dilation(a, border="mirrored", out=o)),
    (ValueError, lambda a, o: kip.convolve(a, np.full((3, 3), 256, np.int64), signed=False, out=o)),
    (TypeError, lambda a, o: kip.convolve(a, np.ones((3, 3)), out=o)),
    (TypeError, lambda a, o: kip.convolve(a.astype(np.uint16), np.ones((3, 3), int), out=o)),
    (ValueError, lambda a, o: kip.subtract_local_mean(a, (2, 3), out=o)),
    (TypeError, lambda a, o: kip.median(a, out=o.astype(np.uint16))),
    (ValueError, lambda a, o: kip.median(a, out=o[1:])),
]


@pytest.mark.parametrize("error,call", BAD)
def test_bad_input_raises_before_writing(rng, error, call):
    a = random_image(rng, (20, 30), np.uint8)
    out = np.full(a.shape, 99, np.uint8)
    before = a.copy()
    with pytest.raises(error) as info:
        call(a, out)
    assert "expected" in str(info.value) or "not both" in str(info.value)
    assert (out == 99).all() and (a == before).all()


def test_library_failures_raise_kip_error(rng):
    a = random_image(rng, (30, 30), np.uint16)
    with pytest.raises(kip.Error) as info:
        kip.dilation(a, border="clipped")
    assert info.value.name == "kip_errNotAvailable" and info.value.code == -0x7FFFF9FF
    assert kip.status_name(info.value.code) == info.value.name
    # The 8-bit 1 x 1 element is the clipped border's one case: a copy.
    b = a.astype(np.uint8)
    np.testing.assert_array_equal(kip.dilation(b, size=1, border="clipped"), b)


FAULTY = [
    lambda a: kip.median(a, footprint=[[1, 0, 1], [1, 1, 1], [0, 1, 0]], mask=a > 3),
    lambda a: kip.rank(a, 0.7, size=(3, 5), mask=a > 3),
    lambda a: kip.closing(a, size=5, mask=a > 3),
    lambda a: kip.dilation(a, weights=np.arange(-4, 5).reshape(3, 3)),
    lambda a: kip.subtract_local_mean(a, 7, mask=a > 3),
    lambda a: kip.subtract_local_median(a, 5),
    lambda a: kip.convolve(a, np.arange(-7, 8, dtype=np.int16).reshape(3, 5)),
]


@pytest.mark.parametrize("call", FAULTY)
def test_allocation_failures_are_reported_and_leak_nothing(rng, call):
    a = random_image(rng, (40, 50), np.uint8)
    expected = call(a)
    live = _kip._live_blocks()
    for n in range(1000):
        _kip._set_fail_after(n)
        try:
            got = call(a)
        except kip.Error as e:
            assert e.name == "ksys_errOutOfMemory"
            assert _kip._live_blocks() == live
            continue
        finally:
            _kip._set_fail_after(-1)
        np.testing.assert_array_equal(got, expected)
        break
    assert n > 0 and _kip._live_blocks() == live


@pytest.mark.parametrize("call", [lambda a: kip.median(a), lambda a: kip.rank(a, 0.1),
                                  lambda a: kip.convolve(a, np.ones((3, 3), np.int16)), lambda a: kip.dilation(a),
                                  lambda a: kip.subtract_local_mean(a)])
def test_filters_release_the_gil(rng, call):
    # The hook holds the worker inside the C call; the main thread can only see that while the
    # worker waits there if the worker let go of the GIL.
    a = random_image(rng, (64, 64), np.uint8)
    _kip._hold_next_call()
    worker = threading.Thread(target=call, args=(a,))
    worker.start()
    try:
        deadline = time.monotonic() + 30
        while not _kip._held() and worker.is_alive() and time.monotonic() < deadline:
            time.sleep(0.001)
        assert _kip._held()
    finally:
        _kip._let_go()
        worker.join()
