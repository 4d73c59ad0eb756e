"""Sound against picture over a long recording (run by hand through sync_bench.sh).

One private 1366x768 display with the clapperboard (tools/clapperboard) in a
corner and a fake microphone; parvelo.exe records it at its default 15 fps
with sound for MINUTES, and every clap's offset as a viewer sees it (the
beep's onset minus the presentation time of the first frame showing the
flash) is found in the file as the sound tests find it. Printed per minute:
the median of the claps, their spread, and the recorder's own share, the
median of how far its fit says each second of sound was written from its
target (Parvelo's debug lines), and how late the minute's buffers came back
against the straight line through all arrivals (the delay the fit follows,
as the recorder can see it). Targets: every minute's median inside the
broadcasters' window, -15 ... +45 ms; from minute 2 on, the minutes'
medians within +-10 ms of one another.
"""

import argparse
import os
import re
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import capture_bench  # noqa: E402  (sets the benchmark's Wine prefix before the harness loads)
from capture_bench import harness  # noqa: E402

SCREEN = (1366, 768)
SECONDS_PER_MINUTE = 60
# The clapperboard starts before Start and must outlast the recording.
BOARD_MARGIN_S = 120
WINDOW_MS = (-15, 45)
# From this minute on the medians lie within +-STEADY_MS of one another.
STEADY_FROM_MINUTE = 2
STEADY_MS = 10
# Reading an hour of H.264 and MP3 back takes minutes.
ANALYSIS_TIMEOUT_S = 3 * 3600
# Buffers come back a second apart; those handed back at the reset, at once.
RESET_SPACING_MS = 500
OWN_OFFSET_LINE = r"parvelo sound: buffer at (\d+) ms, ([-+0-9.]+) ms off its target"


def late_arrivals(arrivals_ms):
    """(s, ms) of each buffer's arrival against the least-squares line
    through all of them, but for those the device hands back at once when
    it is reset at the Stop."""
    for i in range(1, len(arrivals_ms)):
        if arrivals_ms[i] - arrivals_ms[i - 1] < RESET_SPACING_MS:
            arrivals_ms = arrivals_ms[:i]
            break
    count = len(arrivals_ms)
    if count < 2:
        return []
    mean_index, mean_ms = (count - 1) / 2, statistics.fmean(arrivals_ms)
    slope = (sum((i - mean_index) * (ms - mean_ms) for i, ms in enumerate(arrivals_ms))
             / sum((i - mean_index) ** 2 for i in range(count)))
    return [((ms - arrivals_ms[0]) / 1000, ms - mean_ms - slope * (i - mean_index))
            for i, ms in enumerate(arrivals_ms)]


def record(minutes):
    """(claps as (s, ms), the recorder's own offsets as (s, ms), late arrivals as (s, ms))."""
    session = harness.Session(*SCREEN, microphone=True)
    try:
        app = harness.Parvelo(session)
        app.wait_ready()
        session.clapperboard(minutes * SECONDS_PER_MINUTE + BOARD_MARGIN_S)
        print("recording %d min: %s, %s" % (minutes, time.strftime("%H:%M:%S"),
                                            capture_bench.machine_load()), flush=True)
        files = app.record(minutes * SECONDS_PER_MINUTE)
        if len(files) != 1:
            raise RuntimeError("expected one recording, found %r" % files)
        first_ms = app.debug_numbers(harness.FIRST_FRAME_LINE)[0]
        lines = re.findall(OWN_OFFSET_LINE, session.log_text("parvelo"))
        own = [((int(at) - first_ms) / 1000, float(ms)) for at, ms in lines]
        late = [(at + (int(lines[0][0]) - first_ms) / 1000, ms)
                for at, ms in late_arrivals([int(at) for at, _ in lines])]
        print("analysing: %s" % time.strftime("%H:%M:%S"), flush=True)
        return harness.clap_offsets(files[0], ANALYSIS_TIMEOUT_S), own, late
    finally:
        session.close()


def in_minute(pairs, minute):
    return [ms for at, ms in pairs
            if minute * SECONDS_PER_MINUTE <= at < (minute + 1) * SECONDS_PER_MINUTE]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("minutes", type=int)
    minutes = parser.parse_args().minutes
    claps, own, late = record(minutes)
    print("%6s %6s %12s %8s %8s %12s %12s" % ("minute", "claps", "median ms", "min ms", "max ms",
                                              "own ms", "arrivals ms"))
    low, high = WINDOW_MS
    medians = []
    for minute in range(minutes):
        offsets = in_minute(claps, minute)
        own_text = " ".join("%+12.1f" % statistics.median(values) if values else "%12s" % "-"
                            for values in (in_minute(own, minute), in_minute(late, minute)))
        if not offsets:
            print("%6d %6d %12s %8s %8s %s" % (minute, 0, "-", "-", "-", own_text))
            medians.append(float("nan"))
            continue
        medians.append(statistics.median(offsets))
        print("%6d %6d %+12.1f %+8.0f %+8.0f %s" % (minute, len(offsets), medians[-1],
                                                     min(offsets), max(offsets), own_text))
    inside = all(low <= m <= high for m in medians)
    steady = medians[STEADY_FROM_MINUTE:]
    spread = max(steady) - min(steady) if steady else 0.0
    print("claps %d; minute medians %+.1f to %+.1f ms; window %+d ... %+d ms: %s"
          % (len(claps), min(medians), max(medians), low, high, "met" if inside else "NOT met"))
    print("from minute %d: medians spread %.1f ms; within +-%d ms of one another: %s"
          % (STEADY_FROM_MINUTE, spread, STEADY_MS, "met" if spread <= 2 * STEADY_MS else "NOT met"))


if __name__ == "__main__":
    main()
