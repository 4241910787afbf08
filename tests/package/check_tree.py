#!/usr/bin/env python3
"""Checks the Debian packages (the program, its page engine, the reference
service) and their unpacked tree.

Usage: check_tree.py <package folder> <source folder> <build folder>
(the package folder of build-package.sh: the .deb and root/ unpacked from it)

- owners and modes of every entry of the package (root, no setuid or
  world-writable entries, folders 755, the program 755, everything else 644);
- no build paths: no RPATH or RUNPATH in any ELF file, and no file that
  contains the source or build folder's path;
- the program with its data in usr/lib/veilgate and the usr/bin link to it;
- the desktop entry: every Exec names the program through the link, its
  icon exists in the hicolor theme in every size, the AppStream data names
  the entry;
- the manual page;
- each package has a summary and a description of its own (read from the
  control file with dpkg-deb -I), none repeating another's;
- each package holds what belongs to it: the page engine only in
  veilgate-pages, the service with its unit, conffile and manual page in
  veilgate-service, the administrator's file as a conffile of veilgate.
Exits 1 after listing every fault."""
import glob, gzip, os, re, struct, subprocess, sys, xml.etree.ElementTree as ET

folder, src, build = sys.argv[1:4]
PACKAGES = ("veilgate", "veilgate-pages", "veilgate-service")
debs = {}
for d in glob.glob(os.path.join(folder, "*.deb")):
    name = subprocess.run(["dpkg-deb", "-f", d, "Package"], check=True, capture_output=True,
                          text=True).stdout.strip()
    debs[name] = d
if sorted(debs) != sorted(PACKAGES):
    sys.exit("expected the packages %s in %s, found %s" % (PACKAGES, folder, sorted(debs)))
root = os.path.join(folder, "root")
APP_ID = "org.veilgate.Veilgate"
APPDIR = "usr/lib/veilgate"
faults = []


def fault(text):
    faults.append(text)


# --- owners and modes ----------------------------------------------------------------------------
EXECUTABLES = (APPDIR + "/veilgate", "usr/sbin/veilgate-service")
listing = []
for deb in debs.values():
    listing += subprocess.run(["dpkg-deb", "-c", deb], check=True, capture_output=True,
                              text=True).stdout.splitlines()
for line in listing:
    parts = line.split(None, 5)
    perms, owner, name = parts[0], parts[1], parts[5].split(" -> ")[0]
    name = name[2:] if name.startswith("./") else name
    if owner != "root/root":
        fault("%s: owner %s, not root/root" % (name, owner))
    if perms[0] == "l":
        continue
    if "s" in perms or "S" in perms or perms[8] == "w":
        fault("%s: mode %s (setuid, setgid or world-writable)" % (name, perms))
    if perms[0] == "d":
        want = "drwxr-xr-x"
    elif name in EXECUTABLES:
        want = "-rwxr-xr-x"
    else:
        want = "-rw-r--r--"
    if perms != want:
        fault("%s: mode %s, expected %s" % (name, perms, want))

# --- build paths ---------------------------------------------------------------------------------
needles = set()
for tree in (src, build):
    for p in (tree, os.path.realpath(tree)):
        needles.add(p.rstrip("/").encode())
for base, dirs, files in os.walk(root):
    for f in files:
        path = os.path.join(base, f)
        rel = os.path.relpath(path, root)
        if os.path.islink(path):
            continue
        with open(path, "rb") as fh:
            data = fh.read()
        for n in needles:
            if n in data:
                fault("%s: contains the build path %s" % (rel, n.decode()))
        if data[:4] == b"\x7fELF":
            dyn = subprocess.run(["readelf", "-d", path], check=True, capture_output=True,
                                 text=True).stdout
            if re.search(r"\((RPATH|RUNPATH)\)", dyn):
                fault("%s: has an RPATH or RUNPATH" % rel)

