#!/usr/bin/env python3
"""A power cut at any moment of "Copy files" and "Create INI-file", replayed.

A file system lives in an image file shown through a FUSE driver that
records, in order, every write and every flush the disk receives
(platform/testing/counting_fuse.cpp --record); the game folder on it is run
through the commands the window runs (commands_driver). Then each crash state
a disk may be left in is rebuilt: the writes up to a flush, plus none, the
first half or a random subset of the writes between that flush and the next
(a disk keeps what was flushed, and any part of the rest). Each state is
repaired as a boot would (ext4 replays its journal, ntfsfix empties NTFS's
log), mounted, and must hold (on a disk without a journal, unless the file
system's own records are broken, as fsck.exfat -n or a failed read tells):
  - every file under its final name exactly as it was, or exactly as the
    whole run leaves it (a copy holds its source's bytes, never a part or
    zeros; a file the rules never replace is unchanged; a replaced pits file
    is the old or the new one, never a mix);
  - no name the run never gives (such as a FUSE driver's .fuse_hidden*);
  - Qorvane.ini absent, the old one, or the complete new one;
and a next run on it must leave exactly the tree of a run that was never
cut, with no temporary files.

Rounds: ext4 as mounted by default; ext4 with noauto_da_alloc and an
open-file limit of 64 (small batches), where ext4 no longer hides a missing
flush; NTFS through ntfs-3g and exFAT through exfat-fuse, the disks players
share with Windows, with small batches; btrfs, where each copy is a clone
named at once. A control whose copies are named
without their batch being flushed must fail, or the test proves nothing.

Usage: power_cut_test.py COMMANDS_DRIVER COUNTING_FUSE WORK_FOLDER
POWER_CUT_ONLY=ext4|ntfs-3g|exfat-fuse|btrfs runs one file system's rounds.
Exit 0 when every state holds, 1 when one does not, 77 when the machine
cannot mount (not root, no FUSE or loop devices).
"""
import os
import random
import resource
import shutil
import stat
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
    for tool in ("losetup", "mount", "umount"):
        if not shutil.which(tool):
            return tool + " is not installed"
    if not os.path.exists("/dev/fuse"):
        return "no /dev/fuse"
    return None


class Kind:
    """How a file system of one kind is made, repaired after a crash (as a
    distribution's boot would) and mounted."""

    def __init__(self, name, make, repair, mount, tools, journaled, check=None):
        self.name, self.make, self.repair, self.mount, self.tools = name, make, repair, mount, tools
        # A check that finds the file system's own records broken (exit
        # status not 0), where the kind has one.
        self.check = check
        # Without a journal, writes between two flushes reach the disk in any
        # order and a crash can leave the file system's own records broken
        # (a name whose record was never written, clusters in use that its
        # free-space map calls free): that is counted, not failed, as no
        # program can prevent it.
        self.journaled = journaled


EXT4 = Kind("ext4", ["mkfs.ext4", "-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0"], None,
            ["mount", "-t", "ext4"], ["mkfs.ext4"], journaled=True)
# ntfs-3g mounts no volume whose log is not empty: ntfsfix empties it.
NTFS = Kind("ntfs-3g", ["mkntfs", "-F", "-q", "-f"], ["ntfsfix"], ["ntfs-3g"],
            ["mkntfs", "ntfsfix", "ntfs-3g"], journaled=False)
# btrfs clones each copy: named at once, with no flush of its own.
BTRFS = Kind("btrfs", ["mkfs.btrfs", "-q", "-f", "--mixed"], None, ["mount", "-t", "btrfs"],
             ["mkfs.btrfs"], journaled=True)
EXFAT = Kind("exfat-fuse", ["mkfs.exfat"], None, ["mount.exfat-fuse"],
             ["mkfs.exfat", "mount.exfat-fuse"], journaled=False, check=["fsck.exfat", "-n"])


