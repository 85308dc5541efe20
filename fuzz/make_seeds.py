#!/usr/bin/env python3
"""Writes small seed archives for the open fuzz target into the folder given.

Single archives come from Python's zipfile; split sets are built here record
by record and packed in the harness's "QVTSPLIT" layout (see
OpenListExtract.h)."""
import io
import os
import struct
import sys
import zipfile
import zlib


def zipfile_seeds(out):
    def save(name, build):
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w") as z:
            build(z)
        with open(os.path.join(out, name), "wb") as f:
            f.write(buf.getvalue())

    save("py-stored.zip", lambda z: (z.writestr("a.txt", "hello\n"), z.writestr("d/", "")))
    save("py-deflated.zip", lambda z: z.writestr(zipfile.ZipInfo("b.txt"), "abc" * 200, zipfile.ZIP_DEFLATED))

    def commented(z):
        z.comment = b"archive comment"
        info = zipfile.ZipInfo("c.txt")
        info.comment = b"item comment"
        info.extra = struct.pack("<HH", 0xCAFE, 5) + b"12345"
        z.writestr(info, "data")
    save("py-comment-extra.zip", commented)

    def zip64(z):
        with z.open("big.bin", "w", force_zip64=True) as f:
            f.write(b"x" * 100)
    save("py-zip64.zip", zip64)
    save("py-utf8.zip", lambda z: z.writestr("ümlaut/ä.txt", "u"))
    save("py-empty.zip", lambda z: None)


def local_header(name, data, crc):
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0x6000, 0x5821, crc,
                       len(data), len(data), len(name), 0) + name + data


def central_header(name, data, crc, disk, offset):
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0x6000, 0x5821, crc,
                       len(data), len(data), len(name), 0, 0, disk, 0, 0x20, offset) + name


def zip64_end(entries, size, offset, disk, start_disk, record_at, markers_everywhere=False):
    """ZIP64 end record, locator and end record (fields in marker form)."""
    z = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, disk, start_disk, entries, entries, size, offset)
    loc = struct.pack("<IIQI", 0x07064B50, disk, record_at, disk + 1)
    this_disk = 0xFFFF if markers_everywhere else disk
    first_disk = 0xFFFF if markers_everywhere else start_disk
    end = struct.pack("<IHHHHIIH", 0x06054B50, this_disk, first_disk, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return z + loc + end


def split_seed(out, name, kind, stub=b""):
    """Three volumes: one item on each of the first two, the directory and
    the end record on the last."""
    items = [(b"one.txt", b"first volume data"), (b"two.txt", b"second volume data")]
    volumes = []
    central = b""
    for disk, (item, data) in enumerate(items):
        crc = zlib.crc32(data)
        prefix = stub if disk == 0 else b""
        volumes.append(prefix + local_header(item, data, crc))
        central += central_header(item, data, crc, disk, len(prefix))
    last = central + struct.pack("<IHHHHIIH", 0x06054B50, 2, 2, 2, 2, len(central), 0, 0)
    packed = b"QVTSPLIT" + bytes([kind | len(volumes)])
    packed += b"".join(struct.pack("<I", len(v)) for v in volumes)
    packed += b"".join(volumes) + last
    with open(os.path.join(out, name), "wb") as f:
        f.write(packed)


def zip64_seeds(out):
    data = b"zip64 records"
    crc = zlib.crc32(data)
    body = local_header(b"z.txt", data, crc)
    central = central_header(b"z.txt", data, crc, 0, 0)
    for name, everywhere in (("zip64-records.zip", False), ("zip64-markers.zip", True)):
        tail = zip64_end(1, len(central), len(body), 0, 0, len(body) + len(central), everywhere)
        with open(os.path.join(out, name), "wb") as f:
            f.write(body + central + tail)


def stub_seed(out):
    data = b"stubbed"
    crc = zlib.crc32(data)
    stub = b"MZ" + b"\0" * 62
    body = local_header(b"s.txt", data, crc)
    central = central_header(b"s.txt", data, crc, 0, 0)  # offsets not counting the stub
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(body), 0)
    with open(os.path.join(out, "stub.bin"), "wb") as f:
        f.write(stub + body + central + end)


if __name__ == "__main__":
    target = sys.argv[1]
    os.makedirs(target, exist_ok=True)
    zipfile_seeds(target)
    split_seed(target, "split3.bin", 0)
    split_seed(target, "split3-letters.bin", 0x40)
    split_seed(target, "split3-stub.bin", 0x80, b"MZ" + b"\0" * 30)
    zip64_seeds(target)
    stub_seed(target)
