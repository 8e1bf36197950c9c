#!/usr/bin/python3
"""Checks the relations the README states between karvel's coefficients and
the functions R and Python users know, on seeded random matrices.

    coefficients.py KARVEL

Each reference is written in numpy from the documented definition of the
other function (scipy.spatial.distance, R's dist, vegan's vegdist and
decostand, ade4's dist.binary), so the table cannot drift from what karvel
prints. Exit status 77 (skipped) without numpy.
"""
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
except ImportError:
    print("numpy is missing: skipped")
    sys.exit(77)

KARVEL = sys.argv[1]
# Double zeros divide 0 by 0 in some references before they are masked out.
np.seterr(divide="ignore", invalid="ignore")
rng = np.random.default_rng(20261209)
failures = []
checked = 0


# The formulae the checks below reach, as (family, letter): B, D or C (the
# default family), and the letter, or "" for the family's default.
reached = set()


def karvel(options, rows, symbols=False):
    """karvel's raw output for the matrix, as an array."""
    family = "B" if "-B" in options else "D" if "-D" in options else "C"
    letters = [o[1] for o in options if len(o) == 2 and o[0] == "-" and o[1].islower()]
    reached.add((family, letters[0] if letters else ""))
    with tempfile.NamedTemporaryFile("w", suffix=".phy", delete=False) as f:
        f.write(f"{len(rows)} {len(rows[0])}\n")
        for k, row in enumerate(rows):
            cells = "".join(row) if symbols else " ".join(repr(float(v)) for v in row)
            f.write(f"t{k} {cells}\n")
        name = f.name
    try:
        out = subprocess.run([KARVEL, "-R", *options, name], capture_output=True, text=True, check=True).stdout
    finally:
        os.unlink(name)
    return np.array([[float(v) for v in line.split("\t")[1:]] for line in out.splitlines() if line])


def pairwise(rows, d):
    n = len(rows)
    return np.array([[0.0 if i == j else d(rows[i], rows[j]) for j in range(n)] for i in range(n)])


def check(relation, actual, expected):
    # karvel prints eight decimals.
    global checked
    checked += 1
    error = np.max(np.abs(actual - expected))
    if not error <= 1e-8 * max(1.0, np.max(np.abs(expected))):
        failures.append(f"{relation}: off by {error:g}")


# Abundance-like rows: non-negative, many zeros, a column zero in every row.
X = np.round(rng.gamma(0.8, 20.0, (7, 12)) * (rng.random((7, 12)) < 0.7), 3)
X[:, 5] = 0.0
p = X.shape[1]
S = X.sum(axis=1)
cos = lambda x, y: x @ y / np.sqrt((x @ x) * (y @ y))
nz = lambda x, y: (x != 0) | (y != 0)  # not a double zero

check("-e = pdist euclidean / sqrt(p)", karvel(["-e"], X), pairwise(X, lambda x, y: np.sqrt(((x - y) ** 2).sum())) / np.sqrt(p))
check("-m = pdist cityblock / p", karvel(["-m"], X), pairwise(X, lambda x, y: np.abs(x - y).sum()) / p)
check("-b = vegdist bray = pdist braycurtis", karvel(["-b"], X), pairwise(X, lambda x, y: np.abs(x - y).sum() / np.abs(x + y).sum()))
canberra = pairwise(X, lambda x, y: (np.abs(x - y)[nz(x, y)] / (x + y)[nz(x, y)]).mean())
check("-c = vegdist canberra", karvel(["-c"], X), canberra)
# R's dist drops 0/0 terms as missing and scales the sum up by p / used.
check("-c = R dist canberra / p", karvel(["-c"], X),
      pairwise(X, lambda x, y: (np.abs(x - y)[nz(x, y)] / (np.abs(x) + np.abs(y))[nz(x, y)]).sum() * p / nz(x, y).sum()) / p)
# scipy keeps 0/0 terms as 0 and does not divide by the terms that count.
check("-c = pdist canberra / (columns not zero in both)", karvel(["-c"], X),
      pairwise(X, lambda x, y: np.nansum(np.abs(x - y) / (np.abs(x) + np.abs(y))) / nz(x, y).sum()))
