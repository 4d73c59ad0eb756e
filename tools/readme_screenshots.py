#!/usr/bin/env python3
"""Draws the README's pictures: runs parvelo.exe under Wine on a private
display (through the end-to-end harness) over the moving test picture and
saves the idle dialog, the dialog with the computer's sound ticked beside
the microphone, while recording and while paused (under Wine 10 from the
Debian 13 root, tools/debian13-root.sh, where the computer's sound box is
not greyed), and the region frame (under Wine 8).

    tools/readme_screenshots.py [folder]      (default: docs/screenshots)

Needs the builds that tools/build.sh makes and the harness's Wine prefix
(python3 tests/e2e/harness.py --prepare)."""

import os
import subprocess
import sys

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

import harness  # noqa: E402
import picture  # noqa: E402
from harness import COMPUTER_SOUND_ID, FULL_SCREEN_ID, START_ID, STOP_ID  # noqa: E402

FRAME_GREEN = (0, 255, 0)
FRAME_EDGE_POINT = (100, 300)  # on the left edge of a new frame
REGION_SHOT_SCALE = "50%"
# Start-up tries the computer's sound on a thread of its own.
PROBE_TIMEOUT_S = 20
SHOTS = ("dialog-idle.png", "dialog-computer-sound.png", "dialog-recording.png",
         "dialog-paused.png", "region-frame.png")


def crop_dialog(app, session, folder, name):
    x0, y0, x1, y1 = (int(v) for v in app.dialog()["rect"].split(","))
    shot = session.screenshot(os.path.join(session.logs, name))
    subprocess.run(["convert", shot, "-crop", "%dx%d+%d+%d" % (x1 - x0, y1 - y0, x0, y0), "+repage",
                    os.path.join(folder, name)], check=True)


def main():
    folder = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                             os.path.join(REPO, "docs", "screenshots"))
    os.makedirs(folder, exist_ok=True)
    session = harness.Session(speakers=True, wine10=True)
    try:
        picture.show(session)
        app = harness.Parvelo(session)
        app.wait_ready()
        harness.wait_until(lambda: app.dialog()["%d.enabled" % COMPUTER_SOUND_ID] == "1",
                           PROBE_TIMEOUT_S, "the computer's sound box enabled")
        crop_dialog(app, session, folder, "dialog-idle.png")
        app.click(COMPUTER_SOUND_ID)
        crop_dialog(app, session, folder, "dialog-computer-sound.png")
        app.click(START_ID)
        app.wait_recorded(2, timeout=8)
        crop_dialog(app, session, folder, "dialog-recording.png")
        app.toggle_pause(1)
        app.wait_caption_until(START_ID, lambda c: harness.PAUSED_MARK in c, 5, "the paused mark")
        crop_dialog(app, session, folder, "dialog-paused.png")
        app.click(STOP_ID)
        app.wait_idle()
    finally:
        session.close()
    # The region frame as Debian 12's Wine 8 draws it (Wine 10 draws it
    # elsewhere; not looked into yet).
    session = harness.Session()
    try:
        picture.show(session)
        app = harness.Parvelo(session)
        app.wait_ready()
        app.click(FULL_SCREEN_ID)
        harness.wait_for_screen_colour(session, FRAME_EDGE_POINT, FRAME_GREEN, tolerance=0)
        shot = session.screenshot(os.path.join(session.logs, "region.png"))
        subprocess.run(["convert", shot, "-resize", REGION_SHOT_SCALE,
                        os.path.join(folder, "region-frame.png")], check=True)
    finally:
        session.close()
    for name in SHOTS:
        print(os.path.join(folder, name))


if __name__ == "__main__":
    main()
