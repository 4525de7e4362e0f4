"""Builds the zip archives the unzip32 tests read, with Python's zipfile and,
for the hostile ones, by patching the bytes zipfile wrote.

Usage: make_archives.py KIND OUT [SOURCE_FOLDER]
"""
import io
import os
import struct
import sys
import zipfile
import zlib


def tree_entries(source):
    """(archive name, path or None for a folder) for a folder, sorted."""
    result = []
    for folder, dirs, files in os.walk(source):
        dirs.sort()
        rel = os.path.relpath(folder, source)
        if rel != "." and not files and not dirs:
            result.append((rel.replace(os.sep, "/") + "/", None))
        for name in sorted(files):
            path = os.path.join(folder, name)
            result.append((os.path.relpath(path, source).replace(os.sep, "/"), path))
    return result


def write_tree(zf, source, stored=(), **open_args):
    """Every file and empty folder of source; names ending in one of stored
    are stored, as a packer stores what is compressed already."""
    for name, path in tree_entries(source):
        if path is None:
            zf.writestr(zipfile.ZipInfo(name), b"")
            continue
        info = zipfile.ZipInfo.from_file(path, name)
        info.compress_type = zipfile.ZIP_STORED if name.endswith(stored) else zf.compression
        with open(path, "rb") as src, zf.open(info, "w", **open_args) as dst:
            dst.write(src.read())


class Unseekable(io.RawIOBase):
    """A stream zipfile cannot seek in, as a pipe: entries get data descriptors."""

    def __init__(self, target):
        self.target = target

    def writable(self):
        return True

    def seekable(self):
        return False

    def tell(self):
        raise OSError("not seekable")

    def write(self, data):
        return self.target.write(data)


def build_tree_archive(kind, out, source):
    if kind == "stored":
        with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as zf:
            write_tree(zf, source)
    elif kind == "deflated":
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zf:
            write_tree(zf, source)
    elif kind == "bzip2":
        with zipfile.ZipFile(out, "w", zipfile.ZIP_BZIP2) as zf:
            write_tree(zf, source)
    elif kind == "pipe":
        with open(out, "wb") as raw:
            with zipfile.ZipFile(Unseekable(raw), "w", zipfile.ZIP_DEFLATED) as zf:
                write_tree(zf, source)
    elif kind == "zip64":
        # Every size, offset and count goes through the zip64 records.
        zipfile.ZIP64_LIMIT = 0
        zipfile.ZIP_FILECOUNT_LIMIT = 0
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zf:
            write_tree(zf, source, force_zip64=True)
    elif kind == "commented":
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zf:
            write_tree(zf, source)
            zf.comment = "Morvane package\nsecond line".encode()
    elif kind == "after-stub":
        # A self-extractor's program before the archive, its offsets counted
        # from the start of the file.
        with open(out, "wb") as f:
            f.write(b"#!/bin/sh\necho a self-extracting stub\nexit 0\n" + bytes(1000))
        with zipfile.ZipFile(out, "a", zipfile.ZIP_DEFLATED) as zf:
            write_tree(zf, source)
    elif kind == "end-record-in-comment":
        # A comment that holds the end record's signature, hundreds of times
        # followed by a comment length that fits in the file, and by numbers
        # that locate no directory.
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zf:
            write_tree(zf, source)
            zf.comment = b"PK\x05\x06 starts an end record; " * 1000
    elif kind == "zips-stored":
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zf:
            write_tree(zf, source, stored=(".zip",))
    elif kind == "zip-after-its-older-version":
        zip_after_its_older_version(out, source)
    else:
        raise SystemExit("unknown kind " + kind)


def small_zip(content):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_STORED) as zf:
        zf.writestr(zipfile.ZipInfo("a.txt", (2024, 1, 2, 3, 4, 6)), content)
    return buffer.getvalue()


def directory_offset(archive):
    return struct.unpack_from("<I", archive, len(archive) - 6)[0]


