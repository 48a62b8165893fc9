#!/usr/bin/env python3
"""Makes archives for the asset tests.

  asset_archive.py model --source DIR --out FILE [--format tar.gz|tar.xz|zip] [--top NAME]
      the files of DIR (a model directory) at the archive's top, or under NAME/ with --top
  asset_archive.py hostile --kind KIND --out FILE [--format tar.gz|zip] [--target PATH]
      a small model plus one entry that must be refused. KIND is one of:
      dotdot (../x), absolute (PATH), symlink-out (link to ../outside, then a file through it),
      symlink-absolute (link to PATH), symlink-chain (k -> ., m -> k/..), hardlink-out
      (hard link to ../x), device (a character device), fifo
"""

import argparse
import io
import os
import tarfile
import zipfile

SMALL_MODEL = {
    "en-us/mdef": b"mdef",
    "en-us.lm.bin": b"language model",
    "cmudict-en-us.dict": b"hello HH AH L OW\n",
}


def tar_mode(fmt):
    return {"tar.gz": "w:gz", "tar.xz": "w:xz"}[fmt]


def model(args):
    if args.format == "zip":
        with zipfile.ZipFile(args.out, "w", zipfile.ZIP_DEFLATED) as archive:
            for base, _, files in os.walk(args.source):
                for name in sorted(files):
                    path = os.path.join(base, name)
                    relative = os.path.relpath(path, args.source)
                    archive.write(path, os.path.join(args.top, relative) if args.top else relative)
        return
    with tarfile.open(args.out, tar_mode(args.format)) as archive:
        for entry in sorted(os.listdir(args.source)):
            arcname = os.path.join(args.top, entry) if args.top else entry
            archive.add(os.path.join(args.source, entry), arcname=arcname)


def add_bytes(archive, name, data):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    archive.addfile(info, io.BytesIO(data))


def add_link(archive, name, target, kind=tarfile.SYMTYPE):
    info = tarfile.TarInfo(name)
    info.type = kind
    info.linkname = target
    archive.addfile(info)


def hostile(args):
    target = args.target or "/tmp/ondevice-stt-hostile"
    if args.format == "zip":
        with zipfile.ZipFile(args.out, "w") as archive:
            for name, data in SMALL_MODEL.items():
                archive.writestr(name, data)
            names = {"dotdot": "../x", "absolute": target}
            archive.writestr(names[args.kind], b"escaped")
        return
    with tarfile.open(args.out, "w:gz") as archive:
        for name, data in SMALL_MODEL.items():
            add_bytes(archive, name, data)
        kind = args.kind
        if kind == "dotdot":
            add_bytes(archive, "../x", b"escaped")
        elif kind == "absolute":
            add_bytes(archive, target, b"escaped")
        elif kind == "symlink-out":
            add_link(archive, "outside", "../outside")
            add_bytes(archive, "outside/x", b"escaped")
        elif kind == "symlink-absolute":
            add_link(archive, "outside", os.path.dirname(target))
            add_bytes(archive, "outside/" + os.path.basename(target), b"escaped")
        elif kind == "symlink-chain":
            add_link(archive, "k", ".")
            add_link(archive, "m", "k/..")
        elif kind == "hardlink-out":
            add_link(archive, "x", "../x", tarfile.LNKTYPE)
        elif kind == "device":
            info = tarfile.TarInfo("null")
            info.type = tarfile.CHRTYPE
            info.devmajor, info.devminor = 1, 3
            archive.addfile(info)
        elif kind == "fifo":
            info = tarfile.TarInfo("pipe")
            info.type = tarfile.FIFOTYPE
            archive.addfile(info)
        else:
            raise SystemExit(f"unknown kind {kind}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["model", "hostile"])
    parser.add_argument("--out", required=True)
    parser.add_argument("--format", default="tar.gz", choices=["tar.gz", "tar.xz", "zip"])
    parser.add_argument("--source")
    parser.add_argument("--top", default="")
    parser.add_argument("--kind")
    parser.add_argument("--target")
    args = parser.parse_args()
    model(args) if args.what == "model" else hostile(args)


if __name__ == "__main__":
    main()
