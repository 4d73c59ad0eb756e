"""A user records with the sound box ticked: the microphone ends up as an
MP3 stream beside the video, carrying what was fed to it, in order, and
ending where the video ends, and heard with the picture it belongs to."""

import math
import os
import statistics
import subprocess
import time
import unittest

import harness
import readers
from harness import START_ID, STOP_ID, PAUSE_ID, SOUND_ID, COMPUTER_SOUND_ID

RATE = 44100
TONE_HZ = 1000
TONE_AMPLITUDE = 0.5
TONE_RMS = TONE_AMPLITUDE * 32767 / 2 ** 0.5  # a full-level sine's RMS
# Distinct tones fed in sequence, 0.5 s each, far apart for the Goertzel filter.
SEQUENCE_HZ = [400 + 300 * i for i in range(24)]
SEQUENCE_STEP_S = 0.5
# The sequence's recording: recorded, paused (the tones fed meanwhile must
# be absent), recorded again, then paused and stopped while paused, inside
# the sequence (its last tones must not come out as a repeat).
SEQUENCE_RECORDED_S = 3
SEQUENCE_PAUSED_S = 3
WINDOW_S = 0.1
# A slot at the recorder's 15 fps.
SLOT_S = 1 / 15
# A Stop's wait for the sound side gives up after 3 s.
STOP_WELL_BEFORE_THE_SOUND_WAIT_S = 2.0
# What the device still holds when it is reset, at most.
SOUND_SHORT_OF_PICTURE_S = 0.15
# Clapperboard recordings: long enough for the first and the last claps
# judged to be different ones; the board outlasts the recording. One of
# them is paused twice, and its last claps judged come after the last
# resume (the claps are 0.7 to 1.3 s apart).
CLAP_RECORDING_S = 45
CLAP_SEGMENTS_S = (22, 8, 25)
CLAP_PAUSE_S = 4
CLAPS_JUDGED = 20
CLAPPERBOARD_MARGIN_S = 60
# Sound minus picture as a viewer sees it (the beep's onset against the
# first frame showing the flash), the window broadcasters allow: at most
# 15 ms ahead, at most 45 ms behind.
SYNC_WINDOW_MS = (-15, 45)
# Where decoders put a click: LAME's encoder delay (576 sample frames with
# the recorder's settings) and the decoder's 529, by LAME's own accounting.
DECODED_DELAY_FRAMES = 1105
# How long the user takes to answer the Direct3D failure message.
ANSWER_AFTER_MS = 4000
# What the microphone hears while the computer's sound is recorded: a tone
# between two of the sequence's.
MICROPHONE_HZ = 550
# What the speakers play: about -12 dBFS; how far from that level a tone
# may come out of the file.
SPEAKERS_AMPLITUDE = 0.25
SPEAKERS_RMS = SPEAKERS_AMPLITUDE * 32767 / 2 ** 0.5
LEVEL_TOLERANCE_DB = 1.5
# Both sounds at once: the speakers' tone, the microphone's, and the
# headset's that the recording goes on with once the speakers are gone;
# each at the speakers' level. Windows within SETTLE_S of a change are not
# judged (the reader's windows straddle it, the new device starts late).
SPEAKERS_HZ = 1000
MICROPHONE_BOTH_HZ = 400
HEADSET_HZ = 700
HEADSET_SINK = "headset"
SPEAKERS_TONE_S = 6
AFTER_THE_CHANGE_S = 7
JUDGED_AFTER_THE_CHANGE_S = 3
SETTLE_S = 1.5
PLAYER_END_TIMEOUT_S = 10
# Start-up tries loopback on a thread of its own; Wine 10 opens the
# PulseAudio monitor for it.
PROBE_TIMEOUT_S = 20


def loud_windows(samples):
    """Starts of the WINDOW_S windows that carry the tone at more than half its level."""
    window = int(WINDOW_S * RATE)
    return [i for i in range(0, len(samples) - window, window)
            if harness.rms(samples[i:i + window]) > TONE_RMS * 0.5]


