#!/usr/bin/env python3
"""Fails when the catalog falls behind the code: a message of the code with
no translation in a language, a translation whose {placeholders} differ
from the English, or a plural message short of its language's forms.

Usage: check_catalog.py PO_FOLDER STAMP SOURCE...
The messages of the code are those xgettext finds in Tr, TrN and TrC.
"""
import subprocess
import sys
import tempfile
from pathlib import Path

from catalog import PLACEHOLDER, compiled, entries, languages, plural_expression

KEYWORDS = ["--keyword=Tr", "--keyword=TrN:1,2", "--keyword=TrC:1c,2"]


def template(sources, folder):
    """The code's messages as a .pot file."""
    pot = Path(folder) / "velmora.pot"
    subprocess.run(["xgettext", "--language=C++", "--from-code=UTF-8", "--add-comments=TRANSLATORS:",
                    "--no-location", "-o", str(pot), *KEYWORDS, *sources], check=True)
    # English's own header, for reading it back.
    text = pot.read_text(encoding="utf-8")
    text = text.replace("charset=CHARSET", "charset=UTF-8").replace(
        "nplurals=INTEGER; plural=EXPRESSION;", "nplurals=2; plural=(n != 1);")
    pot.write_text(text, encoding="utf-8")
    return pot


def placeholders(text):
    return sorted(set(PLACEHOLDER.findall(text)))


def main():
    po_folder, stamp, sources = Path(sys.argv[1]), Path(sys.argv[2]), sys.argv[3:]
    faults = []
    with tempfile.TemporaryDirectory() as folder:
        pot = template(sources, folder)
        # The English, read back as msgfmt reads it: en.po made of the
        # template with each message its own translation.
        english_po = Path(folder) / "en.po"
        subprocess.run(["msgen", "-o", str(english_po), str(pot)], check=True)
        english = entries(compiled(english_po, check=False))
        for language in languages(po_folder):
            po = po_folder / f"{language}.po"
            # msgcmp: every message of the code has a translation, not fuzzy.
            compared = subprocess.run(["msgcmp", str(po), str(pot)], capture_output=True, text=True)
            if compared.returncode != 0:
                faults.append(f"{po.name}: messages of the code missing or untranslated:\n{compared.stderr}")
            translations = compiled(po)
            _, count = plural_expression(translations)
            translated = entries(translations)
            for key, forms in english.items():
                if key not in translated:
                    continue
                wanted = placeholders(forms[-1])
                theirs = translated[key]
                if len(forms) > 1 and (len(theirs) != count or not all(theirs)):
                    faults.append(f"{po.name}: {key!r} has {len(theirs)} plural forms, its language has {count}")
                for form in theirs:
                    if placeholders(form) != wanted:
                        faults.append(f"{po.name}: {key!r}: placeholders {placeholders(form)}, English {wanted}")
    if faults:
        print("\n".join(faults), file=sys.stderr)
        sys.exit(1)
    Path(stamp).write_text("checked\n")


if __name__ == "__main__":
    main()
