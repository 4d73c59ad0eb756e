"""The built program holds its run-time texts only in scrambled form at
their points of use: neither the scrambled letters nor the plain text
stand in parvelo.exe's bytes."""

import os
import subprocess
import unittest

import harness

# Every text the program unscrambles, as the user reads it.
SCRAMBLED_TEXTS = [
    "无法创建录像文件",
    "视频编码器出错，录制已停止",
    "正在保存…",
    "开始",
    "停止",
    "当前目录下找不到 x264vfw.dll",
    "热键注册失败：该组合键已被占用",
    "无",
    "低",
    "中",
    "高",
]

# Captions that the dialog template holds (UTF-16, as every template does).
TEMPLATE_CAPTIONS = {"开始", "停止"}


def scrambled(text):
    tool = os.path.join(harness.NATIVE_BUILD, "tools", "scramble", "scramble")
    out = subprocess.run([tool, text], stdout=subprocess.PIPE, check=True).stdout.decode()
    # UnscrambleLetters<'A', 'B', ...>()
    return "".join(part.strip(" '") for part in out.split("<", 1)[1].split(">", 1)[0].split(","))


class ProgramTexts(unittest.TestCase):

    def setUp(self):
        with open(os.path.join(harness.WIN32_BUILD, "parvelo.exe"), "rb") as f:
            self.exe = f.read()

    def test_no_scrambled_or_plain_form_stands_in_the_exe(self):
        for text in SCRAMBLED_TEXTS:
            letters = scrambled(text).encode("ascii")
            self.assertEqual(len(letters), 2 * len(text.encode("utf-8")))
            self.assertNotIn(letters, self.exe, text)
            # A run of 8 letters is already too much of it in one place.
            for start in range(0, len(letters) - 8, 4):
                self.assertNotIn(letters[start:start + 8], self.exe, text)
            if len(text.encode("utf-8")) > 3:  # a lone character may occur by chance
                self.assertNotIn(text.encode("utf-8"), self.exe, text)
            if text not in TEMPLATE_CAPTIONS and len(text) >= 2:
                self.assertNotIn(text.encode("utf-16-le"), self.exe, text)

    def test_the_scanner_finds_a_text_that_is_there(self):
        # The template captions are in the exe as UTF-16: the scan above is
        # looking at the right bytes.
        self.assertIn("流畅度".encode("utf-16-le"), self.exe)
        self.assertIn(b"hotkeyvosmek2", self.exe)


if __name__ == "__main__":
    unittest.main()
