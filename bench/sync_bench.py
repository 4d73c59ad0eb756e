"""Sound against picture over a long recording (run by hand through sync_bench.sh).

One private 1366x768 display with the clapperboard (tools/clapperboard) in a
corner and a fake microphone; parvelo.exe records it at its default 15 fps
with sound for MINUTES, and every clap's offset (sound minus picture, less
the 33 ms a frame shows a flash late on average) is found in the file as the
sound tests find it. Printed: the median offset and the spread of every
minute. Target: every minute's median within +-20 ms.
"""

import argparse
import os
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
FRAME_LAG_MS = 33
TARGET_MS = 20
# Reading an hour of H.264 and MP3 back takes minutes.
ANALYSIS_TIMEOUT_S = 3 * 3600


def record(minutes):
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
        print("analysing: %s" % time.strftime("%H:%M:%S"), flush=True)
        return harness.clap_offsets(files[0], ANALYSIS_TIMEOUT_S)
    finally:
        session.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("minutes", type=int)
    minutes = parser.parse_args().minutes
    pairs = record(minutes)
    print("%6s %6s %12s %8s %8s" % ("minute", "claps", "median ms", "min ms", "max ms"))
    worst = 0.0
    for minute in range(minutes):
        offsets = [offset - FRAME_LAG_MS for at, offset in pairs
                   if minute * SECONDS_PER_MINUTE <= at < (minute + 1) * SECONDS_PER_MINUTE]
        if not offsets:
            print("%6d %6d" % (minute, 0))
            worst = float("inf")
            continue
        median = statistics.median(offsets)
        worst = max(worst, abs(median))
        print("%6d %6d %+12.1f %+8.0f %+8.0f" % (minute, len(offsets), median, min(offsets),
                                                max(offsets)))
    print("claps %d; worst minute median %.1f ms; target within +-%d ms: %s"
          % (len(pairs), worst, TARGET_MS, "met" if worst <= TARGET_MS else "NOT met"))


if __name__ == "__main__":
    main()
