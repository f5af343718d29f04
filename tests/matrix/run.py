#!/usr/bin/env python3
"""The differential matrix: generated game-folder states run through every
patcher build on every file system the host can mount, each outcome checked
against the written expectation and against the other builds'.

Started through run.sh, which gives it a network namespace of its own.
"""
import argparse
import copy
import errno
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing of ours in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import generate as G  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PLAYER = 65534

# Faults already known, being mended elsewhere, and those found here and
# reported ("not filed"). A difference is "known" when its state has the
# feature, it shows on one of the platforms and file systems named, and what
# differs matches the pattern. Take entries out as the fixes land.
IGNORE_KNOWN = False
NATIVE, WINE, ALL_FS = ("native",), ("win64", "win32"), ("local", "ntfs", "exfat", "fat32", "sshfs", "smb")
STALE_SIGNS = (r"(exit code: expected 0, found 1|side file left|Can't Create New Avi File|q8r-copy"
               r"|G/q8r/\S+: expected file \w+( mode \d+)?, found nothing)")
# A "run" entry explains every difference of a run that shows it: the fault
# stops or redirects the whole run, so what follows from it differs too.
KNOWN = [
    # (feature (regex), platforms, file systems, what differs (regex), scope, the fault)
    (r"^link-item-(file|folder|dangling)", WINE, ALL_FS,
     r"/(lf|ld|dl)\d+|exit code: expected 0, found 2|boxes: .*Files Left Behind", "row",
     "wine: a link that is an item of the request cannot be moved as the link; it stays, and the run names it"),
    (r"^stale-copy-fifo$", WINE, ALL_FS, r"(q8r-copy|G/q8r/\S+: expected file \w+, found link to O/elsewhere-)", "run",
     "wine: a FIFO at the copy's side name can be neither removed nor renamed over: it stays, and a copy onto a link stops"),
    (r"^stale-(tmp-root|tmp-mod|new)-fifo$", WINE, ALL_FS, STALE_SIGNS, "run",
     "wine: a FIFO at a side name stays and stops the write; Wine's delete, rename and replace all refuse one"),
    (r"^stale-copy-folder$", WINE, ALL_FS, r"differs from native: tree: G/q8r/\S+: file \w+ against nothing", "row",
     "native: a folder at the copy's side name stops that one copy; the Windows copy takes one only onto a link"),
    (r"^link-at-target$", WINE, ALL_FS, r"/lt\d+\.dat", "run",
     "wine: a move over the player's link to the item renames onto what the link names, the item itself: "
     "both stay and are named as left behind (not filed: the Windows file operations')"),
    (r"^case-config$", WINE, ALL_FS, r"G/q8r/[^/]+: (expected|file|nothing)", "row",
     "wine: the shell's copy names the copy as the step spells its source, not as the folder does "
     "(not filed: the Windows file operations')"),
]


def Known(features, platform, fs, rows):
    """The reason each row is known, or None."""
    reasons = [None] * len(rows)
    for feature, platforms, filesystems, pattern, scope, reason in ([] if IGNORE_KNOWN else KNOWN):
        if platform not in platforms or fs not in filesystems or not any(re.search(feature, f) for f in features):
            continue
        hits = [bool(re.search(pattern, what + ": " + detail)) for what, detail in rows]
        for i, hit in enumerate(hits):
            if reasons[i] is None and (hit or (scope == "run" and any(hits))):
                reasons[i] = reason
    return reasons


# ---------------------------------------------------------------- platforms

def DropCaches():
    try:
        with open("/proc/sys/vm/drop_caches", "w") as caches:
            caches.write("3\n")
    except OSError:
        pass


def AsPlayer(command, env=None):
    if os.getuid() != 0:
        return command
    extra = ["env"] + ["%s=%s" % kv for kv in (env or {}).items()]
    return ["setpriv", "--reuid=%d" % PLAYER, "--regid=%d" % PLAYER, "--clear-groups"] + extra + command


