#!/usr/bin/env python3
"""A power cut at any moment of "Copy files" and "Create INI-file", replayed.

An ext4 file system lives in an image file shown through a FUSE driver that
records, in order, every write and every flush the disk receives
(platform/testing/counting_fuse.cpp --record); the game folder on it is run
through the commands the window runs (commands_driver). Then each crash state
a disk may be left in is rebuilt: the writes up to a flush, plus none, the
first half or a random subset of the writes between that flush and the next
(a disk keeps what was flushed, and any part of the rest). Each state is
mounted (ext4 replays its journal) and must hold:
  - every file under its final name exactly as it was, or exactly as the
    whole run leaves it (a copy holds its source's bytes, never a part or
    zeros; a file the rules never replace is unchanged);
  - Qorvane.ini absent, the old one, or the complete new one;
and a next run on it must leave exactly the tree of a run that was never
cut, with no temporary files.

Two rounds: ext4 as mounted by default, and with noauto_da_alloc and an
open-file limit of 64 (small batches), where ext4 no longer hides a missing
flush. A control whose copies are named without their batch being flushed
must fail, or the test proves nothing.

Usage: power_cut_test.py COMMANDS_DRIVER COUNTING_FUSE WORK_FOLDER
Exit 0 when every state holds, 1 when one does not, 77 when the machine
cannot mount (not root, no FUSE or loop devices).
"""
import os
import random
import resource
import shutil
import struct
import subprocess
import sys
import time

IMAGE_MB = 32


def run(*command, **options):
    return subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **options)


def can_run_here():
    if os.geteuid() != 0:
        return "needs root to mount"
    for tool in ("losetup", "mkfs.ext4", "mount", "umount"):
        if not shutil.which(tool):
            return tool + " is not installed"
    if not os.path.exists("/dev/fuse"):
        return "no /dev/fuse"
    return None


class Mounted:
    """An image mounted through a loop device while the block lasts."""

    def __init__(self, image, folder, options=""):
        self.image, self.folder, self.options = image, folder, options

    def __enter__(self):
        self.device = subprocess.run(["losetup", "-f", "--show", self.image], check=True,
                                     capture_output=True, text=True).stdout.strip()
        try:
            command = ["mount", "-t", "ext4"] + (["-o", self.options] if self.options else [])
            run(*command, self.device, self.folder)
        except subprocess.CalledProcessError:
            run("losetup", "-d", self.device)
            raise
        return self.folder

    def __exit__(self, *exception):
        run("umount", self.folder)
        run("losetup", "-d", self.device)


def make_game(game):
    """A game folder: track files of many sizes, files the copy leaves out,
    one the add-on has already (never replaced), pits to replace, and the
    configuration files."""
    rng = random.Random(7)

    def write(relative, data):
        path = os.path.join(game, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)

    for circuit in ("Monaco", "Brazil"):
        for i in range(45):
            size = rng.choice([700, 4096, 20000, 70000, 200000])
            write(f"season02/tracks/{circuit}/part{i}.gdb", rng.randbytes(size))
        write(f"season02/tracks/{circuit}/{circuit}.mas", b"left out")
        write(f"season02/tracks/{circuit}/{circuit}.AIW", b"left out")
        os.makedirs(os.path.join(game, f"ZENTOSEASON/tracks/{circuit}"), exist_ok=True)
    write("season02/tracks/season.trk", rng.randbytes(5000))
    write("ZENTOSEASON/tracks/Monaco/part0.gdb", b"the player's own, never replaced")
    for i in range(20):
        write(f"season02/tracks/pits/crew{i % 3}/pit{i}.dat", rng.randbytes(rng.choice([900, 30000])))
    write("season02/tracks/pits/ORDER.PIT", b"new order" * 1000)
    write("ZENTOSEASON/tracks/Pits/ORDER.PIT", b"old order")
    write("ZENTOSEASON/tracks/Pits/crew1/pit1.dat", b"old pit")
    lines = ["[ Game Options ]", "SeasonDir=season02\\", "OptionsDir=options\\", "ReplayDir=vcr\\",
             "SaveDir=save\\"] + [f"Setting{i}=value{i}" for i in range(20000)]
    write("Config.ini", ("\r\n".join(lines) + "\r\n").encode())
    write("Qorvane.ini", b"the old Qorvane.ini\r\n")


