"""Capture benchmark (run by hand through capture_bench.sh, not a test).

For each screen size and frame rate it starts a private display showing the
moving test picture, records it with parvelo.exe under Wine, then records the
same display with `ffmpeg -f x11grab` and libx264 at the settings
x264vfw.dll uses by default, and prints what each cost.

How the figures are taken:
  * slots written: non-empty video chunks over the stream's length (the AVI
    keeps every 1/fps slot, a dropped one as an empty chunk), from ffprobe's
    packet list; the recorder's own count is printed beside it.
  * grab / encode+write: the means the capture loop prints at the end of a
    recording through OutputDebugString (Wine's +debugstr channel).
  * CPU: utime+stime of the parvelo.exe process (all its threads, and any
    children it waited for) from /proc/PID/stat, read just before Start is
    pressed and again once the file is closed, over the recorded seconds
    (stream length / fps). Under Wine, `wine parvelo.exe` becomes that
    process (same pid). wineserver and Xvfb serve every Windows program on
    the display (the picture too), so they are shown apart, as context.
    ffmpeg is our own child: its utime+stime come from wait4's rusage, over
    the seconds it was asked to record.
  * peak memory: VmHWM of parvelo.exe (peak resident set over its life),
    ru_maxrss for ffmpeg.

The two recorders run one after the other on the same display, not at once:
on a two-core machine each would otherwise slow the other down.
"""

import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)

# A Wine prefix of the benchmark's own: wineserver is per prefix, and the
# harness ends it (`wineserver -k`) when a session closes, which would end a
# test running at the same time on the shared prefix.
os.environ.setdefault("PARVELO_WINEPREFIX", os.path.join(REPO, "build", "bench", "wineprefix"))
# The capture loop's summary line comes through OutputDebugString.
os.environ["PARVELO_WINEDEBUG"] = "-all,+debugstr"

sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
import harness  # noqa: E402
import picture  # noqa: E402

DEFAULT_SECONDS = 60
DEFAULT_SIZES = ("1366x768", "1920x1080")
DEFAULT_RATES = (15, 25)
FRAME_RATE_LIST_ID = 1008
# Entries of the hidden frame-rate list (low, medium, high).
FRAME_RATE_ENTRIES = {15: 1, 25: 2}
# Goals: nearly every slot at the default size and rate; most at the largest.
TARGETS = {("1366x768", 15): 0.99, ("1920x1080", 25): 0.95}

# What x264vfw.dll does by default, so both encoders do the same work:
# preset ultrafast with the zero-latency tune, the recorder's quality 7500
# (CRF 20, codec/quality_map.cpp), 4:2:0, a key frame every second.
FFMPEG_PRESET = "ultrafast"
FFMPEG_TUNE = "zerolatency"
FFMPEG_CRF = 20
FFMPEG_PIXEL_FORMAT = "yuv420p"
# ffmpeg ends itself after -t; past this much extra it is ended by us.
FFMPEG_GRACE_S = 30
FFMPEG_END_WAIT_S = 10

IDLE_TIMEOUT_S = 60  # Stop until the file is closed
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
# Positions in a /proc stat line counted from the state field (field 3): utime,
# stime, cutime, cstime are fields 14 to 17 (proc(5)).
STAT_UTIME, STAT_STIME, STAT_CUTIME, STAT_CSTIME = 11, 12, 13, 14
KIB_PER_MIB = 1024.0
DEBUG_LINE = re.compile(r"parvelo capture: backend (\w+), (\d+) grabs, (\d+) of (\d+) slots written, "
                        r"grab ([0-9.]+) ms, encode\+write ([0-9.]+) ms")


# -- /proc ------------------------------------------------------------------

def stat_fields(path):
    """Fields of a /proc stat file from field 3 (state) on; the name in
    parentheses may hold spaces, so it is cut at the last ')'."""
    with open(path) as f:
        return f.read().rsplit(")", 1)[1].split()


def cpu_seconds(pid, children=True):
    """utime+stime (+ waited-for children) of a process, all threads."""
    fields = stat_fields("/proc/%d/stat" % pid)
    ticks = int(fields[STAT_UTIME]) + int(fields[STAT_STIME])
    if children:
        ticks += int(fields[STAT_CUTIME]) + int(fields[STAT_CSTIME])
    return ticks / CLOCK_TICKS


