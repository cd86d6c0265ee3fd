#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A paired harness: every case runs each of its commands RUNS times, interleaved, with the
files reset before every run outside the timing. Reports medians and ratios to the baselines
measured in the same run, the processor time (user + system) of each command, the peak memory of
each pelorix write, and the load of the machine during each table."""
import argparse
import atexit
import contextlib
import datetime
import glob
import os
import platform
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import time

ap = argparse.ArgumentParser()
ap.add_argument("--pelorix", required=True)
ap.add_argument("--pelorix-core", default="",
                help="a build without the window, to show what loading its libraries costs")
ap.add_argument("--scratch", required=True)
ap.add_argument("--runs", type=int, default=5)
ap.add_argument("--settle", type=float, default=2.0,
                help="seconds to wait after each reset, once its writes are on the disk")
ap.add_argument("--only", default="",
                help="comma-separated case files to run (e.g. big.wav,read); default all")
ap.add_argument("--quick", action="store_true",
                help="only the large writes of a 1 GiB WAV, the MP3 and the moov-first M4A, "
                     "against the durable replace and cp+sync alone")
ap.add_argument("--busy", action="store_true",
                help="keep every core busy (one spinning process per core) while measuring")
args = ap.parse_args()
S = args.scratch
# Every write goes through the ledger, one of the scratch folder's own; the files of different
# recordings all get CODE, which the ledger's rule lets through only when asked.
os.environ["PELORIX_LEDGER"] = os.path.join(S, "ledger.sqlite3")
P = args.pelorix + " --reuse-code"
PC = args.pelorix_core and args.pelorix_core + " --reuse-code"
CODE = "FI-ABC-26-00001"
only = set(filter(None, args.only.split(",")))
if args.quick:
    only = only or {"big.wav", "big.mp3", "big-moov-first.m4a"}
here = os.path.dirname(os.path.abspath(__file__))


def sh(cmd):
    subprocess.run(cmd, shell=True, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def timed(cmd):
    """Wall time and processor time (user + system of the command and everything it ran)."""
    c = children_cpu()
    t = time.perf_counter()
    sh(cmd)
    return time.perf_counter() - t, children_cpu() - c


def durable_replace(path):
    """The same durable replace done with shell tools: a copy beside the file, flushed, renamed
    over it, the folder flushed. Every replace frees the old file, as PELORIX's does."""
    tmp = path + ".tmp"
    return (f"cp {path} {tmp} && sync {tmp} && mv -f {tmp} {path} && "
            f"sync {os.path.dirname(path) or '.'}")


def load():
    return float(open("/proc/loadavg").read().split()[0])


def peak_kib(cmd):
    out = subprocess.run(["/usr/bin/time", "-f", "%M", "sh", "-c", cmd + " >/dev/null"],
                         check=True, capture_output=True, text=True).stderr
    return int(out.strip().splitlines()[-1])


def settle():
    # Deleting or truncating a 1 GiB file (the reset, or the file a write replaced) keeps the
    # disk busy for a while after the call returns (freed blocks, discards); without a pause that
    # work lands in whichever command runs next.
    sh("sync")
    time.sleep(args.settle)


def run_case(commands):
    """commands: list of (label, prepare, command). Returns {label: [seconds...]}, loads and
    {label: [processor seconds...]}."""
    times = {label: [] for label, _, _ in commands}
    cpus = {label: [] for label, _, _ in commands}
    loads = []
    for _ in range(args.runs):
        for label, prepare, cmd in commands:
            if prepare:
                sh(prepare)
            settle()
            loads.append(load())
            wall, cpu = timed(cmd)
            times[label].append(wall)
            cpus[label].append(cpu)
    return times, loads, cpus


def medians(times):
    return {k: statistics.median(v) for k, v in times.items()}


def load_line(loads):
    if not loads:
        return "Load average (1 min) during this table: not measured."
    return (f"Load average (1 min) during this table: {min(loads):.1f}–{max(loads):.1f}, "
            f"median {statistics.median(loads):.1f}" + (" (every core kept busy)." if args.busy
                                                         else "."))


