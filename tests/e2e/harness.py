"""End-to-end harness: runs the real Windows programs under Wine on a
private X display and judges what they produce with outside tools.

Every test gets its own Xvfb (on a free display number) with openbox as
window manager, a private working folder holding what a user's folder
holds (parvelo.exe and x264vfw.dll), and, when it asks for one, a fake
microphone (a private PulseAudio server whose default source is the
monitor of a null sink the test plays into) and, when it asks for them,
fake speakers (a second null sink, the default one, whose monitor Wine's
loopback capture reads). The Wine prefix lives in the native build folder,
is made once and reused; wineserver is ended after every test, so a test
never sees another test's display.

A session made with wine10=True runs the Windows programs under Wine 10
from the Debian 13 root that tools/debian13-root.sh makes (Debian 12's
Wine 8 has no loopback capture), in a prefix of its own.

Every process a test starts is ended by its id when the test ends, pass
or fail (unittest cleanups run in both cases).
"""

import fcntl
import json
import os
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest
import wave
import math
import array
import bisect
import re

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NATIVE_BUILD = os.environ.get("PARVELO_NATIVE_BUILD", os.path.join(REPO, "build", "native"))


def default_windows_build():
    """The Windows build folder this machine tests (tools/windows-build.sh)."""
    name = subprocess.run([os.path.join(REPO, "tools", "windows-build.sh")], check=True,
                          stdout=subprocess.PIPE, text=True).stdout.strip()
    return os.path.join(REPO, "build", name)


PE_HEADER_OFFSET_AT = 0x3C
PE_MACHINE_X86_64 = 0x8664


def built_for_x86_64(build):
    """True when the build's parvelo.exe is a 64-bit program (PE machine field)."""
    with open(os.path.join(build, "parvelo.exe"), "rb") as f:
        f.seek(PE_HEADER_OFFSET_AT)
        pe_header = struct.unpack("<I", f.read(4))[0]
        f.seek(pe_header + len(b"PE\0\0"))
        return struct.unpack("<H", f.read(2))[0] == PE_MACHINE_X86_64


# The Windows programs under test, and the Wine that runs them: 64-bit
# programs need 64-bit Wine in a prefix of its own; the `wine` script
# always picks 32-bit Wine when it is installed.
WIN32_BUILD = os.environ.get("PARVELO_WIN32_BUILD") or default_windows_build()
WINE64 = built_for_x86_64(WIN32_BUILD)
WINE = "/usr/lib/wine/wine64" if WINE64 else "wine"
WINEARCH = "win64" if WINE64 else "win32"
PREFIX = os.environ.get("PARVELO_WINEPREFIX",
                        os.path.join(NATIVE_BUILD, "wineprefix64" if WINE64 else "wineprefix"))

# The Debian 13 root with Wine 10 (tools/debian13-root.sh), ready once its
# stamp is there. Its Wine runs under bwrap with the root as /, and with
# /tmp (X sockets, sessions, PulseAudio), the repository and the build and
# prefix folders at their own paths; the same Wine paths exist inside.
WINE10_ROOT = os.environ.get("PARVELO_DEBIAN13_ROOT", "/var/lib/parvelo/debian13")
WINE10_ROOT_READY = os.path.exists(os.path.join(WINE10_ROOT, ".parvelo-ready"))
WINE10_SHARED = ["/tmp", tempfile.gettempdir(), REPO, NATIVE_BUILD, WIN32_BUILD,
                 os.path.dirname(PREFIX)]


def wine_argv(argv, wine10, cwd):
    """`argv` (a Wine command, run in `cwd`) as the host's Wine runs it, or
    with `wine10` the Debian 13 root's."""
    if not wine10:
        return argv
    shared = []
    for folder in map(os.path.abspath, WINE10_SHARED):
        if not any(os.path.commonpath([folder, bound]) == bound for bound in shared):
            shared.append(folder)
    binds = [arg for folder in shared for arg in ("--bind", folder, folder)]
    return (["bwrap", "--bind", WINE10_ROOT, "/", "--proc", "/proc", "--dev-bind", "/dev", "/dev"]
            + binds + ["--chdir", os.path.abspath(cwd), "--"] + argv)

# Fonts: the dialog asks for "宋体" (SimSun); Wine maps it to Debian's Ming
# face, which has SimSun's metrics, so dialog units come out as on Windows.
FONT_REPLACEMENTS = ("宋体", "SimSun", "NSimSun", "新宋体", "Microsoft YaHei", "SimHei")
FONT_TARGET = "AR PL UMing CN"

