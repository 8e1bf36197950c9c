"""karvel's distances for numpy arrays: the coefficients of numerical
taxonomy and ecology, computed on several threads, with the values the
karvel program writes, bit for bit.

    import karvel
    d = karvel.pdist(X, "BRAY_CURTIS")          # condensed, scipy's order
    D = karvel.distance_matrix(X, "EUCLIDEAN")  # square

The rows of X are taxa, its columns characters. A float array holds
continuous characters; a boolean or 0/1 integer array binary ones
(presence, absence); an array of one-character strings discrete ones.

Metrics are karvel's formula names (karvel.metrics(X) lists those of X's
kind), which give karvel's definitions. A scipy name is taken only where
it defines the same numbers: braycurtis (X >= 0), jaccard, dice,
rogerstanimoto, sokalsneath, russellrao and hamming (binary), hamming
(symbols). Some scipy names mean other numbers and are refused:
euclidean (karvel's EUCLIDEAN is the root of the mean squared
difference, scipy's divided by sqrt(p)), cityblock (MANHATTAN is the
mean, scipy's divided by p), canberra (CANBERRA is the mean over the
characters not zero in both), correlation (PEARSON is half of it),
cosine (CHORD is sqrt(2 * cosine)) and yule (YULE is half of it).

Errors are karvel.Error, whose `condition` is the condition the program
reports (DATA_ERROR, CONSTRAINT_ERROR, ...). Ctrl-C stops a long
computation between blocks of rows (KeyboardInterrupt).
"""
import numpy as _np

from . import _karvel
from ._karvel import Error, __version__

_ALIASES = {
    "continuous": {"braycurtis": "BRAY_CURTIS"},
    "binary": {"jaccard": "JACCARD", "dice": "SOERENSEN", "rogerstanimoto": "ROGERS_TANIMOTO",
               "sokalsneath": "ROGERS_TANIMOTO_ASYMMETRIC", "russellrao": "RUSSELL_RAO", "hamming": "MATCHING"},
    "discrete": {"hamming": "MATCHING"},
}
_DIFFERENT = {
    "euclidean": "EUCLIDEAN is scipy's euclidean / sqrt(p)",
    "sqeuclidean": "EUCLIDEAN squared is scipy's sqeuclidean / p",
    "cityblock": "MANHATTAN is scipy's cityblock / p",
    "canberra": "CANBERRA is scipy's canberra / (characters not zero in both)",
    "correlation": "PEARSON is scipy's correlation / 2",
    "cosine": "CHORD is sqrt(2 * scipy's cosine)",
    "yule": "YULE is scipy's yule / 2",
}
_TYPES = {"continuous": _karvel.Datatype.CONTINUOUS, "binary": _karvel.Datatype.BINARY,
          "discrete": _karvel.Datatype.DISCRETE}

__all__ = ["pdist", "distance_matrix", "metrics", "Error", "__version__"]


def _kind(X):
    X = _np.asarray(X)
    if X.dtype.kind in "US":
        return "discrete"
    if X.dtype.kind in "biu":
        return "binary"
    return "continuous"


def _matrix(X, labels):
    X = _np.asarray(X)
    if X.ndim != 2:
        raise ValueError("X is a 2-dimensional array: taxa by characters")
    kind = _kind(X)
    labels = None if labels is None else [str(label) for label in labels]
    if kind == "continuous":
        return kind, _karvel.values(X, labels)
    if kind == "binary":
        if X.dtype.kind != "b" and not _np.isin(X, (0, 1)).all():
            raise ValueError("binary characters are 0 and 1 (or booleans); pass floats for continuous ones")
        rows = ["".join("1" if v else "0" for v in row) for row in X]
        return kind, _karvel.symbols(rows, labels, True)
    if X.dtype.kind == "S":
        X = X.astype("U")
    if any(len(v) != 1 for v in X.flat):
        raise ValueError("discrete characters are one symbol each")
    return kind, _karvel.symbols(["".join(row) for row in X], labels, False)


def _formula(kind, metric):
    names = _karvel.formula_names(_TYPES[kind])
    if metric in names:
        return metric
    alias = _ALIASES[kind].get(metric)
    if alias:
        return alias
    if metric in _DIFFERENT:
        raise ValueError(f"scipy's {metric!r} is not karvel's: {_DIFFERENT[metric]}; name karvel's formula")
    raise ValueError(f"no {kind} metric named {metric!r}; karvel's are {', '.join(names)}")


def _prepared(X, metric, transform, labels):
    kind, data = _matrix(X, labels)
    if transform is not None:
        _karvel.transform(data, transform)
    return data, _formula(kind, metric)


def pdist(X, metric="EUCLIDEAN", *, transform=None, threads=None, simd=None, undefined="error", labels=None):
    """The distances between the rows of X in scipy's condensed order.

    transform: a transformation of continuous characters first (RANGING,
    FULL_RANGING, ROW_FRACTIONS, COLUMN_FRACTIONS, RANKS, AVERAGE_RANKS,
    Z_SCORES, FULL_Z_SCORES). threads: for this call (default: every
    processor). simd: "scalar", "vector", "avx2" or "avx512" (the same
    values on each). undefined: "error" (a pair whose distance is undefined
    raises karvel.Error) or "nan"."""
    data, formula = _prepared(X, metric, transform, labels)
    return _karvel.condensed(data, formula, threads or 0, simd or "", _undefined(undefined))


def distance_matrix(X, metric="EUCLIDEAN", *, transform=None, threads=None, simd=None, undefined="error",
                    labels=None):
    """The square matrix of the distances between the rows of X; as pdist."""
    data, formula = _prepared(X, metric, transform, labels)
    return _karvel.square(data, formula, threads or 0, simd or "", _undefined(undefined))


def metrics(X):
    """karvel's formula names for the kind of characters X holds."""
    return _karvel.formula_names(_TYPES[_kind(X)])


def _undefined(value):
    if value not in ("error", "nan"):
        raise ValueError("undefined is 'error' or 'nan'")
    return value == "nan"