@contextlib.contextmanager
def loop_mounted(name, mkfs, size):
    """A fresh filesystem image in the scratch folder, loop-mounted for the block (root only)."""
    img, mnt = os.path.join(S, name + ".img"), os.path.join(S, name + ".mnt")
    os.makedirs(mnt, exist_ok=True)
    sh(f"rm -f {img} && truncate -s {size} {img} && {mkfs} {img} && mount -o loop {img} {mnt}")
    try:
        yield mnt
    finally:
        sh(f"umount {mnt} && rm -f {img}")


def mounted_writes(mnt, cases, commands):
    """The writes of `cases` on the filesystem mounted at `mnt`; `commands(src, work, copy,
    reset)` gives the commands to pair. Returns rows of (name, size, medians, processor-time
    medians) and the loads."""
    rows, loads_here = [], []
    for name, src_name, ext in cases:
        src = os.path.join(mnt, "src." + ext)
        work, copy = os.path.join(mnt, "work." + ext), os.path.join(mnt, "copy." + ext)
        sh(f"cp {S}/{src_name} {src} && sync -f {mnt}")
        reset = (f"rm -f {work} {work}.tmp {copy} && cp --reflink=never {src} {work} && "
                 f"sync -f {mnt}")
        t, loads, cpus = run_case(commands(src, work, copy, reset))
        all_loads.extend(loads)
        loads_here.extend(loads)
        sh(reset)  # the last command may have removed it
        sh(f"{P} --write {CODE} {work}")
        got = subprocess.run(f"{P} --read {work}", shell=True, capture_output=True,
                         text=True).stdout
        assert got.strip().endswith("FI-ABC-26-00001"), got
        rows.append((name, os.path.getsize(src), medians(t), medians(cpus)))
        sh(f"rm -f {src} {work} {copy}")
    return rows, loads_here


big = [("WAV 1 GiB", "big.wav", "wav"), ("FLAC (same audio)", "big.flac", "flac"),
       ("AIFF 200 MB", "big.aiff", "aiff"), ("MP3 100 MB, tight v2.4 tag", "big.mp3", "mp3"),
       ("M4A AAC, moov first", "big-moov-first.m4a", "m4a"),
       ("M4A AAC, moov last", "big-moov-last.m4a", "m4a")]

started = datetime.datetime.now()
all_loads = []
big_loads = []
rows = []
spinners = []
if args.busy:
    # One spinning process per core beside every command, both sides measured under it.
    spinners = [subprocess.Popen(["/bin/sh", "-c", "while :; do :; done"])
                for _ in range(os.cpu_count() or 1)]


@atexit.register
def stop_spinners():
    for proc in spinners:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


# Stopped from outside, the harness still stops its spinning processes on the way out.
signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


have_ap = shutil.which("AtomicParsley") is not None
idle_rss = peak_kib(f"{P} --version")
idle_rss_core = peak_kib(f"{PC} --version") if PC else 0
for name, src_name, ext in big:
    if only and src_name not in only:
        continue
    src = os.path.join(S, src_name)
    work = os.path.join(S, "work." + ext)
    copy = os.path.join(S, "copy." + ext)
    remux = os.path.join(S, "remux." + ext)
    # Every command starts from the same state: the file to rewrite a fresh, durable copy of the
    # source, no other output. (A reset that differs per command also leaves the page allocator
    # in a different state, which on a virtual machine changes what writing 1 GiB costs.)
    reset = f"rm -f {work} {work}.tmp {copy} {remux} && cp {src} {work} && sync {work}"
    cmds = [
        # The anchor: the same durable replace done with shell tools.
        ("replace", reset, durable_replace(work)),
        ("cp+sync", reset, f"cp {src} {copy} && sync {copy}"),
        ("pelorix", reset, f"{P} --write {CODE} {work}"),
        *([("pelorix core", reset, f"{PC} --write {CODE} {work}")] if PC else []),
    ]
    if not args.quick:
        cmds.append(("ffmpeg remux", reset,
                     f"ffmpeg -v error -y -i {work} -map 0 -c copy -metadata ISRC=FIABC2600001 "
                     f"{remux} && mv {remux} {work}"))
        # What deleting the file costs here: every replace frees the old file's blocks, which a
        # copy to a new name never does.
        cmds.append(("rm", reset, f"rm {work}"))
    if ext == "m4a" and have_ap and not args.quick:
        cmds.append(("AtomicParsley", reset,
                     f"AtomicParsley {work} --rDNSatom FIABC2600001 name=ISRC "
                     f"domain=com.apple.iTunes --overWrite"))
        # The same rewrite made durable, as ours is: what its speed costs once flushed.
        cmds.append(("AtomicParsley+sync", reset,
                     f"AtomicParsley {work} --rDNSatom FIABC2600001 name=ISRC "
                     f"domain=com.apple.iTunes --overWrite && sync {work}"))
    size = os.path.getsize(src)
    t, loads, cpus = run_case(cmds)
    all_loads += loads
    big_loads += loads
    sh(reset)
    mem = peak_kib(f"{P} --write {CODE} {work}")
    mem_core = 0
    if PC:
        sh(reset)
        mem_core = peak_kib(f"{PC} --write {CODE} {work}")
    # The write must have stored the code; a fast wrong answer is not a result.
    got = subprocess.run(f"{P} --read {work}", shell=True, capture_output=True,
                         text=True).stdout
    assert got.strip().endswith("FI-ABC-26-00001"), got
    rows.append((name, size, medians(t), mem, mem_core, medians(cpus)))
    for f in (work, work + ".tmp", copy, remux):
        if os.path.exists(f):
            os.remove(f)