WINE_STARTUP_TIMEOUT_S = 60
PROCESS_END_TIMEOUT_S = 10
POLL_INTERVAL_S = 0.1
# Wine's exit code for a program it could not run, and how often the probe
# is tried when that happens.
WINE_COULD_NOT_RUN = 1
PROBE_RUNS = 2


def wait_until(condition, timeout, what="the condition"):
    """Polls `condition()` until it gives a true value, which is returned;
    fails the test with `what` (a text, or a function of the last value
    seen) after `timeout` seconds."""
    deadline = time.time() + timeout
    while True:
        seen = condition()
        if seen:
            return seen
        if time.time() > deadline:
            raise AssertionError("%s: not within %.1f s (last seen %r)"
                                 % (what(seen) if callable(what) else what, timeout, seen))
        time.sleep(POLL_INTERVAL_S)


def wine_env(display=None, runtime_dir=None, overrides=None, prefix=PREFIX, extra_env=None):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = env.get("PARVELO_WINEDEBUG", "-all")
    env["WINEARCH"] = WINEARCH
    dll_overrides = "mscoree,mshtml=;winemenubuilder.exe=d"
    if overrides:
        dll_overrides += ";" + overrides
    env["WINEDLLOVERRIDES"] = dll_overrides
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    if runtime_dir:
        env["XDG_RUNTIME_DIR"] = runtime_dir
        env["PULSE_RUNTIME_PATH"] = os.path.join(runtime_dir, "pulse")
    env.update(extra_env or {})
    return env


def prefix_for(dpi, wine10=False):
    """The shared prefix, or one of its own for Wine 10 and for a display
    scaling (dots per inch)."""
    prefix = PREFIX + "-wine10" if wine10 else PREFIX
    return prefix if dpi is None else "%s-dpi%d" % (prefix, dpi)