def streams_by_type(path):
    info = harness.streams(path)
    return {s["codec_type"]: s for s in info["streams"]}


def heard_tones(samples, frequencies, tone_rms=TONE_RMS):
    """For each WINDOW_S window, the strongest of `frequencies`, or None
    where it is quieter than a third of the tone."""
    window = int(WINDOW_S * RATE)
    heard = []
    for start in range(0, len(samples) - window, window):
        chunk = samples[start:start + window]
        if harness.rms(chunk) < tone_rms * 0.3:
            heard.append(None)
            continue
        powers = [harness.goertzel_power(chunk, f, RATE) for f in frequencies]
        heard.append(frequencies[powers.index(max(powers))])
    return heard


class ClapJudging:

    def assert_claps_heard_with_their_flash(self, path, last_from_s=0):
        """The first and the last claps' medians in the window; the last
        ones all from `last_from_s` on in the file."""
        pairs = harness.clap_offsets(path)
        print("sound minus picture per clap, ms:",
              " ".join("%.0f@%.1fs" % (offset, at) for at, offset in pairs))
        self.assertGreaterEqual(len(pairs), 2 * CLAPS_JUDGED, pairs)
        self.assertGreater(pairs[-CLAPS_JUDGED][0], last_from_s, pairs)
        low, high = SYNC_WINDOW_MS
        for which, claps in (("first", pairs[:CLAPS_JUDGED]), ("last", pairs[-CLAPS_JUDGED:])):
            median = statistics.median(offset for _, offset in claps)
            print("%s %d claps: median %+.1f ms" % (which, CLAPS_JUDGED, median))
            self.assertTrue(low <= median <= high, "%s claps: median %+.1f ms, %r"
                            % (which, median, claps))


