"""The numpy + scipy pipeline karvel is measured against: read the matrix,
compute all pairwise distances, write the square matrix as text.

    python3 pipeline.py METRIC KIND INPUT OUTPUT
"""
import sys

import numpy as np
from scipy.spatial.distance import pdist, squareform


def read(kind, path):
    with open(path, "rb") as f:
        ntax, nchar = (int(v) for v in f.readline().split()[:2])
        if kind == "real":
            table = np.loadtxt(f, dtype=str, max_rows=ntax)
            return list(table[:, 0]), table[:, 1:].astype(float)
        labels, rows = [], []
        for _ in range(ntax):
            label, seq = f.readline().split(None, 1)
            labels.append(label.decode())
            rows.append(np.frombuffer(seq.strip(), dtype=np.uint8)[:nchar])
        return labels, np.vstack(rows)


def main():
    metric, kind, source, target = sys.argv[1:5]
    labels, data = read(kind, source)
    if kind == "binary":
        data = data == ord("1")
    d = squareform(pdist(data, metric))
    with open(target, "w") as out:
        out.write(" %d\n" % len(labels))
        for label, row in zip(labels, d):
            out.write(label + "\t" + "\t".join("%.8f" % v for v in row) + "\n")


main()
