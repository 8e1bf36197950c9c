#!/usr/bin/python3
"""karvel.pdist against scipy.spatial.distance.pdist on the same arrays, in
one run: seconds of each (the best of a few) and their ratio.

    PYTHONPATH=build/python bench/python_bench.py [--threads N] [--repeat R]

The formulas are karvel's and scipy's of the same name (karvel's
EUCLIDEAN and CANBERRA are scipy's divided by a count, the same work),
each on the kind of array it takes: floats, or booleans for Jaccard.
"""
import argparse
import os
import time

import numpy as np
import scipy.spatial.distance as sd

import karvel

parser = argparse.ArgumentParser()
parser.add_argument("--threads", type=int, default=0, help="karvel's threads (0: every processor)")
parser.add_argument("--repeat", type=int, default=3)
parser.add_argument("--sizes", default="2000x1000,5000x1000")
args = parser.parse_args()

CASES = [("EUCLIDEAN", "euclidean", False), ("BRAY_CURTIS", "braycurtis", False),
         ("CANBERRA", "canberra", False), ("JACCARD", "jaccard", True)]


def best(run):
    times = []
    for _ in range(args.repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


rng = np.random.default_rng(20261210)
print(f"karvel {karvel.__version__}, {os.cpu_count()} processors, threads={args.threads or 'all'}")
print(f"{'size':>10} {'formula':>12} {'karvel s':>10} {'scipy s':>10} {'ratio':>7}")
for size in args.sizes.split(","):
    taxa, characters = (int(v) for v in size.split("x"))
    X = rng.gamma(0.8, 20.0, (taxa, characters)) * (rng.random((taxa, characters)) < 0.7)
    B = rng.random((taxa, characters)) < 0.3
    for formula, metric, binary in CASES:
        data = B if binary else X
        mine = best(lambda: karvel.pdist(data, formula, threads=args.threads))
        theirs = best(lambda: sd.pdist(data, metric))
        print(f"{size:>10} {formula:>12} {mine:10.3f} {theirs:10.3f} {theirs / mine:6.1f}x")
