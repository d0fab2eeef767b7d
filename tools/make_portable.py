#!/usr/bin/env python3
"""Lays out the portable Linux build: one folder holding the program, the Qt
libraries and platform plugins it needs and every library they need in turn,
found through run paths relative to each file, save those every desktop has
and that must match the system (listed in scripts/portable-system-libraries).
Beside them: qt.conf, the licence, the notices of every library carried (each
Debian package's copyright file), the manual page and a README.

Its messages' catalogs lie in locale/ beside the program, with Qt's own
words (OK, the folder chooser) for the same languages in translations/.

Usage: make_portable.py PROGRAM FOLDER LICENSE MANUAL README LOCALE
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent
QT_PLUGINS = Path(subprocess.run(["qtpaths6", "--query", "QT_INSTALL_PLUGINS"], capture_output=True,
                                 text=True, check=True).stdout.strip())
# The plugins the window needs: X11 and, where Debian's Qt has it, Wayland
# with its window decorations and shell; the compose key's input context.
# Packages whose code is compiled into the program rather than carried.
COMPILED_IN = ["nlohmann-json3-dev"]

PLUGINS = [
    "platforms/libqxcb.so",
    "platforms/libqwayland-generic.so",
    "wayland-shell-integration/libxdg-shell.so",
    "wayland-decoration-client/libbradient.so",
    "platforminputcontexts/libcomposeplatforminputcontextplugin.so",
]


def system_libraries():
    names = set()
    for line in (TOP / "scripts" / "portable-system-libraries").read_text().splitlines():
        line = line.split("#", 1)[0].strip()
        if line:
            names.add(line)
    return names


def needed(path, system):
    """The sonames `path` names, but the system's, and where the loader finds each now."""
    dynamic = subprocess.run(["readelf", "-d", str(path)], capture_output=True, text=True, check=True).stdout
    names = [name for name in re.findall(r"\(NEEDED\).*\[(.+)\]", dynamic) if name not in system]
    found = {}
    for line in subprocess.run(["ldd", str(path)], capture_output=True, text=True, check=True).stdout.splitlines():
        match = re.match(r"\s*(\S+) => (/\S+)", line)
        if match:
            found[match.group(1)] = match.group(2)
    missing = [name for name in names if name not in found]
    if missing:
        sys.exit(f"make_portable: {path} needs {missing}, which this system lacks")
    return [(name, found[name]) for name in names]


def set_run_path(path, run_path):
    subprocess.run(["patchelf", "--set-rpath", run_path, "--force-rpath", str(path)], check=True)


def owning_package(path):
    real = os.path.realpath(path)
    for candidate in (real, real.replace("/usr/lib/", "/lib/", 1), real.replace("/lib/", "/usr/lib/", 1)):
        result = subprocess.run(["dpkg", "-S", candidate], capture_output=True, text=True)
        if result.returncode == 0:
            return result.stdout.split(":", 1)[0].strip()
    sys.exit(f"make_portable: no package owns {path}")


COMMON_LICENCES = Path("/usr/share/common-licenses")


def common_licences_named(notices):
    """The texts in the common-licenses folder that the copyright files name."""
    named = set()
    for copyright_file in notices.glob("*.copyright"):
        text = copyright_file.read_text(errors="replace")
        named |= {name for name in re.findall(r"/usr/share/common-licenses/([A-Za-z0-9.+-]*[A-Za-z0-9+])", text)
                  if (COMMON_LICENCES / name).is_file()}
    return named


def package_versions(package):
    """A package's exact version, and its source package's name and version."""
    architecture = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                                  check=True).stdout.strip()
    for name in (f"{package}:{architecture}", package):
        query = subprocess.run(["dpkg-query", "-W", "-f=${Version}\t${source:Package}\t${source:Version}\n", name],
                               capture_output=True, text=True)
        if query.returncode == 0:
            return tuple(query.stdout.splitlines()[0].split("\t"))
    sys.exit(f"make_portable: dpkg knows no version of {package}")


