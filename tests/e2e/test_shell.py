"""What a user meets: start-up, the single instance, the codec check, the
hotkeys, the notification icon, minimising, the region frame and closing
the dialog, driven with xdotool and the window probe."""

import os
import re
import shutil
import struct
import subprocess
import time
import unittest

import harness
import picture
from harness import START_ID, STOP_ID, FULL_SCREEN_ID, SOUND_ID, POINTER_ID

VK_F9, VK_F10, VK_F11 = 0x78, 0x79, 0x7A
MOD_CONTROL = 0x0002
FRAME_GREEN = (0, 255, 0)
# The red record dot of both icons; the tray and the desktop around them
# have no red.
RECORD_RED = (227, 41, 51)
ICON_RED_TOLERANCE = 40
# Logging off during a recording: wineboot returns, the file is closed and
# the process ends within this; idle, any program takes a fraction of a second.
SESSION_END_LIMIT_S = 10.0
AVIF_HASINDEX = 0x10
# A frame that a close reaches is gone at once; it is watched this long.
FRAME_WATCH_S = 2.0
# Display scaling of 150 %, and the channel tolerance when comparing the
# dialog's background with the picture it is drawn from.
SCALED_DPI = 144
BACKGROUND_TOLERANCE = 3
BACKGROUND_BMP = os.path.join(harness.WIN32_BUILD, "src", "res", "art", "background.bmp")
# Something that must not happen (a recording from an unregistered hotkey,
# a frame too many or too few) cannot be polled for, only waited out.
SETTLE_S = 1.5


def rect_of(values, key="rect"):
    return tuple(int(v) for v in values[key].split(","))


def read_bmp_rows(path):
    """Rows (top first) of (r, g, b) of an uncompressed 24-bit bottom-up BMP."""
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(height):
        line = data[offset + (height - 1 - y) * stride:]
        rows.append([tuple(line[x * 3:x * 3 + 3][::-1]) for x in range(width)])
    return rows


class ShellTestCase(harness.WineTestCase):

    def start(self, **kwargs):
        self.app = harness.Parvelo(self.session, **kwargs)
        return self.app.wait_ready()

    def frame_rect(self, timeout_ms=5000):
        code, values = self.session.probe("window", "selectrecwd", "selectrecwd", timeout_ms)
        return rect_of(values) if code == 0 else None

    def wait_frame_gone(self, timeout=5.0):
        harness.wait_until(lambda: self.frame_rect(0) is None, timeout, "the region frame is gone")

    def wait_visible(self, flag, timeout=10.0):
        harness.wait_until(lambda: self.app.dialog()["visible"] == flag, timeout,
                           "dialog visibility became %s" % flag)

    def wait_recording(self):
        self.app.wait_recorded(1, timeout=8)

    def new_recordings(self, before):
        return [os.path.join(self.session.workdir, f) for f in self.session.new_files(before)
                if f.endswith(".avi")]


