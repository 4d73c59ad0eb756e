"""What sound adds to a recording's CPU (run by hand through audio_bench.sh).

One private display with the moving test picture and a fake microphone
playing a 1 kHz tone; parvelo.exe records it twice at its default size and
rate, once with the sound box ticked and once with it cleared, and the CPU of
the parvelo.exe process (utime+stime of all its threads from /proc, read
before Start and after the file is closed) is divided by the recorded
seconds, as in capture_bench.py.

The capture loop grabs back to back, so its own CPU swings by more than the
sound costs; the two busiest threads (the grab loop and Wine's Direct3D
command thread) are therefore also left out in a second figure, "other
threads", read just before Stop, where the audio thread's work shows up
undisturbed.

Then how quickly a Stop ends a session with sound (target: under 0.5 s),
timed inside Windows from the Stop click to the idle Start caption's return,
for sessions stopped within the first second of sound and in mid-recording.

Last, recording the computer's sound instead (under Wine 10 from the Debian
13 root, whose loopback works): the processor time of the capture thread
alone per recorded second, as it tells it (GetThreadTimes): taking the
packets, downmixing and resampling the device's 48 kHz float to 44.1 kHz
16-bit, placing and MP3 encoding.
"""

import argparse
import os
import re
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import capture_bench  # noqa: E402  (sets the benchmark's Wine prefix before the harness loads)
from capture_bench import harness, picture  # noqa: E402

DEFAULT_SECONDS = 30
SCREEN = (1366, 768)
TONE_HZ = 1000
TONE_AMPLITUDE = 0.5
RATE = 44100
# The feed starts before Start and must outlast the recording.
FEED_MARGIN_S = 10
# The grab loop and wined3d's command-stream thread.
BUSY_THREADS = 2
FRAMES_PER_SECOND = 15  # the recorder's default entry (medium)
# Stop timings: how many sessions of each length, and the lengths.
STOP_RUNS = 5
STOP_AFTER_S = (0.9, 3.5)
STOP_TARGET_S = 0.5
COMPUTER_SOUND_CPU_LINE = r"parvelo computer sound: (\d+) ms of processor time in (\d+) ms"
# Start-up tries loopback on a thread of its own.
PROBE_TIMEOUT_S = 20


def set_sound_box(app, ticked):
    if (app.dialog().get("%d.check" % harness.SOUND_ID) == "1") != ticked:
        app.click(harness.SOUND_ID)
    if (app.dialog().get("%d.check" % harness.SOUND_ID) == "1") != ticked:
        raise RuntimeError("cannot set the sound box")


def process_pid(session, name):
    for proc in session.procs:
        if proc.args and proc.args[0] == name and proc.poll() is None:
            return proc.pid
    return None


def record(session, app, wav, seconds, with_sound):
    set_sound_box(app, with_sound)
    feed = session.play(wav)
    pid = capture_bench.parvelo_pid(app)
    meter = capture_bench.Meter({"parvelo": pid, "pulseaudio": process_pid(session, "pulseaudio")})
    before_files = os.listdir(session.workdir)
    threads_before = capture_bench.thread_seconds(pid)
    app.click(harness.START_ID)
    time.sleep(seconds)
    threads_after = capture_bench.thread_seconds(pid)
    app.click(harness.STOP_ID)
    app.wait_idle(capture_bench.IDLE_TIMEOUT_S)
    cpu = meter.stop()
    harness.end_process(feed)

    files = [os.path.join(session.workdir, f) for f in session.new_files(before_files)]
    if len(files) != 1:
        raise RuntimeError("expected one recording, found %r" % files)
    kinds = {s["codec_type"]: s for s in harness.streams(files[0])["streams"]}
    if ("audio" in kinds) != with_sound:
        raise RuntimeError("audio stream %s, sound box %s" % (
            "present" if "audio" in kinds else "missing", "ticked" if with_sound else "cleared"))
    recorded_s = int(kinds["video"]["nb_frames"]) / FRAMES_PER_SECOND
    per_thread = sorted((threads_after[t] - threads_before.get(t, 0.0) for t in threads_after),
                        reverse=True)
    return {
        "recorded_s": recorded_s,
        "cpu_per_s": cpu["parvelo"] / recorded_s,
        "busy_threads_per_s": sum(per_thread[:BUSY_THREADS]) / seconds,
        "other_threads_per_s": sum(per_thread[BUSY_THREADS:]) / seconds,
        "pulseaudio_per_s": cpu["pulseaudio"] / recorded_s if cpu.get("pulseaudio") is not None else None,
        "audio": "%s %s Hz %s ch %s bit/s" % (kinds["audio"]["codec_name"], kinds["audio"]["sample_rate"],
                                             kinds["audio"]["channels"], kinds["audio"].get("bit_rate"))
        if with_sound else "none",
        "debug": capture_bench.debug_summary(session),
    }


