"""The built program holds its run-time texts only in scrambled form at
their points of use: neither the scrambled letters nor the plain text of any
text named in src/text/program_texts.h stand in parvelo.exe's bytes."""

import glob
import os
import re
import subprocess
import unittest

import harness

TEXTS_SOURCE = os.path.join(harness.REPO, "src", "text", "program_texts.h")
NAMED_TEXT = re.compile(r'^PARVELO_TEXT\((\w+), "(.*)"\);$', re.MULTILINE)

# Captions that the dialog template holds (UTF-16, as every template does).
TEMPLATE_CAPTIONS = {"开始", "停止", "暂停"}


def program_texts():
    """{name: readable text} of every text the program unscrambles."""
    with open(TEXTS_SOURCE, encoding="utf-8") as f:
        return dict(NAMED_TEXT.findall(f.read()))


def scrambled(text):
    tool = os.path.join(harness.NATIVE_BUILD, "tools", "scramble", "scramble")
    return subprocess.run([tool, text], stdout=subprocess.PIPE, check=True).stdout.strip()


class ProgramTexts(unittest.TestCase):

    def setUp(self):
        with open(os.path.join(harness.WIN32_BUILD, "parvelo.exe"), "rb") as f:
            self.exe = f.read()

    def assert_not_in_exe(self, data, name):
        # Not assertNotIn: that would print the whole exe.
        self.assertFalse(data in self.exe, "%s: %r stands in parvelo.exe" % (name, data))

    def test_no_scrambled_or_plain_form_stands_in_the_exe(self):
        texts = program_texts()
        self.assertGreaterEqual(len(texts), 14)
        for name, text in texts.items():
            letters = scrambled(text)
            self.assertEqual(len(letters), 2 * len(text.encode("utf-8")), name)
            self.assert_not_in_exe(letters, name)
            # A run of 8 letters is already too much of it in one place.
            for start in range(0, len(letters) - 8, 4):
                self.assert_not_in_exe(letters[start:start + 8], name)
            if len(text.encode("utf-8")) > 3:  # a lone character may occur by chance
                self.assert_not_in_exe(text.encode("utf-8"), name)
            if text not in TEMPLATE_CAPTIONS and len(text) >= 2:
                self.assert_not_in_exe(text.encode("utf-16-le"), name)

    def test_every_shown_text_is_named_in_the_texts_source(self):
        # A letter list written out at a call site would escape the scan above.
        for path in glob.glob(os.path.join(harness.REPO, "src", "**", "*.*"), recursive=True):
            if os.path.dirname(path) != os.path.dirname(TEXTS_SOURCE):
                with open(path, encoding="utf-8") as f:
                    self.assertNotIn("UnscrambleLetters<'", f.read(), path)

    def test_the_scanner_finds_a_text_that_is_there(self):
        # The template captions are in the exe as UTF-16: the scan above is
        # looking at the right bytes.
        self.assertIn("流畅度".encode("utf-16-le"), self.exe)
        self.assertIn(b"hotkeyvosmek2", self.exe)


if __name__ == "__main__":
    unittest.main()
