#!/usr/bin/python3
"""kip from Python beside cv2, scipy.ndimage and skimage.filters.rank on the same arrays, one thread
each; the Python layer's overhead over the C call; kip.dask with two workers beside one
whole-image call.

Run from a build tree:  PYTHONPATH=build/python bench/python_bench.py [--size 4096] [--dask-size 16384]
Figures are Mpixel/s (best of the repeats) in process CPU time, every case being one thread: on a
shared, loaded machine a few-millisecond call timed by the wall clock loses whole time slices to
other processes, which made fast cases look several times slower than they are (--clock wall
times the wall clock instead). Kip and its peers take turns, repeat by repeat, so that a busy
spell hits them alike. A peer that would take longer than --budget seconds on the whole image is
timed on a centred crop instead and marked with '*'.
"""

import argparse
import os
import threading
import time

import numpy as np

os.environ.setdefault("OMP_NUM_THREADS", "1")
import cv2  # noqa: E402
import scipy.ndimage as ndi  # noqa: E402
import skimage.filters.rank as skrank  # noqa: E402

import kip  # noqa: E402
from kip import _kip  # noqa: E402


clock = time.process_time


def best_seconds(call, repeats, budget=2.0):
    best, spent = float("inf"), 0.0
    for _ in range(repeats):
        start = clock()
        call()
        took = clock() - start
        best, spent = min(best, took), spent + took
        if spent > budget:
            break
    return best