class StartUp(ShellTestCase):

    def test_start_up_shows_three_ticked_boxes_the_titled_dialog_and_default_lists(self):
        state = self.start()
        self.assertEqual(state["title"], "Parvelov2.0")
        self.assertEqual(state["visible"], "1")
        for box in (SOUND_ID, FULL_SCREEN_ID, POINTER_ID):
            self.assertEqual(state["%d.check" % box], "1", box)
        self.assertEqual(state["1004.cursel"], "1")
        self.assertEqual(state["1005.cursel"], "9")
        self.assertEqual(state["1006.cursel"], "1")
        self.assertEqual(state["1007.cursel"], "10")
        self.assertEqual(state["1008.cursel"], "1")
        self.assertEqual(state["1005.items"].split("|")[9], "F9")
        for hidden in (1004, 1005, 1006, 1007, 1008):
            self.assertEqual(state["%d.visible" % hidden], "0")
        self.assertIsNone(self.frame_rect(0))

    def test_a_second_start_exits_with_1_and_brings_the_first_back(self):
        self.start()
        second = self.session.start_parvelo()
        self.assertEqual(second.wait(30), 1)
        self.assertEqual(self.app.proc.poll(), None)  # the first one runs on
        # Hidden in the tray, the first is found and shown again.
        self.session.probe("sysminimize")
        self.wait_visible("0")
        third = self.session.start_parvelo()
        self.assertEqual(third.wait(30), 1)
        self.wait_visible("1")

    def test_without_the_codec_library_the_message_shows_and_it_exits_with_1(self):
        app = harness.Parvelo(self.session, with_codec=False)
        self.assertEqual(app.messagebox(), "当前目录下找不到 x264vfw.dll")
        self.assertEqual(app.exit_code(), 1)
        code, values = self.session.probe("dialog", 0)
        self.assertTrue(code != 0 or values.get("visible") == "0")

    def test_the_manifest_declares_dpi_awareness_and_common_controls_6(self):
        with open(os.path.join(harness.WIN32_BUILD, "parvelo.exe"), "rb") as f:
            exe = f.read()
        self.assertIn(b"<dpiAware", exe)
        self.assertIn(b">true</dpiAware>", exe)
        self.assertIn(b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', exe)
        # The program's processor, and the controls' of the same: Windows
        # loads no x86 common controls into a 64-bit process.
        architecture = b"amd64" if harness.WINE64 else b"x86"
        self.assertEqual(re.findall(rb'processorArchitecture="(\w+)"', exe),
                         [architecture, architecture])
        # Without a level, Windows would redirect writes under Program Files.
        self.assertIn(b'<requestedExecutionLevel level="asInvoker" uiAccess="false"/>', exe)


class Hotkeys(ShellTestCase):

    def focus_other_wine_program(self):
        self.session.start_wine("notepad", name="notepad")
        subprocess.run(["xdotool", "search", "--sync", "--name", "Notepad", "windowactivate", "--sync"],
                       env=self.session._x_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)

        def notepad_active():
            return "Notepad" in subprocess.run(
                ["xdotool", "getactivewindow", "getwindowname"], env=self.session._x_env(),
                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30).stdout.decode()
        harness.wait_until(notepad_active, 10, "Notepad has the focus")

    def test_ctrl_f9_and_ctrl_f10_record_while_another_program_has_the_focus(self):
        self.start()
        before = os.listdir(self.session.workdir)
        self.focus_other_wine_program()
        self.session.xdotool("key", "ctrl+F9")
        self.wait_recording()
        self.session.xdotool("key", "ctrl+F10")
        self.app.wait_idle()
        self.assertEqual(len(self.new_recordings(before)), 1)

    def test_hotkeys_work_while_the_dialog_is_hidden(self):
        self.start()
        before = os.listdir(self.session.workdir)
        self.session.probe("sysminimize")
        self.focus_other_wine_program()
        self.session.xdotool("key", "ctrl+F9")
        self.wait_recording()
        self.assertEqual(self.app.dialog()["visible"], "0")
        self.session.xdotool("key", "ctrl+F10")
        self.app.wait_idle()
        self.assertEqual(len(self.new_recordings(before)), 1)

    def hold_hotkey(self, key, name):
        """Another program registers Ctrl+`key`; waits until it holds it."""
        self.session.start_wine(os.path.join(harness.WIN32_BUILD, "probe.exe"),
                                ["holdhotkey", MOD_CONTROL, key], name=name)

        def holder_ready():
            with open(os.path.join(self.session.logs, name + ".log"), "rb") as log:
                return b"ready=1" in log.read()
        harness.wait_until(holder_ready, 60, "the other program holds its hotkey")

    def test_a_taken_default_combination_gives_the_message_and_an_empty_key_box(self):
        self.hold_hotkey(VK_F9, "holder")
        app = harness.Parvelo(self.session)
        self.assertEqual(app.messagebox(), "热键注册失败：该组合键已被占用")
        state = app.wait_ready()
        self.assertEqual(state["1005.cursel"], "0")
        self.assertEqual(state["1007.cursel"], "10")  # the stop hotkey is unaffected
        # Ctrl+F11 is Parvelo's only while it records: another program can
        # take it meanwhile, and then a recording goes on without a word,
        # paused with the button.
        self.hold_hotkey(VK_F11, "pause-holder")
        app.start_recording()
        code, _ = self.session.probe("messagebox", 1500)
        self.assertNotEqual(code, 0, "a message box appeared")
        app.toggle_pause(1)
        app.click(STOP_ID)
        app.wait_idle()

    def test_hotkey_selections_behave_as_a_user_expects(self):
        self.start()
        # The stop hotkey set to the start hotkey's combination fails.
        self.session.probe("select", 1007, 9)
        self.assertEqual(self.app.messagebox(), "热键注册失败：该组合键已被占用")
        self.assertEqual(self.app.dialog()["1007.cursel"], "0")
        # Key index 0 unregisters the start hotkey without a message...
        self.session.probe("select", 1005, 0)
        code, _ = self.session.probe("messagebox", 1500)
        self.assertNotEqual(code, 0)
        self.focus_other_wine_program()
        self.session.xdotool("key", "ctrl+F9")
        time.sleep(SETTLE_S)
        self.assertEqual(self.app.caption(START_ID), "开始")
        # ...and choosing Ctrl+F9 again registers it again.
        self.session.probe("select", 1005, 9)
        code, _ = self.session.probe("messagebox", 1500)
        self.assertNotEqual(code, 0)
        self.focus_other_wine_program()
        self.session.xdotool("key", "ctrl+F9")
        self.wait_recording()
        self.app.click(STOP_ID)
        self.app.wait_idle()


class TrayAndWindow(ShellTestCase):

    def tray_window(self):
        # A search can come back empty while windows come and go: ask again.
        def search():
            return subprocess.run(["xdotool", "search", "--name", "Wine System Tray"],
                                  env=self.session._x_env(), stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, timeout=30).stdout.decode().split()
        window = harness.wait_until(search, 30, "Wine's tray window")[0]
        # xwininfo's absolute position is right under a reparenting window
        # manager (xdotool's adds the decoration twice).
        info = subprocess.run(["xwininfo", "-id", window], env=self.session._x_env(),
                              stdout=subprocess.PIPE, timeout=30).stdout.decode()
        values = {}
        for line in info.splitlines():
            key, sep, value = line.strip().partition(":")
            if sep:
                values[key] = value.strip()
        return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                int(values["Width"]), int(values["Height"]))

    def tray_icon_pixels(self, tray=None):
        x, y, w, h = tray or self.tray_window()
        path = os.path.join(self.session.logs, "tray%d.png" % time.time_ns())
        self.session.screenshot(path)
        out = subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (h, h, x, y), "-depth", "8",
                              "rgb:-"], stdout=subprocess.PIPE, check=True, timeout=30).stdout
        return out

    def test_minimise_hides_and_a_tray_click_brings_the_dialog_back(self):
        self.start()
        self.session.probe("sysminimize")
        self.wait_visible("0")
        x, y, w, h = self.tray_window()
        self.session.xdotool("mousemove", "--sync", x + h // 2, y + h // 2, "click", "1")
        self.wait_visible("1")

    def test_the_tray_shows_the_recording_icon_while_recording(self):
        # The idle icon is a monitor with a blue screen; the recording icon
        # has no blue at all. (Wine's tray draws a new icon over the old one
        # without clearing, so the pictures are compared by their blue.)
        def blue_pixels():
            rgb = self.tray_icon_pixels()
            return sum(1 for i in range(0, len(rgb), 3)
                       if rgb[i + 2] > 90 and rgb[i] < 80 and rgb[i + 1] < 110)
        self.start()
        self.assertGreater(blue_pixels(), 20)
        self.app.click(START_ID)
        self.wait_recording()
        self.assertEqual(blue_pixels(), 0)
        self.app.click(STOP_ID)
        self.app.wait_idle()
        harness.wait_until(lambda: blue_pixels() > 20, 10, "the idle icon is back")

    def icon_shown(self, tray):
        rgb = self.tray_icon_pixels(tray)
        return any(harness.close_to(rgb[i:i + 3], RECORD_RED, ICON_RED_TOLERANCE)
                   for i in range(0, len(rgb), 3))

    def test_the_tray_icon_is_gone_while_the_fatal_message_shows(self):
        # Wine's tray drops the icons of ended processes by itself, so the
        # icon is looked at while the message keeps the process alive.
        folder = os.path.join(self.session.root, "vanishing")
        self.start(cwd=folder)
        tray = self.tray_window()
        self.assertTrue(self.icon_shown(tray))
        shutil.rmtree(folder)
        self.app.click(START_ID)
        harness.wait_until(lambda: not self.icon_shown(tray), 10,
                           "the icon went while the message showed")
        self.assertEqual(self.app.messagebox(), "无法创建录像文件")
        self.assertEqual(self.app.exit_code(), 1)

    def dialog_pixels(self):
        x0, y0, x1, y1 = rect_of(self.app.dialog())
        path = os.path.join(self.session.logs, "dialog%d.png" % time.time_ns())
        self.session.screenshot(path)
        return subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (x1 - x0, y1 - y0, x0, y0),
                               "-depth", "8", "rgb:-"], stdout=subprocess.PIPE, check=True).stdout

    def test_the_start_button_visibly_counts_while_recording(self):
        self.start()
        idle = self.dialog_pixels()
        self.app.click(START_ID)
        self.app.wait_recorded(1, timeout=8)
        first = self.dialog_pixels()
        # The screenshot shows this caption or an earlier one; the next
        # screenshot comes after the caption has moved on from it.
        shown = self.app.caption(START_ID)
        self.app.wait_caption_change(START_ID, shown, timeout=8)
        second = self.dialog_pixels()
        # What is on the screen changes with the caption, not only the text.
        self.assertNotEqual(idle, first)
        self.assertNotEqual(first, second)
        self.app.click(STOP_ID)
        self.app.wait_idle()

    def test_closing_the_dialog_during_a_recording_leaves_a_complete_file(self):
        picture.show(self.session)
        self.start()
        before = os.listdir(self.session.workdir)
        self.app.click(START_ID)
        self.app.wait_recorded(2, timeout=10)
        self.session.probe("close")
        self.assertEqual(self.app.exit_code(30), 0)
        files = self.new_recordings(before)
        self.assertEqual(len(files), 1)
        self.assertEqual(harness.decode_errors(files[0]), "")
        info = harness.streams(files[0])
        self.assertGreater(float(info["format"]["duration"]), 1.0)

    def test_logging_off_during_a_recording_finishes_the_file_and_the_program_promptly(self):
        picture.show(self.session)
        self.start()
        before = os.listdir(self.session.workdir)
        self.app.click(START_ID)
        self.app.wait_recorded(3, timeout=10)
        recorded = 3.0  # at least, when the session end begins
        started = time.time()
        self.session.run_wine("wineboot", ["--end-session"], timeout=SESSION_END_LIMIT_S)
        took = time.time() - started
        self.app.exit_code(SESSION_END_LIMIT_S)
        files = self.new_recordings(before)
        self.assertEqual(len(files), 1)
        # Finished as Stop finishes it, not cut off when the session end
        # killed the process: only a closed file has its legacy index.
        self.assertTrue(harness.main_header_flags(files[0]) & AVIF_HASINDEX)
        self.assertEqual(harness.decode_errors(files[0]), "")
        played = float(harness.streams(files[0])["format"]["duration"])
        # Up to the session end: the set-up before the first frame and the
        # caption's whole seconds give a second either way.
        self.assertGreater(played, recorded - 1.0)
        self.assertLess(played, recorded + 1.0 + took + 1.0)

    def test_escape_during_a_recording_also_finishes_the_file(self):
        self.start()
        before = os.listdir(self.session.workdir)
        self.app.click(START_ID)
        self.wait_recording()
        x0, y0, x1, y1 = rect_of(self.app.dialog())
        self.session.xdotool("mousemove", "--sync", (x0 + x1) // 2, y0 + 10, "click", "1")
        self.session.xdotool("key", "Escape")
        self.assertEqual(self.app.exit_code(30), 0)
        files = self.new_recordings(before)
        self.assertEqual(len(files), 1)
        self.assertEqual(harness.decode_errors(files[0]), "")


class RegionFrame(ShellTestCase):

    def clear_full_screen(self):
        self.app.click(FULL_SCREEN_ID)
        return harness.wait_until(lambda: self.frame_rect(0), 10, "a region frame appeared")

    def drag(self, x0, y0, x1, y1):
        self.session.xdotool("mousemove", "--sync", x0, y0)
        time.sleep(0.1)
        self.session.xdotool("mousedown", "1")
        for step in range(1, 11):
            self.session.xdotool("mousemove", "--sync", x0 + (x1 - x0) * step // 10,
                                 y0 + (y1 - y0) * step // 10)
            time.sleep(0.03)
        time.sleep(0.1)
        self.session.xdotool("mouseup", "1")

    def assert_frame_moves_to(self, rect):
        harness.wait_until(lambda: self.frame_rect() == rect, 5,
                           lambda _: "the frame moved to %r (is %r)" % (rect, self.frame_rect()))

    def test_clearing_full_screen_shows_a_see_through_green_outline(self):
        self.start()
        self.assertEqual(self.clear_full_screen(), (100, 100, 700, 500))
        harness.wait_for_screen_colour(self.session, (100, 300), FRAME_GREEN, tolerance=0)
        shot = os.path.join(self.session.logs, "frame.png")
        self.session.screenshot(shot)

        def at(x, y):
            out = subprocess.run(["convert", shot, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8", "rgb:-"],
                                 stdout=subprocess.PIPE, check=True).stdout
            return tuple(out[:3])
        for x, y in ((100, 300), (104, 300), (695, 300), (699, 300), (400, 100), (400, 499)):
            self.assertEqual(at(x, y), FRAME_GREEN, (x, y))
        for x, y in ((105, 300), (694, 300), (400, 105), (400, 300)):
            self.assertNotEqual(at(x, y), FRAME_GREEN, (x, y))
        code, values = self.session.probe("window", "selectrecwd", "selectrecwd", 1000)
        self.assertTrue(int(values["exstyle"], 16) & 0x8)  # topmost

    def test_two_quick_clicks_on_the_box_leave_one_frame_if_cleared_and_none_if_ticked(self):
        self.start()
        # From ticked (no frame), then from cleared (one frame).
        for first_cleared in (False, True):
            if first_cleared:
                self.clear_full_screen()
            self.app.click(FULL_SCREEN_ID)
            self.app.click(FULL_SCREEN_ID)
            time.sleep(SETTLE_S)
            frames = subprocess.run(["xdotool", "search", "--name", "^selectrecwd$"],
                                    env=self.session._x_env(), stdout=subprocess.PIPE).stdout.split()
            cleared = self.app.dialog()["%d.check" % FULL_SCREEN_ID] == "0"
            self.assertEqual(cleared, first_cleared)
            self.assertEqual(len(frames), 1 if cleared else 0, "box cleared: %s" % cleared)

    def test_edges_follow_drags_within_their_limits(self):
        self.start()
        self.clear_full_screen()
        self.drag(697, 300, 800, 300)   # right edge out
        self.assert_frame_moves_to((100, 100, 805, 500))
        self.drag(300, 497, 300, 600)   # bottom edge down
        self.assert_frame_moves_to((100, 100, 805, 605))
        self.drag(102, 300, 50, 300)    # left edge out
        self.assert_frame_moves_to((50, 100, 805, 605))
        self.drag(300, 102, 300, 60)    # top edge up
        self.assert_frame_moves_to((50, 60, 805, 605))
        self.drag(802, 300, 20, 300)    # right edge past the left one: stops at 26 px

        def right_edge_moved():
            rect = self.frame_rect()
            return rect if rect[2] < 805 else None
        left, top, right, bottom = harness.wait_until(right_edge_moved, 5, "the right edge moved")
        self.assertGreaterEqual(right - left, 26)
        self.assertLess(right - left, 80)

    def test_a_recording_covers_the_inside_and_freezes_the_frame_until_stop(self):
        picture.show(self.session)
        self.start()
        self.clear_full_screen()
        self.drag(697, 300, 750, 300)  # outer (100,100)-(755,500): inside 645 x 390 -> 644 x 390
        self.assert_frame_moves_to((100, 100, 755, 500))
        before = os.listdir(self.session.workdir)
        self.app.click(START_ID)
        self.wait_recording()
        self.drag(752, 300, 900, 300)
        self.assertEqual(self.frame_rect(), (100, 100, 755, 500))  # frozen
        self.app.click(STOP_ID)
        self.app.wait_idle()
        self.drag(752, 300, 900, 300)
        self.assert_frame_moves_to((100, 100, 905, 500))  # follows again
        path = self.new_recordings(before)[0]
        info = [s for s in harness.streams(path)["streams"] if s["codec_type"] == "video"][0]
        self.assertEqual((info["width"], info["height"]), (644, 390))
        rgb = harness.decode_rgb_frame(path, 3, 644, 390)
        for x, y, colour in picture.block_centres():
            fx, fy = x - 105, y - 105
            if 0 <= fx < 644 and 0 <= fy < 390:
                self.assertTrue(harness.close_to(harness.pixel(rgb, 644, fx, fy), colour, 40))

    def test_alt_f4_on_the_frame_leaves_the_frame_and_the_box_as_they_are(self):
        self.start()
        self.clear_full_screen()
        self.drag(697, 300, 750, 300)  # the press on the band activates the frame
        self.session.probe("sysclose", "selectrecwd", "selectrecwd")
        deadline = time.time() + FRAME_WATCH_S
        while time.time() < deadline:
            self.assertEqual(self.frame_rect(0), (100, 100, 755, 500))
            time.sleep(0.2)
        self.assertEqual(self.app.dialog()["%d.check" % FULL_SCREEN_ID], "0")

    def test_ticking_the_box_removes_the_frame_and_clearing_makes_a_new_one(self):
        self.start()
        self.clear_full_screen()
        self.drag(697, 300, 800, 300)
        self.app.click(FULL_SCREEN_ID)
        self.wait_frame_gone()
        self.assertEqual(self.clear_full_screen(), (100, 100, 700, 500))


class ScaledDisplay(ShellTestCase):
    dpi = SCALED_DPI

    def test_the_background_picture_is_stretched_over_the_larger_client_area(self):
        self.start()
        code, values = self.session.probe("client")
        left, top, right, bottom = rect_of(values, "client")
        picture_rows = read_bmp_rows(BACKGROUND_BMP)
        width, height = right - left, bottom - top
        self.assertGreater(height, len(picture_rows) * 1.3)  # scaled, or nothing is shown
        # The left edge of the client area has no visible control: one column
        # of the screen against the picture's rows scaled to the client height
        # (either neighbouring row, as the stretch may blend them). Tiled, the
        # gradient would start again at the picture's height.
        x = 2
        source_x = x * len(picture_rows[0]) // width
        expected = []
        for y in range(height):
            near = [picture_rows[min(y * len(picture_rows) // height + d, len(picture_rows) - 1)][source_x]
                    for d in (0, 1)]
            expected.append([(min(c[i] for c in near) - BACKGROUND_TOLERANCE,
                              max(c[i] for c in near) + BACKGROUND_TOLERANCE) for i in range(3)])
        def wrong_rows():
            shot = os.path.join(self.session.logs, "scaled%d.png" % time.time_ns())
            self.session.screenshot(shot)
            column = subprocess.run(["convert", shot, "-crop", "1x%d+%d+%d" % (height, left + x, top),
                                     "-depth", "8", "rgb:-"], stdout=subprocess.PIPE, check=True).stdout
            return [(y, tuple(column[y * 3:y * 3 + 3])) for y in range(height)
                    if not all(low <= column[y * 3 + i] <= high for i, (low, high) in enumerate(expected[y]))]
        # Until the dialog has painted.
        harness.wait_until(lambda: not wrong_rows(), 10, "the client area shows the stretched picture")


if __name__ == "__main__":
    unittest.main()
