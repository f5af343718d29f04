#!/usr/bin/env python3
"""Watches a folder tree and, at its N-th change, kills a program by name.

kill_on_event.py FOLDER PROGRAM PREFIX READY [N]
  Each change below FOLDER (a name made, written and closed, renamed away or
  in, removed) is one event, written to stdout as "ORDINAL KIND PATH".
  READY is created once every folder is watched. With N, every process
  whose name is PROGRAM and whose Wine prefix is PREFIX gets SIGKILL at the
  N-th event and "killed" is written: other tests' Wine programs of the
  same name, which may run beside this one, are left alone. Runs until it
  is terminated.

A kill of a Windows program under Wine cannot land at a chosen system call:
Wine's server makes the renames, not the program. The program's own order
of changes is the next best clock; the kill lands a few of its calls later.
"""
import ctypes
import os
import signal
import struct
import sys

IN_CLOSE_WRITE, IN_MOVED_FROM, IN_MOVED_TO = 0x8, 0x40, 0x80
IN_CREATE, IN_DELETE, IN_ISDIR = 0x100, 0x200, 0x40000000
KINDS = {IN_CLOSE_WRITE: "written", IN_MOVED_FROM: "moved-away", IN_MOVED_TO: "moved-in",
         IN_CREATE: "made", IN_DELETE: "removed"}
MASK = IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE

libc = ctypes.CDLL(None, use_errno=True)
folder, program, prefix, ready = sys.argv[1:5]
kill_at = int(sys.argv[5]) if len(sys.argv) > 5 else 0
ours = b"WINEPREFIX=" + os.fsencode(os.path.realpath(prefix))
fd = libc.inotify_init()
if fd < 0:
    sys.exit("inotify_init failed")
watched = {}


def watch(path):
    wd = libc.inotify_add_watch(fd, os.fsencode(path), MASK)
    if wd >= 0:
        watched[wd] = path
    for entry in os.scandir(path):
        if entry.is_dir(follow_symlinks=False):
            watch(entry.path)


def kill_program():
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as comm, open(f"/proc/{pid}/environ", "rb") as environ:
                if comm.read().strip() == program and ours in environ.read().split(b"\0"):
                    os.kill(int(pid), signal.SIGKILL)
        except OSError:
            pass


watch(folder)
open(ready, "w").close()
count = 0
while True:
    data = os.read(fd, 1 << 16)
    at = 0
    while at < len(data):
        wd, mask, _, length = struct.unpack_from("iIII", data, at)
        name = data[at + 16:at + 16 + length].rstrip(b"\0").decode(errors="replace")
        at += 16 + length
        kind = KINDS.get(mask & MASK)
        if not kind or wd not in watched:
            continue
        path = os.path.join(watched[wd], name)
        if mask & IN_ISDIR and mask & (IN_CREATE | IN_MOVED_TO):
            watch(path)
        count += 1
        if count == kill_at:
            kill_program()
            print("killed", flush=True)
        print(count, kind, os.path.relpath(path, folder), flush=True)
