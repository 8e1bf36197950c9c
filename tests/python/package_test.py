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

# Files: what karvel.write writes is what the program writes, layout by
# layout (every one it has), and what karvel.read reads back is what was
# written, in every layout it reads.
import os
import re
import tempfile

scratch = tempfile.mkdtemp()
labels = [f"t{k}" for k in range(len(X))]
phylip = os.path.join(scratch, "x.phy")
with open(phylip, "w") as f:
    f.write(f"{len(X)} {X.shape[1]}\n" + "".join(f"{t} " + " ".join(repr(float(v)) for v in row) + "\n"
                                               for t, row in zip(labels, X)))
D = karvel.distance_matrix(X, "EUCLIDEAN")


def run(*options):
    return subprocess.run([KARVEL, "--exact", *options, phylip], capture_output=True)


for layout in karvel.output_layouts():
    name = os.path.join(scratch, "d." + layout)
    theirs = name + ".program"
    refused = run(f"--to={layout}", f"--output={theirs}").returncode != 0
    try:
        karvel.write(name, D, labels, layout, distances=True)
    except karvel.Error:
        if not refused:
            failures.append(f"distances in {layout}: refused, which the program writes")
        continue
    if layout == "hdf5":
        try:
            import h5py
        except ImportError:
            continue
        with h5py.File(name) as mine, h5py.File(theirs) as expected:
            same = all(np.array_equal(mine[k][()], expected[k][()]) for k in expected)
    else:
        same = open(name, "rb").read() == open(theirs, "rb").read()
        if os.path.exists(theirs + ".labels.txt"):
            same = same and open(name + ".labels.txt").read() == open(theirs + ".labels.txt").read()
    if not same:
        failures.append(f"distances written in {layout} differ from the program's")
    program_data = run("-W", f"--to={layout}")
    try:
        with tempfile.TemporaryFile() as f:
            karvel.write(f, X, labels, layout)
            f.seek(0)
            if program_data.returncode != 0 or f.read() != program_data.stdout:
                failures.append(f"data written in {layout} differ from the program's -W")
    except karvel.Error:
        if program_data.returncode == 0:
            failures.append(f"data in {layout}: refused, which the program writes")

# Text in each input layout from the one written that comes closest.
def rewritten(layout, how=lambda text: text):
    with tempfile.TemporaryFile() as f:
        karvel.write(f, X if layout != "fasta" else S, labels, layout)
        f.seek(0)
        return how(f.read().decode())


texts = {
    "phylip": rewritten("phylip"), "extended": rewritten("extended"), "csv": rewritten("csv"),
    "tsv": rewritten("lsmat"), "nexus": rewritten("nexus"), "fasta": rewritten("fasta"),
    "phylip-interleaved": rewritten("phylip"), "extended-interleaved": rewritten("extended"),
    "commented": rewritten("extended", lambda t: re.sub(r"^(t\d+)\t", r"\1 note\t", t, flags=re.M)),
    "csv2": rewritten("csv", lambda t: t.replace(",", ";").replace(".", ",")),
}
if sorted(texts) != sorted(karvel.input_layouts()):
    failures.append(f"input layouts untested: {set(karvel.input_layouts()) ^ set(texts)}")
for layout, text in texts.items():
    name = os.path.join(scratch, "in." + layout)
    open(name, "w").write(text)
    kind = "discrete" if layout == "fasta" else "continuous"
    got_labels, got = karvel.read(name, layout, datatype=kind)
    if got_labels != labels or not np.array_equal(got, S if kind == "discrete" else X):
        failures.append(f"{layout}: read back other than written")
    # A word where a number stands: the error's line and column are those
    # of the word, as its message says.
    if kind == "continuous":
        word = repr(float(X[4, 7])).replace(".", "," if layout == "csv2" else ".")
        bad = text.replace(word, "oops", 1)
        open(name, "w").write(bad)
        at = bad.index("oops")
        line, column = bad.count("\n", 0, at) + 1, at - bad.rfind("\n", 0, at)
        try:
            karvel.read(name, layout)
            failures.append(f"{layout}: a word read as a number")
        except karvel.Error as e:
            if (e.condition, e.file, e.line, e.column, e.pair) != ("DATA_ERROR", name, line, column, None) \
                    or not str(e).startswith(f"{line}:{column}:"):
                failures.append(f"{layout}: error at {e.file}:{e.line}:{e.column} ({e}), not {line}:{column}")
multi = os.path.join(scratch, "two.phy")
open(multi, "w").write(texts["extended"] * 2)
if len(karvel.read(multi, all=True)) != 2 or not np.array_equal(karvel.read(multi)[1], X):
    failures.append("a file of two matrices")
try:
    karvel.read(phylip + ".none")
    failures.append("a missing file was read")
except karvel.Error as e:
    if (e.condition, e.file, e.line) != ("NAME_ERROR", phylip + ".none", None):
        failures.append(f"a missing file: {e.condition} {e.file} {e.line}")

# The array is read where it is and never written: a transformation works
# on a copy, and other layouts of the same values give the same bits.
before = X.copy()
for transform in ["RANGING", "Z_SCORES", None]:
    here = karvel.pdist(X, "SPEARMAN", transform=transform)
    if not np.array_equal(X, before) or not np.array_equal(here, karvel.pdist(np.asfortranarray(X), "SPEARMAN",
                                                                               transform=transform)):
        failures.append(f"{transform}: the caller's array written, or read differently in place")
for other in [B.astype(np.int64), B.astype(np.uint8), np.asfortranarray(B)]:
    if not np.array_equal(karvel.pdist(other, "JACCARD"), karvel.pdist(B, "JACCARD")):
        failures.append(f"binary {other.dtype} differs from booleans")
try:
    karvel.pdist(np.array([[0, 2], [1, 0]]), "JACCARD")
    failures.append("an integer other than 0 and 1 was taken as binary")
except ValueError:
    pass

# The pair of an undefined distance, by number and label.
try:
    karvel.pdist(np.array([[1.0, 1], [0, 0], [0, 0]]), "BRAY_CURTIS", labels=["a", "b", "c"])
except karvel.Error as e:
    if (e.taxa, e.pair, e.file, e.line) != ((1, 2), ("b", "c"), None, None):
        failures.append(f"an undefined pair is reported as {e.taxa} {e.pair} {e.file} {e.line}")

# Missing values and midranks, against the program.
M = X.copy()
M[rng.random(M.shape) < 0.1] = np.nan
with open(phylip, "w") as f:
    f.write(f"{len(M)} {M.shape[1]}\n" + "".join(f"{t} " + " ".join("NA" if np.isnan(v) else repr(float(v))
                                                                       for v in row) + "\n"
                                               for t, row in zip(labels, M)))
for options, kwargs in [(["--missing=pairwise"], {"missing": "pairwise"}),
                        (["-s", "--missing=pairwise", "--ties=average"], {"missing": "pairwise", "ties": "average"})]:
    out = run("-R", "--undefined=nan", *options).stdout.decode()
    expected = np.array([[float(v) for v in line.split("\t")[1:]] for line in out.splitlines() if line])
    metric = "SPEARMAN" if "-s" in options else "EUCLIDEAN"
    if not np.array_equal(karvel.distance_matrix(M, metric, undefined="nan", **kwargs), expected, equal_nan=True):
        failures.append(f"{metric} {kwargs} differs from karvel {' '.join(options)}")

if failures:
    print("\n".join(failures))
    sys.exit(1)
print(f"{checked} formulas, {sum(len(v) for v in letters.values())} against the program: as the program writes them")