check("-a = sqrt(mean over non-double-zeros of ((x-y)/(x+y))^2)", karvel(["-a"], X),
      pairwise(X, lambda x, y: np.sqrt((((x - y) / (x + y))[nz(x, y)] ** 2).mean())))
normalize = X / np.sqrt((X ** 2).sum(axis=1, keepdims=True))
check("-o = dist(decostand normalize) = sqrt(2 pdist cosine)", karvel(["-o"], X),
      pairwise(normalize, lambda x, y: np.sqrt(((x - y) ** 2).sum())))
check("-o = sqrt(2 pdist cosine)", karvel(["-o"], X), pairwise(X, lambda x, y: np.sqrt(2 * (1 - cos(x, y)))))
check("-g = arccos(1 - pdist cosine)", karvel(["-g"], X), pairwise(X, lambda x, y: np.arccos(cos(x, y))))
check("-h = pdist euclidean of sqrt(x)", karvel(["-h"], X), pairwise(np.sqrt(X), lambda x, y: np.sqrt(((x - y) ** 2).sum())))
hellinger = np.sqrt(X / S[:, None])
check("-F -h = dist(decostand hellinger)", karvel(["-F", "-h"], X), pairwise(hellinger, lambda x, y: np.sqrt(((x - y) ** 2).sum())))
check("-F -h / sqrt(2) = (1/sqrt(2)) |sqrt(P) - sqrt(Q)|", karvel(["-F", "-h"], X) / np.sqrt(2),
      pairwise(X / S[:, None], lambda p_, q: np.sqrt(((np.sqrt(p_) - np.sqrt(q)) ** 2).sum()) / np.sqrt(2)))
check("-g = acos(tcrossprod(decostand normalize))", karvel(["-g"], X), np.where(np.eye(len(X)) == 1, 0.0,
      np.arccos(np.clip(normalize @ normalize.T, -1, 1))))
# A row of zeros has a profile of zeros: 1 from every other profile.
check("-F -h of a zero row", karvel(["-F", "-h"], [[1.0, 4.0, 0.0], [0.0, 0.0, 0.0]]), np.array([[0.0, 1.0], [1.0, 0.0]]))
check("-k = vegdist kulczynski", karvel(["-k"], X),
      pairwise(X, lambda x, y: 1 - 0.5 * (np.minimum(x, y).sum() / x.sum() + np.minimum(x, y).sum() / y.sum())))
bray = pairwise(X, lambda x, y: np.abs(x - y).sum() / (x + y).sum())
check("-t = vegdist jaccard = 2B/(1+B)", karvel(["-t"], X), 2 * bray / (1 + bray))
check("-t = 1 - sum min / sum max", karvel(["-t"], X), pairwise(X, lambda x, y: 1 - np.minimum(x, y).sum() / np.maximum(x, y).sum()))
check("-q = vegdist jaccard / 2", karvel(["-q"], X), bray / (1 + bray))
check("-d = 1 - sum min / min(row sums)", karvel(["-d"], X),
      pairwise(X, lambda x, y: 1 - np.minimum(x, y).sum() / min(x.sum(), y.sum())))
check("-u = 1 - mean over non-double-zeros of min/max", karvel(["-u"], X),
      pairwise(X, lambda x, y: 1 - (np.minimum(x, y)[nz(x, y)] / np.maximum(x, y)[nz(x, y)]).mean()))
chi = X / S[:, None] / np.sqrt(X.sum(axis=0) + (X.sum(axis=0) == 0)) * np.sqrt(X.sum())
check("-i = dist(decostand chi.square) / sqrt(total)", karvel(["-i"], X),
      pairwise(chi, lambda x, y: np.sqrt(((x - y) ** 2).sum())) / np.sqrt(X.sum()))

