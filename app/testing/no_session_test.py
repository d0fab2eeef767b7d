#!/usr/bin/env python3
"""Without a session its window can open in, the program ends with status 1
and one line saying why, never with Qt's abort: with no display named at all,
and in a Wayland session without Qt's Wayland plugin (skipped where the
plugin is installed).

Usage: no_session_test.py VELMORA WORK_FOLDER PLUGIN_FOLDER
"""
import os
import shutil
import socket
import subprocess
import sys


def run(program, folder, **variables):
    environment = {"PATH": "/usr/bin:/bin", **variables}
    return subprocess.run([program, folder], env=environment, capture_output=True, text=True, timeout=30)


def expect_one_line(result, what):
    lines = result.stderr.splitlines()
    if result.returncode != 1 or len(lines) != 1:
        sys.exit("FAIL: %s: status %d, said %r" % (what, result.returncode, result.stderr))
    print("PASS: %s: status 1, %r" % (what, lines[0]))


def main():
    program, work, plugins = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    expect_one_line(run(program, work), "no display")
    if any(name.startswith("libqwayland") for name in os.listdir(plugins)):
        print("SKIP: Qt's Wayland plugin is installed here; the case without it is not made")
        return 0
    compositor = socket.socket(socket.AF_UNIX)
    compositor.bind(os.path.join(work, "wayland-0"))
    compositor.listen(1)
    expect_one_line(run(program, work, XDG_RUNTIME_DIR=work, WAYLAND_DISPLAY="wayland-0"),
                    "Wayland without Qt's Wayland plugin")
    compositor.close()
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
