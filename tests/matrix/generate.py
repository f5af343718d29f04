#!/usr/bin/env python3
"""Game-folder states for the differential matrix, and what a run must make
of them.

A state is a list of parts drawn from a seed; each part adds one thing to a
v1.0 game folder (a voice set, a stale side file, a link leading out of the
game...). The same parts build an in-memory world (the game folder "G" and a
folder outside it "O"), which is laid out on disk and, separately, put
through a reference model of the patcher's eight steps written from their
described behaviour. Dropping parts gives smaller states, which is how a
difference is reduced.

    generate.py show --seed N --index I     the parts of one state
"""
import argparse
import hashlib
import json
import os
import random
import stat
import subprocess

VOICES = ["cop1", "cop2", "cop3", "femalemech", "femalenoble", "femalenoble2", "femaleservant",
          "guard1", "guard2", "guard3", "hammer1", "hammer2", "hammer3", "kedar", "malak",
          "malemech", "malenoble", "maleservant", "smug1", "smug2", "smug3", "truart", "zaya"]
CONFIG_ITEMS = ["cam.cfg", "dark.cfg", "install.cfg", "user.cfg", "motiondb.bin", "lgvid.ax",
                "user.bnd", "dark.bnd", "saves"]
VIDEOS = ["CS18.avi", "CS27.avi", "CS29.avi", "CS30.avi"]
SIDE_SUFFIXES = (".q8r-tmp", ".q8r-copy", ".new", ".old", ".stale", ".partial")

STATUS = ["Current Operation: Removing old Q8R launcher...",
          "Current Operation: Resetting default darkinst.cfg file...",
          "Current Operation: Moving config files...",
          "Current Operation: Editing DarkInst.cfg...",
          "Current Operation: Moving book files...",
          "Current Operation: Moving string files...",
          "Current Operation: Moving sound files..."]
FINISHED = "Task Finished."
BOX_LEFT_BEHIND = "Files Left Behind"
BOX_RENAME = ("Error", "Failed to create custom Darkinst file.\n\nQ8R needs to rename and alter the file "
              "\"\\q8r\\install.cfg\"\nin order to play. Refer to the supplied FAQ for help.")
BOX_MOD_WRITE = ("Error", "The file \"\\q8r\\Darkinst.cfg\"\n could not be opened for writing.\n\n"
                 "Q8R needs to alter this file in order to play.")
BOX_ROOT_WRITE = ("Error", "The file \"Darkinst.cfg\"\n could not be opened for writing.\n\n"
                  "Q8R needs to alter this file in order to play.")
PATCH_MESSAGES = {1: "Can't Open Data File", 2: "Can't Open Original Avi File.", 4: "Incorrect Data File",
                  7: "Incorrect Original Avi File\nFile may all ready be patched.",
                  8: "Can't Create New Avi File"}

# What a file system can hold; parts that need more are left out there.
FS_CAPS = {"local": {"links", "fifo", "modes", "owners"}, "ntfs": {"links"}, "exfat": set()}


# ---------------------------------------------------------------- the world

def Dir(mode=0o755):
    return {"k": "d", "mode": mode, "ch": {}}


def File(data, mode=0o644, owner="player"):
    return {"k": "f", "data": data, "mode": mode, "owner": owner}


def Link(to, relative=False):
    """A link to `to`; laid out as a path relative to the link's folder when `relative`."""
    return {"k": "l", "to": to, "relative": relative}


def Fifo():
    return {"k": "p", "mode": 0o644}


def Lookup(folder, name):
    """The entry of a folder whose name matches without regard to ASCII case."""
    if name in folder["ch"]:
        return name, folder["ch"][name]
    low = name.lower()
    for real, node in folder["ch"].items():
        if real.lower() == low:
            return real, node
    return None, None


def Resolve(world, path, follow_last=True, depth=0):
    """(parent folder, real name, node) of a path like 'G/q8r/books', following
    links on the way; node is None where nothing is."""
    parts = [p for p in path.split("/") if p]
    node = {"k": "d", "ch": world}
    parent, name = None, None
    for i, part in enumerate(parts):
        if node is None or node["k"] != "d":
            return None, None, None
        real, child = Lookup(node, part)
        parent, name = node, real if real else part
        last = i == len(parts) - 1
        if child is not None and child["k"] == "l" and (follow_last or not last):
            if depth > 20:
                return None, None, None
            parent, name, child = Resolve(world, child["to"], True, depth + 1)
        node = child
    return parent, name, node


def Follow(world, node):
    if node is not None and node["k"] == "l":
        return Resolve(world, node["to"])[2]
    return node


