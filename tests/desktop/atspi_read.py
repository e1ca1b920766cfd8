#!/usr/bin/python3
# What a screen reader reads of a running program, through AT-SPI (python3-pyatspi): every
# accessible object of the application whose process is PID, one a line as
# "DEPTH<TAB>ROLE<TAB>NAME<TAB>DESCRIPTION<TAB>STATES", in the tree's order. Waits up to
# SECONDS for the application to show up with at least one window.
#   atspi_read.py PID [SECONDS]
# The bus is the one AT_SPI_BUS_ADDRESS names. Exit status 1 when the application is not found.
import sys
import time

import pyatspi


def flat(text):
    return " ".join((text or "").replace("\t", " ").splitlines())


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        try:
            if app is not None and app.get_process_id() == pid and app.childCount > 0:
                return app
        except Exception:  # an application going away meanwhile
            continue
    return None


def walk(node, depth, out):
    try:
        states = node.getState()
        shown = [name for state, name in ((pyatspi.STATE_SHOWING, "showing"), (pyatspi.STATE_FOCUSED, "focused"))
                 if states.contains(state)]
        out.append("\t".join([str(depth), node.getRoleName(), flat(node.name), flat(node.description), ",".join(shown)]))
        for i in range(node.childCount):
            child = node.getChildAtIndex(i)
            if child is not None:
                walk(child, depth + 1, out)
    except Exception as error:  # an object that went away while it was read
        out.append(f"{depth}\terror\t{flat(str(error))}\t\t")


def main():
    pid = int(sys.argv[1])
    deadline = time.monotonic() + (float(sys.argv[2]) if len(sys.argv) > 2 else 10)
    app = application(pid)
    while app is None and time.monotonic() < deadline:
        time.sleep(0.2)
        app = application(pid)
    if app is None:
        print(f"no application of process {pid} on the accessibility bus", file=sys.stderr)
        return 1
    out = []
    walk(app, 0, out)
    print("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