# --- program, data and link --------------------------------------------------------------------
for rel in ("veilgate", "const.dat", "lang/English.lan", "lang/Deutsch.lan",
            "skins/Midnight.skn", "skins/Daylight.nsf.skn", "res/veilip.dat", "res/map.tpl",
            "res/flag_short/UN.PNG", "res/flag_short/DE.PNG", "res/images/splash.png",
            "res/images/about.png", "libvgwebengine.so", "libvghttp.so", "libvgdesktop.so",
            "libvgnetcheck.so"):
    if not os.path.isfile(os.path.join(root, APPDIR, rel)):
        fault("%s/%s is missing" % (APPDIR, rel))
link = os.path.join(root, "usr/bin/veilgate")
if not os.path.islink(link):
    fault("usr/bin/veilgate is not a link")
elif os.path.isabs(os.readlink(link)):
    fault("usr/bin/veilgate points at an absolute path: %s" % os.readlink(link))
elif os.path.realpath(link) != os.path.realpath(os.path.join(root, APPDIR, "veilgate")):
    fault("usr/bin/veilgate leads to %s" % os.path.realpath(link))

# --- desktop entry, icons, AppStream ----------------------------------------------------------
desktop = os.path.join(root, "usr/share/applications", APP_ID + ".desktop")
execs, icon = [], None
try:
    for line in open(desktop, encoding="utf-8"):
        if line.startswith("Exec="):
            execs.append(line[5:].strip())
        if line.startswith("Icon="):
            icon = line[5:].strip()
except OSError as e:
    fault("desktop entry: %s" % e)
if not execs:
    fault("desktop entry: no Exec")
for e in execs:
    program = e.split()[0]
    # The entry's program is looked up in PATH: it must be the usr/bin link.
    if program != "veilgate" and program != "/usr/bin/veilgate":
        fault("desktop entry: Exec=%s does not start the installed program" % e)
if icon != APP_ID:
    fault("desktop entry: Icon=%s, expected %s" % (icon, APP_ID))
if not os.path.isfile(os.path.join(root, "usr/share/icons/hicolor/scalable/apps",
                                   APP_ID + ".svg")):
    fault("scalable icon missing")
for size in (16, 22, 24, 32, 48, 64, 128, 256):
    png = os.path.join(root, "usr/share/icons/hicolor/%dx%d/apps" % (size, size), APP_ID + ".png")
    try:
        head = open(png, "rb").read(24)
        w, h = struct.unpack(">II", head[16:24])
        if head[:8] != b"\x89PNG\r\n\x1a\n" or (w, h) != (size, size):
            fault("%s: not a %d x %d PNG" % (png, size, size))
    except OSError:
        fault("icon %d x %d missing" % (size, size))
meta = os.path.join(root, "usr/share/metainfo", APP_ID + ".metainfo.xml")
try:
    tree = ET.parse(meta).getroot()
    if tree.findtext("id") != APP_ID:
        fault("metainfo: id %s" % tree.findtext("id"))
    if tree.findtext("launchable") != APP_ID + ".desktop":
        fault("metainfo: launchable %s" % tree.findtext("launchable"))
    if tree.find("releases/release") is None or tree.find("screenshots/screenshot") is None:
        fault("metainfo: no release or no screenshot")
except (OSError, ET.ParseError) as e:
    fault("metainfo: %s" % e)

# --- manual page -------------------------------------------------------------------------------
try:
    page = gzip.open(os.path.join(root, "usr/share/man/man1/veilgate.1.gz")).read().decode()
    for switch in ("i", "u", "s", "r", "d", "a", "h"):
        if not re.search(r"\\-%s\b" % switch, page):
            fault("manual page: switch -%s not described" % switch)
    for section in ("FILES", "ENVIRONMENT", "EXIT STATUS"):
        if ".SH " + section not in page:
            fault("manual page: no %s section" % section)
except OSError as e:
    fault("manual page: %s" % e)

# --- what each package holds ---------------------------------------------------------------------
def contents(package):
    out = subprocess.run(["dpkg-deb", "-c", debs[package]], check=True, capture_output=True,
                         text=True).stdout.splitlines()
    return {l.split(None, 5)[5].split(" -> ")[0].lstrip(".").lstrip("/") for l in out}


