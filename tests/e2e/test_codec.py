"""End-to-end tests of x264vfw.dll, the H.264 Video-for-Windows compressor.

A Windows test program (tests/win32/codec/vfw_codec_check.cpp) installs the DLL's DriverProc
as a function driver the way Parvelo does and drives it through Wine's compressor manager, or
through Wine's own AVI layer; these tests judge what comes out with ffprobe and ffmpeg.
"""

import os
import re
import shutil
import subprocess
import unittest

import harness

CHECKER = "vfw_codec_check.exe"
DRIVER = "x264vfw.dll"
RUN_TIMEOUT_S = 300

ICERR_OK = 0
ICERR_UNSUPPORTED = -1
ICERR_BADFORMAT = -2
ICERR_BADPARAM = -6
ICERR_BADSIZE = -7
ICERR_ERROR = -100

NAL_IDR = 5
NAL_SEI = 6
NAL_SPS = 7
NAL_PPS = 8

# Per-channel difference allowed between a decoded pixel and its source inside a flat area:
# a swapped channel, a flipped picture or a wrong matrix is off by far more.
COLOUR_TOLERANCE = 8
# Pixels are compared where the source is one colour this far around them (compression spreads
# small errors a few pixels from edges).
FLAT_RADIUS = 4
MIN_PSNR_DB = 40.0


def annexb_units(data):
    """NAL unit types of an Annex B byte stream, in order."""
    types = []
    for match in re.finditer(b"\x00\x00\x01", data):
        if match.end() < len(data):
            types.append(data[match.end()] & 0x1F)
    return types


def expected_key_frames(positions, interval, asked):
    """The driver's rule: the first call, every call asking, and every call `interval` or more
    frame numbers after the last key frame."""
    keys, last = [], None
    for call, position in enumerate(positions):
        key = last is None or call in asked or position - last >= interval
        keys.append(key)
        if key:
            last = position
    return keys