# Rows of distinct values, some negative: correlation and ranks.
Y = rng.normal(0.0, 1.0, (6, 10))
corr = lambda x, y: cos(x - x.mean(), y - y.mean())
check("-p = pdist correlation / 2", karvel(["-p"], Y), pairwise(Y, lambda x, y: (1 - corr(x, y)) / 2))
ranks = np.argsort(np.argsort(Y, axis=1), axis=1).astype(float)
check("-s = (1 - Spearman rho) / 2", karvel(["-s"], Y), pairwise(ranks, lambda x, y: (1 - corr(x, y)) / 2))
check("-K -W = ranks from 0", karvel(["-K", "-W"], Y), ranks)


def rankdata(row):
    """scipy.stats.rankdata's default ("average"): one more than the count of
    smaller values, plus half the count of the others equal to it."""
    return np.array([1 + (row < x).sum() + ((row == x).sum() - 1) / 2 for x in row])


# Rows with long runs of equal values, as abundances with zeros have them,
# from a generator of their own so that the data of the checks after these
# stay as they were; the diagonal keeps every row from being constant.
# Without ties the midranks are the ranks from 0 plus one.
ties_rng = np.random.default_rng(20261210)
T = np.round(ties_rng.gamma(0.6, 3.0, (7, 15)) * (ties_rng.random((7, 15)) < 0.6))
T[np.arange(7), np.arange(7)] = 50.0
T[3] = np.where(np.arange(15) == 3, 50.0, 2.0)
midranks = np.array([rankdata(row) for row in T])
assert (midranks != np.floor(midranks)).any(), "the data should hold ties"
check("-K --ties=average -W = t(apply(X, 1, rank)) = rankdata(X, axis=1)", karvel(["-K", "--ties=average", "-W"], T), midranks)
check("-K --ties=average -W without ties = ranks from 0 plus 1", karvel(["-K", "--ties=average", "-W"], Y), ranks + 1)
check("-s --ties=average = (1 - cor(method = spearman)) / 2", karvel(["-s", "--ties=average"], T),
      pairwise(midranks, lambda x, y: (1 - corr(x, y)) / 2))
check("-s --ties=average without ties = -s", karvel(["-s", "--ties=average"], Y), karvel(["-s"], Y))
heap_ties = karvel(["-s"], T)
if not np.abs(heap_ties - pairwise(midranks, lambda x, y: (1 - corr(x, y)) / 2)).max() > 1e-3:
    failures.append("-s without --ties should differ from the midranks' Spearman on tied rows")
try:
    import scipy.stats
except ImportError:
    pass
else:
    check("-s --ties=average = (1 - scipy.stats.spearmanr) / 2", karvel(["-s", "--ties=average"], T),
          pairwise(T, lambda x, y: (1 - scipy.stats.spearmanr(x, y)[0]) / 2))
    check("-K --ties=average -W = scipy.stats.rankdata", karvel(["-K", "--ties=average", "-W"], T),
          scipy.stats.rankdata(T, axis=1))
# Negative values are missing for -f and -n; R's dist scales by p / used.
present = lambda x, y: (x >= 0) & (y >= 0)
check("-f = R dist euclidean (negatives NA) / sqrt(p)", karvel(["-f"], Y),
      pairwise(Y, lambda x, y: np.sqrt(((x - y)[present(x, y)] ** 2).sum() * 10 / present(x, y).sum())) / np.sqrt(10))
check("-n = R dist manhattan (negatives NA) / p", karvel(["-n"], Y),
      pairwise(Y, lambda x, y: np.abs(x - y)[present(x, y)].sum() * 10 / present(x, y).sum()) / 10)

# Transformations, printed with -W (column 5 of X is zero throughout).
check("-F = decostand total", karvel(["-F", "-W"], X), X / S[:, None])
colsum = X.sum(axis=0)
check("-G = decostand total, MARGIN = 2", karvel(["-G", "-W"], X), X / np.where(colsum == 0, 1, colsum))
colmax = X.max(axis=0)
check("-A = decostand max", karvel(["-A", "-W"], X), X / np.where(colmax == 0, 1, colmax))
lo, hi = Y.min(axis=0), Y.max(axis=0)
check("-I = decostand range", karvel(["-I", "-W"], Y), (Y - lo) / (hi - lo))
check("-S = x / sd (divisor n)", karvel(["-S", "-W"], Y), Y / Y.std(axis=0))
check("-Z = scale(x) * sqrt(n / (n - 1))", karvel(["-Z", "-W"], Y),
      (Y - Y.mean(axis=0)) / Y.std(axis=0, ddof=1) * np.sqrt(6 / 5))