def zip_after_its_older_version(out, source):
    """The tree between two versions of one small template zip, both stored:
    the older first, the newer last, made so that the newer one's directory
    offset, read as an offset of the whole package, falls on the older one's
    directory. Both zips are left in source as well."""
    older = small_zip(b"older template\n")
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zf:
        first = zipfile.ZipInfo("templates/older.zip", (2024, 1, 2, 3, 4, 6))
        zf.writestr(first, older, zipfile.ZIP_STORED)
        data = first.header_offset + 30 + len(first.filename) + len(first.extra)
        older_directory = data + directory_offset(older)
        write_tree(zf, source)
        # Its entry's data runs up to where the older directory lies.
        newer = small_zip(b"n" * (older_directory - 30 - len("a.txt")))
        assert directory_offset(newer) == older_directory
        zf.writestr(zipfile.ZipInfo("templates/newer.zip", (2024, 1, 2, 3, 4, 6)), newer,
                    zipfile.ZIP_STORED)
    os.makedirs(os.path.join(source, "templates"))
    for name, archive in (("older.zip", older), ("newer.zip", newer)):
        with open(os.path.join(source, "templates", name), "wb") as f:
            f.write(archive)


def symlink_info(name, target_mode=0o120777):
    info = zipfile.ZipInfo(name)
    info.create_system = 3
    info.external_attr = target_mode << 16
    return info


def write_entries(out, entries, compression=zipfile.ZIP_DEFLATED):
    with zipfile.ZipFile(out, "w", compression) as zf:
        for entry in entries:
            if isinstance(entry[0], zipfile.ZipInfo):
                info = entry[0]
                info.compress_type = compression
                zf.writestr(info, entry[1])
            else:
                zf.writestr(entry[0], entry[1])


def patch(out, edit):
    with open(out, "rb") as f:
        data = bytearray(f.read())
    edit(data)
    with open(out, "wb") as f:
        f.write(data)


def headers(data, signature):
    """Offsets of every record with the signature."""
    offsets = []
    start = 0
    while True:
        found = data.find(signature, start)
        if found < 0:
            return offsets
        offsets.append(found)
        start = found + 4


def set_crc(data, value):
    for offset in headers(data, b"PK\x03\x04"):
        struct.pack_into("<I", data, offset + 14, value)
    for offset in headers(data, b"PK\x01\x02"):
        struct.pack_into("<I", data, offset + 16, value)


def set_size(data, value):
    for offset in headers(data, b"PK\x03\x04"):
        struct.pack_into("<I", data, offset + 22, value)
    for offset in headers(data, b"PK\x01\x02"):
        struct.pack_into("<I", data, offset + 24, value)


GOOD = b"good data " * 100


def duplicate_central_record(data, new_name):
    """Adds a second directory entry that points at the first entry's data."""
    central = headers(data, b"PK\x01\x02")[0]
    end = headers(data, b"PK\x05\x06")[-1]
    name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, central + 28)
    record = bytearray(data[central:central + 46 + name_len + extra_len + comment_len])
    assert len(new_name) == name_len
    record[46:46 + name_len] = new_name
    count = struct.unpack_from("<H", data, end + 10)[0]
    size = struct.unpack_from("<I", data, end + 12)[0]
    tail = bytes(data[end:])
    del data[end:]
    data.extend(record)
    data.extend(tail)
    end += len(record)
    struct.pack_into("<HH", data, end + 8, count + 1, count + 1)
    struct.pack_into("<I", data, end + 12, size + len(record))


def zipcrypto_step(crc, byte):
    """One step of the CRC-32 the traditional zip encryption keys run on."""
    return zlib.crc32(bytes([byte]), crc ^ 0xFFFFFFFF) ^ 0xFFFFFFFF


