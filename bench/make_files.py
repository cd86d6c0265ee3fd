#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Generates the benchmark's files into a scratch folder (skips what is already there).
With --quick, only those of the quick run: the 1 GiB WAV, the MP3 and the moov-first M4A."""
import os
import shutil
import struct
import subprocess
import sys

scratch = sys.argv[1]
quick = "--quick" in sys.argv[2:]
os.makedirs(scratch, exist_ok=True)
os.chdir(scratch)


def ff(*args):
    subprocess.run(["ffmpeg", "-v", "error", "-y", *args], check=True)


def have(name):
    return os.path.exists(name) and os.path.getsize(name) > 0


# Ten minutes of stereo audio with some noise, so that the codecs have real work to do.
if not have("seed.wav"):
    ff("-f", "lavfi", "-i",
       "aevalsrc=0.4*sin(2*PI*440*t)+0.1*random(0)|0.4*sin(2*PI*660*t)+0.1*random(1):s=44100:d=600",
       "-c:a", "pcm_s16le", "seed.wav")


def pcm_of(path):
    """Returns (offset, length) of the data chunk of a canonical ffmpeg WAV."""
    with open(path, "rb") as f:
        data = f.read(4096)
    i = data.index(b"data")
    (n,) = struct.unpack("<I", data[i + 4:i + 8])
    return i + 8, n


# 1 GiB of 16-bit stereo PCM: the seed repeated.
if not have("big.wav"):
    off, n = pcm_of("seed.wav")
    with open("seed.wav", "rb") as f:
        f.seek(off)
        pcm = f.read(n)
    total = 1 << 30
    with open("big.wav", "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", 36 + total) + b"WAVE")
        out.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 2, 44100, 44100 * 4, 4, 16))
        out.write(b"data" + struct.pack("<I", total))
        left = total
        while left:
            piece = pcm[:left]
            out.write(piece)
            left -= len(piece)

if not quick and not have("big.flac"):
    ff("-i", "big.wav", "-c:a", "flac", "-compression_level", "0", "big.flac")

if not quick and not have("big.aiff"):
    ff("-stream_loop", "1", "-i", "seed.wav", "-c:a", "pcm_s16be", "-f", "aiff", "big.aiff")

# About 100 MB of MP3 behind an ID3v2.4 tag with a 500 KB picture and no padding.
if not have("big.mp3"):
    ff("-i", "seed.wav", "-c:a", "libmp3lame", "-b:a", "320k", "-write_xing", "0",
       "-id3v2_version", "0", "seed.mp3")
    ff("-stream_loop", "3", "-i", "seed.mp3", "-c", "copy", "-write_xing", "0",
       "-id3v2_version", "0", "big.mp3")
    from mutagen.id3 import ID3, APIC, TIT2
    tag = ID3()
    tag.add(TIT2(encoding=3, text="Benchmark"))
    # A real PNG of noise (about 500 KB): ffmpeg's MP3 muxer refuses a made-up cover.
    ff("-f", "lavfi", "-i",
       "nullsrc=s=580x580,format=rgb24,geq=r='random(1)*255':g='random(2)*255':b='random(3)*255'",
       "-frames:v", "1", "cover.png")
    with open("cover.png", "rb") as c:
        cover = c.read()
    tag.add(APIC(encoding=0, mime="image/png", type=3, desc="cover", data=cover))
    tag.save("big.mp3", v2_version=4, padding=lambda info: 0)

# About 200 MB of AAC, once with the moov first and once with it last.
if not have("big-moov-last.m4a") or not have("big-moov-first.m4a"):
    ff("-i", "seed.wav", "-c:a", "aac", "-b:a", "256k", "seed.m4a")
    ff("-stream_loop", "9", "-i", "seed.m4a", "-c", "copy", "big-moov-last.m4a")
    ff("-i", "big-moov-last.m4a", "-c", "copy", "-movflags", "+faststart", "big-moov-first.m4a")

if quick:
    sys.exit(0)

# 5,000 small files of all five formats in 50 folders, each carrying a code.
if not os.path.isdir("small"):
    ff("-i", "seed.wav", "-t", "2", "-c:a", "pcm_s16le", "t.wav")
    ff("-i", "t.wav", "-c:a", "pcm_s16be", "-f", "aiff", "t.aiff")
    ff("-i", "t.wav", "-c:a", "flac", "t.flac")
    ff("-i", "t.wav", "-c:a", "libmp3lame", "-b:a", "128k", "t.mp3")
    ff("-i", "t.wav", "-c:a", "aac", "-b:a", "128k", "t.m4a")
    from mutagen.id3 import TSRC
    import mutagen.wave
    import mutagen.aiff
    import mutagen.mp3
    import mutagen.flac
    from mutagen.mp4 import MP4, MP4FreeForm
    for cls, name in ((mutagen.wave.WAVE, "t.wav"), (mutagen.aiff.AIFF, "t.aiff"),
                      (mutagen.mp3.MP3, "t.mp3")):
        f = cls(name)
        if f.tags is None:
            f.add_tags()
        f.tags.add(TSRC(encoding=0, text="FIABC2600001"))
        f.save()
    f = mutagen.flac.FLAC("t.flac")
    f["ISRC"] = "FIABC2600001"
    f.save()
    f = MP4("t.m4a")
    f["----:com.apple.iTunes:ISRC"] = [MP4FreeForm(b"FIABC2600001")]
    f.save()
    os.makedirs("small.tmp")
    for d in range(50):
        folder = os.path.join("small.tmp", "d%02d" % d)
        os.makedirs(folder)
        for i in range(100):
            ext = ("wav", "aiff", "flac", "mp3", "m4a")[i % 5]
            shutil.copyfile("t." + ext, os.path.join(folder, "f%03d.%s" % (i, ext)))
    os.rename("small.tmp", "small")
print("files ready in", scratch)

# 1,000 small files of four formats, 80–880 KB, for a batch written in one command.
if not os.path.isdir("batch"):
    os.makedirs("batch.tmp")
    for i in range(1000):
        ext = ("wav", "flac", "mp3", "m4a")[i % 4]
        seconds = 0.5 + (i % 10) * 0.5  # from about 80 KB to 880 KB of WAV
        name = os.path.join("batch.tmp", "t%04d.%s" % (i, ext))
        if i < 40:  # the first ten of each kind are made; the rest are copies of them
            codec = {"wav": ["-c:a", "pcm_s16le"], "flac": ["-c:a", "flac"],
                     "mp3": ["-c:a", "libmp3lame", "-b:a", "320k"],
                     "m4a": ["-c:a", "aac", "-b:a", "256k"]}[ext]
            ff("-i", "seed.wav", "-t", str(seconds), *codec, name)
        else:
            shutil.copyfile(os.path.join("batch.tmp", "t%04d.%s" % (i % 40, ext)), name)
    os.rename("batch.tmp", "batch")

# Metadata far larger than the code: an MP3 and a WAV (in its ID3 chunk) with a 250 MB picture,
# a FLAC with 250 MB of pictures (a FLAC block holds at most 16 MiB: sixteen of them), an M4A
# whose moov holds a 500 MB cover. Reading the code must not hold any of them.
def png(name, width, height):
    """A real PNG of noise, stored without compression (quick to make): 3 bytes a pixel."""
    import zlib
    if not have(name):
        stride = width * 3 + 1
        raw = bytearray(os.urandom(stride * height))
        raw[0::stride] = bytes(height)  # every row's filter byte: none

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body +
                    struct.pack(">I", zlib.crc32(kind + body)))
        with open(name + ".tmp", "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
            f.write(chunk(b"IDAT", zlib.compress(raw, 0)))
            f.write(chunk(b"IEND", b""))
        os.rename(name + ".tmp", name)
    with open(name, "rb") as f:
        return f.read()


def huge_png():
    return png("huge.png", 9000, 9259)  # 250 MB


if not have("huge-picture.mp3"):
    from mutagen.id3 import ID3, APIC
    shutil.copyfile("t.mp3", "huge-picture.mp3")
    tag = ID3("huge-picture.mp3")
    tag.add(APIC(encoding=0, mime="image/png", type=3, desc="huge", data=huge_png()))
    tag.save("huge-picture.mp3", v2_version=4)
if not have("huge-picture.wav"):
    import mutagen.wave
    from mutagen.id3 import APIC
    shutil.copyfile("t.wav", "huge-picture.wav.tmp")
    f = mutagen.wave.WAVE("huge-picture.wav.tmp")
    if f.tags is None:
        f.add_tags()
    f.tags.add(APIC(encoding=0, mime="image/png", type=3, desc="huge", data=huge_png()))
    f.save()
    os.rename("huge-picture.wav.tmp", "huge-picture.wav")
if not have("huge-picture.flac"):
    import mutagen.flac
    shutil.copyfile("t.flac", "huge-picture.flac.tmp")
    f = mutagen.flac.FLAC("huge-picture.flac.tmp")
    data = png("large.png", 2300, 2300)  # 15.9 MB, just under a block's limit
    for i in range(16):
        picture = mutagen.flac.Picture()
        picture.type, picture.mime, picture.desc = 3 if i == 0 else 20, "image/png", str(i)
        picture.width, picture.height, picture.depth, picture.data = 2300, 2300, 24, data
        f.add_picture(picture)
    f.save()
    os.rename("huge-picture.flac.tmp", "huge-picture.flac")
if not have("huge-moov.m4a"):
    from mutagen.mp4 import MP4, MP4Cover
    shutil.copyfile("t.m4a", "huge-moov.m4a")
    f = MP4("huge-moov.m4a")
    f["covr"] = [MP4Cover(os.urandom(500 << 20), imageformat=MP4Cover.FORMAT_PNG)]
    f.save()

# Carriers of absurd size, and metadata the code sits inside: a 100 MB `axml` whose identifier
# is one small element of a large document, a 250 MB TXXX:ISRC frame, a Vorbis comment block of
# 16 MiB (the most a block holds). Memory must stay bounded by the code, not by these.
if not have("huge-axml.wav"):
    with open("t.wav", "rb") as f:
        wav = f.read()
    filler = b"<ebucore:description><dc:description>" + b"x" * (100 << 20) + \
        b"</dc:description></ebucore:description>"
    xml = (b'<?xml version="1.0"?><ebucore:ebuCoreMain xmlns:dc="http://purl.org/dc/elements/1.1/" '
           b'xmlns:ebucore="urn:ebu:metadata-schema:ebucore"><ebucore:coreMetadata>' + filler +
           b'<ebucore:identifier formatLabel="ISRC"><dc:identifier>ISRC:GBAYE2600077'
           b'</dc:identifier></ebucore:identifier></ebucore:coreMetadata></ebucore:ebuCoreMain>')
    chunk = b"axml" + struct.pack("<I", len(xml)) + xml + b"\0" * (len(xml) & 1)
    body = wav[12:] + chunk
    with open("huge-axml.wav.tmp", "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + len(body)) + b"WAVE" + body)
    os.rename("huge-axml.wav.tmp", "huge-axml.wav")
if not have("huge-txxx.mp3"):
    from mutagen.id3 import ID3, TXXX
    shutil.copyfile("t.mp3", "huge-txxx.mp3.tmp")
    tag = ID3("huge-txxx.mp3.tmp")
    tag.add(TXXX(encoding=0, desc="ISRC", text="x" * (250 << 20)))
    tag.save("huge-txxx.mp3.tmp", v2_version=4)
    os.rename("huge-txxx.mp3.tmp", "huge-txxx.mp3")
if not have("huge-comment.flac"):
    import mutagen.flac
    shutil.copyfile("t.flac", "huge-comment.flac.tmp")
    f = mutagen.flac.FLAC("huge-comment.flac.tmp")
    f["DESCRIPTION"] = "x" * ((16 << 20) - 200)
    f["ISRC"] = "GBAYE2600077"
    f.save()
    os.rename("huge-comment.flac.tmp", "huge-comment.flac")
