#!/usr/bin/python3
"""Makes and reads tagged sound files with mutagen, the independent oracle of the tag tests.

  dump FILE                  what mutagen reads, one line per value, sorted
  frames FILE                the ID3v2 frames as stored (not brought to version 2.4), one line each
  id3 FILE VERSION           writes a rich ID3v2 tag (8-bit text, every encoding, picture, lyrics)
  id3-compressed FILE VER    writes an ID3v2 tag whose frames are zlib-compressed
  id3v1 FILE [GENRE]         writes an ID3v1 tag only, in ISO-8859-1, with a genre number
  id3v1-comment-tail FILE    writes an ID3v1.0 tag whose 30-byte comment ends in " 5"
  legacy-titles DIR CODEC HEX...
                             for each title (hex of its UTF-8), DIR/N.mp3 with the title's bytes in
                             CODEC as ID3v2.3 8-bit text and as the ID3v1 title (its first 30 bytes);
                             prints, one line each, the hex of the ID3v1 title as CODEC reads it
  id3v1-blocks FILE          reads each 128-byte ID3v1 block of FILE as mutagen parses an ID3v1 tag;
                             prints, one line each, the hex of the title and of the comment in
                             UTF-8 and the track number (0 for none)
  id3v22 FILE                writes an ID3v2.2 tag with iTunes frames and frames 2.3 has no name for
  id3-compressed-many FILE N writes an ID3v2.3 tag of N compressed TXXX frames each declaring 16 MiB
  id3-bomb FILE N            writes an ID3v2.3 tag of N compressed frames each inflating to 1 MiB
  id3-v24-only FILE          writes an ID3v2.4 tag with dates to the second and frames only 2.4 has
  ogg-big FILE SIZE          adds a cover picture and a comment of SIZE bytes to an Ogg Vorbis file
  asf-big FILE SIZE          adds lyrics of SIZE characters to a WMA file
  asf-track FILE NUMBER      stores a WMA file's track number as a double word
  crlf-long FILE SIZE        gives an Ogg Vorbis or WMA file the title "Old", a comment and lyrics
                             with CRLF line ends and an album of SIZE characters
  vorbis-comments FILE ITEM...  gives an Ogg Vorbis file exactly these comments (NAME=value), in
                             this order; in an ITEM "\\0" stands for a zero byte, "\\\\" for "\\"
  asf-set FILE NAME=VALUE... sets WMA attributes as mutagen places them (long values in the
                             metadata library)
  values FILE NAME           each value of NAME (any case) in UTF-8, hex-encoded, one line each
  length FILE                the play time in seconds
"""
import base64
import re
import struct
import sys
import zlib

import mutagen
from mutagen import id3
from mutagen.oggvorbis import OggVorbis


def dump(path):
    f = mutagen.File(path)
    lines = []
    if f is not None and f.tags is not None:
        if isinstance(f.tags, id3.ID3):
            lines.append("version=%d.%d" % f.tags.version[:2])
            for frame in f.tags.values():
                enc = getattr(frame, "encoding", None)
                if enc is not None and f.tags.version[1] < 4 and int(enc) > 1:
                    lines.append("invalid-encoding=" + frame.HashKey)
                if isinstance(frame, id3.APIC):
                    lines.append("APIC:%s=%s %d %s" % (frame.desc, frame.mime, frame.type,
                                                       zlib.crc32(frame.data)))
                else:
                    lines.append(frame.HashKey + "=" + repr(frame._pprint() if hasattr(frame, "_pprint")
                                                             else frame.pprint()))
        else:
            for key, values in f.tags.items():
                for value in values:
                    value = str(value)
                    if len(value) > 200:
                        value = "%d chars, crc %d" % (len(value), zlib.crc32(value.encode()))
                    lines.append(key.lower() + "=" + repr(value))
    print("\n".join(sorted(lines)))


def frames(path):
    tags = id3.ID3(path, translate=False)
    print("\n".join(sorted("%s=%r" % (f.FrameID, f._pprint()) for f in tags.values())))


def id3_tag(path, version):
    tags = id3.ID3()
    tags.add(id3.TIT2(encoding=0, text="Die Ärzte"))
    tags.add(id3.TPE1(encoding=0, text="Motörhead"))
    tags.add(id3.TCOP(encoding=0, text="© 1998"))
    tags.add(id3.TALB(encoding=3, text="Album ü 日本"))
    tags.add(id3.TRCK(encoding=0, text="7/12"))
    tags.add(id3.TCON(encoding=0, text="(17)Rock"))
    tags.add(id3.TDRC(encoding=0, text="2001-05-12"))
    tags.add(id3.TXXX(encoding=3, desc="Ünïcode key", text="värde 日本"))
    tags.add(id3.USLT(encoding=3, lang="deu", desc="", text="Lyrics ö 日本"))
    tags.add(id3.COMM(encoding=2 if version == 4 else 1, lang="eng", desc="", text="Comment é"))
    tags.add(id3.COMM(encoding=3, lang="eng", desc="iTunNORM", text=" 0001"))
    tags.add(id3.APIC(encoding=3, mime="image/png", type=3, desc="Cover ß", data=b"\x89PNG" + bytes(range(256)) * 8))
    tags.add(id3.WXXX(encoding=3, desc="Ort", url="http://example.com/x"))
    tags.save(path, v2_version=version)


