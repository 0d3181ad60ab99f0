#!/usr/bin/env python3
"""Runs odx-outline and the Python reference with the same arguments and
prints where they first disagree (exit code, standard output).

Usage: compare_cli.py [--tool ODX_OUTLINE] [--lines N] FLAGS -- FILES...
       (or the arguments mixed, as odx-outline takes them)

The tool defaults to $ODX_OUTLINE, else build/dev/tools/odx-outline of this
checkout.  Exit 0 when both agree, 1 when they do not.
"""
import difflib
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import reference_outline  # noqa: E402


def main(argv):
    tool = os.environ.get("ODX_OUTLINE") or os.path.join(
        HERE, "..", "..", "build", "dev", "tools", "odx-outline")
    shown = 20
    while argv[:1] in (["--tool"], ["--lines"]):
        if argv[0] == "--tool":
            tool = argv[1]
        else:
            shown = int(argv[1])
        argv = argv[2:]
    args = [a for a in argv if a != "--"]
    got = subprocess.run([tool, *args], capture_output=True)
    code, out, err = reference_outline.run(args)
    same = True
    if got.returncode != code:
        same = False
        print("exit: odx-outline %d, reference %d" % (got.returncode, code))
    if got.stdout != out:
        same = False
        a = got.stdout.decode("utf-8", "replace").splitlines()
        b = out.decode("utf-8", "replace").splitlines()
        diff = list(difflib.unified_diff(a, b, "odx-outline", "reference", n=1, lineterm=""))
        print("\n".join(diff[:shown + 2]))
        if len(diff) > shown + 2:
            print("... %d more diff lines" % (len(diff) - shown - 2))
    if same:
        print("agree: %d lines, exit %d" % (out.count(b"\n"), code))
    elif got.stderr or err:
        print("stderr of odx-outline: %s" % got.stderr.decode("utf-8", "replace").strip())
        print("stderr of reference:   %s" % err.decode("utf-8", "replace").strip())
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
