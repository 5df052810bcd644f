"""Writes the benchmark's movie files: QuickTime movies complete enough for
general-purpose probes to read, sparse where they are large."""

import os
import struct


def u8(v): return struct.pack(">B", v)
def u16(v): return struct.pack(">H", v)
def u32(v): return struct.pack(">I", v)
def u64(v): return struct.pack(">Q", v)


def box(kind, *parts):
    body = b"".join(parts)
    return u32(8 + len(body)) + kind + body


def full_box(kind, version, flags, *parts):
    return box(kind, u8(version) + struct.pack(">I", flags)[1:], *parts)


MATRIX = u32(0x10000) + u32(0) + u32(0) + u32(0) + u32(0x10000) + u32(0) + u32(0) + u32(0) + u32(0x40000000)
TIMESCALE = 30000
FRAME = 1001  # 29.97 fps


def mvhd(duration, next_track):
    return full_box(b"mvhd", 0, 0, u32(0), u32(0), u32(TIMESCALE), u32(duration), u32(0x10000), u16(0x100),
                    bytes(10), MATRIX, bytes(24), u32(next_track))


def tkhd(track_id, duration, width=0, height=0):
    return full_box(b"tkhd", 0, 3, u32(0), u32(0), u32(track_id), u32(0), u32(duration), bytes(8), u16(0), u16(0),
                    u16(0), u16(0), MATRIX, u32(width << 16), u32(height << 16))


def mdhd(duration):
    return full_box(b"mdhd", 0, 0, u32(0), u32(0), u32(TIMESCALE), u32(duration), u16(0x55C4), u16(0))


def hdlr(component, subtype, name):
    return full_box(b"hdlr", 0, 0, component, subtype, bytes(12), u8(len(name)), name)


def dinf():
    return box(b"dinf", full_box(b"dref", 0, 0, u32(1), full_box(b"url ", 0, 1)))


def video_entry():
    return box(b"raw ", bytes(6), u16(1), bytes(16), u16(64), u16(36), u32(0x480000), u32(0x480000), u32(0),
               u16(1), bytes(32), u16(24), u16(0xFFFF))


def timecode_entry():
    # reserved, flags (drop frame), time scale, frame duration, frames per second, reserved
    return box(b"tmcd", bytes(6), u16(1), u32(0), u32(1), u32(TIMESCALE), u32(FRAME), u8(30), u8(0))


def stbl(entry, size, chunk_offsets):
    """One sample per chunk, all of the same size, at the given offsets."""
    count = len(chunk_offsets)
    wide = any(o >= 1 << 32 for o in chunk_offsets)
    offsets = b"".join(u64(o) if wide else u32(o) for o in chunk_offsets)
    return box(b"stbl",
               full_box(b"stsd", 0, 0, u32(1), entry),
               full_box(b"stts", 0, 0, u32(1), u32(count), u32(FRAME)),
               full_box(b"stsc", 0, 0, *([u32(1), u32(1), u32(1), u32(1)] if count else [u32(0)])),
               full_box(b"stsz", 0, 0, u32(0), u32(count), u32(size) * count),
               full_box(b"co64" if wide else b"stco", 0, 0, u32(len(chunk_offsets)), offsets))


def video_track(track_id, size, chunk_offsets):
    duration = len(chunk_offsets) * FRAME
    vmhd = full_box(b"vmhd", 0, 1, bytes(8))
    return box(b"trak", tkhd(track_id, duration, 64, 36),
               box(b"mdia", mdhd(duration), hdlr(b"mhlr", b"vide", b"Video"),
                   box(b"minf", vmhd, hdlr(b"dhlr", b"url ", b"Data"), dinf(),
                       stbl(video_entry(), size, chunk_offsets))))


def timecode_track(track_id, duration, offsets):
    gmhd = box(b"gmhd", full_box(b"gmin", 0, 0, u16(0x40), bytes(6), u16(0), u16(0)),
               box(b"tmcd", full_box(b"tcmi", 0, 0, u16(0), u16(0), u16(12), u16(0), bytes(6), bytes(6), b"\x00")))
    return box(b"trak", tkhd(track_id, duration), box(b"mdia", mdhd(duration), hdlr(b"mhlr", b"tmcd", b"Timecode"),
               box(b"minf", gmhd, hdlr(b"dhlr", b"url ", b"Data"), dinf(),
                   stbl(timecode_entry(), 4, offsets))))