# Binary: a both present, b and c present in one only, d both absent.
B = (rng.random((6, 40)) < 0.5).astype(int)
text = [[str(v) for v in row] for row in B]


def table(x, y):
    return ((x & y).sum(), (x & (1 - y)).sum(), ((1 - x) & y).sum(), ((1 - x) & (1 - y)).sum())


def binary(option, formula, relation):
    check(f"-B {option} = {relation}", karvel(["-B", option], text, symbols=True),
          pairwise(B, lambda x, y: formula(*table(x, y))))


ade4 = lambda s: lambda a, b, c, d: np.sqrt(1 - s(a, b, c, d))
binary("-i", lambda a, b, c, d: (b + c) / (a + b + c), "pdist jaccard = R dist binary")
binary("-i", lambda a, b, c, d: ade4(lambda a, b, c, d: a / (a + b + c))(a, b, c, d) ** 2, "ade4 method 1 squared")
binary("-s", lambda a, b, c, d: (b + c) / (2 * a + b + c), "pdist dice = vegdist bray, binary")
binary("-s", lambda a, b, c, d: ade4(lambda a, b, c, d: 2 * a / (2 * a + b + c))(a, b, c, d) ** 2, "ade4 method 5 squared")
binary("-i", lambda a, b, c, d: (lambda B: 2 * B / (1 + B))((b + c) / (2 * a + b + c)), "vegdist jaccard, binary")
check("-B -s = vegdist bray on 0/1", karvel(["-B", "-s"], text, symbols=True),
      pairwise(B, lambda x, y: np.abs(x - y).sum() / (x + y).sum()))
check("-B -q = vegdist kulczynski on 0/1", karvel(["-B", "-q"], text, symbols=True),
      pairwise(B, lambda x, y: 1 - 0.5 * (np.minimum(x, y).sum() / x.sum() + np.minimum(x, y).sum() / y.sum())))
check("-B -o = pdist cosine on 0/1", karvel(["-B", "-o"], text, symbols=True), pairwise(B.astype(float), lambda x, y: 1 - cos(x, y)))
binary("-m", lambda a, b, c, d: (b + c) / (a + b + c + d), "pdist hamming")
binary("-h", lambda a, b, c, d: ade4(lambda a, b, c, d: (a - (b + c) + d) / (a + b + c + d))(a, b, c, d) ** 2 / 2,
       "ade4 method 6 squared / 2")
binary("-r", lambda a, b, c, d: 2 * (b + c) / (a + d + 2 * (b + c)), "pdist rogerstanimoto = sokalmichener")
binary("-a", lambda a, b, c, d: 2 * (b + c) / (a + 2 * (b + c)), "pdist sokalsneath")
binary("-a", lambda a, b, c, d: ade4(lambda a, b, c, d: a / (a + 2 * (b + c)))(a, b, c, d) ** 2, "ade4 method 3 squared")
binary("-b", lambda a, b, c, d: 1 - 2 * (a + d) / (2 * (a + d) + b + c), "1 - 2(a+d)/(2(a+d)+b+c)")
binary("-c", lambda a, b, c, d: (b + c) / (a + d), "(b+c)/(a+d)")
binary("-d", lambda a, b, c, d: 1 - (a / (a + b) + a / (a + c) + d / (b + d) + d / (c + d)) / 4, "1 - mean of four ratios")
binary("-e", lambda a, b, c, d: ade4(lambda a, b, c, d: a * d / np.sqrt((a + b) * (a + c) * (d + b) * (d + c)))(a, b, c, d) ** 2,
       "ade4 method 8 squared")
binary("-n", lambda a, b, c, d: 2 * b * c / (a * d + b * c) / 2, "pdist yule / 2")
binary("-p", lambda a, b, c, d: (1 - (a * d - b * c) / np.sqrt((a + b) * (c + d) * (a + c) * (b + d))) / 2,
       "(1 - phi) / 2 = ade4 method 9 squared / 2")