def ParseConsole(text):
    """Statuses and boxes (caption, text, status behind it) of the native
    patcher's terminal output (statuses and boxes in one stream)."""
    statuses, boxes, box = [], [], None
    for line in text.split("\n"):
        if line.startswith("Current Operation:") or line == G.FINISHED:
            box = None
            statuses.append(line)
        elif line in ("[Error]", "[Video Patch Error]", "[Files Left Behind]"):
            box = [line[1:-1], [], statuses[-1] if statuses else ""]
            boxes.append(box)
        elif box is not None:
            box[1].append(line)
    return statuses, [(b[0], "\n".join(b[1]).rstrip("\n"), b[2]) for b in boxes]


class Native:
    name = "native"

    def __init__(self, patcher):
        self.patcher = patcher

    def Run(self, game, scratch):
        try:
            done = subprocess.run(AsPlayer([self.patcher]), cwd=game, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
            output, code = done.stdout.decode("utf-8", "replace"), done.returncode
        except subprocess.TimeoutExpired:
            return {"statuses": [], "boxes": [], "exit": "timed out"}
        statuses, boxes = ParseConsole(output)
        return {"statuses": statuses, "boxes": boxes, "exit": code}


def Unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r"}.get(m.group(1), m.group(1)), text)


class Wine:
    """Q8RPatcher.exe under Wine, driven by the end-to-end test's driver on
    an Xvfb display; one prefix and one wineserver for all states."""

    def __init__(self, name, exe, driver, work):
        self.name, self.exe, self.driver = name, exe, driver
        self.home = os.path.join(work, "wine-" + name)
        self.prefix = os.path.join(self.home, "prefix")
        self.display = None
        os.makedirs(self.home, exist_ok=True)
        if os.getuid() == 0:
            os.chown(self.home, PLAYER, PLAYER)

    def Env(self):
        return {"HOME": self.home, "DISPLAY": ":" + self.display, "WINEPREFIX": self.prefix,
                "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}

    def Start(self, display):
        self.display = display
        env = self.Env()
        wine_run = os.path.join(SOURCE, "scripts/wine-run")
        subprocess.run(AsPlayer([wine_run, self.prefix, "cmd", "/c", "ver"], env), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        # One Wine session for all states: a program that waits on its input
        # keeps the server and Wine's own services up between them, so each
        # state costs the programs, not Wine's start-up.
        self.keeper = subprocess.Popen(AsPlayer([wine_run, self.prefix, "cmd"], env), stdin=subprocess.PIPE,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def Stop(self):
        self.keeper.stdin.close()
        try:
            self.keeper.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.keeper.kill()
        subprocess.run(AsPlayer(["wineserver", "-k"], self.Env()), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    @staticmethod
    def WinPath(path):
        return "Z:" + path.replace("/", "\\")

    def Run(self, game, scratch):
        log = os.path.join(scratch, "driver.log")
        command = [os.path.join(SOURCE, "scripts/wine-run"), self.prefix, "explorer", "/desktop=q8r,1024x768",
                   self.WinPath(self.driver), self.WinPath(log), self.WinPath(self.exe), self.WinPath(game)]
        try:
            with open(os.path.join(scratch, "wine.log"), "wb") as out:
                subprocess.run(AsPlayer(command, self.Env()), stdout=out, stderr=out, timeout=150)
        except subprocess.TimeoutExpired:
            pass
        values = {}
        if os.path.exists(log):
            for line in open(log, encoding="utf-8", errors="replace").read().split("\n"):
                key, _, value = line.partition("=")
                values.setdefault(key, value)
            os.remove(log)
        if "exit" not in values:
            return {"statuses": None, "boxes": [], "exit": "no driver log"}
        boxes = [(Unescape(values.get("box%d.caption" % i, "")), Unescape(values.get("box%d.text" % i, "")),
                  Unescape(values.get("box%d.status" % i, ""))) for i in range(1, int(values["boxes"]) + 1)]
        code = int(values["exit"])
        return {"statuses": None, "boxes": boxes, "exit": "timed out" if values.get("timed-out") else code}


def StartDisplay(work):
    ready = os.path.join(work, "display")
    with open(ready, "w") as out:
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                stdout=out, stderr=subprocess.DEVNULL)
    for _ in range(100):
        number = open(ready).read().strip()
        if number:
            return xvfb, number
        time.sleep(0.1)
    xvfb.kill()
    raise SystemExit("matrix: no X display could be started")


# ---------------------------------------------------------------- file systems

def Tried(command):
    """Whether a command ran and succeeded; its output is dropped."""
    try:
        return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


def FreePort():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def MountSsh(work, point):
    """A folder of this machine served by an sshd of our own on 127.0.0.1
    and mounted through sshfs; returns how to take it away, or None."""
    home = os.path.join(work, "ssh-server")
    served = os.path.join(home, "served")
    os.makedirs(served)
    for key in ("host", "client"):
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(home, key)], check=True)
    port = FreePort()
    with open(os.path.join(home, "sshd_config"), "w") as config:
        config.write("ListenAddress 127.0.0.1\nPort %d\nHostKey %s/host\nAuthorizedKeysFile %s/client.pub\n"
                     "PermitRootLogin prohibit-password\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                     "StrictModes no\nUsePAM no\nSubsystem sftp internal-sftp\nPidFile none\n" % (port, home, home))
    os.makedirs("/run/sshd", exist_ok=True)
    server = subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", os.path.join(home, "sshd_config")],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop():
        server.terminate()
        server.wait()
    # Links leading out of the served folder are the player's too: shown, not refused.
    options = ("port=%d,IdentityFile=%s/client,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,"
               "BatchMode=yes,allow_other,no_contain_symlinks" % (port, home))
    for _ in range(50):
        if server.poll() is not None:
            break
        if Tried(["sshfs", "-o", options, "root@127.0.0.1:" + served, point]):
            return stop
        time.sleep(0.1)
    stop()
    return None


def MakeScratch(label, platform, point):
    """A fresh folder for one run; an SMB client that was sent a bad name
    answers EIO for the whole mount for a few seconds, which is waited out."""
    for _ in range(100):
        try:
            return tempfile.mkdtemp(prefix="%s-%s-" % (label, platform), dir=point)
        except OSError as error:
            if error.errno != errno.EIO:
                raise
            time.sleep(0.1)
    return tempfile.mkdtemp(prefix="%s-%s-" % (label, platform), dir=point)


def RenameKeepsFolders(point):
    """Whether a folder renamed on the mount still holds its files (fusefat
    0.1a empties it)."""
    os.makedirs(os.path.join(point, "probe", "held"))
    with open(os.path.join(point, "probe", "held", "file"), "w") as probe:
        probe.write("kept")
    os.rename(os.path.join(point, "probe", "held"), os.path.join(point, "probe", "moved"))
    kept = os.path.exists(os.path.join(point, "probe", "moved", "file"))
    shutil.rmtree(os.path.join(point, "probe"), ignore_errors=True)
    return kept


SMB_CONF = """[global]
  interfaces = 127.0.0.1
  bind interfaces only = yes
  disable netbios = yes
  server role = standalone server
  map to guest = Bad User
  guest account = root
  unix extensions = no
  load printers = no
  private dir = {home}/private
  lock directory = {home}/lock
  state directory = {home}/state
  cache directory = {home}/cache
  pid directory = {home}
  log file = {home}/log
[game]
  path = {served}
  read only = no
  guest ok = yes
  force user = root
"""


def MountSmb(work, point):
    """A folder of this machine shared by an smbd of our own on 127.0.0.1
    and mounted through the FUSE client smbnetfs (the kernel's cifs where it
    is missing); returns the share's folder and how to stop, or None."""
    home = os.path.join(work, "smb-server")
    served = os.path.join(home, "served")
    for folder in ("served", "private", "lock", "state", "cache", "client/.smb"):
        os.makedirs(os.path.join(home, folder))
    with open(os.path.join(home, "smb.conf"), "w") as config:
        config.write(SMB_CONF.format(home=home, served=served))
    client = os.path.join(home, "client", ".smb", "smbnetfs.conf")
    with open(client, "w") as config:
        config.write('auth "guest" ""\nhost 127.0.0.1 visible=true\n')
    os.chmod(client, 0o600)  # smbnetfs ignores a configuration others may read
    # A session of its own: smbd signals its whole process group as it stops.
    server = subprocess.Popen(["/usr/sbin/smbd", "--foreground", "--no-process-group",
                               "--configfile=" + os.path.join(home, "smb.conf")],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)

    def stop():
        server.terminate()
        server.wait()
    share = os.path.join(point, "127.0.0.1", "game")
    # smbnetfs keeps a host it could not reach as gone for a while.
    for _ in range(100):
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", 445)) == 0:
                break
        time.sleep(0.1)
    if Tried(["env", "HOME=" + os.path.join(home, "client"), "smbnetfs", point, "-o", "allow_other,config=" + client]):
        for _ in range(100):
            if server.poll() is not None:
                break
            if os.path.isdir(share):
                return share, stop
            time.sleep(0.1)
        Tried(["umount", point])
    stop()
    return None


def UnmountThen(point, after):
    """How to take a mount away: unmounted once its last user lets go (a
    busy mount is tried for ten seconds), then `after`."""
    def unmount():
        for _ in range(20):
            if Tried(["umount", point]):
                break
            time.sleep(0.5)
        after()
    return unmount


def Mount(fs, work):
    """A mounted image of the file system, made for this run; returns the
    mount point and how to take it away, or None when the host cannot."""
    image, point = os.path.join(work, fs + ".img"), os.path.join(work, fs)
    os.makedirs(point)
    if fs == "smb":
        Tried(["ip", "link", "set", "lo", "up"])
        mounted = MountSmb(work, point) if shutil.which("smbnetfs") and os.path.exists("/usr/sbin/smbd") else None
        if not mounted:
            print("matrix: smb not mounted (no smbd, smbnetfs or loopback here); it is left out")
            return None
        return mounted[0], UnmountThen(point, mounted[1])
    if fs == "sshfs":
        # The matrix runs in a network namespace of its own: its loopback starts down.
        Tried(["ip", "link", "set", "lo", "up"])
        stop = MountSsh(work, point) if shutil.which("sshfs") and os.path.exists("/usr/sbin/sshd") else None
        if not stop:
            print("matrix: sshfs not mounted (no sshfs, sshd or loopback here); it is left out")
            return None
        return point, UnmountThen(point, stop)
    subprocess.run(["truncate", "-s", "256M", image], check=True)
    loop = None
    owner = "uid=%d,gid=%d,umask=022" % (PLAYER, PLAYER)
    try:
        if fs == "fat32":
            subprocess.run(["mkfs.vfat", "-F", "32", image], check=True, stdout=subprocess.DEVNULL)
            # The kernel's driver where the host has it, else the FUSE one.
            if not Tried(["mount", "-t", "vfat", "-o", "loop," + owner, image, point]):
                subprocess.run(["fusefat", "-o", "rw+,allow_other," + owner, image, point], check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                if not RenameKeepsFolders(point):
                    Tried(["umount", point])
                    os.remove(image)
                    print("matrix: fat32 through fusefat loses a renamed folder's files; it is left out")
                    return None
        elif fs == "ntfs":
            subprocess.run(["mkntfs", "-F", "-Q", "-q", image], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            subprocess.run(["ntfs-3g", image, point, "-o", "uid=%d,gid=%d,umask=022" % (PLAYER, PLAYER)], check=True)
        else:
            loop = subprocess.run(["losetup", "-f", "--show", image], check=True, stdout=subprocess.PIPE,
                                  text=True).stdout.strip()
            subprocess.run(["mkfs.exfat", loop], check=True, stdout=subprocess.DEVNULL)
            subprocess.run(["mount.exfat-fuse", loop, point, "-o", "uid=%d,gid=%d,umask=022" % (PLAYER, PLAYER)],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except (OSError, subprocess.CalledProcessError) as error:
        if loop:
            subprocess.run(["losetup", "-d", loop])
        print("matrix: %s not mounted (%s); it is left out" % (fs, error))
        return None

    def release_image():
        if loop:
            subprocess.run(["losetup", "-d", loop])
        os.remove(image)
    return point, UnmountThen(point, release_image)


def Caps(point, fs):
    """What the mounted file system holds, tried rather than assumed."""
    caps = set(G.FS_CAPS["local"]) if fs == "local" else set()
    if os.getuid() != 0:
        caps.discard("owners")  # another owner's file needs root to make
    probe = os.path.join(point, "probe")
    try:
        os.symlink("/nowhere", probe)
        os.remove(probe)
        caps.add("links")
    except OSError:
        caps.discard("links")
    return caps


# ---------------------------------------------------------------- checks

def Differences(before, after, expected, modes):
    """Rows (what, detail) where a run's outcome departs from the
    expectation or loses what it must keep."""
    rows = []
    want = G.Flatten(expected["world"])
    skip = tuple(expected["unspecified"])

    def skipped(path):
        return any(path == s or path.startswith(s + "/") for s in skip)

    for path in sorted(set(want) | set(after)):
        if skipped(path):
            continue
        w, a = want.get(path), after.get(path)
        if not modes:
            w = w and w[:2]
            a = a and a[:2]
        if w == a:
            continue
        name = path.rsplit("/", 1)[-1]
        side = w is None and (name.endswith(G.SIDE_SUFFIXES) or re.match(r"rf.*\.tmp$", name, re.I))
        what = "side file left" if side else "outside changed" if path.startswith("O") else "tree"
        rows.append((what, "%s: expected %s, found %s" % (path, Show(w), Show(a))))
    # Content the run had to keep: every file's bytes that were there before
    # and are meant to be there after must still be somewhere.
    kept = {v[1] for v in want.values() if v[0] == "f"}
    found = {v[1] for v in after.values() if v[0] == "f"}
    for path, v in sorted(before.items()):
        if v[0] == "f" and v[1] in kept and v[1] not in found and not skipped(path):
            rows.append(("content lost", "%s (%s)" % (path, v[1])))
    return rows


def SecondRunRows(platform, roots, scratch, after, modes, fs):
    """A finished run leaves nothing for another to do: a second one changes
    nothing on disk."""
    platform.Run(roots["G"], scratch)
    if fs != "local":
        DropCaches()
    again = G.Snapshot(roots, modes)
    return [("second run", "%s: %s, then %s" % (path, Show(after.get(path)), Show(again.get(path))))
            for path in sorted(set(after) | set(again)) if after.get(path) != again.get(path)]


def Show(entry):
    if entry is None:
        return "nothing"
    kind, value, mode = (tuple(entry) + (None,))[:3]
    text = {"d": "folder", "f": "file %s" % value, "l": "link to %s" % value, "p": "FIFO"}[kind]
    return text + (" mode %o" % mode if mode is not None else "")


def OutcomeRows(result, expected):
    rows = []
    if result["exit"] != expected["exit"]:
        rows.append(("exit code", "expected %s, found %s" % (expected["exit"], result["exit"])))
    got = [b[:2] for b in result["boxes"]]
    # A box foretold without its text matches on its caption.
    got = [(b[0], None) if i < len(expected["boxes"]) and expected["boxes"][i][1] is None and
           b[0] == expected["boxes"][i][0] else b for i, b in enumerate(got)]
    if got != expected["boxes"]:
        rows.append(("boxes", "expected %s, found %s" % (Boxes(expected["boxes"]), Boxes(got))))
    if result["statuses"] is not None:
        statuses = [s for s in result["statuses"] if "Patching cutscene" not in s]
        if statuses != expected["statuses"]:
            rows.append(("status texts", "expected %s, found %s" % (expected["statuses"], statuses)))
    return rows


def Boxes(boxes):
    return "[" + "; ".join("%s: %s" % (c, "..." if t is None else t.replace("\n", "|")) for c, t in boxes) + "]" if boxes else "none"


# ---------------------------------------------------------------- one state

class Matrix:
    def __init__(self, args, work):
        self.args, self.work = args, work
        self.platforms, self.filesystems = [], []
        self.rows = []  # (state, platform, fs, what, detail, known reason or None)
        cache = os.path.join(args.cache or work, "patch-cache")
        if args.tool.endswith(".exe"):
            # The Windows build's own tool, in the player's prefix.
            home = os.path.join(args.cache or work, "wine-tool")
            os.makedirs(cache, exist_ok=True)
            os.makedirs(home, exist_ok=True)
            if os.getuid() == 0:
                os.chown(cache, PLAYER, PLAYER)
                os.chown(home, PLAYER, PLAYER)
            tool = AsPlayer([os.path.join(SOURCE, "scripts/wine-run"), "--no-display", os.path.join(home, "prefix"),
                             os.path.abspath(args.tool), "make"], {"HOME": home})
            self.pairs = G.VideoPairs(args.seed, tool, cache, Wine.WinPath)
        else:
            self.pairs = G.VideoPairs(args.seed, [os.path.abspath(args.tool), "make"], cache)

    def States(self, index):
        return G.DrawParts(self.args.seed, index)

    def RunState(self, label, parts, fs, point, caps, platforms):
        """Runs one state on one file system through the given platforms;
        returns {platform: (rows, comparable outcome)}."""
        usable = [p for p in parts if G.PartNeeds(p) <= caps]
        features = {G.Feature(p) for p in usable}
        outcomes = {}
        for platform in platforms:
            world, runs, half = G.BuildWorld(usable, self.pairs)
            if half:
                G.HalfDone(world, half)
            expected = G.Expect(copy.deepcopy(world), runs, platform.name)
            scratch = MakeScratch(label, platform.name, point)
            try:
                os.chmod(scratch, 0o755)
                if os.getuid() == 0:
                    os.chown(scratch, PLAYER, PLAYER)
            except OSError:
                pass  # a file system without modes or owners: the mount's own serve
            roots = {"G": os.path.join(scratch, "game"), "O": os.path.join(scratch, "outside")}
            player = PLAYER if os.getuid() == 0 and fs == "local" else None
            G.Materialize(world, roots, player)
            before = G.Snapshot(roots)
            for _ in range(runs):
                result = platform.Run(roots["G"], scratch)
            modes = platform.name == "native" and "modes" in caps
            if fs != "local":
                # exfat-fuse serves a replaced file's old pages by its name
                # until the cache goes, though the disk holds the new bytes.
                DropCaches()
            after = G.Snapshot(roots, modes)
            rows = OutcomeRows(result, expected) + Differences(before, after, expected, modes)
            if platform.name == "native":
                rows += SecondRunRows(platform, roots, scratch, after, modes, fs)
            outcomes[platform.name] = (rows, (result["exit"], result["boxes"],
                                              {k: v[:2] for k, v in after.items()}), features)
            if not self.args.keep:
                shutil.rmtree(scratch, ignore_errors=True)
        return outcomes

    def Record(self, label, fs, outcomes):
        names = list(outcomes)
        for name in names:
            rows, outcome, features = outcomes[name]
            for (what, detail), known in zip(rows, Known(features, name, fs, rows)):
                self.rows.append((label, name, fs, what, detail, known))
        # The other builds against the first: the same outcome everywhere.
        if names:
            first = outcomes[names[0]][1]
            for name in names[1:]:
                other, features = outcomes[name][1], outcomes[name][2]
                # Where both builds meet the expectation they meet each other,
                # but for what it leaves open; where one departs for a known
                # fault, the difference between them is that fault's.
                cross = [("differs from %s: %s" % (names[0], what), detail)
                         for what, detail in CrossRows(first, other)]
                departures = [k for n in (names[0], name)
                              for k in Known(outcomes[n][2], n, fs, outcomes[n][0])]
                reason = departures[0] if departures and all(departures) else None
                # A difference the expectations leave to each build is
                # known by its own entry.
                reasons = [reason or own for own in Known(features, name, fs, cross)]
                for (what, detail), known in zip(cross, reasons):
                    self.rows.append((label, name, fs, what, detail, known))


def CaptionsOfLeftBehind(boxes):
    """The boxes with the text of the one that names what stayed dropped:
    its paths and the system's reasons are each platform's own."""
    return [(b[0], None) if b[0] == G.BOX_LEFT_BEHIND else tuple(b[:2]) for b in boxes]


def CrossRows(first, other):
    rows = []
    if first[0] != other[0]:
        rows.append(("exit code", "%s against %s" % (other[0], first[0])))
    if CaptionsOfLeftBehind(first[1]) != CaptionsOfLeftBehind(other[1]):
        rows.append(("boxes", "%s against %s" % (Boxes([b[:2] for b in other[1]]), Boxes([b[:2] for b in first[1]]))))
    a, b = first[2], other[2]
    for path in sorted(set(a) | set(b)):
        if a.get(path) != b.get(path):
            rows.append(("tree", "%s: %s against %s" % (path, Show(b.get(path)), Show(a.get(path)))))
    return rows


def Reduce(matrix, index, fs, point, caps, platform):
    """Drops parts while the same kind of unknown difference remains."""
    parts = matrix.States(index)

    def failing(candidate):
        outcomes = matrix.RunState("reduce", candidate, fs, point, caps, [platform])
        rows, _, features = outcomes[platform.name]
        return {what for (what, _), known in zip(rows, Known(features, platform.name, fs, rows)) if not known}

    kinds = failing(parts)
    if not kinds:
        return None
    changed = True
    while changed:
        changed, i = False, 0
        while i < len(parts):
            candidate = parts[:i] + parts[i + 1:]
            if failing(candidate) & kinds:
                parts, changed = candidate, True
            else:
                i += 1
    return parts


# ---------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=20)
    parser.add_argument("--first", type=int, default=0, help="index of the first state")
    parser.add_argument("--native", help="the native Q8RPatcher")
    parser.add_argument("--tool", required=True, help="q8r-avipatch, native or .exe (makes the patch data)")
    parser.add_argument("--win64", help="folder of the win64 build (Q8RPatcher.exe, patcher_driver.exe)")
    parser.add_argument("--win32", help="folder of the win32 build")
    parser.add_argument("--fs", default="local,ntfs,exfat,fat32,sshfs,smb",
                        help="file systems to try (local, ntfs, exfat, fat32, sshfs, smb)")
    parser.add_argument("--work", help="scratch folder (default: a new one in /tmp)")
    parser.add_argument("--cache", help="where patch data and Wine prefixes are kept between runs")
    parser.add_argument("--reduce", action="store_true", help="reduce each state with an unknown difference")
    parser.add_argument("--keep", action="store_true", help="keep the game folders")
    parser.add_argument("--no-known", action="store_true", help="report the known differences as new")
    args = parser.parse_args()
    global IGNORE_KNOWN
    IGNORE_KNOWN = args.no_known

    work = tempfile.mkdtemp(prefix="q8r-matrix-", dir=args.work)
    os.chmod(work, 0o755)
    started = time.time()
    platforms = []
    if args.native:
        platforms.append(Native(os.path.abspath(args.native)))
    wine = []
    for name, folder in (("win64", args.win64), ("win32", args.win32)):
        if not folder:
            continue
        exe = os.path.join(folder, "patcher", "Q8RPatcher.exe")
        driver = os.path.join(folder, "tests", "wine", "patcher_driver.exe")
        if name == "win32" and not Runs32Bit():
            print("matrix: this host cannot run 32-bit programs; win32 is not run")
            continue
        wine.append(Wine(name, exe, driver, args.cache or work))
    platforms += wine
    if not platforms:
        print("matrix: no build to run here")
        shutil.rmtree(work, ignore_errors=True)
        return 0
    matrix = Matrix(args, work)
    xvfb = None
    if wine:
        xvfb, display = StartDisplay(work)
        for w in wine:
            w.Start(display)
    mounts = []
    try:
        for fs in args.fs.split(","):
            if fs == "local":
                point = os.path.join(work, "local")
                os.makedirs(point)
                mounts.append((fs, point, None))
            elif os.getuid() != 0:
                print("matrix: %s needs root to mount; it is left out" % fs)
            else:
                mounted = Mount(fs, work)
                if mounted:
                    mounts.append((fs, mounted[0], mounted[1]))
        Campaign(args, matrix, mounts, platforms, started)
    except KeyboardInterrupt:
        print("matrix: stopped; the table holds the states run so far")
    finally:
        for w in wine:
            w.Stop()
        if xvfb:
            xvfb.kill()
            xvfb.wait()
        for fs, point, unmount in mounts:
            if unmount:
                unmount()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)

    Table(matrix.rows)
    states = args.count * len(mounts) * len(platforms)
    unknown = [r for r in matrix.rows if not r[5]]
    print("%d states x %d file systems x %d platforms = %d runs in %.0f s; %d differences, %d known, %d unknown"
          % (args.count, len(mounts), len(platforms), states, time.time() - started, len(matrix.rows),
             len(matrix.rows) - len(unknown), len(unknown)))
    print("platforms: %s; file systems: %s%s" % (", ".join(p.name for p in platforms),
                                                ", ".join(m[0] for m in mounts),
                                                "" if Runs32Bit() else "; this host runs no 32-bit programs"))
    return 1 if unknown else 0


def Campaign(args, matrix, mounts, platforms, started):
    for fs, point, _ in mounts:
        try:
            os.chmod(point, 0o755)
        except OSError:
            pass
        caps = Caps(point, fs)
        for index in range(args.first, args.first + args.count):
            label = "%d-%d" % (args.seed, index)
            outcomes = matrix.RunState(label, matrix.States(index), fs, point, caps, platforms)
            matrix.Record(label, fs, outcomes)
            bad = [r for r in matrix.rows if r[0] == label and r[2] == fs and not r[5]]
            print("state %s on %s (%.0f s): %s" % (label, fs, time.time() - started,
                                                  "%d unknown differences" % len(bad) if bad else "ok"))
            for row in bad[:5]:
                print("  %s %s: %s" % (row[1], row[3], row[4][:300]))
            sys.stdout.flush()
            if bad and args.reduce:
                for platform in platforms:
                    if any(r[1] == platform.name for r in bad):
                        parts = Reduce(matrix, index, fs, point, caps, platform)
                        if parts is not None:
                            print("  reduced on %s %s to: %s" % (platform.name, fs, "; ".join(
                                "%s %s" % (G.Feature(p), p[1]) for p in parts)), flush=True)


def Runs32Bit():
    """Whether a 32-bit program starts here (no IA-32 emulation on some hosts)."""
    try:
        return subprocess.run(["/usr/lib/wine/wine", "--version"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


def Table(rows):
    if not rows:
        return
    print("\n%-10s %-7s %-6s %-7s %s" % ("state", "build", "fs", "status", "what differs"))
    for label, platform, fs, what, detail, known in rows:
        print("%-10s %-7s %-6s %-7s %s: %s" % (label, platform, fs, "known" if known else "NEW", what,
                                               detail if len(detail) < 400 else detail[:400] + "..."))
        if known:
            print("%34s(%s)" % ("", known))


if __name__ == "__main__":
    sys.exit(main())