def prepare_prefix(dpi=None, wine10=False):
    """Makes the Wine prefix for `dpi` and the chosen Wine once (idempotent,
    safe to race)."""
    prefix = prefix_for(dpi, wine10)
    folder = os.path.dirname(prefix)
    os.makedirs(folder, exist_ok=True)
    with open(prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp = os.path.join(prefix, ".parvelo-ready")
        # The stamp names what the prefix was made with; anything else is
        # made again.
        made_with = "fonts=%s\n" % FONT_TARGET + ("" if dpi is None else "dpi=%d\n" % dpi)
        if os.path.exists(stamp):
            with open(stamp) as f:
                if f.read() == made_with:
                    return
        shutil.rmtree(prefix, ignore_errors=True)
        env = wine_env(prefix=prefix)
        subprocess.run(wine_argv([WINE, "wineboot", "-i"], wine10, folder), env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600, check=True)
        reg = os.path.join(tempfile.mkdtemp(), "fonts.reg")
        lines = ["Windows Registry Editor Version 5.00", "",
                 "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]"]
        lines += ['"%s"="%s"' % (name, FONT_TARGET) for name in FONT_REPLACEMENTS]
        # No crash dialog: a crash ends the process and the test sees it.
        lines += ["", "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]", '"ShowCrashDialog"=dword:00000000']
        if dpi is not None:
            for key in ("HKEY_CURRENT_USER\\Control Panel\\Desktop", "HKEY_CURRENT_CONFIG\\Software\\Fonts"):
                lines += ["", "[%s]" % key, '"LogPixels"=dword:%08x' % dpi]
        with open(reg, "w", encoding="utf-16") as f:
            f.write("\r\n".join(lines) + "\r\n")
        subprocess.run(wine_argv([WINE, "regedit", "/S", reg], wine10, folder), env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, check=True)
        subprocess.run(wine_argv(["wineserver", "-w"], wine10, folder), env=env, timeout=120)
        with open(stamp, "w") as f:
            f.write(made_with)


def end_process(proc):
    """Ends a started process by its id: TERM, then KILL."""
    if proc.poll() is not None:
        return
    try:
        os.killpg(proc.pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    try:
        proc.wait(PROCESS_END_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()


def free_display_number():
    for number in range(40, 400):
        if not os.path.exists("/tmp/.X%d-lock" % number) and \
                not os.path.exists("/tmp/.X11-unix/X%d" % number):
            return number
    raise RuntimeError("no free X display number")


# The fake microphone's sink (the default source is its monitor) and the
# fake speakers (the default sink with speakers=True: what Windows programs
# and the clapperboard play to, and what loopback capture hears).
MICROPHONE_SINK = "null"
SPEAKERS_SINK = "speakers"
# Output devices mostly run at 48 kHz, in float: the recorder converts.
SPEAKERS_FORMAT = ("rate=48000", "format=float32le")


class Session:
    """One test's private world: display, window manager, working folder,
    optional fake microphone and speakers, the host's Wine or Wine 10;
    every process started through it is ended by close()."""

    def __init__(self, width=1366, height=768, microphone=False, tray_host=False, dpi=None,
                 speakers=False, wine10=False):
        if wine10 and not WINE10_ROOT_READY:
            raise AssertionError("no Debian 13 root with Wine 10 at %s: tools/test.sh makes it "
                                 "(tools/debian13-root.sh)" % WINE10_ROOT)
        self.wine10 = wine10
        self.procs = []
        self.width, self.height = width, height
        self.root = tempfile.mkdtemp(prefix="parvelo-e2e-")
        self.workdir = os.path.join(self.root, "work")
        os.makedirs(self.workdir)
        self.runtime_dir = os.path.join(self.root, "runtime")
        os.makedirs(self.runtime_dir, mode=0o700)
        self.logs = os.path.join(self.root, "logs")
        os.makedirs(self.logs)
        prepare_prefix(dpi, wine10)
        self.prefix = prefix_for(dpi, wine10)
        self.display = self._start_display()
        self._spawn(["openbox", "--sm-disable"], "openbox")
        if tray_host:
            self._spawn(["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel",
                         "--width", "120", "--height", "24"], "trayer")
        self.microphone = microphone
        if microphone or speakers:
            self._start_pulseaudio(speakers)
        self.env = self.wine_env()

    # -- processes ---------------------------------------------------------

    def _spawn(self, argv, name, env=None, cwd=None):
        out = open(os.path.join(self.logs, name + ".log"), "ab")
        argv = [str(a) for a in argv]
        proc = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                env=env or self._x_env(), cwd=cwd, start_new_session=True)
        out.close()
        self.procs.append(proc)
        return proc

    def _x_env(self):
        env = dict(os.environ)
        env["DISPLAY"] = getattr(self, "display", "")
        env["XDG_RUNTIME_DIR"] = self.runtime_dir
        return env

    def _start_display(self):
        for _ in range(5):
            number = free_display_number()
            display = ":%d" % number
            proc = self._spawn(["Xvfb", display, "-screen", "0", "%dx%dx24" % (self.width, self.height),
                                "-noreset", "-nolisten", "tcp"], "xvfb%d" % number)
            deadline = time.time() + 10
            while time.time() < deadline and proc.poll() is None:
                if subprocess.run(["xdpyinfo", "-display", display], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL).returncode == 0:
                    return display
                time.sleep(0.1)
            end_process(proc)
        raise RuntimeError("Xvfb did not start")

    def _start_pulseaudio(self, speakers):
        env = self._x_env()
        env.pop("DISPLAY", None)
        self._spawn(["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
                     "--use-pid-file=no", "--system=no",
                     "--load=module-native-protocol-unix", "--load=module-null-sink"],
                    "pulseaudio", env=env)
        deadline = time.time() + 15
        while time.time() < deadline:
            if subprocess.run(["pactl", "info"], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.1)
        else:
            raise RuntimeError("pulseaudio did not start")
        commands = [["set-default-source", MICROPHONE_SINK + ".monitor"]]
        if speakers:
            commands += [["load-module", "module-null-sink", "sink_name=" + SPEAKERS_SINK,
                          *SPEAKERS_FORMAT],
                         ["set-default-sink", SPEAKERS_SINK]]
        for command in commands:
            subprocess.run(["pactl"] + command, env=env, check=True, stdout=subprocess.DEVNULL)

    def pactl(self, *args):
        """Runs pactl against the session's PulseAudio; returns what it printed."""
        env = self._x_env()
        env.pop("DISPLAY", None)
        return subprocess.run(["pactl"] + [str(a) for a in args], env=env, check=True,
                              stdout=subprocess.PIPE, text=True, timeout=30).stdout

    def play(self, wav_path, sink=MICROPHONE_SINK):
        """Plays a WAV file in real time into the fake microphone, or into
        the fake speakers with sink=SPEAKERS_SINK."""
        env = self._x_env()
        env.pop("DISPLAY", None)
        return self._spawn(["paplay", "--device=" + sink, wav_path], "paplay", env=env)

    def play_tone(self, segments, sink=MICROPHONE_SINK):
        """Plays (frequency Hz, seconds) segments (write_tone_wav) in real
        time into a sink, as play() does; returns the paplay process."""
        path = os.path.join(self.logs, "tone-%d.wav" % len(self.procs))
        return self.play(write_tone_wav(path, segments), sink)

    def clapperboard(self, seconds):
        """Starts the clapperboard (claps for `seconds`) at CLAPPERBOARD_AT."""
        x, y, size = CLAPPERBOARD_AT
        return self._spawn([CLAPPERBOARD, x, y, size, seconds], "clapperboard")

    def wine_env(self, overrides=None, extra_env=None):
        return wine_env(self.display, self.runtime_dir, overrides, self.prefix, extra_env)

    def close(self):
        env = self.env if hasattr(self, "env") else wine_env()
        # -k only asks the prefix's server to end: the next test's programs
        # must not reach a server on its way out, so wait until it is gone.
        for action in ("-k", "-w"):
            subprocess.run(wine_argv(["wineserver", action], self.wine10, self.root), env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        for proc in reversed(self.procs):
            end_process(proc)
        if os.environ.get("PARVELO_KEEP_E2E") != "1":
            shutil.rmtree(self.root, ignore_errors=True)

    # -- Windows programs --------------------------------------------------

    def install_parvelo(self, folder=None, with_codec=True):
        """Puts what a user's folder holds after unzipping into `folder`."""
        folder = folder or self.workdir
        os.makedirs(folder, exist_ok=True)
        shutil.copy(os.path.join(WIN32_BUILD, "parvelo.exe"), folder)
        codec = os.path.join(WIN32_BUILD, "x264vfw.dll")
        if with_codec and os.path.exists(codec):
            shutil.copy(codec, folder)
        return folder

    def start_wine(self, exe, args=(), cwd=None, name=None, overrides=None, extra_env=None):
        env = self.wine_env(overrides, extra_env)
        cwd = cwd or self.workdir
        return self._spawn(wine_argv([WINE, exe] + list(args), self.wine10, cwd),
                           name or os.path.basename(exe), env=env, cwd=cwd)

    def start_parvelo(self, cwd=None, overrides=None, extra_env=None):
        cwd = cwd or self.workdir
        return self.start_wine(os.path.join(cwd, "parvelo.exe"), cwd=cwd, name="parvelo",
                               overrides=overrides, extra_env=extra_env)

    def run_wine(self, exe, args=(), cwd=None, timeout=120, overrides=None):
        """Runs a Windows console program to its end; returns (exit code, stdout text)."""
        env = self.wine_env(overrides)
        cwd = cwd or self.workdir
        out_path = os.path.join(self.logs, "run-%d.out" % len(self.procs))
        with open(out_path, "wb") as out, open(out_path[:-len(".out")] + ".err", "wb") as err:
            proc = subprocess.Popen(wine_argv([WINE, exe] + list(args), self.wine10, cwd),
                                    stdout=out, stderr=err, stdin=subprocess.DEVNULL, env=env,
                                    cwd=cwd, start_new_session=True)
            self.procs.append(proc)
            try:
                code = proc.wait(timeout)
            except subprocess.TimeoutExpired:
                end_process(proc)
                raise
        with open(out_path, "rb") as f:
            return code, f.read().decode("utf-8", "replace")

    def probe(self, *args, timeout=60):
        """Runs the window probe; returns (exit code, dict of its key=value lines).
        A probe that Wine could not run (exit 1, never the probe's own; what
        Wine said is in the logs' run-N.err) is run once more."""
        for _ in range(PROBE_RUNS):
            code, text = self.run_wine(os.path.join(WIN32_BUILD, "probe.exe"),
                                       [str(a) for a in args], timeout=timeout)
            if code != WINE_COULD_NOT_RUN:
                break
        values = {}
        for line in text.splitlines():
            key, sep, value = line.partition("=")
            if sep:
                values[key.strip()] = value.rstrip("\r")
        return code, values

    # -- X side --------------------------------------------------------------

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self._x_env(), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self._x_env(), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return path

    def show_picture(self, path):
        """Shows a picture on the root window (the desktop the recorder grabs)."""
        return self._spawn(["display", "-window", "root", path], "display-root")

    def install_d3d9_stand_in(self, folder=None):
        """Puts the tests' stand-in d3d9.dll (a GDI copy of the screen) into
        `folder`; Wine loads it with the override "d3d9=n"."""
        shutil.copy(os.path.join(WIN32_BUILD, "d3d9-standin", "d3d9.dll"), folder or self.workdir)

    def log_text(self, name):
        with open(os.path.join(self.logs, name + ".log"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def new_files(self, before, folder=None):
        folder = folder or self.workdir
        return sorted(set(os.listdir(folder)) - set(before))


# Captions of the idle dialog.
START_CAPTION = "开始"
STOP_CAPTION = "停止"
TITLE = "Parvelov2.0"
START_ID, STOP_ID = 1000, 1001
# Parvelo's debug line at each session's first frame, and how long a test
# waits for it (set-up with a cold Wine can take seconds).
FIRST_FRAME_LINE = r"parvelo capture: first frame at (\d+) ms"
FIRST_FRAME_TIMEOUT_S = 20
SOUND_ID, FULL_SCREEN_ID, POINTER_ID = 1009, 1010, 1011
COMPUTER_SOUND_ID = 1013
PAUSE_ID = 1012
PAUSE_CAPTION, RESUME_CAPTION = "暂停", "继续"
# After the recorded time on the Start button while paused.
PAUSED_MARK = "已暂停"
# The capture loop's debug lines where a recording pauses and goes on.
PAUSED_LINE = r"parvelo capture: paused at (\d+) ms"
RESUMED_LINE = r"parvelo capture: resumed at (\d+) ms"
PAUSE_TIMEOUT_S = 5


class Parvelo:
    """A running parvelo.exe, driven from outside as a user drives it."""

    def __init__(self, session, cwd=None, overrides=None, install=True, with_codec=True,
                 extra_env=None):
        self.session = session
        self.cwd = cwd or session.workdir
        if install:
            session.install_parvelo(self.cwd, with_codec=with_codec)
        # Its debug lines say when each session's first frame was taken.
        extra_env = dict(extra_env or {})
        extra_env["WINEDEBUG"] = extra_env.get(
            "WINEDEBUG", os.environ.get("PARVELO_WINEDEBUG", "-all")) + ",+debugstr"
        self.proc = session.start_parvelo(self.cwd, overrides=overrides, extra_env=extra_env)

    def dialog(self, timeout_ms=30000):
        code, values = self.session.probe("dialog", timeout_ms)
        if code != 0:
            raise AssertionError("Parvelo's dialog was not found (probe exit %d)" % code)
        return values

    def wait_ready(self, timeout=30.0):
        """Waits until dialog initialisation has finished: full title, lists filled."""
        def initialised():
            state = self.dialog()
            done = state.get("title") == TITLE and state.get("1008.cursel") == "1" and \
                state.get("visible") == "1"
            return state if done else None
        return wait_until(initialised, timeout, "dialog finished initialising")

    def click(self, control_id):
        """Clicks a button; returns the click's moment (timeGetTime, ms)."""
        code, values = self.session.probe("click", control_id)
        if code != 0:
            raise AssertionError("cannot click control %d" % control_id)
        return int(values["at"])

    def debug_numbers(self, pattern):
        """The number each of Parvelo's debug lines matching `pattern` (a
        regular expression with one group) gives, in order."""
        return [int(n) for n in re.findall(pattern, self.session.log_text("parvelo"))]

    def wait_first_frame(self, sessions_before, timeout=FIRST_FRAME_TIMEOUT_S):
        """Waits until the session after the `sessions_before` earlier ones has
        written its first frame; returns that frame's moment (timeGetTime, ms)."""
        seen = wait_until(lambda: self.debug_numbers(FIRST_FRAME_LINE)[sessions_before:], timeout,
                          "a first frame")
        return seen[0]

    def wait_debug_line(self, pattern, count, timeout=PAUSE_TIMEOUT_S):
        """Waits for the `count`th debug line matching `pattern`; returns its number."""
        seen = wait_until(lambda: self.debug_numbers(pattern)[count - 1:], timeout,
                          "debug line %d of %r" % (count, pattern))
        return seen[0]

    def toggle_pause(self, count, hotkey=False):
        """Pauses or resumes with the button (or Ctrl+F11 in the dialog) and
        waits until the capture loop has done it for the `count`th time;
        returns the loop's moment (timeGetTime, ms)."""
        pausing = self.caption(PAUSE_ID) == PAUSE_CAPTION
        if hotkey:
            self.press("ctrl+F11")
        else:
            self.click(PAUSE_ID)
        return self.wait_debug_line(PAUSED_LINE if pausing else RESUMED_LINE, count)

    def press(self, keys):
        """Types `keys` (xdotool's names) with the dialog's window focused:
        Wine takes global hotkeys only while one of its windows has the focus."""
        def activated():
            # While windows come and go a search or an activation can fail: again.
            return subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", TITLE,
                                   "windowactivate", "--sync"], env=self.session._x_env(),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=30).returncode == 0
        wait_until(activated, PAUSE_TIMEOUT_S, "the dialog has the focus")
        self.session.xdotool("key", keys)

    def start_recording(self):
        """Clicks Start and waits for the first frame; returns its moment (ms)."""
        sessions_before = len(self.debug_numbers(FIRST_FRAME_LINE))
        self.click(START_ID)
        return self.wait_first_frame(sessions_before)

    def record_timed(self, seconds):
        """Records `seconds` from the first frame on, then Stop and waits until
        the file is closed; returns (new files, seconds from the first frame
        to the Stop click, both timed inside Windows)."""
        before = os.listdir(self.cwd)
        first_ms = self.start_recording()
        time.sleep(seconds)
        stop_ms = self.click(STOP_ID)
        self.wait_idle()
        files = [os.path.join(self.cwd, f) for f in self.session.new_files(before, self.cwd)]
        return files, (stop_ms - first_ms) / 1000

    def click_timed(self, control_id, watch_id, text, timeout=20.0, first=None):
        """Clicks a button and returns the seconds, timed inside Windows, until
        control `watch_id` reads `text`. With `first`, the click waits until
        that control reads `first`."""
        args = ["click-timed", control_id, watch_id, text.encode("utf-8").hex(), int(timeout * 1000)]
        if first is not None:
            args.append(first.encode("utf-8").hex())
        code, values = self.session.probe(*args)
        if code != 0:
            raise AssertionError("caption of %d did not become %r within %.1f s after clicking %d"
                                 % (watch_id, text, timeout, control_id))
        return float(values["ms"]) / 1000

    def caption(self, control_id):
        return self.dialog().get("%d.text" % control_id)

    def wait_caption_until(self, control_id, accept, timeout, expected):
        """Polls the caption of `control_id` until `accept(caption)`; returns that caption."""
        seen = []
        def accepted():
            seen.append(self.caption(control_id))
            return accept(seen[-1])
        wait_until(accepted, timeout,
                   lambda _: "caption of %d stayed %r, expected %s" % (control_id, seen[-1], expected))
        return seen[-1]

    def wait_caption(self, control_id, text, timeout=20.0):
        self.wait_caption_until(control_id, lambda seen: seen == text, timeout, repr(text))

    def wait_recorded(self, seconds, timeout=20.0):
        """Waits until the Start button's "minutes:seconds" reads at least `seconds`."""
        def recorded_enough(seen):
            minutes, sep, secs = (seen or "").partition(":")
            return sep and minutes.isdigit() and secs.isdigit() and int(minutes) * 60 + int(secs) >= seconds
        self.wait_caption_until(START_ID, recorded_enough, timeout, "at least %d s recorded" % seconds)

    def wait_caption_change(self, control_id, text, timeout=20.0):
        """Waits until the caption of `control_id` no longer reads `text`; returns the new one."""
        return self.wait_caption_until(control_id, lambda seen: seen != text, timeout,
                                       "anything but %r" % text)

    def wait_idle(self, timeout=30.0):
        """Waits until a stopped session has closed its file (idle captions back)."""
        self.wait_caption(START_ID, START_CAPTION, timeout)
        self.wait_caption(STOP_ID, STOP_CAPTION, timeout)

    def messagebox(self, timeout_ms=20000, answer_after_ms=0):
        """Text of Parvelo's message box, which is then answered with OK
        (`answer_after_ms` after it appeared)."""
        code, values = self.session.probe("messagebox", timeout_ms, answer_after_ms)
        if code != 0:
            raise AssertionError("no message box appeared")
        return values.get("text")

    def exit_code(self, timeout=30):
        return self.proc.wait(timeout)

    def kill(self):
        """Ends this parvelo.exe at once, as a crash or a power cut would: by
        the id of the process the harness started for it (its own group)."""
        os.killpg(self.proc.pid, signal.SIGKILL)
        self.proc.wait(PROCESS_END_TIMEOUT_S)

    def record(self, seconds):
        """Records `seconds` from the first frame on; returns the new files."""
        return self.record_timed(seconds)[0]


def screen_pixel(session, x, y):
    """The colour of one screen pixel, from a screenshot."""
    path = os.path.join(session.logs, "pixel.png")
    session.screenshot(path)
    out = subprocess.run(["convert", path, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8", "rgb:-"],
                         stdout=subprocess.PIPE, check=True, timeout=30).stdout
    return tuple(out[:3])


def wait_for_screen_colour(session, point, colour, timeout=30.0, tolerance=8):
    wait_until(lambda: close_to(screen_pixel(session, *point), colour, tolerance), timeout,
               "screen at %r shows %r" % (point, colour))


class WineTestCase(unittest.TestCase):
    """Base of the end-to-end tests: a Session per test, closed in cleanup."""

    display_size = (1366, 768)
    microphone = False
    speakers = False
    tray_host = False
    # Dots per inch of the Wine prefix; None is the shared one at 96.
    dpi = None
    # Wine 10 from the Debian 13 root instead of the host's Wine 8.
    wine10 = False

    def setUp(self):
        self.session = Session(*self.display_size, microphone=self.microphone,
                               tray_host=self.tray_host, dpi=self.dpi, speakers=self.speakers,
                               wine10=self.wine10)
        self.addCleanup(self.session.close)


# -- judging files with ffprobe / ffmpeg ----------------------------------

def ffprobe(path, *args):
    out = subprocess.run(["ffprobe", "-v", "error", "-print_format", "json"] + list(args) + [path],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    if out.returncode != 0:
        raise AssertionError("ffprobe failed on %s: %s" % (path, out.stderr.decode()))
    return json.loads(out.stdout.decode())


def streams(path):
    return ffprobe(path, "-show_streams", "-show_format")


def video_frames(path):
    """Per-frame records of the first video stream (pict_type, key_frame, pts)."""
    return ffprobe(path, "-select_streams", "v:0", "-show_frames",
                   "-show_entries", "frame=key_frame,pict_type,pts,pkt_pts_time,best_effort_timestamp")["frames"]


# dwFlags of the main header: after 'RIFF' size 'AVI ', 'LIST' size 'hdrl',
# 'avih' size and three DWORDs.
AVIH_FLAGS_OFFSET = 44


def main_header_flags(path):
    """dwFlags of an AVI file's main header (avih)."""
    with open(path, "rb") as f:
        f.seek(AVIH_FLAGS_OFFSET)
        return struct.unpack("<I", f.read(4))[0]


def decode_errors(path, stream="0"):
    """What `ffmpeg -v error` says while decoding the chosen streams (every
    stream unless told, e.g. "0:a"); empty when clean."""
    out = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", stream,
                          "-f", "null", "-"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    return out.stderr.decode().strip() + ("" if out.returncode == 0 else " (exit %d)" % out.returncode)


def decode_rgb_frame(path, index, width, height):
    """Decodes video frame `index` (decode order, no frame dropping) to RGB24 bytes."""
    out = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0",
                          "-vf", "select=eq(n\\,%d)" % index, "-vsync", "passthrough",
                          "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    if out.returncode != 0 or len(out.stdout) != width * height * 3:
        raise AssertionError("cannot decode frame %d of %s: %s" % (index, path, out.stderr.decode()))
    return out.stdout


def pixel(rgb, width, x, y):
    offset = (y * width + x) * 3
    return tuple(rgb[offset:offset + 3])


def close_to(color, expected, tolerance):
    return all(abs(a - b) <= tolerance for a, b in zip(color, expected))


def decode_audio_pcm(path, rate=44100):
    """Decodes the first audio stream to mono signed 16-bit samples."""
    out = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1",
                          "-ar", str(rate), "-f", "s16le", "-"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    if out.returncode != 0:
        raise AssertionError("cannot decode audio of %s: %s" % (path, out.stderr.decode()))
    count = len(out.stdout) // 2
    return struct.unpack("<%dh" % count, out.stdout[:count * 2])


def zero_crossing_frequency(samples, rate=44100):
    """Frequency of a clean tone from its rising zero crossings."""
    rising = [i for i in range(1, len(samples)) if samples[i - 1] < 0 <= samples[i]]
    if len(rising) < 2:
        return 0.0
    return (len(rising) - 1) * rate / (rising[-1] - rising[0])


def rms(samples):
    return math.sqrt(sum(v * v for v in samples) / len(samples)) if samples else 0.0


def goertzel_power(samples, frequency, rate=44100):
    """Relative power of one frequency in a window."""
    coeff = 2 * math.cos(2 * math.pi * frequency / rate)
    s1 = s2 = 0.0
    for v in samples:
        s0 = v + coeff * s1 - s2
        s2, s1 = s1, s0
    return (s1 * s1 + s2 * s2 - coeff * s1 * s2) / max(len(samples), 1)


def tone_rms(samples, frequency, rate=44100):
    """The RMS of one frequency's part of a window (of whole cycles)."""
    return math.sqrt(2 * goertzel_power(samples, frequency, rate) / max(len(samples), 1))


def write_tone_wav(path, segments, rate=44100, amplitude=0.5):
    """Writes a stereo 16-bit WAV of (frequency Hz, seconds) segments; 0 Hz is silence."""
    frames = bytearray()
    phase = 0.0
    for frequency, seconds in segments:
        for _ in range(int(seconds * rate)):
            value = int(amplitude * 32767 * math.sin(phase)) if frequency else 0
            frames += struct.pack("<hh", value, value)
            phase += 2 * math.pi * frequency / rate
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))
    return path


# -- sound against picture ---------------------------------------------------

CLAPPERBOARD = os.path.join(NATIVE_BUILD, "tools", "clapperboard", "clapperboard")
# The clapperboard's window (x, y, size in px): clear of the dialog in the
# screen's middle and of Wine's own tray window at the top left (3,22
# 160x20 without a tray host). Its flashing square is the middle half.
CLAPPERBOARD_AT = (40, 120, 96)
# A clap is a 200 ms 1 kHz beep at half of full scale; its onset is the
# first sample above half of that, after this long below it.
BEEP_ONSET_LEVEL = 0.25 * 32767
BEEP_QUIET_MS = 300
# Beep onsets are found on a 1 ms grid of the sound decoded at this rate.
ONSET_RATE = 8000
FLASH_LUMA = 128
# Claps are 0.7 to 1.3 s apart: a beep is paired with a flash within this of
# the offset found so far, which therefore may drift over a long recording.
PAIR_WINDOW_S = 0.3
# The one shift that lines most beeps up with flashes is searched among
# the first claps, as far as this either way, matching within the tolerance.
SHIFT_SEARCH_CLAPS = 40
SHIFT_SEARCH_S = 10.0
SHIFT_MATCH_S = 0.05


def flash_onsets(path, timeout=3600):
    """Times (s) of the frames in which the clapperboard's square turns white."""
    x, y, size = CLAPPERBOARD_AT
    side = size // 4
    crop = "crop=%d:%d:%d:%d,showinfo" % (side, side, x + 3 * size // 8, y + 3 * size // 8)
    out = subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-i", path, "-map", "0:v:0",
                          "-fps_mode", "passthrough", "-vf", crop, "-f", "null", "-"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=timeout)
    onsets, lit = [], None
    for line in out.stderr.decode("utf-8", "replace").splitlines():
        match = re.search(r"pts_time:\s*([-0-9.]+).*\bmean:\[(\d+)", line)
        if not match:
            continue
        white = int(match.group(2)) > FLASH_LUMA
        if white and lit is False:  # a square already white at the start is no onset
            onsets.append(float(match.group(1)))
        lit = white
    return onsets


def beep_onsets(path, timeout=3600):
    """Times (s) at which the clapperboard's beeps start in the audio stream."""
    proc = subprocess.Popen(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0",
                             "-ac", "1", "-ar", str(ONSET_RATE), "-f", "s16le", "-"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    per_ms = ONSET_RATE // 1000
    onsets, quiet_ms, done, pending = [], 0, 0, b""
    deadline = time.time() + timeout
    while time.time() < deadline:
        data = proc.stdout.read(1 << 20)
        if not data:
            break
        pending += data
        usable = len(pending) // (2 * per_ms) * 2 * per_ms
        samples = array.array("h", pending[:usable])
        pending = pending[usable:]
        for start in range(0, len(samples), per_ms):
            block = samples[start:start + per_ms]
            if max(block) < BEEP_ONSET_LEVEL and -min(block) < BEEP_ONSET_LEVEL:
                quiet_ms += 1
                continue
            if quiet_ms >= BEEP_QUIET_MS:
                first = next(i for i, v in enumerate(block) if abs(v) >= BEEP_ONSET_LEVEL)
                onsets.append((done + start + first) / ONSET_RATE)
            quiet_ms = 0
        done += len(samples)
    end_process(proc)
    proc.stdout.close()
    start = ffprobe(path, "-select_streams", "a:0", "-show_entries", "stream=start_time")
    offset_s = float(start["streams"][0].get("start_time") or 0)
    return [onset + offset_s for onset in onsets]


def _nearest(values, target):
    i = bisect.bisect_left(values, target)
    return min(values[max(i - 1, 0):i + 1], key=lambda v: abs(v - target), default=None)


def clap_offsets(path, timeout=3600):
    """(flash time s, sound minus picture ms) of every clap in a recording.

    First the one shift that lines up most beeps with flashes (a recording
    seconds off must not pass for a few ms off: the claps are irregular),
    then each flash's beep near the offset found so far."""
    flashes, beeps = flash_onsets(path, timeout), beep_onsets(path, timeout)
    if not flashes or not beeps:
        return []
    shifts = [b - f for f in flashes[:SHIFT_SEARCH_CLAPS] for b in beeps[:2 * SHIFT_SEARCH_CLAPS]
              if abs(b - f) <= SHIFT_SEARCH_S]

    def lined_up(shift):
        return sum(1 for f in flashes[:SHIFT_SEARCH_CLAPS]
                   if abs(_nearest(beeps, f + shift) - f - shift) <= SHIFT_MATCH_S)

    offset = max(shifts, key=lambda s: (lined_up(s), -abs(s)), default=0.0)
    pairs = []
    for f in flashes:
        b = _nearest(beeps, f + offset)
        if abs(b - f - offset) <= PAIR_WINDOW_S:
            offset = b - f
            pairs.append((f, offset * 1000))
    return pairs


if __name__ == "__main__":
    # `python3 harness.py --prepare`: make the Wine prefixes ahead of the tests.
    prepare_prefix()
    if WINE10_ROOT_READY:
        prepare_prefix(wine10=True)
