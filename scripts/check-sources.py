#!/usr/bin/env python3
"""Checks the include rules of the code base and prints every breach.

- Code that does not draw a window (everything outside the Qt code) includes
  no Qt header. The part of framework/ that draws windows is framework/qt/;
  the rest of the folder is Qt-free.
- Of that code, only the Windows backend (platform/win32/), the Windows-only
  tests (tests/platform/win32/), the helpers of the Windows program's stage
  (tests/windows-app/) and the Windows part of the test sandbox include
  Windows headers; everything else reaches the system through the platform
  interfaces.
- The program changes its process environment only where it has one thread
  (main, and what main calls first): glibc's setenv may move the
  environment while another thread's getenv reads it. ENV_CHANGES_ALLOWED
  names those places.
- The program's folders are layers (LAYERS, lowest first). A file includes
  only headers of its own layer and of the layers below it, never one of a
  higher layer and never one outside the program (tools/, tests/, bench/);
  two layers never include each other. tools/, tests/ and bench/ may
  include anything.

Exit status 0 when the rules hold, 1 otherwise.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)

# Folders whose code is compiled without Qt (see CMakeLists.txt).
QT_FREE_DIRS = ["net", "framework", "proxy", "switch", "platform", "tools", "bench", "tests"]
# Units and folders inside them that belong to the Qt application.
QT_UNITS = re.compile(
    r"^(framework/qt/|tests/(ui|vcl|framework/qt|support/qt|e2e|wayland)/"
    # The build-time picture generator draws with Qt.
    r"|tools/resgen/"
    # The application benchmarks drive the main window in their own process.
    r"|bench/(bench_app\.cpp|bench_watch\.cpp|MainWindowBench\.h)$"
    # The package test's helper runs inside the installed program's windows.
    r"|tests/package/AutorunTicker\.cpp$"
    # The bare Qt window the Windows program's start-up is measured against.
    r"|tests/windows-app/BareWindow\.cpp$"
    # The fuzz targets of the update answer and of the movie player drive
    # a window.
    r"|tests/fuzz/fuzz_(update_answer|movie)\.cpp$)")
# Where Windows headers may appear.
WINDOWS_ALLOWED = re.compile(
    r"^(platform/win32/|tests/platform/win32/|tests/support/SandboxWin32\.cpp$"
    # Helpers of the Windows program's stage, built only for Windows.
    r"|tests/windows-app/)")

# The layers of the program, lowest first: a file belongs to the layer of the
# longest folder that holds it, and may include headers of its own layer and
# of the layers below. The libraries follow the same lines (CMakeLists.txt):
# vg_platform, vg_net, vg_core (framework/lang up to switch), vg_qt (vcl up
# to ui).
LAYERS = [
    # Operating-system services; posix/ and win32/ are its backends.
    "platform",
    # Text and system utilities, string list, debug log, dispatcher
    # interface, downloader.
    "net",
    # Component model, language files, translator.
    "framework/lang",
    # Settings store, INI file, page addresses, service endpoints (Qt-free).
    "framework",
    # Proxy lists and choice.
    "proxy",
    # Desktop and browser proxy switches, the country gate.
    "switch",
    # Component layer: Qt widgets that are also components.
    "vcl",
    # Start-up, engine, form and dispatcher on Qt; the framework's windows.
    "framework/qt",
    # The application's windows.
    "ui",
    # The program's entry.
    "app",
]

# The program's own code (the folders of its layers), and where it may change
# its environment.
PROGRAM_DIRS = list(dict.fromkeys(name.split("/")[0] for name in LAYERS))
ENV_CHANGES_ALLOWED = {
    # main: before anything else, and the language-file writer it runs first.
    "app/Veilgate.cpp",
    # PrepareWebEngineProcess, which main calls first.
    "vcl/WebHosts.cpp",
}
ENV_CHANGE = re.compile(
    r"(?<![\w.>:])(::)?(setenv|putenv|unsetenv|clearenv|qputenv|qunsetenv|_putenv|_wputenv"
    r"|SetEnvironmentVariable[AW]?)\s*\(")

INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*[<"]([^>"]+)[>"]', re.M)
QT_HEADER = re.compile(r"^(Qt\w*/|Q[A-Z]\w*(\.h)?$|qt\w*\.h$)")
WINDOWS_HEADER = re.compile(
    r"^(windows|windowsx|winsock2?|ws2tcpip|ws2def|wininet|winhttp|winreg|winuser|winbase|winnt"
    r"|winerror|wincrypt|shlobj|shellapi|shlwapi|objbase|ole2|oleauto|commctrl|commdlg"
    r"|tlhelp32|psapi|iphlpapi|lmcons|sddl|aclapi|accctrl|userenv|knownfolders|wtsapi32"
    r"|urlmon|mmsystem|dbghelp|winver|versionhelpers)\.h$", re.I)


def sources(dirs):
    """The C++ files below the given folders, with their paths relative to
    ROOT, in a stable order."""
    for top in dirs:
        base = ROOT / top
        if not base.is_dir():
            continue
        for path in sorted(base.rglob("*")):
            if path.suffix in (".cpp", ".h", ".hpp", ".cc") and path.is_file():
                yield path, path.relative_to(ROOT).as_posix()


breaches = []
checked = 0
for path, rel in sources(QT_FREE_DIRS):
    if QT_UNITS.match(rel):
        continue
    checked += 1
    text = path.read_text(encoding="utf-8", errors="replace")
    for m in INCLUDE.finditer(text):
        header = m.group(1)
        line = text.count("\n", 0, m.start()) + 1
        if QT_HEADER.match(header):
            breaches.append(f"{rel}:{line}: Qt header <{header}> in code that does not draw a window")
        if WINDOWS_HEADER.match(header.split("/")[-1]) and not WINDOWS_ALLOWED.match(rel):
            breaches.append(f"{rel}:{line}: Windows header <{header}> outside platform/win32/")

for path, rel in sources(PROGRAM_DIRS):
    if rel in ENV_CHANGES_ALLOWED:
        continue
    text = path.read_text(encoding="utf-8", errors="replace")
    for m in ENV_CHANGE.finditer(text):
        line = text.count("\n", 0, m.start()) + 1
        breaches.append(f"{rel}:{line}: {m.group(2)} changes the environment outside main;"
                        " other threads may be reading it")


def layer_of(rel):
    """The layer of a file (its path relative to ROOT), or None outside the
    program."""
    best = None
    for name in LAYERS:
        if rel.startswith(name + "/") and (best is None or len(name) > len(best)):
            best = name
    return best


def resolve(path, header):
    """The repository file an #include "..." names, as the compiler finds it
    (beside the including file first, then from the root), or None for a
    system, third-party or generated header."""
    for candidate in (path.parent / header, ROOT / header):
        if candidate.is_file():
            try:
                return candidate.resolve().relative_to(ROOT.resolve()).as_posix()
            except ValueError:
                return None
    return None


QUOTED_INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*"([^"]+)"', re.M)
LAYER_RANK = {name: rank for rank, name in enumerate(LAYERS)}
layer_includes = {}  # (from layer, to layer) -> first "file:line" seen
layered = 0
for path, rel in sources(PROGRAM_DIRS):
    own = layer_of(rel)
    layered += 1
    text = path.read_text(encoding="utf-8", errors="replace")
    for m in QUOTED_INCLUDE.finditer(text):
        target = resolve(path, m.group(1))
        if target is None:
            continue
        line = text.count("\n", 0, m.start()) + 1
        other = layer_of(target)
        if other is None:
            breaches.append(f"{rel}:{line}: includes {target}, which is outside the program's"
                            " layers (tools/, tests/ and bench/ may use the program, not the"
                            " other way round)")
            continue
        if other == own:
            continue
        layer_includes.setdefault((own, other), f"{rel}:{line}")
        if LAYER_RANK[other] > LAYER_RANK[own]:
            breaches.append(f"{rel}:{line}: {own}/ includes {target} of the higher layer"
                            f" {other}/; a layer includes only itself and the layers below it"
                            f" ({' < '.join(LAYERS)})")
for (low, high), where in sorted(layer_includes.items()):
    if LAYER_RANK[low] < LAYER_RANK[high] and (high, low) in layer_includes:
        breaches.append(f"{low}/ and {high}/ include each other ({where} and"
                        f" {layer_includes[(high, low)]}); one of them must not")

for b in breaches:
    print(b)
print(f"{checked} Qt-free files checked, {layered} files checked against the layers,"
      f" {len(breaches)} breaches")
sys.exit(1 if breaches or checked == 0 or layered == 0 else 0)