def thread_seconds(pid):
    """utime+stime of each live thread, by thread id."""
    result = {}
    task = "/proc/%d/task" % pid
    for tid in os.listdir(task):
        try:
            fields = stat_fields(os.path.join(task, tid, "stat"))
        except OSError:
            continue  # ended meanwhile
        result[int(tid)] = (int(fields[STAT_UTIME]) + int(fields[STAT_STIME])) / CLOCK_TICKS
    return result


def status_kib(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def comm(pid):
    try:
        with open("/proc/%d/comm" % pid) as f:
            return f.read().strip()
    except OSError:
        return ""


def wineserver_pid():
    """The wineserver of the benchmark's prefix (it inherits the environment
    of the Wine process that started it)."""
    wanted = ("WINEPREFIX=" + harness.PREFIX).encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or not comm(int(entry)).startswith("wineserver"):
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if wanted in f.read().split(b"\0"):
                    return int(entry)
        except OSError:
            continue
    return None


def session_xvfb_pid(session):
    for proc in session.procs:
        if proc.args and proc.args[0] == "Xvfb":
            return proc.pid
    raise RuntimeError("the session has no Xvfb")


def parvelo_pid(app):
    """`wine parvelo.exe` execs into the Windows process and keeps its pid."""
    pid = app.proc.pid
    name = comm(pid)
    if not name.lower().startswith("parvelo"):
        raise RuntimeError("process %d is %r, not parvelo.exe" % (pid, name))
    return pid


class Meter:
    """CPU of some processes between two readings."""

    def __init__(self, pids):
        self.pids = {name: pid for name, pid in pids.items() if pid}
        self.start = self._read()

    def _read(self):
        values = {}
        for name, pid in self.pids.items():
            try:
                values[name] = cpu_seconds(pid)
            except OSError:
                values[name] = None
        return values

    def stop(self):
        end = self._read()
        return {name: (end[name] - self.start[name])
                if end.get(name) is not None and self.start.get(name) is not None else None
                for name in self.pids}


def machine_load():
    with open("/proc/loadavg") as f:
        one_minute = f.read().split()[0]
    displays = subprocess.run(["pgrep", "-c", "-x", "Xvfb"], stdout=subprocess.PIPE,
                              text=True).stdout.strip() or "0"
    return "load %s, Xvfb servers running %s" % (one_minute, displays)


# -- the recorder ----------------------------------------------------------

def video_chunks(path):
    """(stream length in slots, non-empty chunks) of the first video stream."""
    info = harness.ffprobe(path, "-select_streams", "v:0", "-show_streams", "-show_packets",
                           "-show_entries", "stream=nb_frames:packet=size")
    length = int(info["streams"][0]["nb_frames"])
    written = sum(1 for p in info.get("packets", []) if int(p.get("size", 0)) > 0)
    return length, written


def debug_summary(session):
    path = os.path.join(session.logs, "parvelo.log")
    with open(path, errors="replace") as f:
        matches = DEBUG_LINE.findall(f.read())
    if not matches:
        return None
    backend, grabs, writes, slots, grab_ms, write_ms = matches[-1]
    return {"backend": backend, "grabs": int(grabs), "writes": int(writes), "slots": int(slots),
            "grab_ms": float(grab_ms), "write_ms": float(write_ms)}


def record_parvelo(session, rate, seconds):
    app = harness.Parvelo(session)
    app.wait_ready()
    code, _ = session.probe("select", FRAME_RATE_LIST_ID, FRAME_RATE_ENTRIES[rate])
    state = app.dialog()
    if code != 0 or state.get("%d.cursel" % FRAME_RATE_LIST_ID) != str(FRAME_RATE_ENTRIES[rate]):
        raise RuntimeError("cannot choose %d fps: %r" % (rate, state))
    # Video only, as ffmpeg records it (and there is no microphone here).
    if state.get("%d.check" % harness.SOUND_ID) == "1":
        app.click(harness.SOUND_ID)
    pid = parvelo_pid(app)
    pids = {"parvelo": pid, "wineserver": wineserver_pid(), "xvfb": session_xvfb_pid(session)}

    before_files = os.listdir(session.workdir)
    meter = Meter(pids)
    threads_before = thread_seconds(pid)
    app.click(harness.START_ID)
    time.sleep(seconds)
    # Threads are read before Stop: the recording threads end with the file.
    threads_after = thread_seconds(pid)
    app.click(harness.STOP_ID)
    app.wait_idle(IDLE_TIMEOUT_S)
    cpu = meter.stop()
    peak_kib = status_kib(pid, "VmHWM")

    files = [os.path.join(session.workdir, f) for f in session.new_files(before_files)]
    if len(files) != 1:
        raise RuntimeError("expected one recording, found %r" % files)
    length, written = video_chunks(files[0])
    recorded_s = length / rate
    per_thread = sorted((threads_after[t] - threads_before.get(t, 0.0) for t in threads_after),
                        reverse=True)
    return {
        "slots": length, "written": written, "recorded_s": recorded_s,
        "debug": debug_summary(session),
        "cpu_per_s": cpu["parvelo"] / recorded_s,
        "busiest_thread_per_s": per_thread[0] / seconds if per_thread else None,
        "wineserver_per_s": cpu["wineserver"] / recorded_s if cpu.get("wineserver") is not None else None,
        "xvfb_per_s": cpu["xvfb"] / recorded_s,
        "peak_mib": peak_kib / KIB_PER_MIB,
    }


# -- ffmpeg -------------------------------------------------------------------

def wait_with_usage(proc, timeout):
    """Waits for our child and returns (exit status, rusage); ends it (its own
    process group, by id) if it outlives `timeout`."""
    deadline = time.time() + timeout
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            proc.returncode = os.waitstatus_to_exitcode(status)
            return proc.returncode, usage
        if time.time() > deadline:
            os.killpg(proc.pid, signal.SIGTERM)
            deadline = time.time() + FFMPEG_END_WAIT_S
            while time.time() < deadline:
                pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
                if pid:
                    proc.returncode = os.waitstatus_to_exitcode(status)
                    raise RuntimeError("ffmpeg outlived its duration and was ended")
                time.sleep(0.1)
            os.killpg(proc.pid, signal.SIGKILL)
            os.wait4(proc.pid, 0)
            proc.returncode = -signal.SIGKILL
            raise RuntimeError("ffmpeg did not end and was killed")
        time.sleep(0.1)


def record_ffmpeg(session, size, rate, seconds):
    out = os.path.join(session.root, "ffmpeg-%s-%d.mkv" % (size, rate))
    argv = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
            "-f", "x11grab", "-framerate", str(rate), "-video_size", size, "-i", session.display + "+0,0",
            "-t", str(seconds), "-c:v", "libx264", "-preset", FFMPEG_PRESET, "-tune", FFMPEG_TUNE,
            "-crf", str(FFMPEG_CRF), "-g", str(rate), "-pix_fmt", FFMPEG_PIXEL_FORMAT, out]
    pids = {"wineserver": wineserver_pid(), "xvfb": session_xvfb_pid(session)}
    log = open(os.path.join(session.logs, "ffmpeg.log"), "ab")
    meter = Meter(pids)
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                            env=session._x_env(), start_new_session=True)
    log.close()
    try:
        code, usage = wait_with_usage(proc, seconds + FFMPEG_GRACE_S)
    except BaseException:
        if proc.returncode is None:
            os.killpg(proc.pid, signal.SIGKILL)
            os.wait4(proc.pid, 0)
            proc.returncode = -signal.SIGKILL
        raise
    cpu = meter.stop()
    if code != 0:
        raise RuntimeError("ffmpeg failed (%d), see %s" % (code, os.path.join(session.logs, "ffmpeg.log")))
    info = harness.ffprobe(out, "-select_streams", "v:0", "-count_packets", "-show_streams")
    frames = int(info["streams"][0]["nb_read_packets"])
    return {
        "frames": frames, "expected": int(round(seconds * rate)),
        "cpu_per_s": (usage.ru_utime + usage.ru_stime) / seconds,
        "wineserver_per_s": cpu["wineserver"] / seconds if cpu.get("wineserver") is not None else None,
        "xvfb_per_s": cpu["xvfb"] / seconds,
        "peak_mib": usage.ru_maxrss / KIB_PER_MIB,
    }


