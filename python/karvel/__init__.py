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

Files: karvel.read(path) gives (labels, X) of a matrix in any layout the
program reads; karvel.write(path, X, labels) writes data, and
karvel.write(path, D, labels, distances=True) a square of distances, in
any layout the program writes (npy and hdf5 too).

Errors are karvel.Error, whose `condition` is the condition the program
reports (DATA_ERROR, CONSTRAINT_ERROR, ...); `taxa` (numbers from 0) and
`pair` (their labels) name the pair whose distance failed, `file`, `line`
and `column` (from 1) the place where reading failed; each is None where
it does not apply. Ctrl-C stops a long computation between blocks of rows
(KeyboardInterrupt).
"""
import os as _os
import shutil as _shutil
import tempfile as _tempfile

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

__all__ = ["pdist", "distance_matrix", "metrics", "read", "write", "input_layouts", "output_layouts", "Error",
           "__version__"]


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
        return kind, _karvel.presences(X, labels)
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


def pdist(X, metric="EUCLIDEAN", *, transform=None, threads=None, simd=None, undefined="error", labels=None,
          missing="error", ties="heap"):
    """The distances between the rows of X in scipy's condensed order.

    transform: a transformation of continuous characters first (RANGING,
    FULL_RANGING, ROW_FRACTIONS, COLUMN_FRACTIONS, RANKS, AVERAGE_RANKS,
    Z_SCORES, FULL_Z_SCORES). threads: for this call (default: every
    processor). simd: "scalar", "vector", "avx2" or "avx512" (the same
    values on each). undefined: "error" (a pair whose distance is undefined
    raises karvel.Error) or "nan". missing: "error" (a NaN fails its pairs)
    or "pairwise" (each pair over the characters both rows hold; in
    symbols ? and - are missing), the program's --missing. ties: the ranks
    of SPEARMAN, "heap" (the program's default) or "average" (midranks, as
    R's cor(method = "spearman") and scipy.stats.spearmanr).

    A C-contiguous float64 X is read where it is, not copied; nothing
    writes into it (a transform works on a copy)."""
    data, formula = _prepared(X, metric, transform, labels)
    return _karvel.condensed(data, formula, threads or 0, simd or "", *_flags(undefined, missing, ties))


def distance_matrix(X, metric="EUCLIDEAN", *, transform=None, threads=None, simd=None, undefined="error",
                    labels=None, missing="error", ties="heap"):
    """The square matrix of the distances between the rows of X; as pdist."""
    data, formula = _prepared(X, metric, transform, labels)
    return _karvel.square(data, formula, threads or 0, simd or "", *_flags(undefined, missing, ties))


def metrics(X):
    """karvel's formula names for the kind of characters X holds."""
    return _karvel.formula_names(_TYPES[_kind(X)])


def _flags(undefined, missing, ties):
    if undefined not in ("error", "nan"):
        raise ValueError("undefined is 'error' or 'nan'")
    if missing not in ("error", "pairwise"):
        raise ValueError("missing is 'error' or 'pairwise'")
    if ties not in ("heap", "average"):
        raise ValueError("ties is 'heap' or 'average'")
    return undefined == "nan", missing == "pairwise", ties == "average"


# The layout a file's name suggests; others are read as the program reads
# them by default (extended PHYLIP: a label is one word).
_EXTENSIONS = {".csv": "csv", ".tsv": "tsv", ".tab": "tsv", ".nex": "nexus", ".nexus": "nexus", ".nxs": "nexus",
               ".fasta": "fasta", ".fa": "fasta", ".fas": "fasta", ".npy": "npy", ".h5": "hdf5", ".hdf5": "hdf5"}


def input_layouts():
    """The layouts read() takes, by the names of the program's --from."""
    return _karvel.input_layout_names()


def output_layouts():
    """The layouts write() takes, by the names of the program's --to."""
    return _karvel.output_layout_names()


def _layout_of(path, layout, names, default):
    if layout is None:
        layout = _EXTENSIONS.get(_os.path.splitext(str(path))[1].lower(), default)
        if layout not in names:
            layout = default
    if layout not in names:
        raise ValueError(f"no layout named {layout!r}; there are {', '.join(names)}")
    return layout


def read(path, layout=None, *, datatype="continuous", missing="error", all=False):
    """The matrix in the file `path`: (labels, X).

    layout: a name of input_layouts(); by default the file's extension
    (.csv, .tsv, .nex, .fasta, ...), else "extended", as the program.
    datatype: "continuous" (X is float64), "binary" (bool: 1 presence, 0
    absence; another symbol is a ValueError) or "discrete" (one-character
    strings). missing: "error", or "pairwise" to read missing values of
    continuous data as NaN. A file may hold several matrices: the first is
    read, or with all=True a list of every one."""
    if datatype not in _TYPES:
        raise ValueError("datatype is 'continuous', 'binary' or 'discrete'")
    if missing not in ("error", "pairwise"):
        raise ValueError("missing is 'error' or 'pairwise'")
    matrices = _karvel.read(_os.fspath(path), _layout_of(path, layout, input_layouts(), "extended"),
                            _TYPES[datatype], missing == "pairwise", all)
    if all:
        return matrices
    if not matrices:
        raise Error("the file holds no matrix")
    return matrices[0]


def write(path, X, labels=None, layout=None, *, distances=False, exact=True):
    """Writes the data X (taxa by characters, of any kind pdist takes), or
    with distances=True the square X of distances between the taxa, to
    `path` (a name, or a file open for writing in binary mode).

    layout: a name of output_layouts(); by default from the extension
    (.npy, .h5, .csv, .nex, .fasta, ...), else "extended". Data are written
    as the program's -W writes them, so in text layouts only. exact: each
    number in the fewest digits that read back as the same double (the
    program's --exact), else with its default eight decimals."""
    X = _np.asarray(X)
    if X.ndim != 2:
        raise ValueError("X is a 2-dimensional array")
    named = isinstance(path, (str, bytes, _os.PathLike))
    layout = _layout_of(path if named else "", layout, output_layouts(), "extended")
    if distances:
        if X.shape[0] != X.shape[1]:
            raise ValueError("distances are a square array")
        # The labels ride on a matrix of one character.
        data = _karvel.values(_np.zeros((X.shape[0], 1)), None if labels is None else [str(v) for v in labels])
        square = _np.ascontiguousarray(X, dtype=_np.float64)
        if named:
            _karvel.distances_file(_os.fspath(path), data, square, layout, exact)
            return
        with _tempfile.TemporaryDirectory() as scratch:
            name = _os.path.join(scratch, "distances")
            _karvel.distances_file(name, data, square, layout, exact)
            with open(name, "rb") as written:
                _shutil.copyfileobj(written, path)
        return
    _, data = _matrix(X, labels)
    text = _karvel.data_text(data, layout, exact)
    if named:
        with open(path, "wb") as out:
            out.write(text)
    else:
        path.write(text)