# Reads: 5,000 small files in one process.
read_row = None
if not only or "read" in only:
    small = sorted(glob.glob(os.path.join(S, "small", "*", "*")))
    listfile = os.path.join(S, "small-list.txt")
    with open(listfile, "w") as f:
        f.write("\n".join(small))
    # xargs could split the list over several processes; make sure it does not.
    assert len(" ".join(small)) < 2_000_000
    rt, loads, _ = run_case([
        ("pelorix --read", None, f"xargs -a {listfile} -d '\\n' {P} --read"),
        *([("core --read", None, f"xargs -a {listfile} -d '\\n' {PC} --read")] if PC else []),
        ("mutagen", None,
         f"xargs -a {listfile} -d '\\n' /usr/bin/python3 {here}/mutagen_read.py"),
    ])
    all_loads += loads
    read_row = (len(small), medians(rt), loads)

# A batch: 1,000 small files in one command, against mutagen editing them in place — in the
# scratch folder, and (as root) on a fresh ext4 image made with mkfs's defaults, which keep a
# journal: where ext4 keeps none, each file created passes over the inodes freed in the last
# minute or more, which every replace and every reset here frees.
batch_rows = []
batch_loads = []


def batch_case(place, folder):
    names = sorted(os.listdir(os.path.join(S, "batch")))
    bwork = os.path.join(folder, "batch.work")
    breset = f"rm -rf {bwork} && cp -r {S}/batch {bwork} && sync -f {bwork}"
    blist = " ".join(os.path.join(bwork, n) for n in names)
    bt, loads, _ = run_case([
        ("pelorix", breset, f"{P} --write {CODE} {blist}"),
        ("mutagen", breset, f"/usr/bin/python3 {here}/mutagen_write.py {blist}"),
        # The floor of any write that replaces whole files: a durable copy of the same files.
        ("cp+sync", f"{breset} && rm -rf {bwork}.copy",
         f"cp -r {bwork} {bwork}.copy && sync -f {bwork}.copy"),
    ])
    all_loads.extend(loads)
    batch_loads.extend(loads)
    sh(breset)
    sh(f"{P} --write {CODE} {blist}")
    got = subprocess.run(f"{P} --read {blist}", shell=True, capture_output=True, text=True).stdout
    assert got.count("FI-ABC-26-00001") == len(names), got[:500]
    batch_rows.append((place, len(names), {k: statistics.median(v) for k, v in bt.items()}))
    sh(f"rm -rf {bwork} {bwork}.copy")


if not only or "batch" in only:
    batch_case("scratch folder", S)
    if os.geteuid() == 0 and shutil.which("mkfs.ext4"):
        with loop_mounted("ext4", "mkfs.ext4 -q -F", "2G") as mnt:
            batch_case("fresh ext4 with a journal (loop)", mnt)