def rgb_psnr(stream, source, width, height, rate=25):
    """Average PSNR (dB) of the decoded stream against the source pictures, in RGB."""
    out = subprocess.run(
        ["ffmpeg", "-nostdin", "-hide_banner", "-i", stream, "-f", "rawvideo", "-pix_fmt", "rgb24",
         "-s", "%dx%d" % (width, height), "-r", str(rate), "-i", source,
         "-lavfi", "[0:v]format=rgb24[a];[1:v]format=rgb24[b];[a][b]psnr", "-f", "null", "-"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    found = re.search(rb"average:([0-9.]+|inf)", out.stderr)
    if not found:
        raise AssertionError("no PSNR from ffmpeg: %s" % out.stderr.decode()[-2000:])
    return float(found.group(1))


def frame_count(path):
    info = harness.ffprobe(path, "-count_frames", "-select_streams", "v:0", "-show_streams")
    return int(info["streams"][0]["nb_read_frames"])


class Run:
    """One run of the checker: its key=value answers and the files it wrote."""

    def __init__(self, folder, code, text):
        self.folder, self.code, self.text = folder, code, text
        self.values = {}
        for line in text.splitlines():
            key, sep, value = line.partition("=")
            if sep:
                self.values[key.strip()] = value.strip()

    def int(self, key):
        return int(self.values[key])

    def path(self, name):
        return os.path.join(self.folder, name)

    def calls(self, prefix):
        """Per call: (frame number, compressed bytes, key flag, key asked)."""
        with open(self.path(prefix + ".frames")) as f:
            return [tuple(int(v) for v in line.split(",")[1:]) for line in f if line.strip()]

    def frames(self, prefix):
        """The compressed frames as the driver returned them, one bytes object per call."""
        with open(self.path(prefix + ".h264"), "rb") as f:
            data = f.read()
        frames, offset = [], 0
        for _, size, _, _ in self.calls(prefix):
            frames.append(data[offset:offset + size])
            offset += size
        return frames


class CodecTestCase(harness.WineTestCase):
    def setUp(self):
        super().setUp()
        for name in (CHECKER, DRIVER):
            shutil.copy(os.path.join(harness.WIN32_BUILD, name), self.session.workdir)

    def check(self, mode, **options):
        args = [mode]
        for name, value in options.items():
            args += ["--" + name.replace("_", "-"), str(value)]
        code, text = self.session.run_wine(os.path.join(self.session.workdir, CHECKER), args,
                                           timeout=RUN_TIMEOUT_S)
        run = Run(self.session.workdir, code, text)
        self.assertEqual(code, 0, "checker failed (%d):\n%s" % (code, text))
        return run

    def encode(self, prefix, **options):
        run = self.check("encode", out=prefix, **options)
        self.assertEqual(run.int("set_state"), 1024, run.text)
        self.assertEqual(run.int("begin"), ICERR_OK, run.text)
        self.assertNotIn("compress_error", run.values, run.text)
        return run

    def assert_colours(self, stream, source, width, height, frame):
        """Decoded pixels match the source wherever the source is flat around them."""
        decoded = harness.decode_rgb_frame(stream, frame, width, height)
        size = width * height * 3
        with open(source, "rb") as f:
            f.seek(frame * size)
            original = f.read(size)
        checked = 0
        for y in range(FLAT_RADIUS, height - FLAT_RADIUS, 6):
            for x in range(FLAT_RADIUS, width - FLAT_RADIUS, 6):
                want = harness.pixel(original, width, x, y)
                flat = all(original[row * width * 3 + (x - FLAT_RADIUS) * 3:
                                    row * width * 3 + (x + FLAT_RADIUS + 1) * 3]
                           == bytes(want) * (2 * FLAT_RADIUS + 1)
                           for row in range(y - FLAT_RADIUS, y + FLAT_RADIUS + 1))
                if not flat:
                    continue
                got = harness.pixel(decoded, width, x, y)
                self.assertTrue(harness.close_to(got, want, COLOUR_TOLERANCE),
                                "frame %d at (%d,%d): %s decoded, %s in the source"
                                % (frame, x, y, got, want))
                checked += 1
        self.assertGreater(checked, 100)


class CodecDriverTest(CodecTestCase):
    def test_driver_answers_the_compressor_manager(self):
        run = self.check("protocol")
        expected = {
            "info.result": "568", "info.size": "568", "info.type": "vidc",
            "info.handler": "X264", "info.version_icm": "260",
            # VIDCF_QUALITY | VIDCF_TEMPORAL | VIDCF_COMPRESSFRAMES | VIDCF_FASTTEMPORALC
            "info.flags": str(0x01 | 0x04 | 0x08 | 0x20),
            "info.name": "x264vfw", "info.description": "Parvelo H.264 (libx264)",
            "info.short_buffer": "0",
            "state_size": "1024",
            "default_quality.result": "0", "default_quality": "7500",
            "default_key_rate.result": "0", "default_key_rate": "250",
            "set_quality": "0", "quality": "4200", "set_quality_too_high": str(ICERR_BADPARAM),
            "query_configure": "0", "query_about": "0",
            "configure": str(ICERR_UNSUPPORTED), "about": str(ICERR_UNSUPPORTED),
            "unknown_message": str(ICERR_UNSUPPORTED), "decompress_query": str(ICERR_UNSUPPORTED),
            "second_open": "1", "first_default_quality": "3000", "second_default_quality": "7500",
            "second_close": "0", "open_decompress": "0", "open_query": "1", "close": "0",
        }
        for key, value in expected.items():
            self.assertEqual(run.values.get(key), value, key)

    def test_pictures_keep_their_colours_and_orientation(self):
        cases = [
            # (bits, top-down, width, height, extra state settings)
            (32, 0, 640, 480, {}),
            (32, 1, 640, 480, {}),
            (24, 0, 642, 360, {}),  # 642 * 3 bytes: every row padded
            (24, 1, 642, 360, {}),
            (32, 1, 1280, 720, {}),  # BT.709 by size
            (32, 0, 640, 480, {"matrix": 2, "full_range": 1}),
        ]
        for bits, top_down, width, height, state in cases:
            with self.subTest(bits=bits, top_down=top_down, width=width, state=state):
                prefix = "colours-%d-%d-%d-%d" % (bits, top_down, width, len(state))
                run = self.encode(prefix, width=width, height=height, bits=bits,
                                  top_down=top_down, frames=4, **state)
                self.assertEqual(run.values["out.compression"], "H264")
                self.assertEqual((run.int("out.width"), run.int("out.height")), (width, height))
                self.assertEqual(run.int("out.bit_count"), 24)
                stream = run.path(prefix + ".h264")
                info = harness.streams(stream)["streams"][0]
                self.assertEqual((info["codec_name"], info["width"], info["height"]),
                                 ("h264", width, height))
                self.assertEqual(frame_count(stream), 4)
                hd = state.get("matrix") == 2 or width >= 1280
                self.assertEqual(info["color_space"], "bt709" if hd else "smpte170m")
                self.assertEqual(info["color_range"], "pc" if state.get("full_range") else "tv")
                for frame in (0, 3):
                    self.assert_colours(stream, run.path(prefix + ".rgb"), width, height, frame)

    def test_quality_7500_gives_clean_screen_content(self):
        width, height, frames, rate = 1280, 720, 50, 25
        results = {}
        for quality in (5000, 7500):
            prefix = "quality-%d" % quality
            run = self.encode(prefix, width=width, height=height, frames=frames, rate=rate,
                              quality=quality, key_rate=50)
            stream = run.path(prefix + ".h264")
            psnr = rgb_psnr(stream, run.path(prefix + ".rgb"), width, height, rate)
            kbits = os.path.getsize(stream) * 8 * rate / frames / 1000
            results[quality] = (psnr, kbits)
            print("quality %d: PSNR %.2f dB, %.0f kbit/s at %dx%d %d fps"
                  % (quality, psnr, kbits, width, height, rate))
        self.assertGreaterEqual(results[7500][0], MIN_PSNR_DB)
        # The quality the caller asks for reaches the rate control.
        self.assertLess(results[5000][1], results[7500][1])
        self.assertLess(results[5000][0], results[7500][0])

    def test_key_frames_exactly_where_asked_and_at_the_interval(self):
        cases = [
            # (frame-number step, key rate, calls asking for a key frame)
            (1, 10, {3, 17, 18}),
            (3, 10, set()),  # numbered 0, 3, 6, ...: the interval counts frame numbers
            (1, 1, set()),
        ]
        for step, key_rate, asked in cases:
            with self.subTest(step=step, key_rate=key_rate, asked=asked):
                prefix = "keys-%d-%d" % (step, key_rate)
                frames = 40
                options = {"ask_key": ",".join(str(i) for i in sorted(asked))} if asked else {}
                run = self.encode(prefix, frames=frames, key_rate=key_rate, frame_step=step,
                                  **options)
                calls = run.calls(prefix)
                self.assertEqual(len(calls), frames)
                want = expected_key_frames([c[0] for c in calls], key_rate, asked)
                self.assertEqual([bool(c[2]) for c in calls], want)
                for call, data in enumerate(run.frames(prefix)):
                    units = annexb_units(data)
                    self.assertTrue(units, "call %d returned no frame" % call)
                    if want[call]:
                        # Parameter sets ahead of every IDR, so a cut file decodes.
                        self.assertEqual(units[:2], [NAL_SPS, NAL_PPS], "call %d" % call)
                        self.assertIn(NAL_IDR, units, "call %d" % call)
                    else:
                        self.assertFalse({NAL_IDR, NAL_SPS, NAL_PPS} & set(units),
                                         "call %d" % call)
                stream = run.path(prefix + ".h264")
                decoded = harness.video_frames(stream)
                self.assertEqual(len(decoded), frames)
                self.assertEqual([f["key_frame"] == 1 for f in decoded], want)
                self.assertEqual(harness.decode_errors(stream), "")

    def test_avifile_compressed_stream_with_gaps(self):
        frames, gaps, key_every, rate = 60, {10, 11, 12, 25, 47}, 10, 25
        run = self.check("avi", out="gaps.avi", frames=frames, gaps="10-12,25,47",
                         key_every=key_every, rate=rate, width=640, height=480)
        for key in ("file_open", "create_stream", "make_compressed", "set_format"):
            self.assertEqual(run.int(key), 0, key)
        positions = [p for p in range(frames) if p not in gaps]
        self.assertEqual(run.int("written"), len(positions))
        path = run.path("gaps.avi")
        info = harness.streams(path)["streams"][0]
        self.assertEqual((info["codec_name"], info["width"], info["height"]), ("h264", 640, 480))
        self.assertEqual(info["r_frame_rate"], "%d/1" % rate)
        self.assertEqual(harness.decode_errors(path), "")
        # Wine asks for a key frame by position and indexes exactly those as key frames; the
        # frames the decoder sees as IDRs must be the same ones.
        want = expected_key_frames(positions, key_every, set())
        decoded = harness.ffprobe(path, "-select_streams", "v:0", "-show_frames", "-show_entries",
                                  "frame=key_frame,best_effort_timestamp")["frames"]
        self.assertEqual([f["best_effort_timestamp"] for f in decoded], positions)
        self.assertEqual([f["key_frame"] == 1 for f in decoded], want)
        packets = harness.ffprobe(path, "-select_streams", "v:0", "-show_packets",
                                  "-show_entries", "packet=flags")["packets"]
        self.assertEqual([p["flags"].startswith("K") for p in packets], want)

    def test_bad_input_is_refused_cleanly(self):
        run = self.check("refusals")
        expected = {"compress_before_begin": ICERR_ERROR}
        for case in ("odd_width", "odd_height", "bits8", "bits16", "compressed", "zero_size",
                     "absurd_size", "short_image"):
            for step in ("query", "get_format_size", "get_format", "begin"):
                expected["%s.%s" % (case, step)] = ICERR_BADFORMAT
        expected.update({
            "good.begin": ICERR_OK,
            "null_input_bits": ICERR_BADPARAM, "null_input_header": ICERR_BADPARAM,
            "null_output_bits": ICERR_BADPARAM, "null_output_header": ICERR_BADPARAM,
            "short_input_image": ICERR_BADSIZE, "other_size_input": ICERR_BADFORMAT,
            "other_depth_input": ICERR_BADFORMAT, "flipped_input": ICERR_BADFORMAT,
            "short_request_size": ICERR_BADSIZE, "null_request": ICERR_BADPARAM,
            "null_frames_info": ICERR_BADPARAM,
            "good_after_refusals": ICERR_OK, "good_after_refusals.key": 1,
            "compress_after_end": ICERR_ERROR,
            # ICM_SETSTATE answers the bytes it took, 0 for a state it refuses.
            "state.good": 1024, "state.get_small_buffer": ICERR_BADSIZE,
            "state.short": 0, "state.long": 0, "state.version": 0, "state.magic": 0,
            "state.preset": 0, "state.flag": 0, "state.options": 0, "state.option_value": 0,
            "state.kept_after_refusals": 1, "state.null": 0, "state.null_resets": 1,
            "close": 0,
        })
        for key, value in expected.items():
            self.assertEqual(run.values.get(key), str(value), key)
        self.assertGreater(run.int("good_after_refusals.bytes"), 0)

    def test_state_switches_reach_libx264(self):
        # libx264 writes its settings into the first frame's SEI.
        # (state settings, libx264 settings expected, whether look-ahead may appear)
        cases = [
            ({}, ["sliced_threads=1", "bframes=0", "mbtree=0", "cabac=0"], False),
            ({"options": "cabac=1:ref=2"}, ["cabac=1", "ref=2", "sliced_threads=1"], False),
            ({"preset": 2}, ["bframes=0", "mbtree=0", "sliced_threads=1", "cabac=1"], False),
            ({"preset": 2, "zero_latency": 0},
             ["bframes=3", "rc_lookahead=10", "mbtree=1", "sliced_threads=0"], True),
            # Byte 28 set wins over options that would delay output.
            ({"options": "bframes=2:rc-lookahead=20"}, ["bframes=0", "mbtree=0"], False),
        ]
        for number, (state, settings, look_ahead) in enumerate(cases):
            with self.subTest(state=state):
                prefix = "state-%d" % number
                run = self.encode(prefix, frames=24, **state)
                with open(run.path(prefix + ".h264"), "rb") as f:
                    sei = f.read().split(b"x264 - core", 1)[1].split(b"\x00", 1)[0].decode()
                for setting in settings:
                    self.assertIn(" " + setting + " ", sei + " ")
                self.assertEqual("rc_lookahead=" in sei, look_ahead)
                sizes = [c[1] for c in run.calls(prefix)]
                if state.get("zero_latency") == 0:
                    # The pipeline fills first: empty frames, then output lagging behind.
                    delay = sizes.index(next(s for s in sizes if s > 0))
                    self.assertGreater(delay, 0)
                    self.assertTrue(all(s > 0 for s in sizes[delay:]))
                    self.assertEqual(harness.decode_errors(run.path(prefix + ".h264")), "")
                else:
                    self.assertTrue(all(s > 0 for s in sizes), "one frame out per frame in")

    def test_statistics_log_only_when_switched_on(self):
        for switch in (1, 0):
            with self.subTest(log=switch):
                log = "stats-%d.log" % switch
                prefix = "log-%d" % switch
                self.encode(prefix, frames=12, log=switch, log_path=log)
                path = os.path.join(self.session.workdir, log)
                if not switch:
                    self.assertFalse(os.path.exists(path))
                    continue
                with open(path) as f:
                    lines = f.read().splitlines()
                self.assertTrue(lines[0].startswith("# x264vfw run: 640x480, 25/1 fps"), lines[0])
                frame_lines = [l for l in lines if l.startswith("frame ")]
                self.assertEqual(len(frame_lines), 12)
                self.assertIn("type K", frame_lines[0])
                self.assertTrue(any(l.startswith("x264 [info]: frame I:1") for l in lines))
                self.assertTrue(lines[-1].startswith("# end: 12 frames, %d bytes"
                                                     % os.path.getsize(
                                                         os.path.join(self.session.workdir,
                                                                      prefix + ".h264"))),
                                lines[-1])

    def test_open_close_cycles_do_not_leak(self):
        run = self.check("cycles", cycles=220, width=320, height=240)
        self.assertEqual(run.int("failures"), 0)
        self.assertGreater(run.int("private_bytes_after_warmup"), 0)
        # One encoder at this size holds well over a megabyte; a leak of any part of one per
        # cycle would add hundreds of megabytes.
        self.assertLess(run.int("growth_bytes"), 1 << 20, run.text)

    def test_instances_share_nothing(self):
        run = self.check("instances", out="pair", frames=20, width=320, height=240)
        for name in ("a", "b"):
            self.assertEqual(run.int(name + ".begin"), ICERR_OK)
            self.assertEqual(run.int(name + ".close"), 0)
            self.assertNotIn(name + ".compress_error", run.values)
        a, b = run.path("pair-a.h264"), run.path("pair-b.h264")
        self.assertEqual(frame_count(a), 10)
        self.assertEqual(frame_count(b), 20)
        for stream in (a, b):
            self.assertEqual(harness.decode_errors(stream), "")
        # Quality 9500 against 2000: the second spends far more on the same pictures.
        a_bytes = sum(c[1] for c in run.calls("pair-a"))
        b_first_half = sum(c[1] for c in run.calls("pair-b")[:10])
        self.assertGreater(b_first_half, 2 * a_bytes)
        # Decoded while the other was compressing and after it closed: both still clean.
        self.assertGreater(rgb_psnr(b, run.path("pair-b.rgb"), 320, 240), MIN_PSNR_DB)


if __name__ == "__main__":
    unittest.main()
