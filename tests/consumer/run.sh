#!/usr/bin/env bash
# Installs a built tree into a scratch prefix, builds the consumer program
# against it with find_package, and checks that the consumer and the
# installed karvel print the same distances for examples/primates.phy.
#   run.sh BUILD_DIR [CXX_COMPILER [GENERATOR]]
set -euo pipefail
build=$1
compiler=${2:-c++}
generator=${3:-Ninja}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
cmake=${CMAKE_COMMAND:-cmake}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cmake" --install "$build" --prefix "$work/prefix" >"$work/install.log"
"$cmake" -S "$source_dir/tests/consumer" -B "$work/build" -G "$generator" \
  -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/configure.log" ||
  { cat "$work/configure.log"; exit 1; }
"$cmake" --build "$work/build" >"$work/build.log" || { cat "$work/build.log"; exit 1; }

example=$source_dir/examples/primates.phy
"$work/prefix/bin/karvel" "$example" >"$work/program.out"
"$work/build/euclidean" "$example" >"$work/consumer.out"
if ! cmp -s "$work/program.out" "$work/consumer.out"; then
  echo "the consumer's distances differ from the program's:"
  diff "$work/program.out" "$work/consumer.out" | head -20
  exit 1
fi
# Only the public headers are installed.
find "$work/prefix/include" -type f | sed "s|$work/prefix/||" | sort
echo "consumer output matches karvel ($(wc -l <"$work/consumer.out") lines)"