def Flatten(world):
    """path -> (kind, content digest or link target, mode) for every entry."""
    out = {}

    def walk(prefix, folder):
        for name, node in folder["ch"].items():
            path = prefix + "/" + name
            if node["k"] == "d":
                out[path] = ("d", "", None)
                walk(path, node)
            elif node["k"] == "f":
                out[path] = ("f", Digest(node["data"]), node["mode"])
            elif node["k"] == "l":
                out[path] = ("l", node["to"], None)
            else:
                out[path] = ("p", "", None)

    for top in world:
        out[top] = ("d", "", None)
        walk(top, world[top])
    return out


def Digest(data):
    return hashlib.sha1(data).hexdigest()[:12]


# ---------------------------------------------------------------- the parts

def ConfigText(lines, eol="\r\n", final_eol=True, marker=False):
    text = eol.join(lines) + (eol if final_eol else "")
    return text.encode() + (b"\x1a" if marker else b"")


def InstallLines(path="C:\\Games\\Thief2"):
    return ["install_path " + path, "language english", "resname_base .\\RES", "load_path .\\",
            "script_module_path .\\", "movie_path .\\MOVIES"]


def RootDarkinstLines(old_prefixes):
    lines = InstallLines()
    if old_prefixes:
        lines = [lines[0], lines[1], "resname_base .\\q8r+.\\RES", "load_path .\\q8r+.\\",
                 "script_module_path .\\q8r+.\\", "movie_path .\\q8r\\movies+.\\MOVIES"]
    return lines


def Where(name):
    """The english folder and its target for a move location."""
    if name in ("books", "strings"):
        return "G/q8r/%s/english" % name, "G/q8r/%s" % name
    return "G/q8r/snd/%s/english" % name, "G/q8r/snd/%s" % name


def Blob(rng, tag, size=None):
    size = size if size is not None else rng.randint(0, 300)
    return (tag + ":").encode() + bytes(rng.getrandbits(8) for _ in range(size))


def EnsureDir(world, path):
    node = {"k": "d", "ch": world}
    for part in [p for p in path.split("/") if p]:
        real, child = Lookup(node, part)
        if child is None:
            child = node["ch"][part] = Dir()
        elif child["k"] == "l":
            child = Resolve(world, child["to"])[2]
        node = child
    return node


def Put(world, path, node):
    folder, name = path.rsplit("/", 1)
    EnsureDir(world, folder)["ch"][name] = node


def DrawParts(seed, index):
    """The parts of state `index` of campaign `seed`: (kind, parameters)."""
    rng = random.Random("%s:%s" % (seed, index))
    parts = []
    add = lambda part, **p: parts.append([part, p])
    many = lambda: rng.choice([0, 1, 1, 3, 4])
    if rng.random() < 0.8:
        add("launcher", ro=rng.random() < 0.3)
    present = [i for i in CONFIG_ITEMS if rng.random() < 0.75]
    for item in present:
        add("config", item=item, mode=rng.choice([0o644, 0o644, 0o600, 0o640, 0o444]) if item != "install.cfg"
            else rng.choice([0o644, 0o644, 0o644, 0o600, 0o444]),
            variant=rng.choice(["crlf", "lf", "nofinal", "marker"]))
    if rng.random() < 0.85:
        add("rootdarkinst", old=rng.random() < 0.7, variant=rng.choice(["crlf", "lf", "marker"]),
            ro=rng.random() < 0.15, upper=rng.random() < 0.2, linked=rng.random() < 0.15)
    add("books", n=many())
    add("strings", n=many())
    for voice in rng.sample(VOICES, rng.choice([0, 1, 2, 4, 6])):
        add("voice", voice=voice, n=many(), english=rng.random() < 0.9)
    places = ["books", "strings"] + [p[1]["voice"] for p in parts if p[0] == "voice" and p[1]["english"]]
    for kind, chance in [("collide-file", 0.4), ("collide-folder", 0.3), ("file-for-folder", 0.2),
                         ("folder-for-file", 0.2), ("cyrillic", 0.25), ("longpath", 0.2),
                         ("link-item-file", 0.2), ("link-item-folder", 0.15), ("link-item-dangling", 0.15)]:
        if rng.random() < chance:
            add(kind, where=rng.choice(places), collide=rng.random() < 0.5)
    voices_with_english = [p[1]["voice"] for p in parts if p[0] == "voice" and p[1]["english"]]
    if voices_with_english and rng.random() < 0.15:
        add("link-english", voice=rng.choice(voices_with_english))
    if rng.random() < 0.2:
        add("copy-target-folder", item=rng.choice([i for i in CONFIG_ITEMS if i != "install.cfg"]))
    if rng.random() < 0.15:
        add("link-copy-target", item=rng.choice(["cam.cfg", "user.cfg", "dark.cfg"]), dangling=rng.random() < 0.4)
    if rng.random() < 0.15:
        add("mod-darkinst-leftover", ro=rng.random() < 0.6)
    if rng.random() < 0.1:
        add("link-movies")
    for video in VIDEOS:
        if rng.random() < 0.8:
            add("video", video=video, kind=rng.choice(["valid", "valid", "valid", "patched", "noupd",
                                                         "novideo", "corrupt"]),
                pair=rng.randrange(3), oldstale=rng.random() < 0.2)
    for _ in range(rng.choice([0, 0, 1, 2])):
        add("stale", name=rng.choice(["tmp-root", "tmp-mod", "copy", "new"]),
            kind=rng.choice(["other", "fifo", "dangling", "folder"]),
            item=rng.choice(["cam.cfg", "dark.cfg", "user.cfg"]), video=rng.choice(VIDEOS))
    if rng.random() < 0.25:
        add("case", folder=rng.choice(["q8r", "books", "strings", "snd", "english", "movies", "voice"]))
    roll = rng.random()
    if roll < 0.15:
        add("runs2")
    elif roll < 0.3:
        add("half", step=rng.randint(1, 7))
    if rng.random() < 0.15:
        add("link-inside", where=rng.choice(["books", "strings"]))
    # Drawn last, so that the parts drawn before keep their values.
    if rng.random() < 0.1:
        add("stale", name=rng.choice(["tmp-root", "tmp-mod", "copy", "new"]), kind="link",
            item=rng.choice(["cam.cfg", "dark.cfg", "user.cfg"]), video=rng.choice(VIDEOS))
    if rng.random() < 0.12:
        add("link-at-target", where=rng.choice(places), relative=rng.random() < 0.5)
    # Items of the plain mode, which every file system holds.
    plain = [p[1]["item"] for p in parts if p[0] == "config" and p[1]["mode"] == 0o644]
    if plain and rng.random() < 0.3:
        add("case", folder="config:" + rng.choice(plain))
    # The Windows replace's backup of the game root's Darkinst.cfg, as a run
    # cut off inside or after that replace leaves it, or the player's own.
    if rng.random() < 0.1:
        add("stale", name="was-root", kind=rng.choice(["ours", "dangling", "link", "folder"]),
            item="cam.cfg", video=VIDEOS[0])
    return parts