def id3v1_tag(path, genre=None):
    tags = id3.ID3()
    if genre is not None:
        tags.add(id3.TCON(encoding=0, text="(%d)" % genre))
    tags.add(id3.TIT2(encoding=0, text="Die Ärzte"))
    tags.add(id3.TPE1(encoding=0, text="Motörhead"))
    # 30 characters whose CP932 form would need more than the field's 30 bytes.
    tags.add(id3.TALB(encoding=0, text="© 1998 Ñandú " + "£" * 17))
    tags.add(id3.COMM(encoding=0, lang="eng", desc="", text="Ça va"))
    tags.add(id3.TRCK(encoding=0, text="3"))
    tags.save(path, v1=2)
    id3.delete(path, delete_v1=False, delete_v2=True)


def legacy_titles(folder, codec, titles):
    for n, title in enumerate(titles):
        raw = bytes.fromhex(title).decode().encode(codec)
        path = "%s/%d.mp3" % (folder, n)
        open(path, "wb").close()
        tags = id3.ID3()
        # mutagen writes 8-bit text as ISO-8859-1: the characters of the bytes' values give the bytes.
        tags.add(id3.TIT2(encoding=0, text=raw.decode("latin-1")))
        tags.save(path, v1=2, v2_version=3)
        # A field cut inside a character keeps the whole ones before the cut.
        print(raw[:30].decode(codec, errors="ignore").encode().hex())


def frame(version, fid, body, flags):
    size = struct.pack(">I", len(body)) if version == 3 else bytes(
        (len(body) >> s) & 0x7F for s in (21, 14, 7, 0))
    return fid.encode() + size + struct.pack(">H", flags) + body


def id3_compressed(path, version):
    frames = b""
    for fid, text in (("TIT2", "Compressed title"), ("TALB", "Compressed album")):
        data = b"\x00" + text.encode("latin-1")
        if version == 3:
            body, flags = struct.pack(">I", len(data)) + zlib.compress(data), 0x0080
        else:
            length = bytes((len(data) >> s) & 0x7F for s in (21, 14, 7, 0))
            body, flags = length + zlib.compress(data), 0x0009
        frames += frame(version, fid, body, flags)
    frames += frame(version, "TPE1", b"\x00Plain artist", 0)
    frames += b"\x00" * 64
    size = bytes((len(frames) >> s) & 0x7F for s in (21, 14, 7, 0))
    with open(path, "rb") as f:
        audio = f.read()
    with open(path, "wb") as f:
        f.write(b"ID3" + bytes([version, 0, 0]) + size + frames + audio)


def id3v1_comment_tail(path):
    """ID3v1.0: the comment fills all 30 bytes, and its last two are a blank and a digit."""
    id3v1_tag(path)
    with open(path, "r+b") as f:
        f.seek(-128 + 97, 2)
        f.write(b"Live at the Roxy, second set 5")


def prepend_tag(path, version, frames, padding=64):
    frames += b"\x00" * padding
    size = bytes((len(frames) >> s) & 0x7F for s in (21, 14, 7, 0))
    with open(path, "rb") as f:
        audio = f.read()
    with open(path, "wb") as f:
        f.write(b"ID3" + bytes([version, 0, 0]) + size + frames + audio)


def id3v22(path):
    def frame22(fid, body):
        return fid.encode() + struct.pack(">I", len(body))[1:] + body
    prepend_tag(path, 2, frame22("TT2", b"\x00Old title") + frame22("TP1", b"\x00Artist") +
                frame22("TCP", b"\x001") + frame22("TST", b"\x00Sort title") +
                frame22("TSP", b"\x00Sort artist") + frame22("TZZ", b"\x00Private text") +
                frame22("WZZ", b"http://example.com/z") + frame22("XYZ", b"opaque bytes"))


def id3_compressed_many(path, count):
    frames = frame(3, "TIT2", b"\x00Plain title", 0)
    for i in range(count):
        data = b"\x00Key %d\x00Value %d" % (i, i)
        frames += frame(3, "TXXX", struct.pack(">I", 16 << 20) + zlib.compress(data), 0x0080)
    frames += frame(3, "TPE1", b"\x00Plain artist", 0)
    prepend_tag(path, 3, frames)


def id3_bomb(path, count):
    frames = b""
    for i in range(count):
        data = b"\x00Key %d\x00" % i + b"z" * (1 << 20)
        frames += frame(3, "TXXX", struct.pack(">I", len(data)) + zlib.compress(data, 9), 0x0080)
    frames += frame(3, "TIT2", b"\x00Title after the bomb", 0)
    prepend_tag(path, 3, frames)