class Mounted:
    """An image mounted through a loop device while the block lasts."""

    def __init__(self, kind, image, folder, options="", repair=False):
        self.kind, self.image, self.folder, self.options, self.repair = kind, image, folder, options, repair

    def __enter__(self):
        self.device = subprocess.run(["losetup", "-f", "--show", self.image], check=True,
                                     capture_output=True, text=True).stdout.strip()
        self.broken = False
        try:
            if self.repair and self.kind.check:
                self.broken = subprocess.run(self.kind.check + [self.device], stdout=subprocess.DEVNULL,
                                             stderr=subprocess.DEVNULL).returncode != 0
            if self.repair and self.kind.repair:
                run(*self.kind.repair, self.device)
            options = ["-o", self.options] if self.options else []
            run(*self.kind.mount, *options, self.device, self.folder)
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
    write("ZENTOSEASON/tracks/Pits/ORDER.PIT", b"old order" * 3000)
    write("ZENTOSEASON/tracks/Pits/crew1/pit1.dat", b"old pit" * 5000)
    lines = ["[ Game Options ]", "SeasonDir=season02\\", "OptionsDir=options\\", "ReplayDir=vcr\\",
             "SaveDir=save\\"] + [f"Setting{i}=value{i}" for i in range(20000)]
    write("Config.ini", ("\r\n".join(lines) + "\r\n").encode())
    write("Qorvane.ini", b"the old Qorvane.ini\r\n")


def snapshot(game):
    """Every file the commands may write, by path below the game folder, and
    the paths the file system could not list or read (a temporary is only
    looked at: the next run removes it)."""
    files, damaged = {}, []
    try:
        os.listdir(game)
    except OSError:  # the game folder's own index is broken
        return files, [game]
    for top in ("ZENTOSEASON", "Qorvane.ini"):
        path = os.path.join(game, top)
        try:
            is_folder = stat.S_ISDIR(os.lstat(path).st_mode)
        except FileNotFoundError:
            if top != "Qorvane.ini":  # no run removes the add-on's folder
                damaged.append(top)
            continue
        except OSError:  # a name whose record cannot be read
            damaged.append(top)
            continue
        if not is_folder:
            look_at(game, top, files, damaged)
            continue
        for folder, _, names in os.walk(path, onerror=lambda error: damaged.append(error.filename)):
            for name in names:
                look_at(game, os.path.relpath(os.path.join(folder, name), game), files, damaged)
    return files, damaged


def look_at(game, path, files, damaged):
    try:
        if os.path.basename(path).startswith(".velmora-"):
            os.lstat(os.path.join(game, path))
            files[path] = None
        else:
            with open(os.path.join(game, path), "rb") as data:
                files[path] = data.read()
    except OSError:
        damaged.append(path)


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


def record_run(work, driver, fuse, kind, base, mount_options, limit, no_flush):
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
        with Mounted(kind, os.path.join(shown, "disk.img"), ext, mount_options) as game_disk:
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


def replay(work, driver, kind, base, before, after, events, seed, between, next_run_every):
    """Mounts the crash states; gives the problems found, the states checked
    and those the file system itself left damaged. Every `next_run_every`-th
    state is run again and must come out complete (0: none is)."""
    with open(base, "rb") as image:
        base_bytes = image.read()
    state_image, ext = os.path.join(work, "state.img"), os.path.join(work, "ext")
    problems, checked, damaged_states = [], 0, 0
    for name, state in crash_states(base_bytes, events, random.Random(seed), between):
        with open(state_image, "wb") as out:
            out.write(state)
        mounted = Mounted(kind, state_image, ext, repair=True)
        with mounted as disk:
            game = os.path.join(disk, "game")
            files, damaged = snapshot(game)
            damaged += [game] if mounted.broken else []
            found = check_state(files, before, after)
            if not found and not damaged and next_run_every and checked % next_run_every == 0:
                run(driver, game)
                rest, damaged = snapshot(game)
                damaged += unremovable_temporaries(game, rest)
                # A copy there before the run is never written to again:
                # changed, it shares clusters the file system's lost free-space
                # map gave to a new file.
                cross_linked = [path for path in files if files[path] is not None and path in rest and
                                rest[path] != files[path] and not replaced_by_a_run(path)]
                if kind.journaled and cross_linked:
                    found.append("changed, though no run writes it again: %s" % ", ".join(cross_linked[:5]))
                damaged += cross_linked
                if rest != after and not damaged:
                    wrong = sorted(set(rest) ^ set(after)) or [p for p in rest if rest[p] != after[p]]
                    found.append("after the next run: %s" % ", ".join(wrong[:5]))
            if damaged and kind.journaled:
                found.append("the journal left unreadable: %s" % ", ".join(damaged[:5]))
            damaged_states += bool(damaged)
        checked += 1
        problems += ["%s: %s" % (name, problem) for problem in found]
    return problems, checked, damaged_states