check("-B -p = pdist correlation / 2", karvel(["-B", "-p"], text, symbols=True),
      pairwise(B.astype(float), lambda x, y: (1 - corr(x, y)) / 2))
binary("-t", lambda a, b, c, d: (b + c) / (3 * a + b + c), "(b+c)/(3a+b+c)")
binary("-u", lambda a, b, c, d: 1 - a / (a + b + c + d), "pdist russellrao = ade4 method 10 squared")
binary("-q", lambda a, b, c, d: 1 - (a / (a + b) + a / (a + c)) / 2, "vegdist kulczynski, binary")
binary("-o", lambda a, b, c, d: 1 - a / np.sqrt((a + b) * (a + c)), "pdist cosine = ade4 method 7 squared")
binary("-f", lambda a, b, c, d: 1 - (a + d / 2) / (a + b + c + d), "1 - (a + d/2)/n")
binary("-g", lambda a, b, c, d: 1 - (a / np.sqrt((a + b) * (a + c)) - 1 / (2 * np.sqrt(max(a + b, a + c)))),
       "1 - Fager-McGowan")
# Kulczynski's first coefficient exceeds 1 when a > b + c: rows that differ a lot.
K = (rng.random((4, 40)) < 0.3).astype(int)
check("-B -k = 1 - kulczynski1", karvel(["-B", "-k"], [[str(v) for v in r] for r in K], symbols=True),
      pairwise(K, lambda x, y: 1 - (lambda a, b, c, d: a / (b + c))(*table(x, y))))

# Unknowns: left out of the pair's table.
U = np.where(rng.random((5, 30)) < 0.15, 2, (rng.random((5, 30)) < 0.5).astype(int))
check("-B -i leaves out characters unknown in either", karvel(["-B", "-i"], [["01?"[v] for v in r] for r in U], symbols=True),
      pairwise(U, lambda x, y: (lambda a, b, c, d: (b + c) / (a + b + c))(
          *table(x[(x < 2) & (y < 2)], y[(x < 2) & (y < 2)]))))

# Discrete: k mismatches out of n.
D = rng.integers(0, 4, (5, 30))
dna = [["ACGT"[v] for v in r] for r in D]
mismatch = lambda f: pairwise(D, lambda x, y: f((x != y).sum(), len(x)))
check("-D -m = pdist hamming", karvel(["-D", "-m"], dna, symbols=True), mismatch(lambda k, n: k / n))
check("-D -h = k/n", karvel(["-D", "-h"], dna, symbols=True), mismatch(lambda k, n: k / n))
check("-D -r = 2k/(n+k)", karvel(["-D", "-r"], dna, symbols=True), mismatch(lambda k, n: 2 * k / (n + k)))
check("-D -b = k/(2n-k)", karvel(["-D", "-b"], dna, symbols=True), mismatch(lambda k, n: k / (2 * n - k)))
check("-D -c = k/(n-k)", karvel(["-D", "-c"], dna, symbols=True), mismatch(lambda k, n: k / (n - k)))

# Every formula the program has (its usage text lists the formula tables'
# rows: a letter, then the Binary/Discrete/Real names, "-" for none, "*" on
# the default) is checked above, so a formula added as a row fails here
# until it has a reference of its own.
usage = subprocess.run([KARVEL], capture_output=True, text=True)
usage_text = usage.stdout + usage.stderr
section = usage_text.split("Distance formulae")[1].split("\n\n")[0].splitlines()[1:]
for line in section:
    letter, names = line.split(None, 1)[0][1], line.split(None, 1)[1]
    for family, name in zip("BDC", names.split("/", 2) if names.count("/") >= 2 else []):
        if name == "-":
            continue
        if (family, letter) not in reached and not (name.endswith("*") and (family, "") in reached):
            failures.append(f"-{family} -{letter} ({name.rstrip('*')}) has no relation checked here")
if not section:
    failures.append("the usage text lists no distance formulae")

for failure in failures:
    print("FAILED", failure)
print(f"{checked - len(failures)} of {checked} relations hold")
sys.exit(1 if failures else 0)
