"""The message catalog (app/po) as the build reads it: each language's .po
compiled by msgfmt, then read back with Python's own gettext."""
import gettext
import io
import re
import subprocess
import sys
from pathlib import Path

PLACEHOLDER = re.compile(r"\{([a-z_]+)\}")


def languages(po_folder):
    """The languages listed in LINGUAS, in its order."""
    text = (Path(po_folder) / "LINGUAS").read_text()
    return [word for line in text.splitlines() for word in line.split("#", 1)[0].split()]


def compiled(po_file, check=True):
    """A .po file compiled (and, unless told, checked) by msgfmt, as a
    GNUTranslations; msgfmt's complaints end the build."""
    made = subprocess.run(["msgfmt", *(["--check"] if check else []), "-o", "-", str(po_file)], capture_output=True)
    if made.returncode != 0:
        sys.exit(f"{po_file}: {made.stderr.decode(errors='replace')}")
    return gettext.GNUTranslations(io.BytesIO(made.stdout))


def plural_expression(translations):
    """The C expression of the Plural-Forms header, and the count of forms."""
    header = translations.info().get("plural-forms", "nplurals=2; plural=(n != 1);")
    count = int(re.search(r"nplurals\s*=\s*(\d+)", header).group(1))
    expression = re.search(r"plural\s*=\s*(.+?);?\s*$", header).group(1)
    return expression, count


def entries(translations):
    """Each message: (key, [forms]); a plural message's key is its singular."""
    forms = {}
    for key, text in translations._catalog.items():
        if key == "":
            continue
        if isinstance(key, tuple):
            forms.setdefault(key[0], {})[key[1]] = text
        else:
            forms[key] = {0: text}
    return {key: [by_index[i] for i in sorted(by_index)] for key, by_index in forms.items()}
