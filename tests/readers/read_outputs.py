"""The binary layouts as their readers see them: numpy.load for npy and
npy-condensed (also memory-mapped), h5py for hdf5. Values must equal what
karvel writes as text for the same run, labels what it read.

    read_outputs.py KARVEL npy|hdf5

Exits 77 (skipped) when the Python module is missing, or for hdf5 when this
karvel was built without it.
"""
import atexit
import io
import os
import shutil
import subprocess
import sys
import tempfile

karvel, reader = sys.argv[1], sys.argv[2]
try:
    import numpy as np
    if reader == "hdf5":
        import h5py
except ImportError as missing:
    print(f"skipped: {missing}")
    sys.exit(77)

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print(f"FAIL: {what}")


def run(*arguments, stdout=subprocess.PIPE):
    return subprocess.run([karvel, *arguments], stdout=stdout, stderr=subprocess.PIPE, check=False)


work = tempfile.mkdtemp()
atexit.register(shutil.rmtree, work, True)
os.chdir(work)

# Continuous data under Bray-Curtis with two empty sites, whose distance is
# undefined and comes out as NaN; a label outside ASCII; enough taxa for
# the threaded stages.
labels = [f"site_{t}" for t in range(40)]
labels[7] = "B\u00e5g\u00f8"
rows = []
for t, label in enumerate(labels):
    values = [0.0] * 6 if t in (11, 29) else [((t * 7 + c * 3) % 11) * 0.37 + c for c in range(6)]
    rows.append(label + " " + " ".join(repr(v) for v in values))
with open("sites.phy", "w", encoding="utf-8") as f:
    f.write(f"{len(labels)} 6\n" + "\n".join(rows) + "\n")
common = ["-b", "--undefined=nan", "sites.phy"]


def text_matrix():
    """The matrix as karvel writes it in the raw text layout: exact when
    karvel has --exact, else to its eight decimals."""
    exact = run("--exact", "-R", *common)
    tolerance = 0.0
    if exact.returncode != 0:
        exact = run("-R", *common)
        tolerance = 5e-9
    check(exact.returncode == 0, f"the text run ends well: {exact.stderr!r}")
    lines = [line for line in exact.stdout.decode().split("\n") if line.strip()]
    return np.array([[float(v) for v in line.split()] for line in lines]), tolerance


expected, tolerance = text_matrix()
n = len(labels)
check(expected.shape == (n, n), f"the text has {n} rows of {n}")
nan = np.isnan(expected)
check(nan.sum() == 2, "the empty sites' pair is NaN in the text")


def same_values(actual, wanted, what):
    check(actual.dtype == np.dtype("<f8"), f"{what}: little-endian float64, not {actual.dtype}")
    check(actual.shape == wanted.shape, f"{what}: shape {actual.shape}, expected {wanted.shape}")
    if actual.shape != wanted.shape:
        return
    check(np.array_equal(np.isnan(actual), np.isnan(wanted)), f"{what}: NaN where the text has NaN")
    bits = np.asarray(actual).view(np.uint64)[np.isnan(actual)]
    check(all(int(b) == 0x7FF8000000000000 for b in bits), f"{what}: undefined pairs are quiet NaNs")
    both = ~np.isnan(wanted)
    worst = float(np.max(np.abs(actual[both] - wanted[both]))) if both.any() else 0.0
    check(worst <= tolerance, f"{what}: values within {tolerance} of the text (worst {worst})")


def condensed(square):
    i, j = np.triu_indices(square.shape[0], k=1)
    return square[i, j]


if reader == "npy":
    for layout, wanted in (("npy", expected), ("npy-condensed", condensed(expected))):
        done = run(f"--to={layout}", f"--output=d.{layout}", *common)
        check(done.returncode == 0, f"{layout}: karvel ends well: {done.stderr!r}")
        check(b"2 pairs have no distance" not in done.stderr and b"1 pair has no distance" in done.stderr,
              f"{layout}: one warning for the one pair: {done.stderr!r}")
        same_values(np.load(f"d.{layout}"), wanted, layout)
        same_values(np.load(f"d.{layout}", mmap_mode="r"), wanted, f"{layout}, memory-mapped")
        with open(f"d.{layout}.labels.txt", encoding="utf-8") as f:
            check(f.read().split("\n") == labels + [""], f"{layout}: the labels file holds the labels, one a line")
        # Through a pipe: the same bytes, and no labels file anywhere.
        piped = run(f"--to={layout}", *common)
        with open(f"d.{layout}", "rb") as f:
            check(piped.stdout == f.read(), f"{layout}: standard output holds the file's bytes")
        same_values(np.load(io.BytesIO(piped.stdout)), wanted, f"{layout} from a pipe")
    check(sorted(os.listdir(".")) == sorted(["sites.phy", "d.npy", "d.npy.labels.txt", "d.npy-condensed",
                                             "d.npy-condensed.labels.txt"]),
          f"nothing else is left beside the files: {sorted(os.listdir('.'))}")
else:
    done = run("--to=hdf5", "--output=d.h5", *common)
    if b"built without HDF5" in done.stderr:
        print("skipped: this karvel was built without HDF5")
        sys.exit(77)
    check(done.returncode == 0, f"hdf5: karvel ends well: {done.stderr!r}")
    with h5py.File("d.h5", "r") as f:
        check(sorted(f.keys()) == ["format", "matrix", "order", "version"], f"the four datasets: {list(f.keys())}")
        check(f["format"].shape == (1,) and f["format"][0] == b"BDSM", "format is BDSM")
        check(f["version"].shape == (1,) and f["version"][0] == b"2020.12", "version is 2020.12")
        string = h5py.check_string_dtype(f["order"].dtype)
        check(string is not None and string.length is None and string.encoding == "utf-8",
              f"order holds variable-length UTF-8 strings: {string}")
        check([x.decode("utf-8") for x in f["order"][()]] == labels, "order holds the labels")
        check(f["matrix"].dtype == np.dtype("<f8"), "matrix is float64")
        same_values(f["matrix"][()], expected, "hdf5 matrix")
        # A block of rows read alone, as a reader with random access does.
        same_values(f["matrix"][10:13, :], expected[10:13, :], "hdf5 rows 10 .. 12")
    refused = run("--to=hdf5", *common)
    check(refused.returncode == 1 and refused.stdout == b"" and b"--output=FILE" in refused.stderr,
          f"hdf5 is refused on standard output: {refused.stderr!r}")
    # Without --undefined=nan the empty sites end the run: no file is left.
    failed = run("--to=hdf5", "--output=failed.h5", "-b", "sites.phy")
    check(failed.returncode == 1, "the run without --undefined=nan fails")
    check(sorted(os.listdir(".")) == ["d.h5", "sites.phy"], f"nothing else is left: {sorted(os.listdir('.'))}")

sys.exit(1 if failures else 0)
