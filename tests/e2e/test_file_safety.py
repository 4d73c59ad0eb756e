"""What happens to a recording when things go wrong: the process is killed
mid-recording, or the disk fills up. The file must stay playable."""

import os
import subprocess
import time
import unittest

import harness
import readers
import picture
from harness import START_ID

# Headers are brought up to date at least this often while recording.
HEADER_REFRESH_S = 2.0
RECORDED_BEFORE_KILL_S = 5
# A pause publishes the headers at once: the file plays to the pause, to a
# slot and a write.
PAUSE_PUBLISHED_WITHIN_S = 0.2
# Room on the small disk beyond the program's own files: the file's header
# area and a few seconds of video.
SMALL_DISK_SPARE_BYTES = 400 * 1024


# Writes recordings of real H.264 and MP3 through the writer.
SAMPLE_FILES = os.path.join(harness.NATIVE_BUILD, "tests", "unit", "avi", "avi_sample_files")


class KilledMidRecording(harness.WineTestCase):

    def test_a_recording_cut_off_by_a_killed_process_plays_up_to_the_last_seconds_or_the_pause(self):
        picture.show(self.session)
        for paused in (False, True):
            app = harness.Parvelo(self.session)
            app.wait_ready()
            before = os.listdir(self.session.workdir)
            first_ms = app.start_recording()
            time.sleep(RECORDED_BEFORE_KILL_S)
            if paused:
                # Killed a while into a pause: nothing is written meanwhile,
                # so only what was published at the pause describes the file.
                recorded = (app.toggle_pause(1) - first_ms) / 1000
                time.sleep(HEADER_REFRESH_S + 1)
            else:
                recorded = RECORDED_BEFORE_KILL_S
            app.kill()
            files = self.session.new_files(before)
            self.assertEqual(len(files), 1, files)
            path = os.path.join(self.session.workdir, files[0])
            info = harness.streams(path)
            video = [s for s in info["streams"] if s["codec_type"] == "video"][0]
            self.assertEqual(video["codec_name"], "h264")
            self.assertEqual(harness.decode_errors(path), "")
            played = float(video["duration"])
            print("paused" if paused else "recording", "recorded %.2f s, plays %.2f s" % (recorded, played))
            lost = PAUSE_PUBLISHED_WITHIN_S if paused else HEADER_REFRESH_S + 1.0
            self.assertGreater(played, recorded - lost, played)
            self.assertLessEqual(played, recorded + 0.5)

class DiskFull(harness.WineTestCase):

    def setUp(self):
        super().setUp()
        self.disk = os.path.join(self.session.root, "small-disk")
        os.makedirs(self.disk)
        program = sum(os.path.getsize(os.path.join(harness.WIN32_BUILD, f))
                      for f in ("parvelo.exe", "x264vfw.dll"))
        size = program + SMALL_DISK_SPARE_BYTES
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", self.disk],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("cannot mount a small disk here")
        # Unmounted after the session's processes have ended (cleanups run last-in first-out).
        self.addCleanup(subprocess.run, ["umount", "-l", self.disk])
        self.addCleanup(self.session.close)

    def test_a_full_disk_stops_the_recording_tells_the_user_once_and_keeps_the_file(self):
        picture.show(self.session)
        app = harness.Parvelo(self.session, cwd=self.disk)
        app.wait_ready()
        before = os.listdir(self.disk)
        app.click(START_ID)
        self.assertEqual(app.messagebox(timeout_ms=60000), "录像文件写入失败（磁盘已满？），录制已停止")
        app.wait_idle()
        code, _ = self.session.probe("messagebox", 2000)
        self.assertNotEqual(code, 0, "told more than once")
        files = self.session.new_files(before, self.disk)
        self.assertEqual(len(files), 1, files)
        path = os.path.join(self.disk, files[0])
        video = [s for s in harness.streams(path)["streams"] if s["codec_type"] == "video"][0]
        self.assertEqual(video["codec_name"], "h264")
        self.assertGreater(float(video["duration"]), 1.0)
        self.assertEqual(harness.decode_errors(path), "")
        self.assertIsNone(app.proc.poll())  # the program goes on


if __name__ == "__main__":
    unittest.main()


class OutsideReaders(harness.WineTestCase):

    def test_the_writers_files_open_whole_in_the_platforms_reader_vlc_gstreamer_and_ffmpeg(self):
        folder = self.session.root
        made = subprocess.run([SAMPLE_FILES, folder], stdout=subprocess.PIPE,
                              check=True).stdout.decode().split()
        for name, positions, sound in zip(made[0::3], made[1::3], made[2::3]):
            with self.subTest(name):
                path = os.path.join(folder, name)
                self.assertEqual(readers.player_complaints(path), readers.NO_COMPLAINTS)
                listed = readers.check_platform_reader(self, self.session, path)
                # A file held in its first part is read whole by the platform's
                # reader; of one with several parts it sees the first.
                whole = (int(positions), int(sound))
                if name == "one-part.avi":
                    self.assertEqual(listed, whole)
                else:
                    self.assertLess(listed[0], whole[0])