# -- one configuration ------------------------------------------------------

def run_configuration(size, rate, seconds):
    width, height = (int(v) for v in size.split("x"))
    load_before = machine_load()
    session = harness.Session(width, height)
    try:
        picture.show(session)
        ours = record_parvelo(session, rate, seconds)
        theirs = record_ffmpeg(session, size, rate, seconds)
    finally:
        session.close()
    return {"size": size, "rate": rate, "seconds": seconds, "parvelo": ours, "ffmpeg": theirs,
            "load_before": load_before, "load_after": machine_load()}


def fmt(value, pattern="%.2f"):
    return "-" if value is None else pattern % value


def print_configuration(result):
    ours, theirs, debug = result["parvelo"], result["ffmpeg"], result["parvelo"]["debug"] or {}
    share = ours["written"] / ours["slots"] if ours["slots"] else 0.0
    rows = [
        ("frame slots written",
         "%.1f%% (%d of %d)" % (100 * share, ours["written"], ours["slots"]),
         "%.1f%% (%d of %d frames)" % (100.0 * theirs["frames"] / theirs["expected"],
                                       theirs["frames"], theirs["expected"])),
        ("  recorder's own count",
         "%s of %s" % (debug.get("writes", "-"), debug.get("slots", "-")), ""),
        ("capture back-end", debug.get("backend", "-"), "x11grab"),
        ("mean grab, ms", fmt(debug.get("grab_ms")), ""),
        ("mean encode+write, ms", fmt(debug.get("write_ms")), ""),
        ("grabs per slot", fmt(debug["grabs"] / debug["slots"] if debug.get("slots") else None), ""),
        ("CPU s per recorded s", fmt(ours["cpu_per_s"]), fmt(theirs["cpu_per_s"])),
        ("  busiest thread", fmt(ours["busiest_thread_per_s"]), ""),
        ("wineserver CPU s/s (context)", fmt(ours["wineserver_per_s"]), fmt(theirs["wineserver_per_s"])),
        ("Xvfb CPU s/s (context)", fmt(ours["xvfb_per_s"]), fmt(theirs["xvfb_per_s"])),
        ("peak memory, MiB", fmt(ours["peak_mib"], "%.0f"), fmt(theirs["peak_mib"], "%.0f")),
    ]
    print()
    print("== %s @ %d fps, %d s (%s) ==" % (result["size"], result["rate"], result["seconds"],
                                           result["load_before"]))
    print("%-30s %-22s %s" % ("", "Parvelo", "ffmpeg x11grab"))
    for name, a, b in rows:
        print("%-30s %-22s %s" % (name, a, b))
    ratio = ours["cpu_per_s"] / theirs["cpu_per_s"] if theirs["cpu_per_s"] else None
    print("%-30s %s" % ("CPU ratio Parvelo/ffmpeg", fmt(ratio)))
    target = TARGETS.get((result["size"], result["rate"]))
    if target is not None:
        print("%-30s %s" % ("target >= %.0f%% slots" % (100 * target),
                            "met" if share >= target else "MISSED"))
    sys.stdout.flush()


