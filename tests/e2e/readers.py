"""Readers nobody here wrote, opening a recording as their users would:
the platform's AVI file service under Wine (through avifile_read.exe),
VLC as an ordinary user, GStreamer's playbin and ffmpeg. Each returns what
it complained about; the Wine reader returns what it read."""

import array
import os
import shutil
import struct
import subprocess
import tempfile

import harness

PLAYER_TIMEOUT_S = 120
# VLC plays in real time; with no picture or sound shown it may go faster.
VLC_RATE = "16"
# What VLC's AVI demuxer always says, also of files that ffmpeg made: a file
# of several RIFF parts is OpenDML, and the end of the data ends a track.
VLC_INFORMATION = ("multiple riff -> OpenDML ?", "detected OpenDML file",
                   "cannot get packet header, track disabled")
# Offset of the main header's frame count: RIFF, hdrl and avih headers, 4 fields.
AVIH_TOTAL_FRAMES_OFFSET = 48
ORDINARY_USER = "nobody"
NO_COMPLAINTS = {"vlc": [], "gstreamer": [], "ffmpeg": []}
IDX1_ENTRY_BYTES = 16
AVIIF_KEYFRAME = 0x10


def vlc_complaints(path):
    """The AVI demuxer's warnings and errors while VLC, run as an ordinary
    user from a folder that user can read, plays the file to its end."""
    folder = tempfile.mkdtemp(prefix="parvelo-vlc-")
    try:
        os.chmod(folder, 0o755)
        copy = os.path.join(folder, os.path.basename(path))
        shutil.copyfile(path, copy)
        os.chmod(copy, 0o644)
        out = subprocess.run(
            ["runuser", "-u", ORDINARY_USER, "--", "cvlc", "--intf", "dummy", "--vout", "dummy",
             "--aout", "dummy", "--play-and-exit", "--rate", VLC_RATE, "-v", copy],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
            timeout=PLAYER_TIMEOUT_S).stdout.decode("utf-8", "replace")
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return [line for line in out.splitlines()
            if "avi demux" in line and ("warning" in line or "error" in line)
            and not line.endswith(VLC_INFORMATION)]


def gstreamer_complaints(path):
    """playbin's errors and the AVI demuxer's warnings, playing to the end."""
    env = dict(os.environ, GST_DEBUG="avidemux:2", GST_DEBUG_NO_COLOR="1")
    proc = subprocess.run(
        ["gst-launch-1.0", "-q", "playbin", "uri=file://" + os.path.abspath(path),
         "video-sink=fakesink", "audio-sink=fakesink"],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=env,
        timeout=PLAYER_TIMEOUT_S)
    lines = proc.stdout.decode("utf-8", "replace").splitlines()
    return lines + ([] if proc.returncode == 0 else ["exit code %d" % proc.returncode])


def gstreamer_pcm(path, rate=44100):
    """The sound of a file as GStreamer decodes it: mono signed 16-bit samples."""
    with tempfile.NamedTemporaryFile(suffix=".raw") as raw:
        subprocess.run(["gst-launch-1.0", "-q", "filesrc", "location=" + os.path.abspath(path), "!",
                        "decodebin", "!", "audioconvert", "!", "audioresample", "!",
                        "audio/x-raw,format=S16LE,channels=1,rate=%d" % rate, "!",
                        "filesink", "location=" + raw.name],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                       timeout=PLAYER_TIMEOUT_S, check=True)
        data = raw.read()
    return array.array("h", data[:len(data) // 2 * 2])


def ffmpeg_complaints(path):
    """ffmpeg's warnings and errors, demuxing and decoding everything."""
    out = subprocess.run(["ffmpeg", "-v", "warning", "-nostdin", "-i", path, "-f", "null", "-"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=PLAYER_TIMEOUT_S)
    return out.stderr.decode("utf-8", "replace").splitlines()


def first_part_frames(path):
    """The video frames the main header counts: those of the first RIFF part."""
    with open(path, "rb") as f:
        f.seek(AVIH_TOTAL_FRAMES_OFFSET)
        return struct.unpack("<I", f.read(4))[0]


def first_part_listing(path):
    """What the first RIFF part's idx1 lists: (video frames, of them key
    frames, sound bytes)."""
    with open(path, "rb") as f:
        data = f.read()
    riff_end = 8 + struct.unpack_from("<I", data, 4)[0]
    at, frames, keys, sound = 12, 0, 0, 0
    while at + 8 <= riff_end:
        fourcc, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        if fourcc == b"idx1":
            for entry in range(at + 8, at + 8 + size, IDX1_ENTRY_BYTES):
                chunk, flags, _, length = struct.unpack_from("<4sIII", data, entry)
                if chunk.endswith(b"dc"):
                    frames += 1
                    keys += bool(flags & AVIIF_KEYFRAME)
                elif chunk.endswith(b"wb"):
                    sound += length
        at += 8 + size + (size & 1)
    return frames, keys, sound


def platform_reader(session, path, frames, sound_bytes):
    """(exit code, {'file': [AVIFileOpen result, streams], 'vids'/'auds': {length, read,
    bytes, keys, errors}}) from avifile_read.exe under Wine, reading at most
    `frames` video frames and `sound_bytes` of sound."""
    code, text = session.run_wine(os.path.join(harness.WIN32_BUILD, "avifile_read.exe"),
                                  ["Z:" + os.path.abspath(path).replace("/", "\\"), str(frames),
                                   str(sound_bytes)])
    found = {}
    for line in text.splitlines():
        words = line.split()
        if words[:1] == ["file"]:
            found["file"] = [int(words[1]), int(words[3])]
        elif words[:1] == ["stream"] and len(words) == 12:
            found[words[1]] = {words[i]: int(words[i + 1]) for i in range(2, 12, 2)}
    return code, found


def check_platform_reader(test, session, path):
    """The platform's reader opens the file and reads, without an error,
    every frame and all the sound that the first part lists, which is
    every frame that the main header counts."""
    frames, keys, sound_bytes = first_part_listing(path)
    test.assertEqual(frames, first_part_frames(path))
    code, found = platform_reader(session, path, frames, sound_bytes)
    test.assertEqual(code, 0, found)
    test.assertEqual(found.get("file"), [0, 2])
    test.assertEqual([found["vids"][k] for k in ("read", "keys", "errors")], [frames, keys, 0])
    test.assertEqual([found["auds"][k] for k in ("bytes", "errors")], [sound_bytes, 0])
    return frames, sound_bytes


def player_complaints(path):
    """Every complaint of the three players, by player."""
    return {"vlc": vlc_complaints(path), "gstreamer": gstreamer_complaints(path),
            "ffmpeg": ffmpeg_complaints(path)}
