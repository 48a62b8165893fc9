#!/usr/bin/env python3
"""Makes archives for the asset tests.

  asset_archive.py model --source DIR --out FILE [--format tar.gz|tar.xz|zip] [--top NAME]
                         [--replace NAME=TEXT ...]
      the files of DIR (a model directory) at the archive's top, or under NAME/ with --top;
      --replace gives the file NAME (relative to DIR) the content TEXT instead
  asset_archive.py hostile --kind KIND --out FILE [--format tar.gz|zip] [--target PATH]
      a small model plus one entry that must be refused. KIND is one of:
      dotdot (../x), absolute (PATH), symlink-out (link to ../outside, then a file through it),
      symlink-absolute (link to PATH), symlink-chain (k -> ., m -> k/..), hardlink-out
      (hard link to ../x), device (a character device), fifo,
      model-link-out (the model in m/, with m/escape2 -> ../en_US.lock and
      m/en-us/escape -> ../../de_DE: inside the archive, outside the model),
      model-link-back-in (the model in m/, with m/back -> ../m/en-us.lm.bin),
      bomb (the small model and 64 MiB of zeros, packed into about 64 KiB)
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
    replaced = dict(item.split("=", 1) for item in args.replace)
    if args.format == "zip":
        with zipfile.ZipFile(args.out, "w", zipfile.ZIP_DEFLATED) as archive:
            for base, _, files in os.walk(args.source):
                for name in sorted(files):
                    path = os.path.join(base, name)
                    relative = os.path.relpath(path, args.source)
                    arcname = os.path.join(args.top, relative) if args.top else relative
                    if relative in replaced:
                        archive.writestr(arcname, replaced[relative].encode())
                    else:
                        archive.write(path, arcname)
        return

    def add(archive, relative):
        path = os.path.join(args.source, relative)
        arcname = os.path.join(args.top, relative) if args.top else relative
        if relative in replaced:
            add_bytes(archive, arcname, replaced[relative].encode())
            return
        archive.add(path, arcname=arcname, recursive=False)
        if os.path.isdir(path) and not os.path.islink(path):
            for entry in sorted(os.listdir(path)):
                add(archive, os.path.join(relative, entry))

    with tarfile.open(args.out, tar_mode(args.format)) as archive:
        for entry in sorted(os.listdir(args.source)):
            add(archive, entry)


def add_bytes(archive, name, data):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    archive.addfile(info, io.BytesIO(data))


class Zeros(io.RawIOBase):
    def readable(self):
        return True

    def readinto(self, buffer):
        buffer[:] = bytes(len(buffer))
        return len(buffer)


def add_zeros(archive, name, size):
    info = tarfile.TarInfo(name)
    info.size = size
    archive.addfile(info, io.BufferedReader(Zeros(), 1 << 20))


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
        kind = args.kind
        top = "m/" if kind.startswith("model-link") else ""
        for name, data in SMALL_MODEL.items():
            add_bytes(archive, top + name, data)
        if kind == "model-link-out":
            add_link(archive, "m/escape2", "../en_US.lock")
            add_link(archive, "m/en-us/escape", "../../de_DE")
        elif kind == "model-link-back-in":
            add_link(archive, "m/back", "../m/en-us.lm.bin")
        elif kind == "bomb":
            add_zeros(archive, "zeros", 64 << 20)
        elif kind == "dotdot":
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
    parser.add_argument("--replace", action="append", default=[])
    args = parser.parse_args()
    model(args) if args.what == "model" else hostile(args)


if __name__ == "__main__":
    main()
