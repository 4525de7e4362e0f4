"""Reads a package's manifest with Python's zipfile, apart from the tool.

    package_manifest.py check ARCHIVE
        The manifest must be the last entry, stored, and list every file
        entry (not folders, not itself) with its size and SHA-256; a chunk
        map, when there is one, must give each chunked entry's chunks so
        that each inflates alone from its offset to bytes of its SHA-256;
        prints what is wrong, nothing when all holds.
    package_manifest.py digest ARCHIVE
        The manifest entry's SHA-256, in hex.
    package_manifest.py fetched ARCHIVE NAME...
        The bytes a user who lacks the named entries fetches: the directory
        and the end records, the manifest's span and the named entries'
        spans, each from its local header to the next one's.
"""
import hashlib
import os
import struct
import sys
import zipfile
import zlib

NAME = "morvane.manifest"
CHUNKS = "morvane.chunks"


def check_chunks(path, archive):
    """Each chunk of each chunked entry inflated alone, apart from the tool."""
    if CHUNKS not in archive.namelist():
        return
    entry = None
    with open(path, "rb") as raw:
        for line in archive.read(CHUNKS).decode("utf-8").split("\n")[1:-1]:
            fields = line.split(" ")
            if fields[0] == "entry":
                info = archive.getinfo(fields[1])
                raw.seek(info.header_offset + 26)
                name_length, extra_length = struct.unpack("<HH", raw.read(4))
                offset = info.header_offset + 30 + name_length + extra_length
                entry = fields[1]
            elif fields[0] == "chunk":
                size, compressed = int(fields[1]), int(fields[2])
                raw.seek(offset)
                data = zlib.decompressobj(-15).decompress(raw.read(compressed))
                if len(data) != size or hashlib.sha256(data).hexdigest()[:32] != fields[3]:
                    print("a chunk of %s at %d does not inflate alone" % (entry, offset))
                offset += compressed


def check(path, archive):
    infos = sorted(archive.infolist(), key=lambda info: info.header_offset)
    if infos[-1].filename != NAME or infos[-1].compress_type != zipfile.ZIP_STORED:
        print("the last entry is %s, method %d" % (infos[-1].filename, infos[-1].compress_type))
    check_chunks(path, archive)
    lines = archive.read(NAME).decode("utf-8").split("\n")
    if lines[0] != "morvane-manifest v1" or lines[-1] != "":
        print("first or last line: %r %r" % (lines[0], lines[-1]))
    listed = {}
    for line in lines[1:-1]:
        digest, size, mode, name, path = line.split(" ")
        listed[name] = (digest, int(size))
    for info in infos[:-1]:
        if info.is_dir():
            continue
        data = archive.read(info.filename)
        found = listed.pop(info.filename, None)
        if found != (hashlib.sha256(data).hexdigest(), len(data)):
            print("%s is listed as %r" % (info.filename, found))
    for name in listed:
        print("%s is listed but not in the package" % name)


def fetched(path, archive, names):
    infos = sorted(archive.infolist(), key=lambda info: info.header_offset)
    ends = [info.header_offset for info in infos[1:]] + [archive.start_dir]
    spans = {info.filename: end - info.header_offset for info, end in zip(infos, ends)}
    total = os.path.getsize(path) - archive.start_dir + spans[NAME]
    print(total + sum(spans[name] for name in names))


if __name__ == "__main__":
    with zipfile.ZipFile(sys.argv[2]) as package:
        if sys.argv[1] == "check":
            check(sys.argv[2], package)
        elif sys.argv[1] == "digest":
            print(hashlib.sha256(package.read(NAME)).hexdigest())
        else:
            fetched(sys.argv[2], package, sys.argv[3:])
