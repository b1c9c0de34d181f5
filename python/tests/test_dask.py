"""kip.dask against one whole-image call: every family, both border modes, chunkings with chunks
smaller than the overlap, threaded scheduler and a two-worker cluster; and the batch helper."""

import pickle

import dask
import dask.array as da
import numpy as np
import pytest
import tifffile

import kip
import kip.dask as kd
from conftest import random_footprint, random_image

CHUNKINGS = [(7, 9), (2, 3), (16, 40), ((5, 30, 1, 14), (33, 2, 25))]


def cases(rng, dtype):
    fp = random_footprint(rng, 9)
    rows, cols = 2 * rng.integers(0, 5, 2) + 1
    out = [
        ("median", dict(footprint=fp)),
        ("rank", dict(percentile=float(rng.random()), size=(int(rows), int(cols)))),
        ("dilation", dict(footprint=fp)),
        ("erosion", dict(size=(int(rows), int(cols)))),
        ("opening", dict(footprint=fp)),
        ("closing", dict(size=(int(rows), int(cols)))),
        ("subtract_local_mean", dict(size=(int(rows), int(cols)))),
        ("subtract_local_median", dict(size=(int(cols), int(rows)))),
    ]
    if dtype == np.uint8:
        w = rng.integers(-20, 20, fp.shape)
        out += [("opening", dict(footprint=fp, weights=w)), ("closing", dict(footprint=fp, weights=w))]
        k = rng.integers(-9, 9, (int(rows), 2 * int(rng.integers(0, 9)) + 1))
        for border in ("mirrored", "clipped"):
            out += [("convolve", dict(weights=k, border=border)),
                    ("convolve", dict(weights=np.abs(k).astype(np.uint8), border=border))]
    return out


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16])
@pytest.mark.parametrize("chunks", CHUNKINGS, ids=["7x9", "2x3", "16x40", "uneven"])
def test_chunked_equals_whole_image(rng, dtype, chunks):
    # Tiny chunks make large graphs: a smaller image for them.
    a = random_image(rng, (20, 26) if chunks == (2, 3) else (50, 60), dtype)
    mask = rng.random(a.shape) < 0.8
    image = da.from_array(a, chunks=chunks)
    for name, kwargs in cases(rng, dtype):
        expected = getattr(kip, name)(a, **kwargs)
        got = getattr(kd, name)(image, **kwargs).compute(scheduler="threads")
        np.testing.assert_array_equal(got, expected, err_msg=f"{name} {kwargs}")
        if name != "convolve":
            masked = getattr(kd, name)(image, mask=da.from_array(mask, chunks=chunks), **kwargs)
            np.testing.assert_array_equal(masked.compute(scheduler="threads"), getattr(kip, name)(a, mask=mask, **kwargs))


def test_kernels_larger_than_the_image(rng):
    a = random_image(rng, (9, 40), np.uint8)
    image = da.from_array(a, chunks=(4, 7))
    for border in ("mirrored", "clipped"):
        w = np.ones((31, 5), np.uint8)
        np.testing.assert_array_equal(kd.convolve(image, w, border).compute(), kip.convolve(a, w, border))
    np.testing.assert_array_equal(kd.median(image, size=(25, 3)).compute(), kip.median(a, size=(25, 3)))
    np.testing.assert_array_equal(kd.closing(image, size=(7, 51)).compute(), kip.closing(a, size=(7, 51)))


def test_distributed_cluster_with_two_workers(rng):
    distributed = pytest.importorskip("distributed")
    a = random_image(rng, (90, 70), np.uint16)
    image = da.from_array(a, chunks=(20, 25))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        jobs = [kd.median(image, size=5), kd.opening(image, size=(3, 7)), kd.subtract_local_mean(image, 9),
                kd.convolve(image.astype(np.uint8), np.ones((3, 5), np.int16), "clipped")]
        results = client.compute(jobs, sync=True)
    np.testing.assert_array_equal(results[0], kip.median(a, size=5))
    np.testing.assert_array_equal(results[1], kip.opening(a, size=(3, 7)))
    np.testing.assert_array_equal(results[2], kip.subtract_local_mean(a, 9))
    np.testing.assert_array_equal(results[3], kip.convolve(a.astype(np.uint8), np.ones((3, 5), np.int16), "clipped"))
    # Workers in other processes or on other machines receive the tasks pickled.
    for job, result in zip(jobs, results):
        np.testing.assert_array_equal(pickle.loads(pickle.dumps(job)).compute(scheduler="sync"), result)


def test_batch_of_a_stack_and_of_a_directory(rng, tmp_path):
    stack = random_image(rng, (5, 30, 40), np.uint8)
    for i, image in enumerate(stack):
        tifffile.imwrite(tmp_path / f"{i:02d}.tif", image)
    (tmp_path / "notes.txt").write_text("not an image")
    expected = np.stack([kip.rank(image, 0.25, size=(3, 5)) for image in stack])
    for source in (stack, da.from_array(stack, chunks=(2, 10, 10)), tmp_path, sorted(tmp_path.glob("*.tif"))):
        result = kd.batch(source, kip.rank, images_per_chunk=2, percentile=0.25, size=(3, 5))
        assert isinstance(result, da.Array)
        np.testing.assert_array_equal(result.compute(scheduler="threads"), expected)
    clipped = kd.batch(stack, kip.convolve, weights=np.ones((3, 3), np.int16), border="clipped")
    assert clipped.shape == (5, 28, 38) and clipped.dtype == np.int16
    np.testing.assert_array_equal(clipped[3].compute(), kip.convolve(stack[3], np.ones((3, 3), np.int16), "clipped"))


@pytest.mark.parametrize("error,call", [
    (TypeError, lambda a: kd.median(a.astype(np.float32))),
    (ValueError, lambda a: kd.median(a[None])),
    (ValueError, lambda a: kd.rank(a, float("nan"))),
    (ValueError, lambda a: kd.dilation(a, size=(3, 4))),
    (ValueError, lambda a: kd.median(a, mask=np.ones((3, 3), bool))),
    (TypeError, lambda a: kd.convolve(a.astype(np.uint16), np.ones((3, 3), int))),
    (TypeError, lambda a: kd.batch(a, np.max)),
    (ValueError, lambda a: kd.batch(a, kip.median)),
])
def test_bad_input_raises_when_the_graph_is_built(rng, error, call):
    a = da.from_array(random_image(rng, (20, 30), np.uint8), chunks=8)
    with dask.config.set(scheduler="sync"), pytest.raises(error):
        call(a)
