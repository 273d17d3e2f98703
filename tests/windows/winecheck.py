"""What the Wine test drivers share: checks that collect their failures
instead of stopping at the first, Windows names for Linux paths, and the
closing verdict as an exit status."""
import os

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)


def win_path(path):
    """The Windows name of a Linux path: Wine maps / to drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def verdict():
    """Prints how the checks went; the exit status to end with."""
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("All checks passed")
    return 0