def id3_v24_only(path):
    tags = id3.ID3()
    tags.add(id3.TIT2(encoding=0, text="Dated"))
    tags.add(id3.TDRC(encoding=0, text="1987-11-23T22:15:30"))
    tags.add(id3.TDOR(encoding=0, text="1985-02-01"))
    tags.add(id3.TSOP(encoding=0, text="Beatles, The"))
    tags.add(id3.TMOO(encoding=3, text="calm ☾"))
    tags.add(id3.TIPL(encoding=0, people=[["producer", "George Martin"]]))
    tags.save(path, v2_version=4)


def png(filler):
    """A 1x1 PNG with a text chunk of filler bytes."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0)) +
            chunk(b"tEXt", b"Filler\0" + b"f" * filler) + chunk(b"IDAT", zlib.compress(b"\0\0")) +
            chunk(b"IEND", b""))


def ogg_big(path, size):
    f = OggVorbis(path)
    picture = mutagen.flac.Picture()
    picture.type = 3
    picture.mime = "image/png"
    picture.data = png(size // 2)
    f["METADATA_BLOCK_PICTURE"] = [base64.b64encode(picture.write()).decode("ascii")]
    f["LONGNOTE"] = ["n" * (size // 2)]
    f["TITLE"] = ["Big Ögg"]
    f.save()


def asf_big(path, size):
    f = mutagen.asf.ASF(path)
    f["WM/Lyrics"] = ["l" * size]
    f.save()


def asf_track(path, number):
    f = mutagen.asf.ASF(path)
    f["WM/TrackNumber"] = [mutagen.asf.ASFDWordAttribute(number)]
    f.save()


def crlf_long(path, size):
    f = mutagen.File(path)
    if isinstance(f, OggVorbis):
        f["TITLE"] = ["Old"]
        f["COMMENT"] = ["first line\r\nsecond line\r\n"]
        f["LYRICS"] = ["la la\r\nla"]
        f["ALBUM"] = ["a" * size]
    else:
        f["Title"] = ["Old"]
        f["Description"] = ["first line\r\nsecond line\r\n"]
        f["WM/Lyrics"] = ["la la\r\nla"]
        f["WM/AlbumTitle"] = ["a" * size]
    f.save()


def unescape(item):
    return re.sub(r"\\(.)", lambda m: "\0" if m.group(1) == "0" else m.group(1), item)


def vorbis_comments(path, items):
    f = OggVorbis(path)
    f.tags.clear()
    for item in items:
        name, value = unescape(item).split("=", 1)
        f.tags.append((name, value))
    f.save()


def asf_set(path, items):
    f = mutagen.asf.ASF(path)
    for item in items:
        name, value = item.split("=", 1)
        f[name] = [value]
    f.save()


def values(path, name):
    f = mutagen.File(path)
    for key, found in f.tags.items():
        if key.lower() == name.lower():
            for value in found:
                print(str(value).encode("utf-8").hex())


if __name__ == "__main__":
    import mutagen.asf
    import mutagen.flac
    command, path = sys.argv[1], sys.argv[2]
    if command == "dump":
        dump(path)
    elif command == "frames":
        frames(path)
    elif command == "id3":
        id3_tag(path, int(sys.argv[3]))
    elif command == "id3v1":
        id3v1_tag(path, int(sys.argv[3]) if len(sys.argv) > 3 else None)
    elif command == "legacy-titles":
        legacy_titles(path, sys.argv[3], sys.argv[4:])
    elif command == "id3v1-comment-tail":
        id3v1_comment_tail(path)
    elif command == "id3v1-blocks":
        from mutagen.id3._id3v1 import ParseID3v1
        data = open(path, "rb").read()
        for at in range(0, len(data) - 127, 128):
            frames = ParseID3v1(data[at:at + 128])
            text = lambda key: str(frames[key]) if key in frames else ""
            print(text("TIT2").encode().hex() or "-", text("COMM").encode().hex() or "-", text("TRCK") or "0")
    elif command == "id3v22":
        id3v22(path)
    elif command == "id3-compressed-many":
        id3_compressed_many(path, int(sys.argv[3]))
    elif command == "id3-bomb":
        id3_bomb(path, int(sys.argv[3]))
    elif command == "id3-v24-only":
        id3_v24_only(path)
    elif command == "id3-compressed":
        id3_compressed(path, int(sys.argv[3]))
    elif command == "ogg-big":
        ogg_big(path, int(sys.argv[3]))
    elif command == "asf-big":
        asf_big(path, int(sys.argv[3]))
    elif command == "asf-track":
        asf_track(path, int(sys.argv[3]))
    elif command == "crlf-long":
        crlf_long(path, int(sys.argv[3]))
    elif command == "vorbis-comments":
        vorbis_comments(path, sys.argv[3:])
    elif command == "asf-set":
        asf_set(path, sys.argv[3:])
    elif command == "values":
        values(path, sys.argv[3])
    elif command == "length":
        print("%.6f" % mutagen.File(path).info.length)
    else:
        sys.exit("unknown command " + command)
