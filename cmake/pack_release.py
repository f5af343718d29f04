#!/usr/bin/env python3
"""Packs a release archive whose bytes depend on the files' content alone.

    pack_release.py ARCHIVE FOLDER NAME...

ARCHIVE ends in .zip or .tar.gz; the NAMEs in FOLDER go to its top in the
order given. Every entry gets one fixed time and a mode of 0755 (programs)
or 0644; no owner, access or change time goes in, and the gzip header holds
no time. CMake's own packer writes the builder's access and change times
into each zip entry and the current time into the gzip header.
"""
import gzip
import io
import os
import sys
import tarfile
import zipfile

FIXED_TIME = (2026, 1, 1, 0, 0, 0)
FIXED_EPOCH = 1767225600  # the same moment, 2026-01-01 00:00:00 UTC


def mode_of(path):
    return 0o755 if os.access(path, os.X_OK) else 0o644


def pack_zip(archive, folder, names):
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as out:
        for name in names:
            path = os.path.join(folder, name)
            entry = zipfile.ZipInfo(name, FIXED_TIME)
            entry.external_attr = (0o100000 | mode_of(path)) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as source:
                out.writestr(entry, source.read())


def pack_tar_gz(archive, folder, names):
    packed = io.BytesIO()
    with tarfile.open(fileobj=packed, mode="w", format=tarfile.GNU_FORMAT) as out:
        for name in names:
            path = os.path.join(folder, name)
            entry = tarfile.TarInfo(name)
            entry.size = os.path.getsize(path)
            entry.mtime = FIXED_EPOCH
            entry.mode = mode_of(path)
            with open(path, "rb") as source:
                out.addfile(entry, source)
    with open(archive, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=raw, mtime=0) as out:
            out.write(packed.getvalue())


def main(args):
    if len(args) < 3:
        sys.stderr.write(__doc__)
        return 2
    archive, folder, names = args[0], args[1], args[2:]
    if archive.endswith(".zip"):
        pack_zip(archive, folder, names)
    elif archive.endswith(".tar.gz"):
        pack_tar_gz(archive, folder, names)
    else:
        sys.stderr.write("pack_release.py: the archive must end in .zip or .tar.gz\n")
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
