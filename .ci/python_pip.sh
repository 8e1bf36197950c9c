#!/bin/sh
# The Python package as users install it: pip from the repository root,
# without downloading, into a scratch prefix for Debian's python3; then
# the installed package computes a distance. Usage: .ci/python_pip.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# pip builds in the tree it is given: a copy, without the build folders.
mkdir "$scratch/src"
tar -C "$root" --exclude='./build*' --exclude=./.git --exclude='*.egg-info' -cf - . | tar -C "$scratch/src" -xf -
/usr/bin/python3 -m pip install --no-build-isolation --no-deps --target "$scratch/site" "$scratch/src"
cd "$scratch"
PYTHONPATH="$scratch/site" /usr/bin/python3 -c '
import numpy as np, karvel
d = karvel.pdist(np.array([[0.0, 0.0], [3.0, 4.0]]), "EUCLIDEAN")
assert abs(d[0] - 12.5 ** 0.5) < 1e-15, d
print("karvel", karvel.__version__, "installed by pip:", d)
'