# Extent sharing: the same writes on loop-mounted XFS (reflink) and btrfs images, root only.
reflink_rows = []
reflink_loads = []
if os.geteuid() == 0 and (not only or "reflink" in only):
    for fstype, mkfs in (("XFS", "mkfs.xfs -q -f -m reflink=1"), ("btrfs", "mkfs.btrfs -q -f")):
        if not shutil.which(mkfs.split()[0]):
            continue
        with loop_mounted(fstype, mkfs, "4G") as mnt:
            rows_here, loads = mounted_writes(
                mnt, (("WAV 1 GiB", "big.wav", "wav"),
                      ("M4A AAC, moov last", "big-moov-last.m4a", "m4a")),
                lambda src, work, copy, reset: [
                # The durable replace, as cp makes it here: its copy shares the blocks.
                ("replace", reset, durable_replace(work)),
                ("cp+sync", reset, f"cp --reflink=never {src} {copy} && sync {copy}"),
                ("reflink", reset, f"cp --reflink=always {src} {copy} && sync {copy}"),
                ("pelorix", reset, f"{P} --write {CODE} {work}"),
                # The same write with the original out of the page cache, and the removal of the
                # cached original alone: the kernel's freeing of its cached pages is part of
                # every replace.
                ("uncached", reset + " && echo 1 > /proc/sys/vm/drop_caches",
                 f"{P} --write {CODE} {work}"),
                ("rm", reset, f"rm {work}"),
            ])
            reflink_rows += [(fstype, name, size, m, c) for name, size, m, c in rows_here]
            reflink_loads += loads

# The same writes on a fresh ext4 image made with mkfs's defaults (root only): a journal, and no
# `discard` mount option, as on most installed systems. Where ext4 keeps no journal and is
# mounted with `discard` (as the scratch folder may be), freeing the replaced file's blocks
# discards them before the program can exit: the `rm` column.
fresh_rows = []
fresh_loads = []
if os.geteuid() == 0 and shutil.which("mkfs.ext4") and (not only or "ext4" in only):
    with loop_mounted("ext4", "mkfs.ext4 -q -F", "4G") as mnt:
        fresh_cases = [c for c in big if c[1] in only] or big
        fresh_rows, fresh_loads = mounted_writes(mnt, fresh_cases, lambda src, work, copy, reset: [
            ("replace", reset, durable_replace(work)),
            ("cp+sync", reset, f"cp {src} {copy} && sync {copy}"),
            ("pelorix", reset, f"{P} --write {CODE} {work}"),
            ("rm", reset, f"rm {work}"),
        ])

# Memory when the metadata dwarfs the code: 250 MB of pictures, a 500 MB moov.
huge_rows = []
if not only or "huge" in only:
    for name, src_name in (("MP3, 250 MB picture", "huge-picture.mp3"),
                           ("WAV, 250 MB picture in its ID3 chunk", "huge-picture.wav"),
                           ("FLAC, 16 pictures of 16 MB", "huge-picture.flac"),
                           ("M4A, 500 MB moov", "huge-moov.m4a")):
        src = os.path.join(S, src_name)
        work = os.path.join(S, "work-" + src_name)
        sh(f"cp {src} {work}")
        read_kib = peak_kib(f"{P} --read {work}")
        write_kib = peak_kib(f"{P} --write {CODE} {work}")
        got = subprocess.run(f"{P} --read {work}", shell=True, capture_output=True,
                         text=True).stdout
        assert got.strip().endswith("FI-ABC-26-00001"), got
        huge_rows.append((name, os.path.getsize(src), read_kib, write_kib, None))
        os.remove(work)
    # Large carriers and documents around the code: read, write and remove, each from the file as
    # made. A write may refuse an absurd carrier; the peak is what counts.
    for name, src_name in (("WAV, 100 MB axml", "huge-axml.wav"),
                           ("MP3, 250 MB TXXX:ISRC frame", "huge-txxx.mp3"),
                           ("FLAC, 16 MiB comment block", "huge-comment.flac")):
        src = os.path.join(S, src_name)
        work = os.path.join(S, "work-" + src_name)
        peaks = []
        for op in ("--read", f"--write {CODE}", "--remove"):
            sh(f"cp {src} {work}")
            peaks.append(peak_kib(f"{P} {op} {work} || true"))
        huge_rows.append((name, os.path.getsize(src), *peaks))
        os.remove(work)

cpu = "unknown"
try:
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
except OSError:
    pass
fs_type = subprocess.run(["findmnt", "-n", "-o", "FSTYPE,OPTIONS", "--target", S],
                         capture_output=True, text=True).stdout.strip() or "?"