def main():
    program, folder, licence, manual, readme, locale = (Path(a) for a in sys.argv[1:7])
    system = system_libraries()
    folder.mkdir(parents=True)
    (folder / "lib").mkdir()
    shutil.copy2(program, folder / "velmora")
    set_run_path(folder / "velmora", "$ORIGIN/lib")
    todo = [folder / "velmora"]
    for plugin in PLUGINS:
        source = QT_PLUGINS / plugin
        if not source.exists():
            print(f"not carried (not installed): {plugin}")
            continue
        target = folder / "plugins" / plugin
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source, target)
        set_run_path(target, "$ORIGIN/../../lib")
        todo.append(target)
    carried = {}
    while todo:
        for name, path in needed(todo.pop(), system):
            if name in carried:
                continue
            carried[name] = path
            target = folder / "lib" / name
            shutil.copy2(os.path.realpath(path), target)
            os.chmod(target, 0o644)
            set_run_path(target, "$ORIGIN")
            todo.append(target)
    shutil.copytree(locale, folder / "locale")
    # Qt's words in the languages the catalog has, where Qt has them.
    qt_translations = Path(subprocess.run(["qtpaths6", "--query", "QT_INSTALL_TRANSLATIONS"], capture_output=True,
                                          text=True, check=True).stdout.strip())
    carried_words = []
    for language in sorted(p.name for p in locale.iterdir()):
        words = qt_translations / f"qtbase_{language}.qm"
        if words.exists():
            (folder / "translations").mkdir(exist_ok=True)
            shutil.copy2(words, folder / "translations" / words.name)
            carried_words.append(words)
    (folder / "qt.conf").write_text("[Paths]\nPrefix = .\nLibraries = lib\nPlugins = plugins\n"
                                    "Translations = translations\n")
    shutil.copy2(licence, folder / "LICENSE")
    shutil.copy2(manual, folder / "velmora.1")
    shutil.copy2(readme, folder / "README")
    notices = folder / "notices"
    notices.mkdir()
    # Header-only libraries compiled into the program carry notices too.
    packages = sorted({owning_package(path) for path in carried.values()} |
                      {owning_package(QT_PLUGINS / p) for p in PLUGINS if (QT_PLUGINS / p).exists()} |
                      {owning_package(words) for words in carried_words} |
                      set(COMPILED_IN))
    for package in packages:
        shutil.copy2(f"/usr/share/doc/{package}/copyright", notices / f"{package}.copyright")
    # The copyright files point at licence texts in the system's
    # common-licenses folder, which not every distribution has (SteamOS has
    # not): each text they name travels beside them.
    for name in sorted(common_licences_named(notices) | {"LGPL-3", "GPL-3"}):
        shutil.copyfile(COMMON_LICENCES / name, notices / name)
    (folder / "THIRD-PARTY-NOTICES").write_text(
        "Velmora Config is MIT-licensed (LICENSE). This folder also carries libraries\n"
        "of other projects, each under its own licence: the copyright file of each\n"
        "Debian package they come from is in notices/, named after the package.\n\n"
        "Qt 6 (libQt6*.so.6 in lib/, the plugins in plugins/) is used under the GNU\n"
        "Lesser General Public License version 3 (notices/LGPL-3, which builds on\n"
        "notices/GPL-3). You may replace these libraries with your own build of the\n"
        "same Qt version, or a compatible one: put your libQt6*.so.6 files in lib/\n"
        "(the program finds its libraries there first) or remove them from lib/ to\n"
        "use the system's. Qt's source is at https://download.qt.io/ and Debian's,\n"
        "with its changes, through `apt source qt6-base`.\n\n"
        "Libraries carried, by Debian package and exact version, with the source\n"
        "package and version they were built from:\n" +
        "".join(f"  {package} {version} (source: {source} {source_version})\n"
                for package, (version, source, source_version) in ((p, package_versions(p)) for p in packages)))
    print(f"carried {len(carried)} libraries from {len(packages)} packages")


if __name__ == "__main__":
    main()
