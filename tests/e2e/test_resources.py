"""The pictures built into parvelo.exe: the application icon with all its
sixteen images, the recording icon and the dialog's background."""

import os
import struct
import unittest

import harness

ART = os.path.join(harness.WIN32_BUILD, "src", "res", "art")
APP_ICON_IMAGES = sorted([(s, bpp) for bpp in (4, 8) for s in (16, 24, 32, 48)] +
                         [(s, 32) for s in (16, 24, 32, 48, 64, 72, 96, 128)])


def icon_images(path):
    """(size, bits per pixel) of each image of an .ico, checked against its bitmap header."""
    with open(path, "rb") as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert (reserved, kind) == (0, 1)
    images = []
    for i in range(count):
        w, h, colours, _, planes, bpp, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        header_size, bw, bh, bplanes, bbpp = struct.unpack_from("<IiiHH", data, offset)
        assert header_size == 40 and bw == (w or 256) and bh == 2 * (h or 256) and bbpp == bpp
        assert offset + size <= len(data)
        images.append((w or 256, bpp))
    return sorted(images)


class Pictures(unittest.TestCase):

    def test_the_application_icon_has_all_sixteen_images(self):
        self.assertEqual(icon_images(os.path.join(ART, "parvelo.ico")), APP_ICON_IMAGES)

    def test_the_recording_icon_and_the_background_have_their_sizes(self):
        self.assertEqual(icon_images(os.path.join(ART, "recording.ico")), [(32, 32)])
        with open(os.path.join(ART, "background.bmp"), "rb") as f:
            data = f.read()
        self.assertEqual(data[:2], b"BM")
        _, width, height, _, bpp, compression = struct.unpack_from("<IiiHHI", data, 14)
        self.assertEqual((width, height, bpp, compression), (300, 124, 24, 0))  # bottom-up: height > 0


if __name__ == "__main__":
    unittest.main()