def replaced_by_a_run(path):
    """The files a run may write over: the pits and Qorvane.ini."""
    return path.upper().startswith("ZENTOSEASON/TRACKS/PITS/") or path == "Qorvane.ini"


def unremovable_temporaries(game, files):
    """The temporaries a run left that the file system cannot remove either:
    a name its folder lists but its own lookup cannot find."""
    unremovable = []
    for path in [path for path in files if os.path.basename(path).startswith(".velmora-")]:
        try:
            os.unlink(os.path.join(game, path))
        except OSError:
            unremovable.append(path)
    return unremovable


def make_disks(work, driver, kind):
    """An image holding the game folder, and the files before and after a
    run that is never cut."""
    base = os.path.join(work, "base.img")
    with open(base, "wb") as image:
        image.truncate(IMAGE_MB << 20)
    run(*kind.make, base)
    with Mounted(kind, base, os.path.join(work, "ext")) as disk:
        make_game(os.path.join(disk, "game"))
        before = snapshot(os.path.join(disk, "game"))[0]
    reference = os.path.join(work, "reference.img")
    shutil.copyfile(base, reference)
    with Mounted(kind, reference, os.path.join(work, "ext")) as disk:
        run(driver, os.path.join(disk, "game"))
        after = snapshot(os.path.join(disk, "game"))[0]
    os.remove(reference)
    return base, before, after


# Kind, title, mount options, open-file limit, control, states between
# flushes, which states are run again. Small batches make many flushes:
# fewer states between them, and every other one run again. On the FUSE
# disks copies are named by a link and a rename that replaces is followed by
# a folder flush: small batches there put many names between flushes.
ROUNDS = [(EXT4, "as mounted by default", "", 0, False, 3, 1),
          (EXT4, "with noauto_da_alloc, 64 open files", "noauto_da_alloc", 64, False, 1, 2),
          (EXT4, "control: copies named before their flush", "noauto_da_alloc", 64, True, 2, 0),
          (NTFS, "64 open files", "", 64, False, 1, 3),
          (EXFAT, "64 open files", "", 64, False, 3, 3),
          (BTRFS, "as mounted by default", "", 0, False, 8, 1)]


def main():
    driver, fuse, work = (os.path.abspath(argument) for argument in sys.argv[1:4])
    why_not = can_run_here()
    if why_not:
        print("SKIP:", why_not)
        return 77
    failed, tried = False, 0
    for number, (kind, title, options, limit, control, between, next_run_every) in enumerate(ROUNDS):
        title = kind.name + " " + title
        if os.environ.get("POWER_CUT_ONLY", kind.name) != kind.name:
            continue
        missing = [tool for tool in kind.tools if not shutil.which(tool)]
        if missing:
            print("%s: skipped, %s not installed" % (title, " ".join(missing)))
            continue
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(os.path.join(work, "ext"))
        try:
            base, before, after = make_disks(work, driver, kind)
        except (subprocess.CalledProcessError, OSError) as error:
            print("%s: skipped, cannot mount an image here: %s" % (title, error))
            continue
        tried += 1
        started = time.time()
        events = record_run(work, driver, fuse, kind, base, options, limit, control)
        flushes = sum(1 for event in events if event[0] == "F")
        problems, checked, damaged = replay(work, driver, kind, base, before, after, events, number, between,
                                            next_run_every)
        print("%s: %d writes, %d flushes, %d crash states, %d faulty, %d the file system left damaged (%.0f s)" %
              (title, len(events) - flushes, flushes, checked, len(problems), damaged, time.time() - started))
        for problem in problems[:10]:
            print("  " + problem)
        if control and not problems:
            print("FAIL: the control names copies before their flush, and no crash state showed it")
            failed = True
        if not control and problems:
            failed = True
    shutil.rmtree(work, ignore_errors=True)
    if not tried:
        print("SKIP: no file system could be mounted here")
        return 77
    print("FAIL" if failed else "PASS: every crash state holds whole files only, and the next run completes it")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