START_FRAME = 107892  # 01:00:00;00 at 29.97 drop-frame


def movie(tracks_of, duration, next_track):
    return box(b"moov", mvhd(duration, next_track), *tracks_of)


def write_sparse(path, pieces, size):
    """pieces: (offset, bytes); the rest of the file is a hole."""
    with open(path, "wb") as f:
        f.truncate(size)
        for offset, data in pieces:
            f.seek(offset)
            f.write(data)


def ftyp():
    return box(b"ftyp", b"qt  ", u32(0x200), b"qt  ")


def media_header(size):
    """A 64-bit mdat header covering `size` bytes of data."""
    return b"\x00\x00\x00\x01mdat" + u64(16 + size)


def tracks_movie(path, video_tracks, video_count, video_size, data_size):
    """ftyp, one large mdat, moov at the end; video samples spread over the
    data, the timecode sample at its end."""
    head = ftyp()
    data_start = len(head) + 16
    stride = data_size // (video_tracks * video_count + 1)
    tracks = []
    for t in range(video_tracks):
        offsets = [data_start + (t * video_count + i) * stride for i in range(video_count)]
        tracks.append(video_track(t + 1, video_size, offsets))
    timecode_offset = data_start + data_size - 4
    tc_id = video_tracks + 1
    tc = timecode_track(tc_id, video_count * FRAME, [timecode_offset])
    tracks[0] = box(b"trak", tracks[0][8:], box(b"tref", box(b"tmcd", u32(tc_id))))
    moov = movie(tracks + [tc], video_count * FRAME, tc_id + 1)
    size = data_start + data_size + len(moov)
    write_sparse(path, [(0, head + media_header(data_size)), (timecode_offset, u32(START_FRAME)),
                        (data_start + data_size, moov)], size)


def fragmented_movie(path, fragments):
    """Empty moov with mvex, then moof/mdat pairs; the timecode sample is in the first."""
    trex = lambda tid, size: full_box(b"trex", 0, 0, u32(tid), u32(1), u32(FRAME), u32(size), u32(0))
    moov = box(b"moov", mvhd(0, 3), video_track(1, 0, []), timecode_track(2, 0, []),
               box(b"mvex", trex(1, 1000), trex(2, 4)))
    out = bytearray(ftyp() + moov)

    def moof(n, data_at):
        """Fragment n; its runs' data offsets count from the moof (default-base-is-moof)."""
        traf = lambda tid, offset: box(b"traf", full_box(b"tfhd", 0, 0x20000, u32(tid)),
                                       full_box(b"tfdt", 1, 0, u64(n * FRAME)),
                                       full_box(b"trun", 0, 1, u32(1), u32(offset)))
        trafs = [traf(1, data_at)] + ([traf(2, data_at + 1000)] if n == 0 else [])
        return box(b"moof", full_box(b"mfhd", 0, 0, u32(n + 1)), *trafs)

    for n in range(fragments):
        # Box sizes do not depend on the offsets in them: a first pass finds the data.
        data_at = len(moof(n, 0)) + 8
        payload = bytes(1000) + (u32(START_FRAME) if n == 0 else b"")
        out += moof(n, data_at) + box(b"mdat", payload)
    with open(path, "wb") as f:
        f.write(out)


def generate(folder):
    """Writes the four benchmark movies into folder; returns (name, path, expected) triples."""
    os.makedirs(folder, exist_ok=True)
    files = [
        ("small", "small.mov", lambda p: tracks_movie(p, 1, 30, 100, 30 * 1000)),
        ("long: 2x1M video samples, moov last", "long.mov",
         lambda p: tracks_movie(p, 2, 1_000_000, 1000, 2_000_000_000)),
        ("over 4 GiB, co64, moov last", "large.mov", lambda p: tracks_movie(p, 1, 300, 1000, 5 << 30)),
        ("fragmented: 3000 fragments", "fragmented.mp4", lambda p: fragmented_movie(p, 3000)),
    ]
    out = []
    for name, file_name, make in files:
        path = os.path.join(folder, file_name)
        if not os.path.exists(path):
            make(path)
        out.append((name, path, START_FRAME))
    return out
