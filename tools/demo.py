#!/usr/bin/env python3
"""The run command's demo when there is no display: Parvelo records a few
seconds of a moving test picture on a private X display; the new file's
name and what ffprobe says of it are printed."""

import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402
import picture  # noqa: E402

DEMO_SECONDS = 5


def main():
    session = harness.Session(microphone=True)
    try:
        print("Parvelo demo: recording %d s of a moving test picture on display %s"
              % (DEMO_SECONDS, session.display))
        session.play(harness.write_tone_wav(os.path.join(session.root, "tone.wav"),
                                            [(440, 2 * DEMO_SECONDS + 10)]))
        picture.show(session)
        app = harness.Parvelo(session)
        app.wait_ready()
        files = app.record(DEMO_SECONDS)
        if not files:
            print("no recording was made")
            return 1
        target = os.path.join(os.getcwd(), os.path.basename(files[0]))
        shutil.copy(files[0], target)
        print("\nnew recording: %s\n" % target)
        subprocess.run(["ffprobe", "-hide_banner", target])
        return 0
    finally:
        session.close()


if __name__ == "__main__":
    sys.exit(main())