class SoundRecording(ClapJudging, harness.WineTestCase):
    microphone = True

    def start(self, overrides=None):
        self.app = harness.Parvelo(self.session, overrides=overrides)
        self.app.wait_ready()
        return self.app

    def feed(self, segments):
        path = harness.write_tone_wav(os.path.join(self.session.root, "feed%d.wav" % time.time_ns()),
                                      segments, RATE, TONE_AMPLITUDE)
        return self.session.play(path)

    def record(self, seconds):
        files = self.app.record(seconds)
        self.assertEqual(len(files), 1, files)
        return files[0]

    def test_sound_session_records_the_fed_tone_as_128_kbit_mp3(self):
        self.feed([(TONE_HZ, 30)])
        self.start()
        # Wine 8 takes loopback's flag and refuses its capture service: the
        # computer's sound box stays greyed and cleared, and its tip says why.
        harness.wait_until(lambda: "parvelo computer sound: no loopback here"
                           in self.session.log_text("parvelo"), PROBE_TIMEOUT_S, "the probe")
        state = self.app.dialog()
        self.assertEqual((state["%d.enabled" % COMPUTER_SOUND_ID],
                          state["%d.check" % COMPUTER_SOUND_ID]), ("0", "0"))
        self.assertEqual(self.session.probe("tips")[1]["tip.%d" % COMPUTER_SOUND_ID],
                         "此系统不支持录制电脑的声音")
        time.sleep(1)
        path = self.record(5)
        kinds = streams_by_type(path)
        audio, video = kinds["audio"], kinds["video"]
        self.assertEqual(audio["codec_name"], "mp3")
        self.assertEqual(int(audio["sample_rate"]), 44100)
        self.assertEqual(audio["channels"], 2)
        self.assertEqual(int(audio["bit_rate"]), 128000)
        self.assertEqual(harness.decode_errors(path), "")
        samples = harness.decode_audio_pcm(path, RATE)
        # The tone's steady part: past any lead-in silence and the encoder's
        # ringing at the onset, and before the end.
        window = int(WINDOW_S * RATE)
        loud = loud_windows(samples)
        self.assertGreater(len(loud), 20)
        middle = samples[loud[0] + 2 * window:loud[-1] - window]
        self.assertAlmostEqual(harness.zero_crossing_frequency(middle, RATE), TONE_HZ, delta=5)
        level = harness.rms(middle)
        self.assertGreater(level, TONE_RMS * 0.7, level)
        self.assertLess(level, TONE_RMS * 1.3, level)
        # What players hear: the decoded sound's length.
        audio_s, video_s = len(samples) / RATE, float(video["duration"])
        print("audio %.3f s, video %.3f s, difference %.3f s" % (audio_s, video_s, audio_s - video_s))
        self.assertGreaterEqual(audio_s, video_s)
        self.assertLessEqual(audio_s, video_s + 1.5)
        # Readers nobody here wrote take the whole file, without a complaint.
        self.assertEqual(readers.player_complaints(path), readers.NO_COMPLAINTS)
        readers.check_platform_reader(self, self.session, path)

    def test_a_paused_sequence_of_tones_comes_out_in_order_without_the_pause_gap_or_repeat(self):
        app = self.start()
        # Before Start, neither the hotkey nor the button pauses anything.
        app.press("ctrl+F11")
        app.click(PAUSE_ID)
        before = os.listdir(self.session.workdir)
        # Fed once the picture has begun: sound from before the first frame
        # is left out, however long the set-up took.
        first_ms = app.start_recording()
        self.assertEqual(app.caption(harness.PAUSE_ID), harness.PAUSE_CAPTION)
        self.feed([(f, SEQUENCE_STEP_S) for f in SEQUENCE_HZ])
        time.sleep(SEQUENCE_RECORDED_S)
        paused_ms = app.toggle_pause(1)
        standing = app.wait_caption_until(START_ID, lambda c: harness.PAUSED_MARK in c, 5,
                                          "the paused mark")
        self.assertEqual(app.caption(PAUSE_ID), harness.RESUME_CAPTION)
        time.sleep(SEQUENCE_PAUSED_S)
        self.assertEqual(app.caption(START_ID), standing)  # stood still
        resumed_ms = app.toggle_pause(1, hotkey=True)
        time.sleep(SEQUENCE_RECORDED_S)
        last_paused_ms = app.toggle_pause(2)
        app.click(STOP_ID)
        app.wait_idle()
        files = self.session.new_files(before)
        self.assertEqual(len(files), 1, files)
        path = os.path.join(self.session.workdir, files[0])
        # One file without the pauses: the picture and the sound each last
        # what was recorded, to two slots.
        recorded_s = (paused_ms - first_ms + last_paused_ms - resumed_ms) / 1000
        samples = harness.decode_audio_pcm(path, RATE)
        video_s = float(streams_by_type(path)["video"]["duration"])
        print("recorded %.3f s: video %.3f s, sound %.3f s; standing caption %r"
              % (recorded_s, video_s, len(samples) / RATE, standing))
        self.assertAlmostEqual(video_s, recorded_s, delta=2 * SLOT_S)
        self.assertAlmostEqual(len(samples) / RATE, recorded_s, delta=2 * SLOT_S)
        # The first frame after the resume is a key frame: seeking lands there.
        seam = round((paused_ms - first_ms) / 1000 / SLOT_S)
        keys = [f.get("best_effort_timestamp") for f in harness.video_frames(path)
                if f.get("key_frame") == 1]
        self.assertIn(seam, keys)
        heard = heard_tones(samples, SEQUENCE_HZ)  # None: silence before or after the feed
        tones = [f for f in heard if f is not None]
        self.assertGreater(len(tones), 10, heard)
        # Collapse repeats of the same tone; what is left must be consecutive
        # entries of the fed sequence, but for the tones fed while paused.
        order = [f for i, f in enumerate(tones) if i == 0 or tones[i - 1] != f]
        indexes = [SEQUENCE_HZ.index(f) for f in order]
        steps = [b - a for a, b in zip(indexes, indexes[1:])]
        skipped = (resumed_ms - paused_ms) / 1000 / SEQUENCE_STEP_S
        jumps = [step for step in steps if step != 1]
        self.assertEqual(len(jumps), 1, heard)
        self.assertLessEqual(abs(jumps[0] - 1 - skipped), 1.5, (heard, skipped))
        # No tone lasts much longer than it was fed (a repeated buffer would).
        run = 0
        for i, f in enumerate(tones):
            run = run + 1 if i and tones[i - 1] == f else 1
            self.assertLessEqual(run * WINDOW_S, SEQUENCE_STEP_S + 2 * WINDOW_S, heard)
        # Sound is continuous, at the seam too: no silent window between the
        # first and last tone.
        first = heard.index(tones[0])
        last = len(heard) - 1 - heard[::-1].index(tones[-1])
        self.assertNotIn(None, heard[first:last + 1], heard)

    def test_stop_when_the_first_second_ends_keeps_the_sound_up_to_the_stop(self):
        self.feed([(TONE_HZ, 30)])
        self.start()
        before = os.listdir(self.session.workdir)
        self.app.click(START_ID)
        # Stop as the Start button turns to 0:1: the device started after the
        # click, so its first one-second buffer is not full yet. Timed inside
        # Windows from the click to the idle caption's return; how quick that
        # is lives in bench/audio_bench.sh, here it only has to end well
        # before the 3 s wait for the sound side would run out.
        took = self.app.click_timed(STOP_ID, START_ID, harness.START_CAPTION, timeout=10,
                                    first="0:1")
        self.assertLess(took, STOP_WELL_BEFORE_THE_SOUND_WAIT_S)
        files = self.session.new_files(before)
        path = os.path.join(self.session.workdir, files[0])
        kinds = streams_by_type(path)
        self.assertIn("audio", kinds)
        self.assertEqual(harness.decode_errors(path, "0:a"), "")
        # The sound runs to where the picture ends: what the device recorded
        # before the Stop is kept, and the start is lined up with the
        # picture's. (The picture may still be empty if the grab had not
        # started yet.)
        samples = harness.decode_audio_pcm(path, RATE)
        tone_s = WINDOW_S * len(loud_windows(samples))
        audio_s, video_s = len(samples) / RATE, float(kinds["video"].get("duration") or 0)
        print("stop took %.3f s; audio %.2f s (tone %.1f s), video %.2f s" % (took, audio_s, tone_s,
                                                                            video_s))
        self.assertGreaterEqual(audio_s, video_s - SOUND_SHORT_OF_PICTURE_S)

    def test_two_sessions_back_to_back_each_hold_only_their_own_sound(self):
        first_feed = self.feed([(500, 30)])
        self.start()
        time.sleep(1)
        first = self.record(3)
        harness.end_process(first_feed)
        self.feed([(2000, 30)])
        time.sleep(0.5)
        second = self.record(3)
        for path, own, other in ((first, 500, 2000), (second, 2000, 500)):
            samples = harness.decode_audio_pcm(path, RATE)
            window = int(WINDOW_S * RATE)
            for start in range(0, len(samples) - window, window):
                chunk = samples[start:start + window]
                if harness.rms(chunk) < TONE_RMS * 0.3:
                    continue
                self.assertGreater(harness.goertzel_power(chunk, own, RATE),
                                   harness.goertzel_power(chunk, other, RATE) * 10,
                                   "%s at %.1f s" % (os.path.basename(path), start / RATE))

    def test_claps_are_heard_with_their_flash_from_a_normal_start_and_after_two_pauses(self):
        self.start()
        self.session.clapperboard(sum(CLAP_SEGMENTS_S) + 2 * CLAP_PAUSE_S + CLAPPERBOARD_MARGIN_S)
        before = os.listdir(self.session.workdir)
        first_ms = self.app.start_recording()
        pauses = []  # (paused, resumed) moments, ms
        for n, segment_s in enumerate(CLAP_SEGMENTS_S[:-1], 1):
            time.sleep(segment_s)
            paused_ms = self.app.toggle_pause(n)
            time.sleep(CLAP_PAUSE_S)
            pauses.append((paused_ms, self.app.toggle_pause(n)))
        time.sleep(CLAP_SEGMENTS_S[-1])
        self.app.click(STOP_ID)
        self.app.wait_idle()
        files = self.session.new_files(before)
        self.assertEqual(len(files), 1, files)
        # The file's time at the last resume: what was recorded before it.
        last_resume_s = (pauses[-1][0] - first_ms - sum(r - p for p, r in pauses[:-1])) / 1000
        self.assert_claps_heard_with_their_flash(os.path.join(self.session.workdir, files[0]),
                                                 last_resume_s)

    def test_claps_are_heard_with_their_flash_when_the_direct3d_message_waits_4_s(self):
        self.start(overrides="d3d9=")
        self.session.clapperboard(CLAP_RECORDING_S + CLAPPERBOARD_MARGIN_S)
        before = os.listdir(self.session.workdir)
        self.app.click(START_ID)
        # The microphone records while the message holds the recording
        # thread; the picture starts only once it is answered.
        self.assertEqual(self.app.messagebox(answer_after_ms=ANSWER_AFTER_MS),
                         "Direct3DCreate9() - FAILED")
        self.app.wait_recorded(CLAP_RECORDING_S + ANSWER_AFTER_MS // 1000,
                               timeout=2 * CLAP_RECORDING_S)
        self.app.click(STOP_ID)
        self.app.wait_idle()
        files = self.session.new_files(before)
        self.assertEqual(len(files), 1, files)
        self.assert_claps_heard_with_their_flash(os.path.join(self.session.workdir, files[0]))