def print_summary(results):
    print()
    print("== summary ==")
    header = ("config", "slots", "grab ms", "enc+wr ms", "Parvelo CPU/s", "ffmpeg CPU/s", "ratio",
              "Parvelo MiB", "target")
    print("%-16s %7s %8s %9s %13s %12s %6s %11s %7s" % header)
    for r in results:
        ours, theirs, debug = r["parvelo"], r["ffmpeg"], r["parvelo"]["debug"] or {}
        share = ours["written"] / ours["slots"] if ours["slots"] else 0.0
        target = TARGETS.get((r["size"], r["rate"]))
        verdict = "-" if target is None else ("met" if share >= target else "MISSED")
        print("%-16s %6.1f%% %8s %9s %13.2f %12.2f %6.2f %11.0f %7s" % (
            "%s@%d" % (r["size"], r["rate"]), 100 * share, fmt(debug.get("grab_ms")),
            fmt(debug.get("write_ms")), ours["cpu_per_s"], theirs["cpu_per_s"],
            ours["cpu_per_s"] / theirs["cpu_per_s"], ours["peak_mib"], verdict))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("seconds", nargs="?", type=int, default=DEFAULT_SECONDS,
                        help="length of each recording (default %d)" % DEFAULT_SECONDS)
    parser.add_argument("--sizes", default=",".join(DEFAULT_SIZES))
    parser.add_argument("--rates", default=",".join(str(r) for r in DEFAULT_RATES))
    parser.add_argument("--json", help="also write the raw figures to this file")
    args = parser.parse_args()
    rates = [int(r) for r in args.rates.split(",")]
    for rate in rates:
        if rate not in FRAME_RATE_ENTRIES:
            parser.error("rate %d is not in the recorder's list (%s)" % (
                rate, ", ".join(str(r) for r in FRAME_RATE_ENTRIES)))

    print("capture benchmark: %s, Wine prefix %s" % (time.strftime("%Y-%m-%d %H:%M"), harness.PREFIX))
    results = []
    for size in args.sizes.split(","):
        for rate in rates:
            result = run_configuration(size, rate, args.seconds)
            print_configuration(result)
            results.append(result)
    print_summary(results)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
