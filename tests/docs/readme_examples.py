#!/usr/bin/env python3
"""The README's examples print what the README shows.

Every fenced block marked ```console is a transcript: a line beginning
"$ " is a command, run by bash in the top folder of the source tree with
the karvel under test first on PATH, and the lines up to the next command
or the end of the block are what it prints (standard output, then
standard error, as a terminal shows them when the output is short).

    readme_examples.py KARVEL README
"""
import os
import subprocess
import sys


def transcripts(text):
    """(line number, command, expected output) for each command shown."""
    shown = []
    block = None
    for number, line in enumerate(text.split("\n"), 1):
        if block is None:
            if line.strip() == "```console":
                block = []
            continue
        if line.startswith("```"):
            shown.extend(block)
            block = None
        elif line.startswith("$ "):
            block.append([number, line[2:], []])
        elif block:
            block[-1][2].append(line)
    return [(n, command, "".join(l + "\n" for l in out)) for n, command, out in shown]


def main():
    karvel, readme = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    top = os.path.dirname(readme)
    env = dict(os.environ, PATH=os.path.dirname(karvel) + os.pathsep + os.environ.get("PATH", ""), LC_ALL="C")
    env.pop("KARVEL_THREADS", None)
    env.pop("KARVEL_SIMD", None)
    with open(readme, encoding="utf-8") as f:
        shown = transcripts(f.read())
    failures = 0
    for number, command, expected in shown:
        run = subprocess.run(["bash", "-c", command], cwd=top, env=env, capture_output=True)
        got = (run.stdout + run.stderr).decode("utf-8", "replace")
        if got != expected:
            failures += 1
            print("README line %d: $ %s\n--- shown\n%s--- printed\n%s" % (number, command, expected, got))
    if not shown:
        print("no ```console block in " + readme)
        return 1
    print("%d commands of the README print what it shows" % len(shown) if not failures else
          "%d of %d commands differ" % (failures, len(shown)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
