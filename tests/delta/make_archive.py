"""Makes a zip archive with Python's zipfile and lists what its directory
says of each entry, one line each: name, local header offset, compressed
size, size, CRC-32, method, flags (tab-separated); then "directory" and the
directory's offset. Or reads every entry of each archive, its CRC-32
checked: one line each of the archive's place among those named (from 0),
name, the mode its external attributes give (octal), size and SHA-256 of
the bytes read.

    make_archive.py plain|descriptor|zip64|zip-last ARCHIVE
    make_archive.py list ARCHIVE
    make_archive.py read ARCHIVE...

descriptor: written to a stream that cannot seek, so that every entry's
sizes follow its data in a data descriptor. zip64: the limits lowered so
that the sizes, offsets and the entry count go to the zip64 fields and
records, as they do past 4 GiB and 65,535 entries. zip-last: an empty zip
stored after the other entries, its end record 22 bytes before the
package's directory.
"""
import hashlib
import io
import sys
import zipfile

FILES = [
    ("morvane.manifest", b"morvane-manifest v1\n", zipfile.ZIP_STORED),
    ("a.txt", b"alpha " * 300, zipfile.ZIP_DEFLATED),
    ("folder/", b"", zipfile.ZIP_STORED),
    ("folder/b.bin", bytes(range(256)) * 40, zipfile.ZIP_DEFLATED),
    ("e.txt", b"e", zipfile.ZIP_STORED),
    ("c d%.txt", b"", zipfile.ZIP_STORED),
]

# What every tool writes for an archive without entries: its end record.
EMPTY_ZIP = b"PK\x05\x06" + bytes(18)


class Unseekable(io.RawIOBase):
    def __init__(self, target):
        self.target = target

    def writable(self):
        return True

    def write(self, data):
        return self.target.write(data)


def make(mode, path):
    if mode == "zip64":
        zipfile.ZIP64_LIMIT = 100
        zipfile.ZIP_FILECOUNT_LIMIT = 2
    with open(path, "wb") as raw:
        target = Unseekable(raw) if mode == "descriptor" else raw
        with zipfile.ZipFile(target, "w") as archive:
            last = [("templates/empty.zip", EMPTY_ZIP, zipfile.ZIP_STORED)]
            for name, data, method in FILES + (last if mode == "zip-last" else []):
                info = zipfile.ZipInfo(name, (2026, 12, 8, 12, 0, 0))
                info.compress_type = method
                with archive.open(info, "w", force_zip64=(mode == "zip64")) as entry:
                    entry.write(data)


def listing(path):
    with zipfile.ZipFile(path) as archive:
        for info in archive.infolist():
            print("\t".join(str(value) for value in (
                info.filename, info.header_offset, info.compress_size, info.file_size,
                info.CRC, info.compress_type, info.flag_bits)))
        print("directory\t%d" % archive.start_dir)


def reading(place, path):
    with zipfile.ZipFile(path) as archive:
        for info in archive.infolist():
            data = archive.read(info)
            print("\t".join((str(place), info.filename, "%o" % (info.external_attr >> 16),
                             str(len(data)), hashlib.sha256(data).hexdigest())))


if __name__ == "__main__":
    if sys.argv[1] == "read":
        for place, path in enumerate(sys.argv[2:]):
            reading(place, path)
        sys.exit(0)
    if sys.argv[1] != "list":
        make(sys.argv[1], sys.argv[2])
    listing(sys.argv[2])
