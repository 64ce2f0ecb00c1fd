#!/usr/bin/python3
"""Splices the chunks of Windows event logs, given TIMES over, into one
log: a large log of real events for benchmarks (the shared samples hold
under 1,000 events).

The first log's header is kept, with the chunk count and the last chunk
set, marked clean and its checksum made again. Chunks are whole and keep
their own record ids, so ids repeat across the copies. At most 65,535
chunks (4 GiB).

Usage: bench/splice_evtx.py OUT TIMES LOG...
"""

import struct
import sys
import zlib

CHUNK = 65536
HEADER = 4096


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    out, times, logs = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    chunks = []
    for log in logs:
        with open(log, "rb") as f:
            data = f.read()
        if not data.startswith(b"ElfFile\0") or len(data) < HEADER:
            sys.exit("%s: not a Windows event log" % log)
        count = struct.unpack_from("<H", data, 42)[0]
        kept = 0
        for i in range(count):
            chunk = data[HEADER + i * CHUNK:HEADER + (i + 1) * CHUNK]
            if len(chunk) == CHUNK and chunk.startswith(b"ElfChnk\0"):
                chunks.append(chunk)
                kept += 1
        if kept < count:
            print("%s: %d of its %d chunks are not whole, left out" %
                  (log, count - kept, count), file=sys.stderr)
    chunks *= times
    if not chunks or len(chunks) > 0xFFFF:
        sys.exit("%d chunks: a log holds 1 to 65,535" % len(chunks))
    with open(logs[0], "rb") as f:
        header = bytearray(f.read(HEADER))
    struct.pack_into("<QQ", header, 8, 0, len(chunks) - 1)
    struct.pack_into("<H", header, 42, len(chunks))
    struct.pack_into("<I", header, 120, 0)  # flags: clean
    struct.pack_into("<I", header, 124, zlib.crc32(bytes(header[:120])))
    with open(out, "wb") as f:
        f.write(header)
        for chunk in chunks:
            f.write(chunk)
    print("%s: %d chunks" % (out, len(chunks)))


if __name__ == "__main__":
    main()
