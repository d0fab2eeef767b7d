#!/usr/bin/env python3
"""The window as a screen reader sees it, through AT-SPI: a frame named by
its caption, holding four push buttons with their captions and a Press
action; a Press on "Create INI-file" writes Qorvane.ini, one on "Copy
files" without the add-on brings an alert with the reason, closed by a
Press on its OK, and one on "Close" ends the program. Run inside a session bus (dbus-run-session) with
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.

Usage: accessibility_probe.py VELMORA GAME_FOLDER
"""
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

CAPTION = "Tamsel Velmora - Config"


def wait_for(condition, seconds, what):
    deadline = time.time() + seconds
    while time.time() < deadline:
        found = condition()
        if found:
            return found
        time.sleep(0.1)
    sys.exit("FAIL: " + what)


def find_frame():
    for application in pyatspi.Registry.getDesktop(0):
        for child in application or []:
            if child is not None and child.name == CAPTION:
                return child
    return None


def texts(accessible, depth=0):
    """Every name and text below an accessible object."""
    found = [accessible.name or "", accessible.description or ""]
    try:
        text = accessible.queryText()
        found.append(text.getText(0, text.characterCount))
    except NotImplementedError:
        pass
    if depth < 6:
        for child in accessible:
            if child is not None:
                found += texts(child, depth + 1)
    return found


def role_of(accessible):
    """An object's role; None for one that left the bus while it was asked
    (an alert closing)."""
    try:
        return accessible.getRoleName()
    except GLib.GError:
        return None


def find_alert():
    for application in pyatspi.Registry.getDesktop(0):
        for child in application or []:
            if child is not None and role_of(child) == "alert":
                return child
    return None


def press_named(accessible, name):
    for child in accessible:
        if child is None:
            continue
        if child.getRoleName() == "push button" and child.name == name:
            action = child.queryAction()
            action.doAction([action.getName(i) for i in range(action.nActions)].index("Press"))
            return True
        if press_named(child, name):
            return True
    return False


def main():
    program, game = sys.argv[1], sys.argv[2]
    velmora = subprocess.Popen([program], cwd=game)
    try:
        frame = wait_for(find_frame, 30, "no accessible window named %r appeared" % CAPTION)
        if frame.getRoleName() != "frame":
            sys.exit("FAIL: the window's role is %r, not frame" % frame.getRoleName())
        buttons = {}
        for child in frame:
            if child is not None and child.getRoleName() == "push button":
                action = child.queryAction()
                names = [action.getName(i) for i in range(action.nActions)]
                if "Press" not in names:
                    sys.exit("FAIL: %r has no Press action: %s" % (child.name, names))
                buttons[child.name] = (action, names.index("Press"))
        if sorted(buttons) != sorted(["Copy files", "Create INI-file", "Run Velmora", "Close"]):
            sys.exit("FAIL: the buttons are %s" % sorted(buttons))
        print("PASS: a frame named %r with four push buttons, each with Press" % CAPTION)
        action, press = buttons["Create INI-file"]
        action.doAction(press)
        wait_for(lambda: os.path.exists(os.path.join(game, "Qorvane.ini")), 20, "Press on Create INI-file wrote nothing")
        # Without the add-on, Copy files tells why in an alert a screen reader reads.
        addon = os.path.join(game, "ZENTOSEASON")
        os.rename(addon, addon + ".aside")
        action, press = buttons["Copy files"]
        action.doAction(press)
        alert = wait_for(find_alert, 20, "no alert appeared after Copy files without the add-on")
        said = " ".join(texts(alert))
        if "Install Velmora first" not in said:
            sys.exit("FAIL: the alert says %r" % said)
        if not press_named(alert, "OK"):
            sys.exit("FAIL: the alert has no OK button to press")
        wait_for(lambda: find_alert() is None, 10, "Press on OK did not close the alert")
        os.rename(addon + ".aside", addon)
        print("PASS: Copy files without the add-on told why in an alert with its text, closed by Press on OK")
        # A Press made while the command still ends is refused: pressed until it takes.
        action, press = buttons["Close"]
        for _ in range(50):
            try:
                action.doAction(press)
            except Exception:
                pass  # the program has left the bus: it is ending
            if velmora.poll() is not None:
                break
            time.sleep(0.2)
        if velmora.wait(timeout=10) != 0:
            sys.exit("FAIL: the program ended with %d" % velmora.returncode)
        print("PASS: Press on Create INI-file wrote Qorvane.ini; Press on Close ended the program")
    finally:
        if velmora.poll() is None:
            velmora.kill()


if __name__ == "__main__":
    main()