mem_total = "?"
for line in open("/proc/meminfo"):
    if line.startswith("MemTotal"):
        mem_total = f"{int(line.split()[1]) / 1024 / 1024:.0f} GiB"


def secs(v):
    return f"{v:.2f} s"


stop_spinners()


def ms_or_s(v):
    return f"{v * 1000:.0f} ms" if v < 1 else secs(v)


def cpu_cell(c, label):
    return ms_or_s(c[label]) if label in c else "—"


out = []
out.append(f"Run of {started:%Y-%m-%d %H:%M} on {platform.node()}: {cpu}, {os.cpu_count()} cores, "
           f"{mem_total} RAM, Linux {platform.release()}; scratch folder on {fs_type}; page "
           f"cache hot; {args.runs} paired runs per command, medians"
           + (f"; every core kept busy by {len(spinners)} spinning processes beside both sides"
              if args.busy else "")
           + "; load average (1 min) during the runs "
           + (f"{min(all_loads):.1f}–{max(all_loads):.1f}, median "
              f"{statistics.median(all_loads):.1f}.\n" if all_loads else "not measured.\n"))
out.append("replace: the same durable replace with shell tools, `cp FILE FILE.tmp && sync FILE.tmp "
           "&& mv -f FILE.tmp FILE && sync FOLDER` (it frees the old file, as every replace does); "
           "cp+sync: a durable copy to a new name (it frees nothing). CPU: user + system time of "
           "the command and everything it ran, median.")
out.append("")
if rows:
    full = not args.quick
    head = ("| write (scratch folder) | size | replace | cp+sync | pelorix | × replace | × cp+sync "
            "| CPU pelorix | CPU replace |")
    rule = "|---|---|---|---|---|---|---|---|---|"
    if full:
        head += (" ffmpeg remux | × ffmpeg | AtomicParsley | × AtomicParsley | AtomicParsley + sync"
                 " | × AtomicParsley + sync | rm | peak RSS |")
        rule += "---|---|---|---|---|---|---|---|"
    out.append(head)
    out.append(rule)
    for name, size, med, mem, _, c in rows:
        p = med["pelorix"]
        line = (f"| {name} | {size / 1e6:.0f} MB | {secs(med['replace'])} | "
                f"{secs(med['cp+sync'])} | {secs(p)} | {p / med['replace']:.2f} | "
                f"{p / med['cp+sync']:.2f} | {cpu_cell(c, 'pelorix')} | {cpu_cell(c, 'replace')} |")
        if full:
            ap_cells = (f"{secs(med['AtomicParsley'])} | {p / med['AtomicParsley']:.2f}"
                        if "AtomicParsley" in med else "— | —")
            if "AtomicParsley+sync" in med:
                ap_cells += (f" | {secs(med['AtomicParsley+sync'])} | "
                             f"{p / med['AtomicParsley+sync']:.2f}")
            else:
                ap_cells += " | — | —"
            line += (f" {secs(med['ffmpeg remux'])} | {p / med['ffmpeg remux']:.2f} | {ap_cells} | "
                     f"{secs(med['rm'])} | {mem / 1024:.1f} MiB |")
        out.append(line)
    out.append("")
    out.append(load_line(big_loads))
    if full:
        out.append("rm: deleting the file, which every replace does to the old one (a copy to a "
                   "new name does not).")
        out.append(f"Peak RSS is the whole process as `/usr/bin/time -f %M` reports it; the same "
                   f"binary printing its version peaks at {idle_rss / 1024:.1f} MiB (shared "
                   f"libraries mapped at start-up).")
if fresh_rows:
    out.append("")
    out.append("The same writes on a fresh ext4 image (loop, mkfs defaults: a journal, no "
               "`discard`):")
    out.append("")
    out.append("| write, fresh ext4 | size | replace | cp+sync | pelorix | × replace | × cp+sync | "
               "CPU pelorix | CPU replace | rm |")
    out.append("|---|---|---|---|---|---|---|---|---|---|")
    for name, size, m, c in fresh_rows:
        p = m["pelorix"]
        out.append(f"| {name} | {size / 1e6:.0f} MB | {secs(m['replace'])} | "
                   f"{secs(m['cp+sync'])} | {secs(p)} | {p / m['replace']:.2f} | "
                   f"{p / m['cp+sync']:.2f} | {cpu_cell(c, 'pelorix')} | "
                   f"{cpu_cell(c, 'replace')} | {secs(m['rm'])} |")
    out.append("")
    out.append(load_line(fresh_loads))