def PartNeeds(part):
    kind, p = part
    needs = set()
    if kind.startswith("link") or (kind == "rootdarkinst" and p.get("linked")):
        needs.add("links")
    if kind == "stale":
        needs |= {"fifo": {"fifo"}, "dangling": {"links"}, "link": {"links"}, "other": {"owners"}}.get(p["kind"], set())
    if p.get("ro") or p.get("mode", 0o644) != 0o644:
        needs.add("modes")
    return needs


def Feature(part):
    """The name a part goes by in the table and the known-differences list."""
    kind, p = part
    if kind == "stale":
        return "stale-%s-%s" % (p["name"], p["kind"])
    if kind == "config":
        if p["mode"] == 0o444:
            return "read-only-" + p["item"]
        return "config-mode" if p["mode"] != 0o644 else "config"
    if kind == "rootdarkinst":
        if p["linked"]:
            return "link-rootdarkinst"
        return "rootdarkinst-read-only" if p["ro"] and p["old"] else "rootdarkinst"
    if kind == "launcher":
        return "launcher-read-only" if p["ro"] else "launcher"
    if kind == "video":
        return "video-" + p["kind"]
    if kind == "mod-darkinst-leftover" and p["ro"]:
        return "mod-darkinst-leftover-read-only"
    if kind in ("link-item-file", "link-item-folder") and p["collide"]:
        return kind + "-collide"
    if kind == "case" and p["folder"].startswith("config:"):
        return "case-config"
    if kind == "link-copy-target" and p.get("dangling"):
        return "link-copy-target-dangling"
    return kind