def control(package, name):
    return subprocess.run(["dpkg-deb", "-I", debs[package], name], capture_output=True,
                          text=True).stdout


def field(package, name):
    return subprocess.run(["dpkg-deb", "-f", debs[package], name], check=True,
                          capture_output=True, text=True).stdout.strip()


engine = APPDIR + "/libvgwebengine.so"
app, pages, service = (contents(p) for p in PACKAGES)
if engine in app or engine not in pages:
    fault("the page engine's module belongs to veilgate-pages alone")
if "WebEngine" in field("veilgate", "Depends"):
    fault("veilgate depends on the page engine: %s" % field("veilgate", "Depends"))
if "libqt6webenginecore6" not in field("veilgate-pages", "Depends"):
    fault("veilgate-pages does not depend on Qt WebEngine: %s" % field("veilgate-pages", "Depends"))
if "veilgate-pages" not in field("veilgate", "Recommends"):
    fault("veilgate does not recommend veilgate-pages")
if "etc/veilgate/veilgate.conf" not in app or \
        "/etc/veilgate/veilgate.conf" not in control("veilgate", "conffiles"):
    fault("veilgate: /etc/veilgate/veilgate.conf is not a conffile")
for rel in ("usr/sbin/veilgate-service", "usr/lib/systemd/system/veilgate-service.service",
            "etc/veilgate-service/service.conf", "usr/share/man/man8/veilgate-service.8.gz",
            "usr/share/doc/veilgate-service/copyright"):
    if rel not in service:
        fault("veilgate-service: %s is missing" % rel)
if "/etc/veilgate-service/service.conf" not in control("veilgate-service", "conffiles"):
    fault("veilgate-service: its configuration is not a conffile")
unit = open(os.path.join(root, "usr/lib/systemd/system/veilgate-service.service")).read() \
    if "usr/lib/systemd/system/veilgate-service.service" in service else ""
for line in ("DynamicUser=yes", "StateDirectory=veilgate-service", "ProtectSystem=strict",
             "NoNewPrivileges=yes",
             "ExecStart=/usr/sbin/veilgate-service --config /etc/veilgate-service/service.conf"):
    if line not in unit.splitlines():
        fault("veilgate-service.service: no %s" % line)
if "deb-systemd-helper enable" not in control("veilgate-service", "postinst"):
    fault("veilgate-service: postinst does not enable the unit")


# --- summaries and descriptions ----------------------------------------------------------------
def description(package):
    """The summary and the long description of a package's control file."""
    text = control(package, "control")
    m = re.search(r"^Description: (.*)\n((?: .*\n?)*)", text, re.M)
    if not m:
        return "", ""
    body = "\n".join(l[1:] for l in m.group(2).splitlines())
    return m.group(1).strip(), body.strip()


descriptions = {p: description(p) for p in PACKAGES}
for package, (summary, body) in descriptions.items():
    if not summary or not body:
        fault("%s: no summary or no long description: %r" % (package, (summary, body)))
    if "built using CMake" in summary:
        fault("%s: CPack's stand-in summary: %s" % (package, summary))
    for other, (other_summary, other_body) in descriptions.items():
        if other == package:
            continue
        if summary == other_summary:
            fault("%s and %s share the summary %r" % (package, other, summary))
        if body == other_body:
            fault("%s and %s share the description" % (package, other))
        # A package-wide summary would stand first in every description.
        if other_summary and body.startswith(other_summary):
            fault("%s: the description begins with %s's summary" % (package, other))
pages_text = " ".join(descriptions["veilgate-pages"])
if "web browser" not in pages_text:
    fault("veilgate-pages: the description does not say where pages go without it")
for package, (summary, _) in descriptions.items():
    print("%s: %s (%s KiB installed)" % (package, summary, field(package, "Installed-Size")))

for f in faults:
    print("FAULT:", f)
print("%d entries checked, %d faults" % (len(listing), len(faults)))
sys.exit(1 if faults else 0)