if PC and rows:
    out.append("")
    out.append("The same writes by a build without the window (-DPELORIX_BUILD_UI=OFF), measured "
               f"in the same pairs; it peaks at {idle_rss_core / 1024:.1f} MiB printing its "
               "version.")
    out.append("")
    out.append("| write | pelorix core | × replace | × cp+sync | CPU | peak RSS |")
    out.append("|---|---|---|---|---|---|")
    for name, size, med, mem, mem_core, c in rows:
        cc = med["pelorix core"]
        out.append(f"| {name} | {secs(cc)} | {cc / med['replace']:.2f} | "
                   f"{cc / med['cp+sync']:.2f} | {cpu_cell(c, 'pelorix core')} | "
                   f"{mem_core / 1024:.1f} MiB |")
if read_row:
    n, rmed, read_loads = read_row
    pr, mr = rmed["pelorix --read"], rmed["mutagen"]
    out.append("")
    out.append("| read | files | pelorix | files/s | mutagen | files/s | × mutagen's rate |")
    out.append("|---|---|---|---|---|---|---|")
    out.append(f"| 5 formats, 50 folders, one process | {n} | {secs(pr)} | {n / pr:.0f} | "
               f"{secs(mr)} | {n / mr:.0f} | {mr / pr:.1f} |")
    if "core --read" in rmed:
        cr = rmed["core --read"]
        out.append(f"| the same, build without the window | {n} | {secs(cr)} | {n / cr:.0f} | "
                   f"{secs(mr)} | {n / mr:.0f} | {mr / cr:.1f} |")
    out.append("")
    out.append(load_line(read_loads))
if batch_rows:
    out.append("")
    out.append("| batch write: WAV, FLAC, MP3, M4A of 80–880 KB, one command | files | pelorix | "
               "mutagen (in place, not flushed) | × mutagen | cp -r + sync | × cp -r + sync |")
    out.append("|---|---|---|---|---|---|---|")
    for place, n, bmed in batch_rows:
        out.append(f"| {place} | {n} | {secs(bmed['pelorix'])} | {secs(bmed['mutagen'])} | "
                   f"{bmed['pelorix'] / bmed['mutagen']:.2f} | {secs(bmed['cp+sync'])} | "
                   f"{bmed['pelorix'] / bmed['cp+sync']:.2f} |")
    out.append("")
    out.append(load_line(batch_loads))
if reflink_rows:
    out.append("")
    out.append("| write on a filesystem that shares extents | size | replace | cp+sync | "
               "cp --reflink+sync | pelorix | × replace | × reflink | CPU pelorix | CPU replace "
               "| pelorix, original not cached | rm of the cached original |")
    out.append("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for fstype, name, size, m, c in reflink_rows:
        p = m["pelorix"]
        out.append(f"| {name}, {fstype} (loop) | {size / 1e6:.0f} MB | {ms_or_s(m['replace'])} | "
                   f"{secs(m['cp+sync'])} | {m['reflink'] * 1000:.0f} ms | {p * 1000:.0f} ms | "
                   f"{p / m['replace']:.2f} | {p / m['reflink']:.1f} | {cpu_cell(c, 'pelorix')} | "
                   f"{cpu_cell(c, 'replace')} | {m['uncached'] * 1000:.0f} ms | "
                   f"{m['rm'] * 1000:.0f} ms |")
    out.append("")
    out.append(load_line(reflink_loads))
if huge_rows:
    out.append("")
    out.append("| large metadata | size | peak RSS --read | peak RSS --write | peak RSS --remove |")
    out.append("|---|---|---|---|---|")
    for name, size, r, w, rm in huge_rows:
        removal = "–" if rm is None else f"{rm / 1024:.1f} MiB"
        out.append(f"| {name} | {size / 1e6:.0f} MB | {r / 1024:.1f} MiB | {w / 1024:.1f} MiB | "
                   f"{removal} |")
    out.append("")
    out.append(f"The same binary printing its version peaks at {idle_rss / 1024:.1f} MiB.")
text = "\n".join(out)
print(text)
with open(os.path.join(S, "results.md"), "w") as f:
    f.write(text + "\n")