def BuildWorld(parts, pairs):
    """The world the parts describe, and the runs they ask for."""
    world = {"G": Dir(), "O": Dir()}
    for folder in ["G/q8r/books/english", "G/q8r/strings/english", "G/q8r/snd", "G/q8r/movies"]:
        EnsureDir(world, folder)
    runs, half = 1, 0
    for index, (kind, p) in enumerate(parts):
        rng = random.Random("%s:%s" % (index, json.dumps([kind, p], sort_keys=True)))
        tag = "%s%d" % (kind, index)
        if kind == "launcher":
            Put(world, "G/q8r.exe", File(Blob(rng, tag), 0o444 if p["ro"] else 0o755))
        elif kind == "config":
            item = p["item"]
            if item == "saves":
                Put(world, "G/saves/game0001.sav", File(Blob(rng, tag), p["mode"]))
                Put(world, "G/saves/quick/quick.sav", File(Blob(rng, tag)))
            elif item == "install.cfg":
                eol = "\n" if p["variant"] == "lf" else "\r\n"
                Put(world, "G/install.cfg", File(ConfigText(InstallLines(), eol, p["variant"] != "nofinal",
                                                            p["variant"] == "marker"), p["mode"]))
            else:
                Put(world, "G/" + item, File(Blob(rng, tag), p["mode"]))
        elif kind == "rootdarkinst":
            eol = "\n" if p["variant"] == "lf" else "\r\n"
            node = File(ConfigText(RootDarkinstLines(p["old"]), eol, True, p["variant"] == "marker"),
                        0o444 if p["ro"] else 0o644)
            name = "DARKINST.CFG" if p["upper"] else "Darkinst.cfg"
            if p["linked"]:
                Put(world, "O/cfg/Darkinst.cfg", node)
                Put(world, "G/" + name, Link("O/cfg/Darkinst.cfg"))
            else:
                Put(world, "G/" + name, node)
        elif kind in ("books", "strings", "voice"):
            where = p.get("voice", kind)
            english, target = Where(where)
            EnsureDir(world, target if kind == "voice" and not p["english"] else english)
            if kind == "voice" and not p["english"]:
                continue
            for i in range(p["n"]):
                Put(world, "%s/%s_%d.%s" % (english, where, i, "wav" if kind == "voice" else "str"),
                    File(Blob(rng, tag)))
            if p["n"] > 2:
                Put(world, "%s/intro/%s_page.str" % (english, where), File(Blob(rng, tag)))
        elif kind in ("collide-file", "collide-folder", "file-for-folder", "folder-for-file", "cyrillic",
                      "longpath", "link-item-file", "link-item-folder", "link-item-dangling"):
            english, target = Where(p["where"])
            if Resolve(world, english)[2] is None:
                continue
            # Names tell their part, so a known fault can be told by its paths.
            name = {"collide-file": "cf", "collide-folder": "cd", "file-for-folder": "ffd", "folder-for-file": "dff",
                    "link-item-file": "lf", "link-item-folder": "ld", "link-item-dangling": "dl"}.get(kind, "x")
            name += str(index)
            if kind == "collide-file":
                Put(world, "%s/%s.dat" % (english, name), File(Blob(rng, tag)))
                Put(world, "%s/%s.dat" % (target, name), File(Blob(rng, tag + "old")))
            elif kind == "collide-folder":
                Put(world, "%s/%s/same.dat" % (english, name), File(Blob(rng, tag)))
                Put(world, "%s/%s/new.dat" % (english, name), File(Blob(rng, tag)))
                Put(world, "%s/%s/same.dat" % (target, name), File(Blob(rng, tag + "old")))
                Put(world, "%s/%s/own.dat" % (target, name), File(Blob(rng, tag + "own")))
            elif kind == "file-for-folder":
                Put(world, "%s/%s/inner.dat" % (english, name), File(Blob(rng, tag)))
                Put(world, "%s/%s" % (target, name), File(Blob(rng, tag + "old")))
            elif kind == "folder-for-file":
                Put(world, "%s/%s" % (english, name), File(Blob(rng, tag)))
                Put(world, "%s/%s/inner.dat" % (target, name), File(Blob(rng, tag + "old")))
            elif kind == "cyrillic":
                Put(world, "%s/Жук%d.wav" % (english, index), File(Blob(rng, tag)))
                Put(world, "%s/plain%d.wav" % (english, index), File(Blob(rng, tag)))
            elif kind == "longpath":
                Put(world, "%s/%s/%s.wav" % (english, "d" * 120, "f" * 150), File(Blob(rng, tag)))
            elif kind == "link-item-file":
                Put(world, "O/%s.dat" % name, File(Blob(rng, tag)))
                Put(world, "%s/%s.dat" % (english, name), Link("O/%s.dat" % name))
                Put(world, "%s/%s_plain.dat" % (english, name), File(Blob(rng, tag)))
                if p["collide"]:
                    Put(world, "%s/%s.dat" % (target, name), File(Blob(rng, tag + "old")))
            elif kind == "link-item-folder":
                Put(world, "O/%s/held.dat" % name, File(Blob(rng, tag)))
                Put(world, "%s/%s" % (english, name), Link("O/%s" % name))
                if p["collide"]:
                    Put(world, "%s/%s/own.dat" % (target, name), File(Blob(rng, tag + "own")))
            elif kind == "link-item-dangling":
                Put(world, "%s/%s" % (english, name), Link("O/missing%d" % index))
        elif kind == "link-at-target":
            # The player's link at the target to the very item the move takes.
            english, target = Where(p["where"])
            if Resolve(world, english)[2] is None or Resolve(world, target)[2] is None:
                continue
            name = "lt%d.dat" % index
            Put(world, "%s/%s" % (english, name), File(Blob(rng, tag)))
            Put(world, "%s/%s" % (target, name), Link("%s/%s" % (english, name), p["relative"]))
        elif kind == "link-english":
            english, _ = Where(p["voice"])
            folder, name, node = Resolve(world, english)
            if node is None:
                continue
            world["O"]["ch"]["voice-" + p["voice"]] = node
            folder["ch"][name] = Link("O/voice-" + p["voice"])
        elif kind == "link-inside":
            # The english folder kept elsewhere in the game, linked in place.
            english, _ = Where(p["where"])
            folder, name, node = Resolve(world, english)
            if node is None or node["k"] != "d":
                continue
            Put(world, "G/kept-%s" % p["where"], node)
            folder["ch"][name] = Link("G/kept-%s" % p["where"])
        elif kind == "copy-target-folder":
            Put(world, "G/q8r/%s/kept.dat" % p["item"], File(Blob(rng, tag)))
        elif kind == "link-copy-target":
            if not p.get("dangling"):
                Put(world, "O/elsewhere-%s" % p["item"], File(Blob(rng, tag)))
            Put(world, "G/q8r/" + p["item"], Link("O/elsewhere-%s" % p["item"]))
        elif kind == "mod-darkinst-leftover":
            Put(world, "G/q8r/Darkinst.cfg", File(ConfigText(["install_path C:\\Old"]), 0o444 if p["ro"] else 0o644))
        elif kind == "link-movies":
            movies = world["G"]["ch"]["q8r"]["ch"].pop("movies")
            world["O"]["ch"]["movies"] = movies
            world["G"]["ch"]["q8r"]["ch"]["movies"] = Link("O/movies")
        elif kind == "video":
            original, corrected, upd = pairs[p["pair"]]
            movies = "G/q8r/movies/" + p["video"]
            if p["kind"] in ("valid", "noupd", "corrupt"):
                Put(world, movies, File(original))
            elif p["kind"] == "patched":
                Put(world, movies, File(corrected))
            if p["kind"] != "noupd":
                data = upd if p["kind"] != "corrupt" else b"X" + upd[1:]
                node = File(data)
                node["patch"] = (Digest(original), len(original), corrected) if p["kind"] != "corrupt" else None
                Put(world, movies + ".upd", node)
            if p["oldstale"] and p["kind"] == "noupd":
                Put(world, movies + ".old", File(Blob(rng, tag + "old")))
        elif kind == "stale":
            if p["name"] == "tmp-root":
                path = "G/Darkinst.cfg.q8r-tmp"
            elif p["name"] == "was-root":
                path = "G/Darkinst.cfg.q8r-was"
            elif p["name"] == "tmp-mod":
                path = "G/q8r/Darkinst.cfg.q8r-tmp"
            elif p["name"] == "copy":
                path = "G/q8r/%s.q8r-copy" % p["item"]
            else:
                path = "G/q8r/movies/%s.new" % p["video"]
            node = {"other": File(Blob(rng, tag), 0o600, "other"), "fifo": Fifo(), "ours": File(Blob(rng, tag)),
                    "dangling": Link("O/gone%d" % index), "link": Link("O/kept%d" % index),
                    "folder": Dir()}[p["kind"]]
            if p["kind"] == "link":
                Put(world, "O/kept%d" % index, File(Blob(rng, tag)))
            if p["kind"] == "folder":
                node["ch"]["player.dat"] = File(Blob(rng, tag))
            Put(world, path, node)
        elif kind == "runs2":
            runs = 2
        elif kind == "half":
            half = p["step"]
    for kind, p in parts:
        if kind == "case":
            ApplyCase(world, p["folder"])
    return world, runs, half