def snapshot(game):
    """Every file the commands may write, by path below the game folder."""
    files = {}
    for top in ("ZENTOSEASON", "Qorvane.ini"):
        path = os.path.join(game, top)
        if os.path.isfile(path):
            with open(path, "rb") as data:
                files[top] = data.read()
            continue
        for folder, _, names in os.walk(path):
            for name in names:
                full = os.path.join(folder, name)
                with open(full, "rb") as data:
                    files[os.path.relpath(full, game)] = data.read()
    return files


def read_record(path):
    """The writes and flushes the disk received: ("W", offset, bytes) and ("F",)."""
    events = []
    with open(path, "rb") as record:
        data = record.read()
    at = 0
    while at < len(data):
        kind = data[at:at + 1]
        at += 1
        if kind == b"F":
            events.append(("F",))
        elif kind == b"W":
            offset, length = struct.unpack_from("<QI", data, at)
            at += 12
            events.append(("W", offset, data[at:at + length]))
            at += length
        else:
            raise ValueError("a broken record at byte %d" % at)
    return events


def record_run(work, driver, fuse, base, mount_options, limit, no_flush):
    """Runs the commands on a copy of `base` seen through the recording
    driver; gives the writes and flushes in order."""
    backing, shown, ext = (os.path.join(work, name) for name in ("backing", "shown", "ext"))
    for folder in (backing, shown, ext):
        os.makedirs(folder, exist_ok=True)
    shutil.copyfile(base, os.path.join(backing, "disk.img"))
    record = os.path.join(work, "record.bin")
    before = os.stat(shown).st_dev
    driver_process = subprocess.Popen([fuse, backing, shown, os.path.join(work, "fuse.log"), "--record", record],
                                      stderr=subprocess.DEVNULL)
    try:
        for _ in range(500):
            if os.stat(shown).st_dev != before:
                break
            time.sleep(0.01)
        else:
            raise RuntimeError("the recording driver did not mount")
        with Mounted(os.path.join(shown, "disk.img"), ext, mount_options) as game_disk:
            command = [driver, os.path.join(game_disk, "game")] + (["--no-flush"] if no_flush else [])
            soft = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit)) if limit else None
            run(*command, preexec_fn=soft)
    finally:
        subprocess.run(["umount", shown], stderr=subprocess.DEVNULL)
        driver_process.wait()
    return read_record(record)


