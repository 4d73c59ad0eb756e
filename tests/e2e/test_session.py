"""A user records with the Start and Stop buttons: files, names, captions,
and the failure when the file cannot be created."""

import datetime
import os
import shutil
import subprocess
import time
import unittest

import harness
from harness import START_ID, STOP_ID, START_CAPTION, STOP_CAPTION

# A Start left pending begins within 100 ms of the old file's close; a new
# session shows as a new file at once and on the button within a second.
PENDING_START_WATCH_S = 2.5
# Room on the small disk beyond the program's own files: the file can be
# made and its first page written, not the rest of its headers.
PAGE_BYTES = 4096
HEADERLESS_DISK_SPARE_BYTES = PAGE_BYTES


def name_time(path):
    base = os.path.basename(path)[:19]
    return datetime.datetime.strptime(base, "%Y-%m-%d %H-%M-%S")


class RecordingSession(harness.WineTestCase):

    def start(self):
        self.app = harness.Parvelo(self.session)
        self.app.wait_ready()
        return self.app

    def test_start_then_stop_gives_one_file_named_from_the_start_time(self):
        app = self.start()
        before = os.listdir(self.session.workdir)
        started = datetime.datetime.now()
        app.click(START_ID)
        time.sleep(2)
        app.click(STOP_ID)
        app.wait_idle()
        files = self.session.new_files(before)
        self.assertEqual(len(files), 1, files)
        self.assertRegex(files[0], r"^\d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.avi$")
        self.assertLessEqual(abs((name_time(files[0]) - started).total_seconds()), 1.5, files[0])
        harness.streams(os.path.join(self.session.workdir, files[0]))  # a readable AVI

    def test_start_button_counts_seconds_then_idle_captions_return(self):
        app = self.start()
        # From the click to "0:1", timed inside Windows: the one-second timer.
        shown = app.click_timed(START_ID, START_ID, "0:1", timeout=5)
        self.assertGreaterEqual(shown, 0.8)
        self.assertLessEqual(shown, 2.5)
        app.click(STOP_ID)
        app.wait_idle()
        state = app.dialog()
        self.assertEqual(state["1000.text"], START_CAPTION)
        self.assertEqual(state["1001.text"], STOP_CAPTION)

    def test_second_start_during_a_recording_changes_nothing(self):
        app = self.start()
        before = os.listdir(self.session.workdir)
        app.click(START_ID)
        # The second click as the button turns to 0:1, timed inside Windows
        # until it reads 0:3: about 2 s if the session counts on, 3 s if the
        # click had started counting from 0 again.
        counted_on = app.click_timed(START_ID, START_ID, "0:3", timeout=8, first="0:1")
        self.assertLess(counted_on, 2.5)
        app.click(STOP_ID)
        app.wait_idle()
        self.assertEqual(len(self.session.new_files(before)), 1)

    def test_stop_and_start_back_to_back_give_two_complete_files(self):
        app = self.start()
        before = os.listdir(self.session.workdir)
        app.click(START_ID)
        time.sleep(1.5)
        app.click(STOP_ID)
        app.click(START_ID)  # while the first session is still closing its file
        app.wait_recorded(1, timeout=8)
        app.click(STOP_ID)
        app.wait_idle()
        files = self.session.new_files(before)
        self.assertEqual(len(files), 2, files)
        for name in files:
            harness.streams(os.path.join(self.session.workdir, name))
        first, second = files
        self.assertLessEqual(name_time(first), name_time(second))

    def test_stop_start_stop_in_one_burst_leaves_one_file_and_nothing_recording(self):
        app = self.start()
        before = os.listdir(self.session.workdir)
        app.click(START_ID)
        app.wait_recorded(1, timeout=8)
        # The Start waits for the first file to close; the last Stop cancels it.
        self.session.probe("burst", STOP_ID, START_ID, STOP_ID)
        app.wait_idle()
        deadline = time.time() + PENDING_START_WATCH_S
        while time.time() < deadline:
            self.assertEqual(len(self.session.new_files(before)), 1)
            self.assertEqual(app.caption(START_ID), START_CAPTION)
            time.sleep(0.2)

    def test_an_existing_file_is_left_alone_and_the_new_one_gets_a_suffix(self):
        app = self.start()
        now = datetime.datetime.now()
        taken = {}
        for offset in range(0, 8):
            name = (now + datetime.timedelta(seconds=offset)).strftime("%Y-%m-%d %H-%M-%S.avi")
            path = os.path.join(self.session.workdir, name)
            with open(path, "wb") as f:
                f.write(b"keep me %d" % offset)
            taken[path] = b"keep me %d" % offset
        before = os.listdir(self.session.workdir)
        app.click(START_ID)
        time.sleep(1)
        app.click(STOP_ID)
        app.wait_idle()
        for path, content in taken.items():
            with open(path, "rb") as f:
                self.assertEqual(f.read(), content, path)
        files = self.session.new_files(before)
        self.assertEqual(len(files), 1, files)
        self.assertRegex(files[0], r"^\d{4}-\d\d-\d\d \d\d-\d\d-\d\d_2\.avi$")
        harness.streams(os.path.join(self.session.workdir, files[0]))

    def test_a_folder_where_the_file_cannot_be_created_gives_the_message_and_exit_code_1(self):
        folder = os.path.join(self.session.root, "vanishing")
        app = harness.Parvelo(self.session, cwd=folder)
        app.wait_ready()
        shutil.rmtree(folder)
        app.click(START_ID)
        self.assertEqual(app.messagebox(), "无法创建录像文件")
        self.assertEqual(app.exit_code(), 1)

    def small_disk(self, spare_bytes):
        """A tmpfs holding the program's files and `spare_bytes` more,
        unmounted after the session's processes have ended."""
        disk = os.path.join(self.session.root, "small-disk")
        os.makedirs(disk)
        pages = sum(-(-os.path.getsize(os.path.join(harness.WIN32_BUILD, f)) // PAGE_BYTES)
                    for f in ("parvelo.exe", "x264vfw.dll"))
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % (pages * PAGE_BYTES + spare_bytes),
                        "tmpfs", disk], check=True)
        # Cleanups run last-in first-out: the processes end, the disk is
        # unmounted, then setUp's cleanup removes the session's folder.
        self.addCleanup(subprocess.run, ["umount", "-l", disk])
        self.addCleanup(self.session.close)
        return disk

    def test_a_disk_too_full_for_the_headers_leaves_no_file_behind(self):
        disk = self.small_disk(HEADERLESS_DISK_SPARE_BYTES)
        app = harness.Parvelo(self.session, cwd=disk)
        app.wait_ready()
        before = os.listdir(disk)
        app.click(START_ID)
        self.assertTrue(app.messagebox())  # the wording is the writer's to choose
        self.assertEqual(app.exit_code(), 1)
        self.assertEqual(self.session.new_files(before, disk), [])


if __name__ == "__main__":
    unittest.main()
