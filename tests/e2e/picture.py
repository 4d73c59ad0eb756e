"""The moving test picture that tests/win32/pattern shows (kept in step with
pattern.cpp): where its colour blocks are, for checking recorded frames."""

import os

import harness

BACKGROUND = (128, 128, 128)
BLOCK_COLOURS = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255), (0, 0, 0),
                 (255, 255, 0), (0, 255, 255), (255, 0, 255)]
BLOCK_PX, BLOCK_TOP, BLOCK_LEFT, BLOCK_STEP = 80, 40, 40, 100
BAR_TOP, BAR_HEIGHT = 200, 100


def block_centres():
    """(x, y, colour) at the centre of each top block, in screen pixels."""
    half = BLOCK_PX // 2
    return [(BLOCK_LEFT + i * BLOCK_STEP + half, BLOCK_TOP + half, colour)
            for i, colour in enumerate(BLOCK_COLOURS)]


def corner_blocks(width, height):
    half = BLOCK_PX // 2
    return [(half, height - half, (255, 0, 0)), (width - half, height - half, (0, 0, 255))]


def show(session, tick_ms=20):
    """Puts the test picture on the screen and waits until it is painted."""
    proc = session.start_wine(os.path.join(harness.WIN32_BUILD, "pattern.exe"), [str(tick_ms)],
                              name="pattern")
    harness.wait_for_screen_colour(session, block_centres()[0][:2], BLOCK_COLOURS[0])
    return proc
