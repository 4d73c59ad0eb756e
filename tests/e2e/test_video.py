"""A user records the screen or a region: the video stream of the file is
H.264 of the right size and rate, with key frames every second, and shows
what was on the screen (colours, orientation, pointer)."""

import os
import re
import subprocess
import time
import unittest

import harness
import picture
from harness import START_ID, STOP_ID, FULL_SCREEN_ID, POINTER_ID

COLOUR_TOLERANCE = 40
# How far a stream's length may be from the time between its first frame
# and the Stop click: the slot the Stop falls in, the pass under way and
# the dialog's turn to handle the click, three slots at 15 fps.
STOP_SLOTS_S = 3 / 15


def video_stream(path):
    info = harness.streams(path)
    videos = [s for s in info["streams"] if s["codec_type"] == "video"]
    assert len(videos) == 1, info
    return videos[0]


def frame_count(path):
    info = harness.ffprobe(path, "-select_streams", "v:0", "-count_frames", "-show_streams")
    return int(info["streams"][0].get("nb_read_frames", 0))


# The stand-in d3d9.dll copies the real screen, so Direct3D records under
# Wine; Parvelo's debug output names the back-end each session used.
STAND_IN = dict(overrides="d3d9=n", extra_env={"WINEDEBUG": "-all,+debugstr"})
LOSS_SCHEDULE = "PARVELO_TEST_D3D9_LOSS"