def ApplyCase(world, which):
    def rename(folder, name, new):
        real, node = Lookup(folder, name)
        if node is not None:
            del folder["ch"][real]
            folder["ch"][new] = node
    if which.startswith("config:"):
        # An item of the game folder spelled otherwise than the step asks for it.
        name = which.split(":", 1)[1]
        rename(world["G"], name, name.upper())
        return
    q8r = Lookup(world["G"], "q8r")[1]
    if which == "q8r":
        rename(world["G"], "q8r", "Q8R")
        return
    if q8r is None or q8r["k"] != "d":
        return
    if which in ("books", "strings", "snd", "movies"):
        rename(q8r, which, which.capitalize())
    elif which == "english":
        books = Lookup(q8r, "books")[1]
        if books and books["k"] == "d":
            rename(books, "english", "English")
    elif which == "voice":
        snd = Lookup(q8r, "snd")[1]
        if snd and snd["ch"]:
            name = sorted(snd["ch"])[0]
            rename(snd, name, name.upper())


# ---------------------------------------------------------------- the model

class Run:
    """One run of the patcher over a world, as described: the eight steps,
    their texts and boxes, and the sound behaviour at the edges."""

    def __init__(self, world, platform):
        self.w = world
        self.windows = platform != "native"
        self.statuses, self.boxes, self.exit = [], [], 0
        self.unspecified = set()
        self.left = False  # an item listed for a move or copy stayed

    # The primitives.
    def Delete(self, path):
        folder, name, node = Resolve(self.w, path, follow_last=False)
        if node is None:
            return
        del folder["ch"][name]

    def Move(self, source, target):
        src = Resolve(self.w, source)[2]
        dst = Resolve(self.w, target)[2]
        if src is None or src["k"] != "d" or dst is None or dst["k"] != "d":
            return
        for name in list(src["ch"]):
            self.MoveOne(src, name, dst, target + "/" + name)

    def MoveOne(self, src, name, dst, where):
        item = src["ch"][name]
        real, there = Lookup(dst, name)
        if there is None:
            dst["ch"][name] = src["ch"].pop(name)
            return
        held = Follow(self.w, there)
        if item["k"] == "d":
            if held is not None and held["k"] == "d":
                for child in list(item["ch"]):
                    self.MoveOne(item, child, held, where + "/" + child)
                if not item["ch"]:
                    del src["ch"][name]
            else:
                self.left = True
            return  # a folder never replaces a file
        if there["k"] == "d":
            if item["k"] == "l" and Follow(self.w, item) is not None and Follow(self.w, item)["k"] == "d":
                self.unspecified.add(where)
            self.left = True
            return  # a file never replaces a folder
        del dst["ch"][real]
        dst["ch"][name] = src["ch"].pop(name)

    def Copy(self, source, target):
        src = Resolve(self.w, source)[2]
        dst = Resolve(self.w, target)[2]
        if src is None or dst is None or dst["k"] != "d":
            return
        if src["k"] not in ("f", "d"):
            self.left = True
            return
        # The copy takes the spelling its source has, not the step's.
        name = Resolve(self.w, source, follow_last=False)[1]
        if self.windows and src["k"] == "f":
            # Windows clears an earlier run's side name before each copy; a folder there stays.
            self.ClearSide(dst, (Lookup(dst, name)[0] or name) + ".q8r-copy")
        self.CopyOne(src, name, dst)

    def CopyOne(self, src, name, dst):
        real, there = Lookup(dst, name)
        if src["k"] == "d":
            if there is None:
                there = dst["ch"][name] = Dir()
            elif there["k"] != "d":
                self.left = True
                return
            for child, node in src["ch"].items():
                if node["k"] == "l":
                    dst_real, _ = Lookup(there, child)
                    if dst_real:
                        del there["ch"][dst_real]
                    there["ch"][child] = dict(node)
                elif node["k"] in ("f", "d"):
                    self.CopyOne(node, child, there)
                else:
                    self.left = True
            return
        if there is not None and there["k"] == "d":
            self.left = True
            return
        # Windows copies through a side name only onto a link, which it replaces.
        side = not self.windows or (there is not None and there["k"] == "l")
        if side and not self.ClearSide(dst, (real or name) + ".q8r-copy"):
            self.left = True
            return
        if real:
            del dst["ch"][real]
        dst["ch"][real or name] = File(src["data"], src["mode"])

    def ClearSide(self, folder, side):
        real, node = Lookup(folder, side)
        if node is None:
            return True
        if node["k"] == "d":
            return False
        del folder["ch"][real]
        return True

    def WriteConfig(self, path, data):
        folder, name, node = Resolve(self.w, path)
        if folder is None or (node is not None and node["k"] != "f"):
            return False
        if node is not None and not node["mode"] & 0o200:
            return False
        if not self.ClearSide(folder, name + ".q8r-tmp"):
            return False
        # Windows: ReplaceFileW moves the old file onto the backup name, over
        # whatever is there but a folder, and the backup then goes.
        if self.windows and node is not None and Resolve(self.w, path, follow_last=False)[2]["k"] != "l":
            self.ClearSide(folder, name + ".q8r-was")
        if node is None:
            folder["ch"][name] = File(data)
        else:
            node["data"] = data
        return True

    # The configuration rules.
    @staticmethod
    def Lines(data):
        return data.split(b"\x1a")[0].decode("latin-1").split("\n")

    @staticmethod
    def Strip(line):
        return line[:-1] if line.endswith("\r") else line

    def ReadLines(self, path):
        node = Resolve(self.w, path)[2]
        if node is None or node["k"] != "f":
            return None
        return [self.Strip(line) for line in self.Lines(node["data"])]

    def SettleReplaced(self, folder_path, name):
        """Windows: a file of ours under <name>.q8r-was goes back where the
        name is free and goes for good where it is not; a folder or a link
        there is the player's."""
        folder = Resolve(self.w, folder_path)[2]
        real, backup = Lookup(folder, name + ".q8r-was")
        if backup is None or backup["k"] != "f":
            return
        if Resolve(self.w, folder_path + "/" + name)[2] is not None:
            del folder["ch"][real]
        else:
            folder["ch"][name] = folder["ch"].pop(real)

    def ResetDefaultDarkinst(self):
        if self.windows:
            self.SettleReplaced("G", "Darkinst.cfg")
        lines = self.ReadLines("G/Darkinst.cfg")
        if lines is None:
            return True
        rules = [("resname_base", ".\\q8r+"), ("load_path", ".\\q8r+"), ("script_module_path", ".\\q8r+"),
                 ("movie_path", ".\\q8r\\movies+")]
        out, changed = "", False
        for line in lines:
            for key, prefix in rules:
                if key in line:
                    if prefix in line:
                        at = len(key) + 1
                        line = line[:at] + line[at + len(prefix):]
                        changed = True
                        out += line + ("" if key == "movie_path" else "\n")
                        break
                    out += line + "\n"
                    break
            else:
                out += line + "\n"
        if not changed:
            return True
        if not self.WriteConfig("G/Darkinst.cfg", self.Encode(out)):
            self.boxes.append(BOX_ROOT_WRITE)
            self.exit = 1
            return False
        return True

    @staticmethod
    def Encode(text):
        return text.replace("\n", "\r\n").encode("latin-1") + b"\x1a"

    def CreateCustomDarkinst(self):
        self.Delete("G/q8r/darkinst.cfg")
        folder, name, source = Resolve(self.w, "G/q8r/install.cfg", follow_last=False)
        real, there = (None, None) if folder is None else Lookup(folder, "Darkinst.cfg")
        if source is None or there is not None:
            self.boxes.append(BOX_RENAME)
            return True
        folder["ch"]["Darkinst.cfg"] = folder["ch"].pop(name)
        lines = self.ReadLines("G/q8r/Darkinst.cfg") or [""]
        prefix, out = "", ""
        for line in lines:
            if "install_path" in line:
                prefix = line[13:] + "\\q8r+"
                out += line + "\n"
            elif "resname_base" in line and prefix:
                out += line[:13] + prefix + line[13:] + "\n"
            elif "load_path" in line and prefix:
                out += line[:10] + prefix + line[10:] + "\n"
            elif "script_module_path" in line and prefix:
                out += line[:19] + prefix + line[19:] + "\n"
            elif "movie_path" in line and prefix:
                prefix = prefix[:-1] + "\\movies+"
                out += line[:11] + prefix + line[11:]
            else:
                out += line + "\n"
        if not self.WriteConfig("G/q8r/Darkinst.cfg", self.Encode(out)):
            self.boxes.append(BOX_MOD_WRITE)
            self.exit = 1
            return False
        return True

    def PatchCutscenes(self):
        for video in VIDEOS:
            path = "G/q8r/movies/" + video
            code = self.PatchOne(path)
            if code:
                self.boxes.append(("Video Patch Error", "%s\n\nFile: %s" % (PATCH_MESSAGES[code], video)))
            self.Delete(path + ".old")
            if code not in (2, 8):
                self.Delete(path + ".upd")

    def PatchOne(self, path):
        upd = Resolve(self.w, path + ".upd")[2]
        if upd is None or upd["k"] != "f":
            return 1
        if upd.get("patch") is None:
            return 4
        digest, size, corrected = upd["patch"]
        folder, name, video = Resolve(self.w, path)
        if video is None or video["k"] != "f":
            return 2
        if len(video["data"]) != size:
            return 7
        if not self.ClearSide(folder, name + ".new"):
            return 8
        video["data"] = corrected
        return 0

    def Steps(self, last=8, part_of_next=False):
        steps = [lambda: self.Delete("G/q8r.exe"), self.ResetDefaultDarkinst,
                 lambda: [self.Copy("G/" + item, "G/q8r") for item in CONFIG_ITEMS],
                 self.CreateCustomDarkinst, lambda: self.Move("G/q8r/books/english", "G/q8r/books"),
                 lambda: self.Move("G/q8r/strings/english", "G/q8r/strings"),
                 lambda: [self.Move("G/q8r/snd/%s/english" % v, "G/q8r/snd/%s" % v) for v in VOICES],
                 self.PatchCutscenes]
        for number, step in enumerate(steps[:last], 1):
            if number <= 7:
                self.statuses.append(STATUS[number - 1])
            if step() is False:
                return
        if last < 8 and part_of_next and last >= 4:
            # Cut off in the middle of the next move: half its items moved.
            source = ["G/q8r/books/english", "G/q8r/strings/english", "G/q8r/snd/%s/english" % VOICES[0]][
                min(last - 4, 2)]
            src = Resolve(self.w, source)[2]
            dst = Resolve(self.w, source.rsplit("/", 1)[0])[2]
            if src and dst and src["k"] == "d" and dst["k"] == "d":
                for name in sorted(src["ch"])[: len(src["ch"]) // 2]:
                    self.MoveOne(src, name, dst, source + "/" + name)
            return
        if last == 8:
            self.statuses.append(FINISHED)
            if self.left:
                # Its text names the items and the system's reasons: only the caption is foretold.
                self.boxes.append((BOX_LEFT_BEHIND, None))
                self.exit = 2


def Expect(world, runs, platform):
    """What the runs make of a copy of the world: the final world and the
    outcome of the last run."""
    outcome = None
    unspecified = set()
    for _ in range(runs):
        outcome = Run(world, platform)
        outcome.Steps()
        unspecified |= outcome.unspecified
    return {"world": world, "statuses": outcome.statuses, "boxes": outcome.boxes, "exit": outcome.exit,
            "unspecified": sorted(unspecified)}


def HalfDone(world, step):
    Run(world, "native").Steps(last=step, part_of_next=True)


# ---------------------------------------------------------------- on disk

def VideoPairs(seed, tool, cache, path=lambda p: p):
    """Three (original, corrected, patch data) triples; patch data is made
    once by the maintainers' tool (`tool` + original, corrected, patch, as
    `path` names them) and kept in `cache`."""
    rng = random.Random("videos:%s" % seed)
    pairs = []
    os.makedirs(cache, exist_ok=True)
    for i in range(3):
        original = bytes(rng.getrandbits(8) for _ in range(rng.randint(2000, 9000)))
        cut = rng.randint(100, len(original) - 100)
        # A different size, so that a patched video is told by its size.
        corrected = original[:cut] + Blob(rng, "fix%d" % i, rng.choice([30, 80, 150])) + original[cut + 50:]
        key = Digest(original + b"/" + corrected)
        upd = os.path.join(cache, key + ".upd")
        if not os.path.exists(upd):
            a, b = os.path.join(cache, key + ".a"), os.path.join(cache, key + ".b")
            open(a, "wb").write(original)
            open(b, "wb").write(corrected)
            subprocess.run(tool + [path(a), path(b), path(upd + ".part")], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            os.rename(upd + ".part", upd)
            os.remove(a)
            os.remove(b)
        pairs.append((original, corrected, open(upd, "rb").read()))
    return pairs


def Materialize(world, roots, player):
    """Lays the world out: roots maps 'G' and 'O' to real folders."""
    def real(target):
        top, _, rest = target.partition("/")
        return os.path.join(roots[top], rest) if rest else roots[top]

    def own(path, who):
        if player is not None:
            uid = 0 if who == "other" else player
            try:
                os.lchown(path, uid, uid)
            except OSError:
                pass

    def lay(path, folder):
        for name, node in folder["ch"].items():
            full = os.path.join(path, name)
            if node["k"] == "d":
                os.mkdir(full)
                lay(full, node)
                own(full, "player")
            elif node["k"] == "f":
                with open(full, "wb") as f:
                    f.write(node["data"])
                own(full, node["owner"])
                try:
                    os.chmod(full, node["mode"])
                except OSError:
                    pass  # FAT through FUSE holds no modes and says so
            elif node["k"] == "l":
                to = real(node["to"])
                os.symlink(os.path.relpath(to, path) if node.get("relative") else to, full)
                own(full, "player")
            else:
                os.mkfifo(full)
                own(full, "player")
    for top in ("G", "O"):
        os.makedirs(roots[top])
        own(roots[top], "player")
        lay(roots[top], world[top])


def Snapshot(roots, modes=True):
    """path -> (kind, digest or link target, mode) of what lies on disk."""
    out = {}
    back = {v: k for k, v in roots.items()}

    def symbolic(target):
        for path, top in back.items():
            if target == path or target.startswith(path + "/"):
                return top + target[len(path):]
        return target

    for top, path in roots.items():
        out[top] = ("d", "", None)
        for folder, dirs, files in os.walk(path):
            rel = top + folder[len(path):]
            for name in dirs + files:
                full = os.path.join(folder, name)
                key = rel + "/" + name
                st = os.lstat(full)
                if stat.S_ISLNK(st.st_mode):
                    out[key] = ("l", symbolic(os.path.normpath(os.path.join(folder, os.readlink(full)))), None)
                    if name in dirs:
                        dirs.remove(name)
                elif stat.S_ISDIR(st.st_mode):
                    out[key] = ("d", "", None)
                elif stat.S_ISREG(st.st_mode):
                    with open(full, "rb") as f:
                        out[key] = ("f", Digest(f.read()), stat.S_IMODE(st.st_mode) if modes else None)
                else:
                    out[key] = ("p", "", None)
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["show"])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--index", type=int, default=0)
    args = parser.parse_args()
    for part in DrawParts(args.seed, args.index):
        print(Feature(part), json.dumps(part[1], sort_keys=True))


if __name__ == "__main__":
    main()