def stop_latencies(session, app, wav, after_s):
    set_sound_box(app, True)
    feed = session.play(wav)
    took = []
    try:
        for _ in range(STOP_RUNS):
            app.click(harness.START_ID)
            time.sleep(after_s)
            took.append(app.click_timed(harness.STOP_ID, harness.START_ID, harness.START_CAPTION))
            app.wait_idle(capture_bench.IDLE_TIMEOUT_S)
    finally:
        harness.end_process(feed)
    return sorted(took)


def computer_sound_cost(seconds):
    """(processor ms, ms) of the computer's sound's capture thread over a
    recording of `seconds` with the speakers playing the tone."""
    session = harness.Session(*SCREEN, speakers=True, wine10=True)
    try:
        wav = harness.write_tone_wav(os.path.join(session.root, "tone.wav"),
                                     [(TONE_HZ, seconds + FEED_MARGIN_S)], RATE, TONE_AMPLITUDE)
        session.play(wav, harness.SPEAKERS_SINK)
        picture.show(session)
        app = harness.Parvelo(session)
        app.wait_ready()
        box = "%d.enabled" % harness.COMPUTER_SOUND_ID
        harness.wait_until(lambda: app.dialog()[box] == "1", PROBE_TIMEOUT_S,
                           "the computer's sound box enabled")
        app.click(harness.COMPUTER_SOUND_ID)
        set_sound_box(app, False)  # the computer's sound alone
        app.record(seconds)
        found = harness.wait_until(
            lambda: re.findall(COMPUTER_SOUND_CPU_LINE, session.log_text("parvelo")),
            capture_bench.IDLE_TIMEOUT_S, "the capture thread's processor time")
        return tuple(int(n) for n in found[-1])
    finally:
        session.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("seconds", nargs="?", type=int, default=DEFAULT_SECONDS,
                        help="length of each recording (default %d)" % DEFAULT_SECONDS)
    args = parser.parse_args()

    load = capture_bench.machine_load()
    session = harness.Session(*SCREEN, microphone=True)
    try:
        wav = harness.write_tone_wav(os.path.join(session.root, "tone.wav"),
                                     [(TONE_HZ, args.seconds + FEED_MARGIN_S)], RATE, TONE_AMPLITUDE)
        picture.show(session)
        app = harness.Parvelo(session)
        app.wait_ready()
        results = [(label, record(session, app, wav, args.seconds, ticked))
                   for label, ticked in (("with sound", True), ("without sound", False))]
        stops = [(after, stop_latencies(session, app, wav, after)) for after in STOP_AFTER_S]
    finally:
        session.close()
    computer_cpu_ms, computer_ms = computer_sound_cost(args.seconds)

    print()
    print("== sound's cost: %dx%d @ %d fps, %d s each (%s) ==" % (
        SCREEN[0], SCREEN[1], FRAMES_PER_SECOND, args.seconds, load))
    print("%-15s %-36s %10s %12s %12s %12s" % ("", "audio stream", "CPU s/s", "2 busiest", "other thr.",
                                               "pulseaudio"))
    for label, r in results:
        print("%-15s %-36s %10.3f %12.3f %12.3f %12s" % (
            label, r["audio"], r["cpu_per_s"], r["busy_threads_per_s"], r["other_threads_per_s"],
            capture_bench.fmt(r["pulseaudio_per_s"], "%.3f")))
    with_sound, without = results[0][1], results[1][1]
    print("%-52s %10.3f %12.3f %12.3f" % (
        "difference (sound's cost)", with_sound["cpu_per_s"] - without["cpu_per_s"],
        with_sound["busy_threads_per_s"] - without["busy_threads_per_s"],
        with_sound["other_threads_per_s"] - without["other_threads_per_s"]))
    for label, r in results:
        d = r["debug"] or {}
        print("%s: %s of %s slots written, grab %s ms, encode+write %s ms" % (
            label, d.get("writes", "-"), d.get("slots", "-"), capture_bench.fmt(d.get("grab_ms")),
            capture_bench.fmt(d.get("write_ms"))))

    print()
    print("== Stop with sound: click to idle caption, %d sessions each (target < %.1f s) ==" % (
        STOP_RUNS, STOP_TARGET_S))
    print("%-22s %10s %10s %10s" % ("stopped after", "fastest", "median", "slowest"))
    for after, took in stops:
        print("%-22s %9.3fs %9.3fs %9.3fs" % ("%.1f s (+ click)" % after, took[0],
                                              took[len(took) // 2], took[-1]))

    print()
    print("== the computer's sound (Wine 10): its capture thread, %d s ==" % args.seconds)
    print("%d ms of processor time in %d ms: %.4f CPU s per recorded second" % (
        computer_cpu_ms, computer_ms, computer_cpu_ms / computer_ms))


if __name__ == "__main__":
    main()