def rates(calls, image, budget, repeats):
    """Mpixel/s of each call on image, on a crop for a call whose one whole run would exceed the
    budget; the calls take turns, repeat by repeat."""
    crop = image[: image.shape[0] // 8, : image.shape[1] // 8]
    targets = {}
    for peer, call in calls.items():
        probe = best_seconds(lambda: call(crop), 1)
        targets[peer] = (crop, "*") if probe * 64 > budget else (image, "")
    best = dict.fromkeys(calls, float("inf"))
    spent = dict.fromkeys(calls, 0.0)
    for _ in range(repeats):
        for peer, call in calls.items():
            if spent[peer] > 2.0:
                continue
            start = clock()
            call(targets[peer][0])
            took = clock() - start
            best[peer], spent[peer] = min(best[peer], took), spent[peer] + took
    return {peer: (targets[peer][0].size / best[peer] / 1e6, targets[peer][1]) for peer in calls}


def scene(n, dtype, seed=1):
    """Smooth shapes plus noise: a natural-looking picture for rank and median paths."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:n, 0:n].astype(np.float32) / n
    picture = 0.5 + 0.25 * np.sin(9 * x + 4 * y) * np.cos(7 * y - 3 * x)
    picture += rng.normal(0, 0.05, (n, n)).astype(np.float32)
    top = 255 if dtype == np.uint8 else 65535
    return np.clip(picture * top, 0, top).astype(dtype)


def square(n):
    return np.ones((n, n), bool)


def cases(img8, img16):
    box = lambda n: np.ones((n, n), np.uint8)  # noqa: E731
    sobel = np.array([[1, 0, -1], [2, 0, -2], [1, 0, -1]], np.int16)
    out = []
    for n in (3, 5, 7, 11):
        out.append((f"convolve8_8_8 box {n}x{n}", img8, {
            "kip": lambda a, n=n: kip.convolve(a, box(n)),
            "cv2": lambda a, n=n: cv2.filter2D(a, -1, box(n).astype(np.float32) / n / n,
                                               borderType=cv2.BORDER_REFLECT),
            "scipy": lambda a, n=n: ndi.uniform_filter(a, n, mode="reflect"),
        }))
    out.append(("convolve8_16s_16s sobel 3x3", img8, {
        "kip": lambda a: kip.convolve(a, sobel),
        "cv2": lambda a: cv2.filter2D(a, cv2.CV_16S, sobel[::-1, ::-1].astype(np.float32) / 4,
                                      borderType=cv2.BORDER_REFLECT),
        "scipy": lambda a: ndi.convolve(a.astype(np.int16), sobel, mode="reflect"),
    }))
    for n in (3, 5, 9, 15):
        out.append((f"median8 {n}x{n}", img8, {
            "kip": lambda a, n=n: kip.median(a, size=n),
            "cv2": lambda a, n=n: cv2.medianBlur(a, n),
            "scipy": lambda a, n=n: ndi.median_filter(a, size=n),
            "skimage": lambda a, n=n: skrank.median(a, square(n)),
        }))
    for n in (5, 15):
        out.append((f"median16 {n}x{n}", img16, {
            "kip": lambda a, n=n: kip.median(a, size=n),
            "cv2": (lambda a, n=n: cv2.medianBlur(a, n)) if n <= 5 else None,
            "scipy": lambda a, n=n: ndi.median_filter(a, size=n),
        }))
    out.append(("rank8 25% 15x15", img8, {
        "kip": lambda a: kip.rank(a, 0.25, size=15),
        "scipy": lambda a: ndi.percentile_filter(a, 25, size=15),
        "skimage": lambda a: skrank.percentile(a, square(15), p0=0.25),
    }))
    disk = np.hypot(*np.mgrid[-7:8, -7:8]) <= 7
    out.append(("rank8 50% disk r7", img8, {
        "kip": lambda a: kip.rank(a, 0.5, footprint=disk),
        "scipy": lambda a: ndi.median_filter(a, footprint=disk),
        "skimage": lambda a: skrank.median(a, disk),
    }))
    # skimage's rank filters take 16-bit images of up to 12 bits.
    img12 = img16 >> 4
    for n in (5, 15):
        out.append((f"rank16 12-bit 50% {n}x{n}", img12, {
            "kip": lambda a, n=n: kip.rank(a, 0.5, size=n),
            "scipy": lambda a, n=n: ndi.median_filter(a, size=n),
            "skimage": lambda a, n=n: skrank.median(a, square(n)),
        }))
    for n in (3, 15, 63):
        out.append((f"dilate8 rect {n}x{n}", img8, {
            "kip": lambda a, n=n: kip.dilation(a, size=n),
            "cv2": lambda a, n=n: cv2.dilate(a, np.ones((n, n), np.uint8)),
            "scipy": lambda a, n=n: ndi.grey_dilation(a, size=(n, n)),
            "skimage": lambda a, n=n: skrank.maximum(a, square(n)),
        }))
    out.append(("dilate16 rect 15x15", img16, {
        "kip": lambda a: kip.dilation(a, size=15),
        "cv2": lambda a: cv2.dilate(a, np.ones((15, 15), np.uint8)),
        "scipy": lambda a: ndi.grey_dilation(a, size=(15, 15)),
    }))
    out.append(("dilate8 disk r7", img8, {
        "kip": lambda a: kip.dilation(a, footprint=disk),
        "cv2": lambda a: cv2.dilate(a, cv2.getStructuringElement(cv2.MORPH_ELLIPSE, (15, 15))),
        "scipy": lambda a: ndi.grey_dilation(a, footprint=disk),
        "skimage": lambda a: skrank.maximum(a, disk),
    }))
    for n in (31, 101):
        out.append((f"subtract_local_mean8 {n}x{n}", img8, {
            "kip": lambda a, n=n: kip.subtract_local_mean(a, n),
            "cv2": lambda a, n=n: cv2.add(cv2.subtract(a, cv2.blur(a, (n, n))), 128),
            "scipy": lambda a, n=n: np.clip(a.astype(np.int16) - ndi.uniform_filter(a, n) + 128, 0, 255),
        }))
    out.append(("subtract_local_median8 31x31", img8, {
        "kip": lambda a: kip.subtract_local_median(a, 31),
        "cv2": lambda a: cv2.add(cv2.subtract(a, cv2.medianBlur(a, 31)), 128),
    }))
    return out


def overhead(img8, img16, repeats):
    """The Python call against the C call inside it, on the same array."""
    rows = []
    for name, call in [("median8 5x5", lambda: kip.median(img8, size=5)),
                       ("convolve8_8_8 5x5", lambda: kip.convolve(img8, np.ones((5, 5), np.uint8))),
                       ("dilate16 15x15", lambda: kip.dilation(img16, size=15)),
                       ("subtract_local_mean8 31x31", lambda: kip.subtract_local_mean(img8, 31))]:
        py = c = float("inf")
        for _ in range(repeats):
            start = time.perf_counter()
            call()
            took = time.perf_counter() - start
            if took < py:
                py, c = took, _kip._last_call_seconds()
        rows.append((name, py * 1e3, c * 1e3, 100 * (py - c) / c))
    return rows


class PeakMemory:
    """Peak resident memory above the starting level, sampled every 5 ms."""

    def __enter__(self):
        self.base = self.peak = self._rss()
        self.running = True
        self.thread = threading.Thread(target=self._watch, daemon=True)
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.running = False
        self.thread.join()

    @staticmethod
    def _rss():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    def _watch(self):
        while self.running:
            self.peak = max(self.peak, self._rss())
            time.sleep(0.005)

    @property
    def mib(self):
        return (self.peak - self.base) / 2**20


def dask_table(n, chunk):
    import dask.array as da
    import distributed

    import kip.dask

    rows = []
    kip.set_threads(1)
    for name, whole, chunked in [
        ("median8 15x15", lambda a: kip.median(a, size=15), lambda d: kip.dask.median(d, size=15)),
        ("subtract_local_mean8 31x31", lambda a: kip.subtract_local_mean(a, 31),
         lambda d: kip.dask.subtract_local_mean(d, 31)),
    ]:
        # Both runs make the pixels, filter them and sum the result. Whole image: the image and
        # the result are in memory at once.
        image = da.random.RandomState(5).randint(0, 256, (n, n), chunks=chunk, dtype=np.uint8)
        with PeakMemory() as memory_whole:
            start = time.perf_counter()
            array = image.compute(scheduler="sync")
            expected = int(whole(array).sum(dtype=np.uint64))
            seconds_whole = time.perf_counter() - start
            del array
        # Two workers stream the chunks: made, filtered and reduced chunk by chunk.
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                      dashboard_address=None) as cluster, distributed.Client(cluster):
            with PeakMemory() as memory_dask:
                start = time.perf_counter()
                got = int(chunked(image).sum(dtype=np.uint64).compute())
                seconds_dask = time.perf_counter() - start
        rows.append((name, seconds_whole, seconds_dask, memory_whole.mib, memory_dask.mib, got == expected))
    kip.set_threads(0)
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=4096)
    parser.add_argument("--dask-size", type=int, default=16384)
    parser.add_argument("--dask-chunk", type=int, default=2048)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--budget", type=float, default=10.0, help="seconds a peer may take on the whole image")
    parser.add_argument("--filter", default="", help="only cases whose name contains this")
    parser.add_argument("--skip-dask", action="store_true")
    parser.add_argument("--clock", choices=["cpu", "wall"], default="cpu", help="what the case table times")
    args = parser.parse_args()
    global clock
    clock = time.process_time if args.clock == "cpu" else time.perf_counter

    cv2.setNumThreads(1)
    kip.set_threads(1)
    img8, img16 = scene(args.size, np.uint8), scene(args.size, np.uint16)
    peers = ["kip", "cv2", "scipy", "skimage"]
    print(f"{args.size} x {args.size}, one thread, Mpixel/s of {args.clock} time (* on a {args.size // 8}-pixel crop), "
          f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} processors")
    print(f"{'case':32s}" + "".join(f"{p:>12s}" for p in peers) + f"{'kip/best':>10s}")
    for name, image, calls in cases(img8, img16):
        if args.filter not in name:
            continue
        present = {peer: calls[peer] for peer in peers if calls.get(peer) is not None}
        measured = rates(present, image, args.budget, args.repeats)
        figures = {peer: mpx for peer, (mpx, _) in measured.items()}
        line = f"{name:32s}"
        for peer in peers:
            if peer not in measured:
                line += f"{'-':>12s}"
                continue
            mpx, mark = measured[peer]
            line += f"{mpx:11.1f}{mark or ' '}"
        others = [v for k, v in figures.items() if k != "kip"]
        line += f"{figures['kip'] / max(others):9.2f}x" if others else ""
        print(line, flush=True)

    print("\nPython call over the C call inside it (same array, best of the repeats)")
    print(f"{'case':32s}{'python ms':>12s}{'C ms':>12s}{'overhead':>10s}")
    for name, py, c, pct in overhead(img8, img16, max(args.repeats, 5)):
        print(f"{name:32s}{py:12.2f}{c:12.2f}{pct:9.2f}%")
    kip.set_threads(0)

    if not args.skip_dask:
        n = args.dask_size
        print(f"\nkip.dask, {n} x {n} uint8 in {args.dask_chunk}-pixel chunks on two workers of one thread"
              " beside one whole-image call on one thread; each run makes the pixels, filters them and sums"
              " the result ('same': equal sums; the tests check the bits)")
        print(f"{'case':32s}{'whole s':>10s}{'dask s':>10s}{'speed-up':>10s}{'whole MiB':>11s}{'dask MiB':>10s}"
              f"{'same':>6s}")
        for name, sw, sd, mw, md, same in dask_table(n, args.dask_chunk):
            print(f"{name:32s}{sw:10.2f}{sd:10.2f}{sw / sd:9.2f}x{mw:11.0f}{md:10.0f}{'yes' if same else 'NO':>6s}")


if __name__ == "__main__":
    main()
