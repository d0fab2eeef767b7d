#!/usr/bin/env python3
"""check_catalog.py passes the catalog as it is, and fails it made faulty
each way it guards against: a message of the code left out, a placeholder
changed, a plural form missing; and a message in the code not yet in it.

Usage: check_catalog_test.py PO_FOLDER SOURCE...
"""
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

CHECK = Path(__file__).resolve().parent / "check_catalog.py"


def check(po_folder, sources):
    with tempfile.TemporaryDirectory() as folder:
        return subprocess.run([sys.executable, str(CHECK), str(po_folder), str(Path(folder) / "stamp"), *sources],
                              capture_output=True, text=True)


def faulty(po_folder, language, change):
    """A copy of the catalog with one language's file changed."""
    folder = Path(tempfile.mkdtemp())
    shutil.copytree(po_folder, folder, dirs_exist_ok=True)
    po = folder / f"{language}.po"
    changed = change(po.read_text(encoding="utf-8"))
    po.write_text(changed, encoding="utf-8")
    return folder


def main():
    po_folder, sources = Path(sys.argv[1]), sys.argv[2:]
    failures = []
    if check(po_folder, sources).returncode != 0:
        failures.append("the catalog as it is fails: " + check(po_folder, sources).stderr)

    def left_out(text):
        # The entry of "Files not copied:" gone.
        return re.sub(r'msgid "Files not copied:"\nmsgstr "[^"]*"\n', "", text)

    def placeholder_changed(text):
        return re.sub(r'(msgid "The first is \{path\}\."\nmsgstr "[^"]*)\{path\}', r"\1{pfad}", text)

    def plural_form_missing(text):
        return re.sub(r'(msgid_plural "\{count\} files could not be copied\."\n'
                      r'(?:msgstr\[\d\] "[^"]*"\n)*)msgstr\[2\] "[^"]*"\n', r"\1", text)

    for name, language, change in [("a message left out", "de", left_out),
                                   ("a placeholder changed", "fr", placeholder_changed),
                                   ("a plural form missing", "pl", plural_form_missing)]:
        folder = faulty(po_folder, language, change)
        if (folder / f"{language}.po").read_text(encoding="utf-8") == (po_folder / f"{language}.po").read_text(
                encoding="utf-8"):
            failures.append(f"{name}: the fault could not be made")
        elif check(folder, sources).returncode == 0:
            failures.append(f"{name}: not found")
        shutil.rmtree(folder)

    with tempfile.TemporaryDirectory() as folder:
        new_message = Path(folder) / "new.cpp"
        new_message.write_text('void Say() { Tr("A message no catalog has yet."); }\n')
        if check(po_folder, [*sources, str(new_message)]).returncode == 0:
            failures.append("a new message of the code: not found")

    if failures:
        sys.exit("FAIL: " + "\n".join(failures))
    print("PASS: the catalog passes, and each fault made fails the check")


if __name__ == "__main__":
    main()