class ZipCryptoKeys:
    """The traditional zip encryption's three keys, set up from a password."""

    def __init__(self, password):
        self.keys = [0x12345678, 0x23456789, 0x34567890]
        for byte in password:
            self.update(byte)

    def update(self, byte):
        k0 = zipcrypto_step(self.keys[0], byte)
        k1 = ((self.keys[1] + (k0 & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        self.keys = [k0, k1, zipcrypto_step(self.keys[2], k1 >> 24)]

    def stream_byte(self):
        temp = (self.keys[2] | 2) & 0xFFFF
        return ((temp * (temp ^ 1)) >> 8) & 0xFF

    def encrypt(self, data):
        out = bytearray()
        for byte in data:
            out.append(byte ^ self.stream_byte())
            self.update(byte)
        return bytes(out)

    def decrypt(self, data):
        out = bytearray()
        for byte in data:
            plain = byte ^ self.stream_byte()
            out.append(plain)
            self.update(plain)
        return bytes(out)


def encrypted_stored_entry(name, data, password, also_passes=None):
    """(local record, central record without its offset) of a stored entry
    under traditional encryption. With also_passes, the 12-byte header is
    picked (from a fixed seed) so that that other password passes the
    entry's check byte too, as one header in 256 does by chance."""
    import random
    crc = zlib.crc32(data)
    chooser = random.Random(7)
    while True:
        header = bytes(chooser.randrange(256) for _ in range(11)) + bytes([crc >> 24])
        sealed = ZipCryptoKeys(password.encode()).encrypt(header + data)
        if also_passes is None or \
                ZipCryptoKeys(also_passes.encode()).decrypt(sealed[:12])[11] == crc >> 24:
            break
    fields = struct.pack("<HHHHHIIIHH", 20, 1, 0, 0, 0x21, crc, len(sealed), len(data),
                         len(name), 0)
    local = b"PK\x03\x04" + fields + name.encode() + sealed
    return local, fields


def write_encrypted(out, entries):
    """A zip of stored entries under traditional encryption, written by hand:
    (name, data, password, other password that passes its check or None)."""
    body = b""
    central = b""
    for name, data, password, also_passes in entries:
        local, fields = encrypted_stored_entry(name, data, password, also_passes)
        central += (b"PK\x01\x02" + struct.pack("<H", 20) + fields +
                    struct.pack("<HHHII", 0, 0, 0, 0, len(body)) + name.encode())
        body += local
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central),
                      len(body), 0)
    with open(out, "wb") as f:
        f.write(body + central + end)


def record_fields(method, data, stored, name):
    """The fields a local and a central record share, from "version needed"
    to the extra-field length, of an entry whose data is stored as stored."""
    return struct.pack("<HHHHHIIIHH", 20, 0, method, 0, 0x21, zlib.crc32(data), len(stored),
                       len(data), len(name), 0)


def local_record(method, data, stored, name):
    return b"PK\x03\x04" + record_fields(method, data, stored, name) + name + stored


def central_record(method, data, stored, name, offset):
    return (b"PK\x01\x02" + struct.pack("<H", 20) + record_fields(method, data, stored, name) +
            struct.pack("<HHHII", 0, 0, 0, 0, offset) + name)


def end_record(count, directory, offset, disk=0, comment=b""):
    return struct.pack("<IHHHHIIH", 0x06054B50, disk, disk, count, count, len(directory),
                       offset, len(comment)) + comment


def deflated(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


MEGABYTE_OF_ZEROS = bytes(1 << 20)


def two_end_records(out, disk_of_decoy, bomb_names):
    """The overlap bomb (20 central records pointing at one deflated megabyte
    of zeros) followed by a decoy: 20 small entries, their own directory and a
    second end record, last in the file. A reader that takes the last end
    record checks the decoy; libzip extracts the bomb, either because the
    decoy's end record claims another disk (disk_of_decoy) or because the
    bomb's records all carry the local header's name and so pass libzip's
    consistency score, which then prefers the bomb's longer span."""
    packed = deflated(MEGABYTE_OF_ZEROS)
    body = local_record(8, MEGABYTE_OF_ZEROS, packed, bomb_names[0])
    bomb = b"".join(central_record(8, MEGABYTE_OF_ZEROS, packed, name, 0) for name in bomb_names)
    body += bomb + end_record(len(bomb_names), bomb, len(body))
    decoy = b""
    for i in range(len(bomb_names)):
        name = b"d%02d.txt" % i
        decoy += central_record(0, b"x", b"x", name, len(body))
        body += local_record(0, b"x", b"x", name)
    body += decoy + end_record(len(bomb_names), decoy, len(body), disk_of_decoy)
    with open(out, "wb") as f:
        f.write(body)


def build_hostile(kind, out):
    if kind == "password-by-chance":
        # two.txt is under another password, which the first one passes.
        write_encrypted(out, [("one.txt", b"one\n", "right", None),
                              ("two.txt", b"second entry\n" * 20, "other", "right")])
    elif kind == "empty":
        zipfile.ZipFile(out, "w").close()
    elif kind == "dated":
        folder = zipfile.ZipInfo("folder/", (2024, 3, 5, 14, 30, 58))
        text = zipfile.ZipInfo("folder/hello.txt", (2024, 3, 5, 14, 30, 58))
        link = symlink_info("link")
        link.date_time = (2023, 12, 31, 23, 59, 0)
        write_entries(out, [(folder, b""), (text, b"hello\n"), (link, b"folder/hello.txt")])
    elif kind == "dotdot":
        write_entries(out, [("ok.txt", b"fine"), ("../escaped.txt", b"evil"),
                            ("sub/../../escaped2.txt", b"evil")])
    elif kind == "absolute":
        write_entries(out, [("ok.txt", b"fine"), ("/tmp/unzip32-absolute-escape.txt", b"evil")])
    elif kind == "backslash":
        write_entries(out, [("ok.txt", b"fine"), ("..\\escaped.txt", b"evil"),
                            ("sub\\inner.txt", b"inside")])
    elif kind == "drive":
        write_entries(out, [("ok.txt", b"fine"), ("C:/escaped.txt", b"evil"),
                            ("c:escaped.txt", b"evil")])
    elif kind == "symlink-out":
        write_entries(out, [(symlink_info("link"), b"../outside"),
                            ("link/escaped.txt", b"evil"),
                            (symlink_info("abs"), b"/etc"),
                            (symlink_info("climb"), b"inner/../../x"),
                            (symlink_info("inside"), b"sub/target.txt"),
                            ("sub/target.txt", b"target")],
                      zipfile.ZIP_STORED)
    elif kind == "symlink-in-then-file":
        write_entries(out, [("sub/keep.txt", b"keep"), (symlink_info("alias"), b"sub"),
                            ("alias/through.txt", b"through a link")], zipfile.ZIP_STORED)
    elif kind == "bad-crc":
        write_entries(out, [("same.txt", GOOD)])
        patch(out, lambda data: set_crc(data, zlib.crc32(GOOD) ^ 0x5A5A5A5A))
    elif kind == "bad-crc-many":
        # More damaged entries in a row than the writing thread has buffers.
        write_entries(out, [("bad%d.txt" % i, GOOD) for i in range(6)])
        patch(out, lambda data: set_crc(data, zlib.crc32(GOOD) ^ 0x5A5A5A5A))
    elif kind == "flipped":
        payload = bytes((i * 7919 + i // 3) % 251 for i in range(20000))
        write_entries(out, [("same.txt", payload)])

        def flip(data):
            local = headers(data, b"PK\x03\x04")[0]
            name_len, extra_len = struct.unpack_from("<HH", data, local + 26)
            start = local + 30 + name_len + extra_len
            size = struct.unpack_from("<I", data, local + 18)[0]
            data[start + size // 2] ^= 0x55

        patch(out, flip)
    elif kind == "oversize":
        # Declares 100 bytes; inflates to 1000.
        write_entries(out, [("same.txt", GOOD)])
        patch(out, lambda data: set_size(data, 100))
    elif kind == "undersize":
        write_entries(out, [("same.txt", GOOD)])
        patch(out, lambda data: set_size(data, len(GOOD) + 50))
    elif kind == "overlap-same-data":
        write_entries(out, [("aaaa.txt", GOOD)])
        patch(out, lambda data: duplicate_central_record(data, b"aaaa.txt"))
    elif kind == "overlap-covering":
        # The first entry's data is declared to run over the whole second entry.
        write_entries(out, [("first.txt", b"first"), ("second.txt", GOOD)], zipfile.ZIP_STORED)

        def cover(data):
            first, second = headers(data, b"PK\x03\x04")[:2]
            central = headers(data, b"PK\x01\x02")[0]
            start = first + 30 + sum(struct.unpack_from("<HH", data, first + 26))
            size = central - start
            for offset in (first + 18, first + 22, central + 20, central + 24):
                struct.pack_into("<I", data, offset, size)

        patch(out, cover)
    elif kind == "two-end-records-other-disk":
        two_end_records(out, 1, [b"bomb%02d.txt" % i for i in range(20)])
    elif kind == "two-end-records-both-whole":
        two_end_records(out, 0, [b"bomb.txt"] * 20)
    else:
        raise SystemExit("unknown kind " + kind)


def main():
    kind, out = sys.argv[1], sys.argv[2]
    if len(sys.argv) > 3:
        build_tree_archive(kind, out, sys.argv[3])
    else:
        build_hostile(kind, out)


if __name__ == "__main__":
    main()
