#!/usr/bin/env python3
"""Writes THIRD-PARTY-NOTICES.txt for the Windows zip: the notices of what
velmora.exe holds statically, taken from the copyright files Debian installs
with the MinGW-w64 toolchain. Each part names the static libraries it covers
("Covers: ..."), which the shape test matches against the link map.

Usage: tools/make_notices.py OUTPUT
"""
import pathlib
import re
import sys

DOC = pathlib.Path("/usr/share/doc")
MINGW = DOC / "mingw-w64-common" / "copyright"
GCC = DOC / "gcc-mingw-w64-base" / "copyright"

# The MinGW-w64 runtime: the C runtime with its gdtoa, the import libraries
# of Windows' own DLLs, and winpthreads.
RUNTIME_PARTS = ("mingw-w64-crt/",)
WINPTHREADS_PARTS = ("mingw-w64-libraries/winpthreads/",)


def paragraphs(path):
    text = path.read_text(encoding="utf-8")
    return [p for p in re.split(r"\n\s*\n", text) if p.strip()]


def field(paragraph, name):
    match = re.search(rf"^{name}:[ \t]*(.*(?:\n[ \t]+.*)*)", paragraph, re.M)
    return match.group(1).strip() if match else None


def mingw_notice(prefixes, skip=("tests",)):
    """The DEP-5 paragraphs whose files start with one of `prefixes`, and
    the full text of every licence they name."""
    chosen, licences = [], []
    all_paragraphs = paragraphs(MINGW)
    for p in all_paragraphs:
        files = field(p, "Files")
        if not files:
            continue
        names = files.split()
        if any(n.startswith(prefixes) and not any(s in n for s in skip) for n in names) or \
           ("*" in names and prefixes == RUNTIME_PARTS):
            chosen.append(p)
            licence = field(p, "License").splitlines()[0]
            for name in re.split(r"\s+(?:and|or)\s+", licence):
                if name not in licences:
                    licences.append(name)
    for p in all_paragraphs:
        if field(p, "Files") is None and field(p, "License") is not None:
            name = field(p, "License").splitlines()[0]
            if name in licences:
                chosen.append(p)
    return "\n\n".join(chosen)


def gcc_notice():
    text = GCC.read_text(encoding="utf-8")
    start = text.index("GCC RUNTIME LIBRARY EXCEPTION")
    end = text.index("presumption that third-party software is unaffected", start)
    end = text.index("\n\n", end)
    return ("libstdc++ and libgcc: Copyright (C) Free Software Foundation, Inc.\n"
            "Licensed under the GNU General Public License, version 3 or later, with\n"
            "version 3.1 of the GCC Runtime Library Exception, which lets velmora.exe\n"
            "carry them under its own licence. The exception follows.\n\n" + text[start:end].strip())


def main():
    out = pathlib.Path(sys.argv[1])
    parts = [
        ("The MinGW-w64 runtime (ZPL-2.1; gdtoa under the Lucent licence)",
         "libmingw32.a libmingwex.a libmsvcrt.a libmoldname.a crt2.o "
         "and the import libraries of Windows' DLLs (libkernel32.a, libuser32.a, libgdi32.a, "
         "libshell32.a and the others)",
         mingw_notice(RUNTIME_PARTS)),
        ("winpthreads (MIT-style)", "libwinpthread.a libpthread.a", mingw_notice(WINPTHREADS_PARTS)),
        ("The GNU C++ library and GCC's runtime", "libstdc++.a libgcc.a libgcc_eh.a libssp.a crtbegin.o crtend.o", gcc_notice()),
    ]
    text = ["velmora.exe contains, linked statically, the following parts of the\n"
            "MinGW-w64 toolchain. Their notices follow, as their licences ask.\n"]
    for title, covers, notice in parts:
        text.append("=" * 72 + f"\n{title}\nCovers: {covers}\n" + "=" * 72 + "\n\n" + notice + "\n")
    out.write_text("\n".join(text).replace("\r\n", "\n").replace("\n", "\r\n"), encoding="utf-8")


if __name__ == "__main__":
    main()
