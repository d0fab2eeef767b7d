#!/usr/bin/env python3
"""Runs a command as on a distribution that has only the libraries every
desktop has (scripts/portable-system-libraries and what they need): in a
mount namespace of its own, every other shared library of the system is
covered by an empty file, and Qt's plugin folder by an empty folder, so a
library the portable folder fails to carry is missed. The hiding is done
here, by system calls, because the tools that could do it (mount, grep,
even the shell) need some of those libraries themselves.

Usage: hide_libraries.py PORTABLE_FOLDER COMMAND [ARGUMENT...]
Prints how many files it hid; exits with the command's status.
"""
import ctypes
import os
import re
import subprocess
import sys

CLONE_NEWNS = 0x00020000
MS_BIND, MS_REC, MS_PRIVATE = 0x1000, 0x4000, 0x40000
LIBRARY_FOLDERS = ["/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", "/usr/lib", "/lib", "/usr/local/lib"]
QT_PLUGIN_FOLDER = "/usr/lib/x86_64-linux-gnu/qt6"
SYSTEM_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "portable-system-libraries")

libc = ctypes.CDLL(None, use_errno=True)


def check(result, what):
    if result != 0:
        error = ctypes.get_errno()
        sys.exit(f"hide_libraries: {what}: {os.strerror(error)}")


def bind(source, target):
    check(libc.mount(source.encode(), target.encode(), None, MS_BIND, None), "cannot cover " + target)


def kept_libraries(system_list):
    """The libraries every desktop has (the list the portable build never
    carries) and all they need in turn, as real files."""
    names = {line.split("#", 1)[0].strip() for line in open(system_list)} - {""}
    kept = set()
    for folder in LIBRARY_FOLDERS:
        for name in names:
            path = os.path.join(folder, name)
            if not os.path.exists(path):
                continue
            kept.add(os.path.realpath(path))
            listing = subprocess.run(["ldd", path], capture_output=True, text=True).stdout
            kept |= {os.path.realpath(found) for found in re.findall(r"=> (/\S+)", listing)}
    return kept


def libraries_to_hide(kept):
    hide = set()
    for folder in LIBRARY_FOLDERS:
        if not os.path.isdir(folder):
            continue
        for name in os.listdir(folder):
            path = os.path.realpath(os.path.join(folder, name))
            if ".so" in name and os.path.isfile(path) and path not in kept:
                hide.add(path)
    return hide


def main():
    portable, command = sys.argv[1], sys.argv[2:]
    copies = libraries_to_hide(kept_libraries(SYSTEM_LIST))
    check(libc.unshare(CLONE_NEWNS), "no mount namespace")
    check(libc.mount(b"none", b"/", None, MS_REC | MS_PRIVATE, None), "cannot make mounts private")
    # Beside the folder, so that whoever removes the folder's parent removes it.
    empty_folder = os.path.join(os.path.dirname(os.path.abspath(portable)), ".hidden-libraries")
    os.makedirs(os.path.join(empty_folder, "plugins"), exist_ok=True)
    empty = os.path.join(empty_folder, "empty")
    open(empty, "w").close()
    for copy in sorted(copies):
        bind(empty, copy)
    if os.path.isdir(QT_PLUGIN_FOLDER):
        bind(os.path.join(empty_folder, "plugins"), QT_PLUGIN_FOLDER)
    print(f"hidden: {len(copies)} system libraries, all but those every desktop has, and Qt's plugins",
          file=sys.stderr)
    sys.stderr.flush()
    os.execvp(command[0], command)


if __name__ == "__main__":
    main()
