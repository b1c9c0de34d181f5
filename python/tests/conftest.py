import zlib

import numpy as np
import pytest

import kip
from kip import _kip


@pytest.fixture(params=["fast", "general"])
def engines(request):
    """Every test using it runs with the optimised paths and with the general engines only."""
    _kip._set_optimizations(request.param == "fast")
    yield request.param
    _kip._set_optimizations(True)


@pytest.fixture
def rng(request):
    return np.random.default_rng(zlib.crc32(request.node.name.encode()))


def random_image(rng, shape, dtype, levels=None):
    top = levels or (256 if dtype == np.uint8 else 65536)
    # Few grey levels now and then, so that ties and equal neighbours are common.
    if rng.random() < 0.3:
        top = min(top, 4)
    return rng.integers(0, top, shape).astype(dtype)


def random_footprint(rng, max_side=7, centre=True):
    """centre=False: now and then without its centre, so that neighbourhoods can be empty."""
    rows, cols = 2 * rng.integers(0, max_side // 2 + 1, 2) + 1
    fp = rng.random((rows, cols)) < rng.uniform(0.3, 1.0)
    fp[rows // 2, cols // 2] = centre or rng.random() < 0.7
    return fp