class VideoTestCase(harness.WineTestCase):

    def start(self, overrides=None, pattern=True, stand_in=False, loss_schedule=None):
        if pattern:
            picture.show(self.session)
        extra_env = None
        if stand_in:
            self.session.install_d3d9_stand_in()
            overrides = STAND_IN["overrides"]
            extra_env = dict(STAND_IN["extra_env"])
            if loss_schedule:
                extra_env[LOSS_SCHEDULE] = loss_schedule
        self.app = harness.Parvelo(self.session, overrides=overrides, extra_env=extra_env)
        self.app.wait_ready()
        return self.app

    def assert_backend(self, name):
        reports = re.findall(r"parvelo capture: backend (\w+)", self.session.log_text("parvelo"))
        self.assertTrue(reports, "no session reported its back-end")
        self.assertEqual(set(reports), {name})
        self.assertNotIn("d3d9 stand-in:", self.session.log_text("parvelo"))  # no unexpected call

    def record_one(self, seconds):
        files = self.app.record(seconds)
        self.assertEqual(len(files), 1, files)
        return files[0]

    def assert_pattern_in_frame(self, path, width, height, left=0, top=0, points=None, index=None):
        """Frame `index` (else the last but one) shows the test picture."""
        if index is None:
            count = frame_count(path)
            self.assertGreater(count, 2)
            index = count - 2
        rgb = harness.decode_rgb_frame(path, index, width, height)
        for x, y, colour in points or picture.block_centres():
            fx, fy = x - left, y - top
            if 0 <= fx < width and 0 <= fy < height:
                seen = harness.pixel(rgb, width, fx, fy)
                self.assertTrue(harness.close_to(seen, colour, COLOUR_TOLERANCE),
                                "frame pixel (%d, %d) is %r, screen showed %r" % (fx, fy, seen, colour))
        return rgb

    def assert_key_frames_every(self, path, interval):
        frames = harness.video_frames(path)
        keys = [i for i, f in enumerate(frames) if f.get("key_frame") == 1]
        self.assertEqual(keys[0], 0)
        for a, b in zip(keys, keys[1:]):
            self.assertLessEqual(b - a, interval, keys)
        self.assertGreaterEqual(len(keys), len(frames) // interval, keys)


class FullScreenRecording(VideoTestCase):

    def check_full_screen(self, width, height, stand_in=False):
        self.start(stand_in=stand_in)
        files, recorded = self.app.record_timed(4)
        self.assertEqual(len(files), 1, files)
        path = files[0]
        stream = video_stream(path)
        self.assertEqual(stream["codec_name"], "h264")
        self.assertEqual((stream["width"], stream["height"]), (width, height))
        self.assertEqual(stream["r_frame_rate"], "15/1")
        self.assertEqual(harness.decode_errors(path), "")
        # The stream runs from the first frame to the Stop: the slot under
        # way at the Stop is the last, give or take the grab in flight.
        duration = float(stream["duration"])
        timing = "%.3f s of video, %.3f s from the first frame to the Stop" % (duration, recorded)
        print(timing)
        self.assertLessEqual(abs(duration - recorded), STOP_SLOTS_S, timing)
        # The time line: one position per 1/15 s slot, dropped slots kept
        # as empty chunks that players hold.
        slots = int(stream["nb_frames"])
        self.assertLessEqual(abs(slots - duration * 15), 1.0, "%d slots in %.3f s" % (slots, duration))
        frames = frame_count(path)
        self.assertGreater(frames, slots // 2, "%d frames written of %d slots" % (frames, slots))
        self.assert_key_frames_every(path, 15)
        self.assert_pattern_in_frame(path, width, height,
                                     points=picture.block_centres() + picture.corner_blocks(width, height))
        if stand_in:
            self.assert_backend("Direct3D")

    def test_full_screen_1366x768_records_the_screen_at_15_fps(self):
        self.check_full_screen(1366, 768)

    def test_full_screen_through_direct3d_records_the_screen(self):
        self.check_full_screen(1366, 768, stand_in=True)


class FullScreen1280x1024(VideoTestCase):
    display_size = (1280, 1024)

    def test_full_screen_1280x1024_records_the_screen_at_15_fps(self):
        FullScreenRecording.check_full_screen(self, 1280, 1024)


class RegionRecording(VideoTestCase):

    def put_region(self, x, y, w, h):
        self.session.start_wine(os.path.join(harness.WIN32_BUILD, "probe.exe"),
                                ["region", x, y, w, h], name="region")
        code, _ = self.session.probe("window", "selectrecwd", "selectrecwd", 20000)
        self.assertEqual(code, 0)

    def check_region(self):
        # Outer (30, 20)-(641, 351): the inside is (35, 25), 601 x 321 -> 600 x 320.
        self.put_region(30, 20, 611, 331)
        path = self.record_one(2.5)
        stream = video_stream(path)
        self.assertEqual((stream["width"], stream["height"]), (600, 320))
        self.assertEqual(harness.decode_errors(path), "")
        self.assert_pattern_in_frame(path, 600, 320, left=35, top=25)

    def test_region_records_the_inside_of_the_frame_with_even_size(self):
        self.start()
        self.check_region()

    def test_region_through_direct3d_is_cut_out_at_its_offset(self):
        self.start(stand_in=True)
        self.check_region()
        self.assert_backend("Direct3D")

    def test_region_partly_off_the_screen_is_black_outside(self):
        self.start()
        self.put_region(-60, -40, 400, 300)  # inside (-55, -35), 390 x 290
        path = self.record_one(2.5)
        stream = video_stream(path)
        self.assertEqual((stream["width"], stream["height"]), (390, 290))
        self.assertEqual(harness.decode_errors(path), "")
        rgb = self.assert_pattern_in_frame(path, 390, 290, left=-55, top=-35)
        for fx, fy in ((10, 10), (40, 20), (20, 100)):  # off the screen
            self.assertTrue(harness.close_to(harness.pixel(rgb, 390, fx, fy), (0, 0, 0), 24))


class PointerOverlay(VideoTestCase):
    POINT = (600, 620)

    def pointer_area(self, draw_pointer, stand_in=False):
        self.start(stand_in=stand_in)
        if not draw_pointer:
            self.app.click(POINTER_ID)
        self.session.xdotool("mousemove", "--sync", *self.POINT)
        path = self.record_one(2.5)
        rgb = harness.decode_rgb_frame(path, frame_count(path) - 2, 1366, 768)
        x, y = self.POINT
        below = [harness.pixel(rgb, 1366, x + dx, y + dy) for dx in range(0, 10) for dy in range(0, 16)]
        above = [harness.pixel(rgb, 1366, x + dx, y + dy) for dx in range(-12, -2) for dy in range(-12, -2)]
        return below, above

    def check_pointer_painted(self, stand_in=False):
        below, above = self.pointer_area(True, stand_in)
        marked = [p for p in below if not harness.close_to(p, picture.BACKGROUND, 40)]
        self.assertGreater(len(marked), 10)
        for p in above:
            self.assertTrue(harness.close_to(p, picture.BACKGROUND, 40), p)

    def test_ticked_box_paints_the_pointer_with_its_hot_spot_at_the_pointer(self):
        self.check_pointer_painted()

    def test_direct3d_paints_the_pointer_although_its_surface_gives_no_dc(self):
        self.check_pointer_painted(stand_in=True)
        self.assert_backend("Direct3D")

    def test_cleared_box_records_no_pointer(self):
        below, _ = self.pointer_area(False)
        for p in below:
            self.assertTrue(harness.close_to(p, picture.BACKGROUND, 40), p)


class GrabbingBackends(VideoTestCase):

    def test_without_direct3d_the_message_shows_and_directdraw_records(self):
        self.start(overrides="d3d9=")
        before = os.listdir(self.session.workdir)
        self.app.click(START_ID)
        self.assertEqual(self.app.messagebox(), "Direct3DCreate9() - FAILED")
        time.sleep(2.5)
        self.app.click(STOP_ID)
        self.app.wait_idle()
        files = self.session.new_files(before)
        path = os.path.join(self.session.workdir, files[0])
        self.assertEqual(video_stream(path)["codec_name"], "h264")
        self.assert_pattern_in_frame(path, 1366, 768)

    def test_with_direct3d_the_black_front_buffer_is_noticed_and_no_message_shows(self):
        self.start()
        before = os.listdir(self.session.workdir)
        self.app.click(START_ID)
        code, _ = self.session.probe("messagebox", 2500)
        self.assertNotEqual(code, 0, "a message box appeared")
        time.sleep(1)
        self.app.click(STOP_ID)
        self.app.wait_idle()
        path = os.path.join(self.session.workdir, self.session.new_files(before)[0])
        self.assert_pattern_in_frame(path, 1366, 768)  # the screen, not black

    def test_stop_before_the_first_frame_still_leaves_a_picture_players_show(self):
        self.start()
        before = os.listdir(self.session.workdir)
        # Both clicks queue before Parvelo handles the first: the Stop comes
        # while the session is still being set up.
        self.session.probe("burst", START_ID, STOP_ID)
        self.app.wait_idle()
        files = self.session.new_files(before)
        self.assertEqual(len(files), 1)
        path = os.path.join(self.session.workdir, files[0])
        stream = video_stream(path)
        self.assertEqual(stream["codec_name"], "h264")
        self.assertEqual((stream["width"], stream["height"]), (1366, 768))
        self.assertEqual(harness.decode_errors(path), "")
        self.assertGreaterEqual(frame_count(path), 1)
        self.assert_pattern_in_frame(path, 1366, 768, index=0)

    def test_without_any_way_to_grab_the_screen_it_says_so_closes_the_file_and_exits_1(self):
        self.start(overrides="d3d9=;ddraw=", pattern=False)
        before = os.listdir(self.session.workdir)
        self.app.click(START_ID)
        self.assertEqual(self.app.messagebox(), "Direct3DCreate9() - FAILED")
        self.assertEqual(self.app.messagebox(), "无法截取屏幕，程序即将退出")
        self.assertEqual(self.app.exit_code(), 1)
        files = self.session.new_files(before)
        self.assertEqual(len(files), 1, files)
        harness.streams(os.path.join(self.session.workdir, files[0]))  # closed properly

    def test_a_broken_codec_library_records_without_video_and_says_so(self):
        self.start(pattern=False)
        with open(os.path.join(self.session.workdir, "x264vfw.dll"), "wb") as f:
            f.write(b"not a library")
        before = os.listdir(self.session.workdir)
        self.app.click(START_ID)
        self.assertEqual(self.app.messagebox(), "无法加载视频编码器，本次录制没有画面")
        self.app.wait_recorded(2, timeout=8)  # the session goes on until Stop
        self.app.click(STOP_ID)
        self.app.wait_idle()
        files = self.session.new_files(before)
        self.assertEqual(len(files), 1, files)
        info = harness.streams(os.path.join(self.session.workdir, files[0]))
        self.assertEqual([s for s in info["streams"] if s["codec_type"] == "video"], [])

    def test_two_sessions_in_a_row_both_record_video(self):
        self.start()
        for _ in range(2):
            path = self.record_one(2)
            self.assertEqual(video_stream(path)["codec_name"], "h264")
            self.assertGreater(frame_count(path), 10)


def moving_frame_times(path, band_top=240, band_height=20, step=64, changed_px=100):
    """Times (s) of the frames in which the test picture's moving bar moved:
    at least `changed_px` pixels of a band across it changed by more than
    `step` from the frame before (compression noise stays far below)."""
    width = video_stream(path)["width"]
    # showinfo names the time of exactly the frames written out.
    out = subprocess.run(["ffmpeg", "-nostdin", "-v", "info", "-i", path, "-map", "0:v:0",
                          "-vf", "crop=%d:%d:0:%d,showinfo" % (width, band_height, band_top),
                          "-vsync", "passthrough", "-f", "rawvideo", "-pix_fmt", "gray", "-"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True, timeout=300)
    size = width * band_height
    bands = [out.stdout[i:i + size] for i in range(0, len(out.stdout), size)]
    times = [float(t) for t in re.findall(r"pts_time:\s*([0-9.]+)", out.stderr.decode())]
    assert len(times) == len(bands), (len(times), len(bands))
    return [times[i] for i in range(1, len(bands))
            if sum(abs(a - b) > step for a, b in zip(bands[i], bands[i - 1])) >= changed_px]


class Direct3DDeviceLoss(VideoTestCase):

    def record_through_a_loss(self, loss_schedule):
        """Records 8 s through a device lost 2 s after it is made and
        resettable from 4 s (it never heals by itself); returns the file."""
        self.start(stand_in=True, loss_schedule=loss_schedule)
        path = self.record_one(8)
        self.assertEqual(harness.decode_errors(path), "")
        stream = video_stream(path)
        self.assertEqual((stream["width"], stream["height"]), (1366, 768))
        duration = float(stream["duration"])
        self.assertGreater(duration, 6.5)
        moving = moving_frame_times(path)
        gaps = [(b - a, a) for a, b in zip(moving, moving[1:])]
        frozen, since = max(gaps)
        # Still from the loss until the device is back: two seconds of loss,
        # at most one more of recovery (and a frame either side).
        self.assertGreaterEqual(frozen, 1.8, gaps)
        self.assertLessEqual(frozen, 3.0 + 2 / 15, (frozen, since))
        self.assertLess(since, 2.2)
        self.assertGreater(moving[-1], duration - 0.5, "the picture froze again")
        self.assert_backend("Direct3D")
        return path

    def test_a_device_lost_from_second_2_records_again_within_a_second_after_second_4(self):
        path = self.record_through_a_loss("2000,4000")
        self.assert_pattern_in_frame(path, 1366, 768,
                                     points=picture.block_centres() + picture.corner_blocks(1366, 768))

    def test_a_display_that_shrank_while_lost_keeps_the_frame_size_black_outside(self):
        path = self.record_through_a_loss("2000,4000,1024x600")
        rgb = self.assert_pattern_in_frame(path, 1366, 768)  # the blocks lie inside 1024 x 600
        for x, y in ((1100, 80), (40, 700), (1326, 728)):
            self.assertTrue(harness.close_to(harness.pixel(rgb, 1366, x, y), (0, 0, 0), 24), (x, y))


class DeviceWindow(VideoTestCase):

    def test_every_window_of_parvelo_answers_a_sent_message_while_direct3d_records(self):
        self.start(stand_in=True)
        self.app.click(START_ID)
        self.app.wait_recorded(1)
        code, values = self.session.probe("answer", 1000)
        self.app.click(STOP_ID)
        self.app.wait_idle()
        self.assertEqual(code, 0, values)
        self.assertGreaterEqual(int(values["windows"]), 2, values)  # the dialog and the device's
        self.assert_backend("Direct3D")


if __name__ == "__main__":
    unittest.main()
