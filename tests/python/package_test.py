#!/usr/bin/python3
"""The Python package against the program and scipy.

    package_test.py KARVEL    (with the built package on PYTHONPATH)

Every formula of every kind gives, bit for bit, what `karvel --exact`
writes for the same matrix; the scipy names taken as aliases give scipy's
values within 1e-12; the names that mean other numbers are refused.
Exit status 77 (skipped) without numpy or scipy.
"""
import subprocess
import sys

try:
    import numpy as np
    import scipy.spatial.distance as sd
except ImportError:
    print("numpy or scipy is missing: skipped")
    sys.exit(77)
import karvel

KARVEL = sys.argv[1]
rng = np.random.default_rng(20261210)
failures = []


def program(options, X, symbols=False):
    """The square karvel --exact writes for X, as an array."""
    lines = [f"{len(X)} {len(X[0])}"]
    for k, row in enumerate(X):
        lines.append(f"t{k} " + ("".join(row) if symbols else " ".join(repr(float(v)) for v in row)))
    out = subprocess.run([KARVEL, "--exact", "--undefined=nan", "-R", *options, "-"], input="\n".join(lines) + "\n",
                         capture_output=True, text=True, check=True).stdout
    return np.array([[float(v) for v in line.split("\t")[1:]] for line in out.splitlines() if line])


def condensed(square):
    return square[np.triu_indices(len(square), 1)]


X = np.round(rng.gamma(0.8, 20.0, (9, 12)) * (rng.random((9, 12)) < 0.8), 3) + 0.5
B = rng.random((9, 20)) < 0.5
S = rng.choice(list("ACGT"), (9, 15))
kinds = [("", X, False, X), ("-B", B.astype(int).astype(str), True, B), ("-D", S, True, S)]
rows = {"": {}, "-B": {}, "-D": {}}
for flag, data, symbols, array in kinds:
    names = karvel.metrics(array)
    for name in names:
        mine = karvel.distance_matrix(array, name, threads=2, undefined="nan")
        packed = karvel.pdist(array, name, threads=1, simd="scalar", undefined="nan")
        if not np.array_equal(condensed(mine), packed, equal_nan=True):
            failures.append(f"{name}: pdist and distance_matrix differ")
        rows[flag][name] = mine
checked = sum(len(r) for r in rows.values())

# Bit for bit against the program: each formula by its letter.
letters = {"": {"e": "EUCLIDEAN", "m": "MANHATTAN", "b": "BRAY_CURTIS", "c": "CANBERRA", "p": "PEARSON",
                "s": "SPEARMAN", "o": "CHORD", "k": "KULCZYNSKI"},
           "-B": {"i": "JACCARD", "s": "SOERENSEN", "m": "MATCHING", "n": "YULE"},
           "-D": {"m": "MATCHING", "h": "HAMANN", "c": "SOKAL_SNEATH_2"}}
for flag, data, symbols, array in kinds:
    for letter, name in letters[flag].items():
        expected = program(([flag] if flag else []) + ["-" + letter], data, symbols)
        if not np.array_equal(rows[flag][name], expected, equal_nan=True):
            failures.append(f"{name} differs from karvel {flag} -{letter} --exact")

# scipy where the definitions agree.
for metric, array in [("braycurtis", X), ("jaccard", B), ("dice", B), ("rogerstanimoto", B), ("sokalsneath", B),
                      ("russellrao", B), ("hamming", B)]:
    expected = sd.pdist(array, metric)
    if not np.allclose(karvel.pdist(array, metric), expected, rtol=1e-12, atol=0):
        failures.append(f"{metric} differs from scipy")
codes = np.vectorize(ord)(S)
if not np.allclose(karvel.pdist(S, "hamming"), sd.pdist(codes, "hamming"), rtol=1e-12, atol=0):
    failures.append("hamming on symbols differs from scipy")

for metric in ["euclidean", "cityblock", "correlation", "NOT_A_FORMULA"]:
    try:
        karvel.pdist(X, metric)
        failures.append(f"{metric} was taken")
    except ValueError:
        pass
try:
    karvel.pdist(np.zeros((3, 2)), "BRAY_CURTIS")
    failures.append("an undefined pair was not an error")
except karvel.Error as e:
    if e.condition != "CONSTRAINT_ERROR":
        failures.append(f"an undefined pair is {e.condition}")
if not np.isnan(karvel.pdist(np.zeros((3, 2)), "BRAY_CURTIS", undefined="nan")).all():
    failures.append("undefined='nan' did not give NaN")

if failures:
    print("\n".join(failures))
    sys.exit(1)
print(f"{checked} formulas, {sum(len(v) for v in letters.values())} against the program: as the program writes them")