def crash_states(base_bytes, events, rng, between):
    """The crash states to check, (name, image bytes): each flush, and
    `between` states of the writes after it (prefixes, then random subsets)."""
    image = bytearray(base_bytes)
    flushes = [i for i, event in enumerate(events) if event[0] == "F"]
    starts = [0] + [i + 1 for i in flushes]
    for number, start in enumerate(starts):
        end = flushes[number] if number < len(flushes) else len(events)
        pending = [event for event in events[start:end] if event[0] == "W"]
        yield "flush %d" % number, bytes(image)
        if pending:
            variants = [("the first half", pending[:len(pending) // 2])][:between]
            for k in range(between - len(variants)):
                variants.append(("random subset %d" % k, [w for w in pending if rng.random() < 0.5]))
            for name, writes in variants:
                state = bytearray(image)
                for _, offset, data in writes:
                    state[offset:offset + len(data)] = data
                yield "flush %d and %s of the %d writes after it" % (number, name, len(pending)), bytes(state)
        for _, offset, data in pending:
            image[offset:offset + len(data)] = data


def check_state(files, before, after):
    """What is wrong with a crash state's files, if anything."""
    problems = []
    for path, data in files.items():
        if os.path.basename(path).startswith(".velmora-"):
            continue  # a temporary: the next run removes it
        allowed = [content for content in (before.get(path), after.get(path)) if content is not None]
        if path not in after:
            problems.append("%s: a name the run never gives" % path)
        elif data not in allowed:
            problems.append("%s: %d bytes, neither the file before nor the complete one" % (path, len(data)))
    return problems


def replay(work, driver, base, before, after, events, seed, between, next_run_every):
    """Mounts the crash states; gives the problems found and the states
    checked. Every `next_run_every`-th state is run again and must come out
    complete (0: none is)."""
    with open(base, "rb") as image:
        base_bytes = image.read()
    state_image, ext = os.path.join(work, "state.img"), os.path.join(work, "ext")
    problems, checked = [], 0
    for name, state in crash_states(base_bytes, events, random.Random(seed), between):
        with open(state_image, "wb") as out:
            out.write(state)
        with Mounted(state_image, ext) as disk:
            game = os.path.join(disk, "game")
            found = check_state(snapshot(game), before, after)
            if not found and next_run_every and checked % next_run_every == 0:
                run(driver, game)
                rest = snapshot(game)
                if rest != after:
                    wrong = sorted(set(rest) ^ set(after)) or [p for p in rest if rest[p] != after[p]]
                    found.append("after the next run: %s" % ", ".join(wrong[:5]))
        checked += 1
        problems += ["%s: %s" % (name, problem) for problem in found]
    return problems, checked


def main():
    driver, fuse, work = (os.path.abspath(argument) for argument in sys.argv[1:4])
    why_not = can_run_here()
    if why_not:
        print("SKIP:", why_not)
        return 77
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "ext"))
    base = os.path.join(work, "base.img")
    with open(base, "wb") as image:
        image.truncate(IMAGE_MB << 20)
    run("mkfs.ext4", "-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0", base)
    try:
        with Mounted(base, os.path.join(work, "ext")) as disk:
            make_game(os.path.join(disk, "game"))
            before = snapshot(os.path.join(disk, "game"))
        reference = os.path.join(work, "reference.img")
        shutil.copyfile(base, reference)
        with Mounted(reference, os.path.join(work, "ext")) as disk:
            run(driver, os.path.join(disk, "game"))
            after = snapshot(os.path.join(disk, "game"))
        os.remove(reference)
    except (subprocess.CalledProcessError, OSError) as error:
        print("SKIP: cannot mount an image here:", error)
        return 77

    failed = False
    # Title, mount options, open-file limit, control, states between flushes,
    # which states are run again. Small batches make many flushes: fewer
    # states between them, and every other one run again.
    rounds = [("ext4 as mounted by default", "", 0, False, 3, 1),
              ("ext4 with noauto_da_alloc, 64 open files", "noauto_da_alloc", 64, False, 1, 2),
              ("control: copies named before their flush", "noauto_da_alloc", 64, True, 2, 0)]
    for number, (title, options, limit, control, between, next_run_every) in enumerate(rounds):
        started = time.time()
        events = record_run(work, driver, fuse, base, options, limit, control)
        flushes = sum(1 for event in events if event[0] == "F")
        problems, checked = replay(work, driver, base, before, after, events, number, between, next_run_every)
        print("%s: %d writes, %d flushes, %d crash states, %d faulty (%.0f s)" %
              (title, len(events) - flushes, flushes, checked, len(problems), time.time() - started))
        for problem in problems[:10]:
            print("  " + problem)
        if control and not problems:
            print("FAIL: the control names copies before their flush, and no crash state showed it")
            failed = True
        if not control and problems:
            failed = True
    shutil.rmtree(work, ignore_errors=True)
    print("FAIL" if failed else "PASS: every crash state holds whole files only, and the next run completes it")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
