#!/usr/bin/env python3
"""A paired harness: every case runs each of its commands RUNS times, interleaved, with the
files reset before every run outside the timing. Reports medians and ratios to the baseline
measured in the same run, and the peak memory of each pelorix write."""
import argparse
import datetime
import glob
import os
import platform
import shutil
import statistics
import subprocess
import time

ap = argparse.ArgumentParser()
ap.add_argument("--pelorix", required=True)
ap.add_argument("--scratch", required=True)
ap.add_argument("--runs", type=int, default=5)
args = ap.parse_args()
S = args.scratch
P = args.pelorix
CODE = "FI-ABC-26-00001"


def sh(cmd):
    subprocess.run(cmd, shell=True, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def timed(cmd):
    t = time.perf_counter()
    sh(cmd)
    return time.perf_counter() - t


def peak_kib(cmd):
    out = subprocess.run(["/usr/bin/time", "-f", "%M", "sh", "-c", cmd + " >/dev/null"],
                         check=True, capture_output=True, text=True).stderr
    return int(out.strip().splitlines()[-1])


def run_case(name, commands):
    """commands: list of (label, prepare, command). Returns {label: [seconds...]}."""
    times = {label: [] for label, _, _ in commands}
    for _ in range(args.runs):
        for label, prepare, cmd in commands:
            if prepare:
                sh(prepare)
            times[label].append(timed(cmd))
    return times


big = [("WAV 1 GiB", "big.wav", "wav"), ("FLAC", "big.flac", "flac"),
       ("AIFF 200 MB", "big.aiff", "aiff"), ("MP3 100 MB, tight v2.4 tag", "big.mp3", "mp3"),
       ("M4A AAC, moov first", "big-moov-first.m4a", "m4a"),
       ("M4A AAC, moov last", "big-moov-last.m4a", "m4a")]

rows = []
have_ap = shutil.which("AtomicParsley") is not None
for name, src, ext in big:
    src = os.path.join(S, src)
    work = os.path.join(S, "work." + ext)
    copy = os.path.join(S, "copy." + ext)
    remux = os.path.join(S, "remux." + ext)
    reset = f"cp {src} {work}"
    cmds = [
        ("cp+sync", f"rm -f {copy}", f"cp {src} {copy} && sync {copy}"),
        ("pelorix", reset, f"{P} --write {CODE} {work}"),
        ("ffmpeg remux", f"{reset} && rm -f {remux}",
         f"ffmpeg -v error -y -i {work} -map 0 -c copy -metadata ISRC=FIABC2600001 {remux}"
         f" && mv {remux} {work}"),
    ]
    if ext == "m4a" and have_ap:
        cmds.append(("AtomicParsley", reset,
                     f"AtomicParsley {work} --rDNSatom FIABC2600001 name=ISRC "
                     f"domain=com.apple.iTunes --overWrite"))
    size = os.path.getsize(src)
    t = run_case(name, cmds)
    sh(reset)
    mem = peak_kib(f"{P} --write {CODE} {work}")
    med = {k: statistics.median(v) for k, v in t.items()}
    rows.append((name, size, med, mem))
    for f in (work, copy, remux):
        if os.path.exists(f):
            os.remove(f)

# Reads: 5,000 small files in one process.
small = sorted(glob.glob(os.path.join(S, "small", "*", "*")))
listfile = os.path.join(S, "small-list.txt")
with open(listfile, "w") as f:
    f.write("\n".join(small))
here = os.path.dirname(os.path.abspath(__file__))
rt = run_case("read", [
    ("pelorix --read", None, f"xargs -a {listfile} -d '\\n' {P} --read"),
    ("mutagen", None, f"xargs -a {listfile} -d '\\n' /usr/bin/python3 {here}/mutagen_read.py"),
])
# xargs could split the list over several processes; make sure it did not.
assert len(" ".join(small)) < 2_000_000

rmed = {k: statistics.median(v) for k, v in rt.items()}
n = len(small)

cpu = "unknown"
try:
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
except OSError:
    pass

out = []
out.append(f"Run of {datetime.date.today()} on {platform.node()}: {cpu}, {os.cpu_count()} cores, "
           f"page cache hot, {args.runs} runs per command, medians.\n")
out.append("| write | size | cp+sync | pelorix | ratio to cp+sync | ffmpeg remux | AtomicParsley"
           " | peak memory |")
out.append("|---|---|---|---|---|---|---|---|")
for name, size, med, mem in rows:
    base = med["cp+sync"]
    ap_cell = f"{med['AtomicParsley']:.3f} s" if "AtomicParsley" in med else "—"
    out.append(f"| {name} | {size / 1e6:.0f} MB | {base:.3f} s | {med['pelorix']:.3f} s | "
               f"{med['pelorix'] / base:.2f}× | {med['ffmpeg remux']:.3f} s | {ap_cell} | "
               f"{mem / 1024:.1f} MiB |")
out.append("")
out.append("| read | files | pelorix | files/s | mutagen | files/s | ratio |")
out.append("|---|---|---|---|---|---|---|")
pr, mr = rmed["pelorix --read"], rmed["mutagen"]
out.append(f"| 5 formats, 50 folders | {n} | {pr:.3f} s | {n / pr:.0f} | {mr:.3f} s | "
           f"{n / mr:.0f} | {mr / pr:.1f}× |")
text = "\n".join(out)
print(text)
with open(os.path.join(S, "results.md"), "w") as f:
    f.write(text + "\n")