class Mp3Delay(harness.WineTestCase):

    def test_a_click_comes_out_of_the_readers_1105_frames_after_it_went_into_the_encoder(self):
        path = os.path.join(self.session.workdir, "click.avi")
        code, values = self.session.run_wine(os.path.join(harness.WIN32_BUILD, "mp3_delay.exe"),
                                             [path])
        self.assertEqual(code, 0, values)
        told = dict(line.split("=", 1) for line in values.split())
        # What the recorder takes off is what the readers put in front,
        # neither more (no reader takes the format block's codec delay off)
        # nor less (no tag frame that would play as silence).
        self.assertEqual(int(told["decoded_delay"]), DECODED_DELAY_FRAMES)
        for reader, samples in (("ffmpeg", harness.decode_audio_pcm(path, RATE)),
                                ("GStreamer", readers.gstreamer_pcm(path))):
            click = max(range(len(samples)), key=lambda i: abs(samples[i]))
            self.assertEqual(click - int(told["click_frame"]), DECODED_DELAY_FRAMES, reader)


class NoCaptureDevice(harness.WineTestCase):
    microphone = False

    def test_sound_box_ticked_without_a_device_records_video_only_silently(self):
        app = harness.Parvelo(self.session)
        state = app.wait_ready()
        self.assertEqual(state["1009.check"], "1")
        files = app.record(2)
        self.assertEqual(len(files), 1)
        kinds = streams_by_type(files[0])
        self.assertIn("video", kinds)
        self.assertNotIn("audio", kinds)
        code, _ = self.session.probe("messagebox", 1000)
        self.assertNotEqual(code, 0, "a message box appeared")


class ComputerSound(ClapJudging, harness.WineTestCase):
    """The computer's sound box under Wine 10, whose loopback capture works:
    the file holds what the speakers played, with the picture, and nothing
    of what the microphone heard meanwhile."""
    microphone = True
    speakers = True
    wine10 = True

    def start_with_the_computer_sound(self, microphone_too=False):
        self.app = harness.Parvelo(self.session)
        self.app.wait_ready()
        harness.wait_until(lambda: self.app.dialog()["%d.enabled" % COMPUTER_SOUND_ID] == "1",
                           PROBE_TIMEOUT_S, "the computer's sound box enabled")
        # Cleared at start-up; each box is ticked or cleared on its own.
        self.assertEqual(self.app.dialog()["%d.check" % COMPUTER_SOUND_ID], "0")
        self.assertEqual(self.session.probe("tips")[1]["tip.%d" % COMPUTER_SOUND_ID],
                         "录制电脑播放的声音；与录音同时勾选时两者混在一起")
        self.app.click(COMPUTER_SOUND_ID)
        if not microphone_too:
            self.app.click(SOUND_ID)
        state = self.app.dialog()
        self.assertEqual((state["%d.check" % COMPUTER_SOUND_ID], state["%d.check" % SOUND_ID]),
                         ("1", "1" if microphone_too else "0"))
        return self.app

    def recorded_sources(self):
        """The names of the PulseAudio sources that something records from."""
        def table(kind):
            return [line.split("\t") for line in self.session.pactl("list", "short", kind).splitlines()]

        names = {row[0]: row[1] for row in table("sources")}
        return [names[row[1]] for row in table("source-outputs")]

    def assert_tones_at_their_level(self, samples, frequencies, from_s, to_s):
        """Each of `frequencies` at the speakers' level in every window from
        `from_s` to `to_s` in the file."""
        window = int(WINDOW_S * RATE)
        for start in range(int(from_s / WINDOW_S), int(to_s / WINDOW_S)):
            chunk = samples[start * window:(start + 1) * window]
            for frequency in frequencies:
                level = harness.tone_rms(chunk, frequency, RATE)
                self.assertLess(abs(20 * math.log10(max(level, 1) / SPEAKERS_RMS)),
                                LEVEL_TOLERANCE_DB, "%d Hz at %.1f s: %.0f, %s"
                                % (frequency, start * WINDOW_S, level,
                                   [round(harness.tone_rms(chunk, f, RATE)) for f in frequencies]))

    def test_the_computer_sound_alone_holds_the_speakers_tones_in_order_at_their_level(self):
        self.session.play_tone([(MICROPHONE_HZ, CLAPPERBOARD_MARGIN_S)])
        app = self.start_with_the_computer_sound()
        before = os.listdir(self.session.workdir)
        app.start_recording()
        # Played once the picture has begun, so that all of it is in the file.
        self.session.play(harness.write_tone_wav(
            os.path.join(self.session.root, "speakers.wav"),
            [(f, SEQUENCE_STEP_S) for f in SEQUENCE_HZ], RATE, SPEAKERS_AMPLITUDE),
            harness.SPEAKERS_SINK)
        # Only the speakers' monitor is recorded from, not the microphone.
        self.assertEqual(self.recorded_sources(), [harness.SPEAKERS_SINK + ".monitor"])
        time.sleep(len(SEQUENCE_HZ) * SEQUENCE_STEP_S + 1)
        app.click(STOP_ID)
        app.wait_idle()
        files = self.session.new_files(before)
        self.assertEqual(len(files), 1, files)
        path = os.path.join(self.session.workdir, files[0])
        self.assertEqual(streams_by_type(path)["audio"]["codec_name"], "mp3")
        samples = harness.decode_audio_pcm(path, RATE)
        heard = heard_tones(samples, SEQUENCE_HZ + [MICROPHONE_HZ], SPEAKERS_RMS)
        tones = [f for f in heard if f is not None]
        order = [f for i, f in enumerate(tones) if i == 0 or tones[i - 1] != f]
        self.assertEqual(order, SEQUENCE_HZ, heard)
        # Each tone as loud as it was played: the windows inside its run.
        window = int(WINDOW_S * RATE)
        for i in range(1, len(heard) - 1):
            if heard[i] is not None and heard[i - 1] == heard[i] == heard[i + 1]:
                level = harness.rms(samples[i * window:(i + 1) * window])
                self.assertLess(abs(20 * math.log10(level / SPEAKERS_RMS)), LEVEL_TOLERANCE_DB,
                                "%d Hz at %.1f s: %.0f" % (heard[i], i * WINDOW_S, level))

    def test_claps_through_the_speakers_are_heard_with_their_flash_with_the_microphone_open(self):
        self.start_with_the_computer_sound(microphone_too=True)
        self.session.clapperboard(CLAP_RECORDING_S + CLAPPERBOARD_MARGIN_S)
        files = self.app.record(CLAP_RECORDING_S)
        self.assertEqual(len(files), 1, files)
        self.assert_claps_heard_with_their_flash(files[0])

    def test_both_sounds_are_mixed_at_their_levels_and_go_on_through_a_lost_output_device(self):
        """The speakers play 1000 Hz, then are unplugged (their sink goes
        away), and a headset playing 700 Hz is the default from then on; the
        microphone hears 400 Hz throughout. The file holds the microphone
        with the one and then with the other."""
        # A sound card's class ranks it above the speakers' stand-in and the
        # microphone's: the system's default once the speakers are gone.
        self.session.pactl("load-module", "module-null-sink", "sink_name=" + HEADSET_SINK,
                           "sink_properties=device.class=sound", *harness.SPEAKERS_FORMAT)
        self.session.play(self.tone_at_the_speakers_level(MICROPHONE_BOTH_HZ))
        self.session.play(self.tone_at_the_speakers_level(HEADSET_HZ), HEADSET_SINK)
        app = self.start_with_the_computer_sound(microphone_too=True)
        before = os.listdir(self.session.workdir)
        first_ms = app.start_recording()
        speakers = self.session.play(self.tone_at_the_speakers_level(SPEAKERS_HZ, SPEAKERS_TONE_S),
                                     harness.SPEAKERS_SINK)
        speakers.wait(SPEAKERS_TONE_S + PLAYER_END_TIMEOUT_S)
        # Wine 10 neither tells a new default sink (pactl set-default-sink)
        # nor follows it; a device that goes away fails the stream.
        module = [line.split("\t")[0] for line in
                  self.session.pactl("list", "short", "modules").splitlines()
                  if "sink_name=" + harness.SPEAKERS_SINK in line]
        self.session.pactl("unload-module", module[0])
        app.wait_debug_line(r"parvelo computer sound: at (\d+) ms the output device has gone", 1)
        # Opened again: the new default's format.
        app.wait_debug_line(r"parvelo computer sound: (\d+) Hz", 2)
        time.sleep(AFTER_THE_CHANGE_S)
        stop_ms = app.click(STOP_ID)
        app.wait_idle()
        files = self.session.new_files(before)
        self.assertEqual(len(files), 1, files)
        samples = harness.decode_audio_pcm(os.path.join(self.session.workdir, files[0]), RATE)
        recorded_s = (stop_ms - first_ms) / 1000
        self.assert_tones_at_their_level(samples, [SPEAKERS_HZ, MICROPHONE_BOTH_HZ], SETTLE_S,
                                         SPEAKERS_TONE_S - SETTLE_S)
        self.assert_tones_at_their_level(samples, [HEADSET_HZ, MICROPHONE_BOTH_HZ],
                                         recorded_s - SETTLE_S - JUDGED_AFTER_THE_CHANGE_S,
                                         recorded_s - SETTLE_S)

    def tone_at_the_speakers_level(self, frequency, seconds=CLAPPERBOARD_MARGIN_S):
        return harness.write_tone_wav(
            os.path.join(self.session.root, "tone-%d.wav" % frequency), [(frequency, seconds)],
            RATE, SPEAKERS_AMPLITUDE)


if __name__ == "__main__":
    unittest.main()
