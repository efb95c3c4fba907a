"""Runs real programs for the process tests: a private X server, a private JACK server, the
stand-alone app with its own home and runtime folders, and a look at the app's instance lock.

Every process started here is ended by its own PID and waited for, so nothing is left behind.
Run as a program, it starts an X server, runs the given command on it and ends the server:
    python3 harness.py --xvfb [--screen=WIDTHxHEIGHTxDEPTH] -- COMMAND [ARGS...]
"""

import contextlib
import ctypes
import ctypes.util
import fcntl
import glob
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import uuid
import xml.etree.ElementTree as ElementTree

APP_NAME = "Sorvane"


def stop_process(proc, first_signal=signal.SIGTERM, timeout=10.0):
    """Ends proc (if still running) with first_signal, then SIGKILL, and always reaps it."""
    if proc is None:
        return None
    if proc.poll() is None:
        with contextlib.suppress(ProcessLookupError):
            proc.send_signal(first_signal)
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            with contextlib.suppress(ProcessLookupError):
                proc.kill()
            proc.wait()
    return proc.returncode


def wait_until(condition, timeout, interval=0.05):
    end = time.monotonic() + timeout
    while True:
        result = condition()
        if result or time.monotonic() >= end:
            return result
        time.sleep(interval)


class Xvfb:
    """An X server on the first free display; -displayfd avoids races between parallel tests."""

    def __init__(self, screen="1280x800x24"):
        self.screen = screen
        self.proc = None
        self.display = None

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        try:
            self.proc = subprocess.Popen(
                # -noreset keeps root-window properties a test sets after its own client disconnects.
                ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.screen, "-nolisten", "tcp",
                 "-noreset"],
                pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=die_with_parent)
            os.close(write_fd)
            write_fd = None
            number = b""
            end = time.monotonic() + 15
            while not number.endswith(b"\n"):
                remaining = end - time.monotonic()
                ready, _, _ = select.select([read_fd], [], [], max(0.0, remaining))
                if not ready:
                    raise RuntimeError("Xvfb did not report its display in time")
                chunk = os.read(read_fd, 16)
                if not chunk:
                    raise RuntimeError("Xvfb ended before reporting its display")
                number += chunk
            self.display = ":" + number.decode().strip()
            return self
        except BaseException:
            stop_process(self.proc)
            raise
        finally:
            if write_fd is not None:
                os.close(write_fd)
            os.close(read_fd)

    def __exit__(self, *exc):
        stop_process(self.proc)


XErrorHandler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


def die_with_parent():
    """For Popen's preexec_fn: the child is killed when the test process ends, however it ends, so no
    app or server outlives a crashed test (and no server keeps its slot)."""
    libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
    libc.prctl(1, signal.SIGKILL, 0, 0, 0)  # PR_SET_PDEATHSIG


class XClient:
    """A few Xlib calls through ctypes: a desktop's root-window hints and the geometry of a window, read
    from the X server itself rather than from the app."""

    def __init__(self, display):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        x = self.x
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong,
                                      ctypes.c_int, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
        x.XFlush.argtypes = [ctypes.c_void_p]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                 ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                 ctypes.POINTER(ctypes.c_uint)]
        x.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                         ctypes.c_long, ctypes.c_int, ctypes.c_ulong,
                                         ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
                                         ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                         ctypes.POINTER(ctypes.c_void_p)]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong)] + \
            [ctypes.POINTER(ctypes.c_int)] * 2 + [ctypes.POINTER(ctypes.c_uint)] * 4
        # Xlib's default error handler exits the process: a window that closes between listing and
        # reading (a tooltip, a dialog) would end the whole test run and orphan its app and servers.
        x.XSetErrorHandler.argtypes = [ctypes.c_void_p]
        self._ignore_errors = XErrorHandler(lambda _display, _event: 0)
        x.XSetErrorHandler(ctypes.cast(self._ignore_errors, ctypes.c_void_p))
        self.display = x.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError("cannot open X display " + display)
        self.root = x.XDefaultRootWindow(self.display)

    def close(self):
        self.x.XCloseDisplay(self.display)

    def set_root_cardinals(self, name, values):
        data = (ctypes.c_long * len(values))(*values)
        cardinal = 6  # XA_CARDINAL
        self.x.XChangeProperty(self.display, self.root, self.x.XInternAtom(self.display, name.encode(), 0),
                               cardinal, 32, 0, data, len(values))
        self.x.XFlush(self.display)

    def window_name(self, window):
        """WM_NAME, which JUCE writes as UTF8_STRING (so XFetchName does not read it)."""
        kind, fmt = ctypes.c_ulong(), ctypes.c_int()
        count, left, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        atom = self.x.XInternAtom(self.display, b"WM_NAME", 0)
        any_type = 0
        if self.x.XGetWindowProperty(self.display, window, atom, 0, 1024, 0, any_type, ctypes.byref(kind),
                                     ctypes.byref(fmt), ctypes.byref(count), ctypes.byref(left),
                                     ctypes.byref(data)) != 0 or not data.value:
            return None
        try:
            return ctypes.string_at(data.value, count.value).decode(errors="replace") if fmt.value == 8 else None
        finally:
            self.x.XFree(data)

    def top_level_windows(self):
        """{name: (x, y, width, height)} of the root's named children, in physical pixels."""
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not self.x.XQueryTree(self.display, self.root, ctypes.byref(root), ctypes.byref(parent),
                                 ctypes.byref(children), ctypes.byref(count)):
            return {}
        windows = {}
        try:
            for i in range(count.value):
                title = self.window_name(children[i])
                if title:
                    geometry = [ctypes.c_int(), ctypes.c_int()] + [ctypes.c_uint() for _ in range(4)]
                    if self.x.XGetGeometry(self.display, children[i], ctypes.byref(root),
                                           *[ctypes.byref(v) for v in geometry]):
                        windows[title] = tuple(v.value for v in geometry[:4])
        finally:
            if children:
                self.x.XFree(children)
        return windows


def display_without_server():
    """A display name no X server answers to (an unset DISPLAY would fall back to ":0")."""
    for number in range(4000, 5000):
        if not os.path.exists("/tmp/.X11-unix/X%d" % number) and not os.path.exists("/tmp/.X%d-lock" % number):
            return ":%d" % number
    raise RuntimeError("no free display number")


def jack_environment(server_name, base=None):
    env = dict(os.environ if base is None else base)
    env["JACK_DEFAULT_SERVER"] = server_name
    env["JACK_NO_START_SERVER"] = "1"
    env["JACK_NO_AUDIO_RESERVATION"] = "1"
    return env


JACK_SLOTS = 6
_jack_slot = None


def jack_slot_name():
    """This process's server name, one of a few held by a lock for the process's life. jackd keeps a
    machine-wide table of at most 8 servers and frees a dead server's entry only when a server of the
    same name starts, so unique names would fill the table with the entries of killed servers."""
    global _jack_slot
    if _jack_slot is None:
        handles = []
        for i in range(JACK_SLOTS):
            handle = open(os.path.join(tempfile.gettempdir(), "sorvane-jack-slot-%d.lock" % i), "w")
            try:
                fcntl.flock(handle, fcntl.LOCK_EX | fcntl.LOCK_NB)
                handles.append((i, handle))
            except OSError:
                handle.close()
        if not handles:
            raise RuntimeError("every JACK test slot is taken")
        # Holding every slot means no other test is using JACK: only then can the leftovers of killed
        # servers be cleared without pulling the registry from under a client waiting for its server.
        if len(handles) == JACK_SLOTS:
            remove_stale_jack_registry()
        index, kept = handles[0]
        for _, handle in handles[1:]:
            handle.close()
        _jack_slot = (kept, "sorvane-test-slot-%d" % index)
    return _jack_slot[1]


def remove_stale_jack_registry():
    """With no jackd alive, the registry and the servers' segments in /dev/shm are leftovers of
    servers that were killed; a fresh registry has every entry free."""
    if subprocess.run(["pgrep", "-x", "jackd"], capture_output=True).returncode == 0:
        return
    for path in ["/dev/shm/jack-shm-registry"] + glob.glob("/dev/shm/jack_sorvane-test-*"):
        with contextlib.suppress(FileNotFoundError):
            os.remove(path)


class JackServer:
    """jackd with the dummy backend under a name of its own."""

    def __init__(self, log_folder, name=None, server_options=()):
        """A name of an earlier server starts that server again (clients find it under its name).
        server_options go before the backend's, such as ("--sync",)."""
        # A server of this process's slot name may have left clients' semaphores in an earlier test;
        # a named restart keeps its own for the clients waiting on it.
        self.clear_leftovers = name is None
        self.name = name or jack_slot_name()
        self.log_path = os.path.join(log_folder, "jackd-%s.log" % uuid.uuid4().hex[:8])
        self.server_options = list(server_options)
        self.proc = None

    def lsp(self, *options):
        # jack_lsp can stall while a client (dis)connects on a loaded machine; a stalled look counts
        # as no answer, and callers ask again until their own deadline.
        try:
            result = subprocess.run(["jack_lsp", *options], env=jack_environment(self.name),
                                    capture_output=True, text=True, timeout=10)
        except subprocess.TimeoutExpired:
            return None
        return result.stdout if result.returncode == 0 else None

    def __enter__(self):
        if self.clear_leftovers:
            remove_jack_leftovers(self.name)
        with open(self.log_path, "w") as log:
            self.proc = subprocess.Popen(
                ["jackd", "--no-realtime", "-n", self.name, *self.server_options, "-d", "dummy", "-r", "48000",
                 "-p", "256"],
                env=jack_environment(self.name), stdout=log, stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
        try:
            def ready():
                if self.proc.poll() is not None:
                    raise RuntimeError("jackd ended early:\n" + open(self.log_path).read())
                ports = self.lsp()
                return ports is not None and "system:playback_1" in ports
            if not wait_until(ready, 15, 0.1):
                raise RuntimeError("jackd did not come up:\n" + open(self.log_path).read())
            return self
        except BaseException:
            stop_process(self.proc)
            raise

    def __exit__(self, *exc):
        stop_process(self.proc)


def remove_jack_leftovers(server_name):
    """A client whose server died leaves its semaphore in /dev/shm; a test's own server name finds them."""
    for path in glob.glob("/dev/shm/jack_sem.*_%s_*" % glob.escape(server_name)):
        with contextlib.suppress(FileNotFoundError):
            os.remove(path)


def window_geometry(display, title):
    """(x, y, width, height) of the shown top-level window with this title, or None. A closed JUCE
    window may stay in the tree, unmapped."""
    def xwininfo(*args):
        return subprocess.run(["xwininfo", "-display", display, *args], capture_output=True, text=True,
                              timeout=10).stdout
    pattern = r'(0x[0-9a-f]+) "%s": \(.*?\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)' % re.escape(title)
    for window, width, height, x, y in re.findall(pattern, xwininfo("-root", "-tree")):
        if "Map State: IsViewable" in xwininfo("-id", window):
            return int(x), int(y), int(width), int(height)
    return None


class XInput:
    """Keys and clicks through the X server's XTEST extension, as a user would type and click."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError("cannot open display " + display)

    def close(self):
        if self.display:
            self.x11.XCloseDisplay(self.display)
            self.display = None

    def keys(self, *names):
        """Presses the keys (X keysym names such as "Control_L", "o") together, then releases them."""
        codes = [self.x11.XKeysymToKeycode(self.display, self.x11.XStringToKeysym(n.encode())) for n in names]
        if 0 in codes:
            raise ValueError("no key for %r" % (names,))
        for code in codes:
            self.xtst.XTestFakeKeyEvent(self.display, code, 1, 0)
        for code in reversed(codes):
            self.xtst.XTestFakeKeyEvent(self.display, code, 0, 0)
        self.x11.XFlush(self.display)
        time.sleep(0.05)

    def type(self, text):
        """Types ASCII letters, digits, '.', '-', '/' and '_' (a temporary folder's name may hold
        upper-case letters and underscores; those are typed with Shift on a US layout)."""
        names = {".": "period", "-": "minus", "/": "slash"}
        shifted = {"_": "minus"}
        for ch in text:
            if ch in shifted:
                self.keys("Shift_L", shifted[ch])
            elif "A" <= ch <= "Z":
                self.keys("Shift_L", ch.lower())
            elif ch in names or ch.isdigit() or "a" <= ch <= "z":
                self.keys(names.get(ch, ch))
            else:
                raise ValueError("cannot type %r" % ch)

    def click(self, x, y):
        self.xtst.XTestFakeMotionEvent(self.display, -1, x, y, 0)
        self.x11.XFlush(self.display)
        time.sleep(0.1)
        for pressed in (1, 0):
            self.xtst.XTestFakeButtonEvent(self.display, 1, pressed, 0)
            self.x11.XFlush(self.display)
            time.sleep(0.05)


def private_runtime_folder(home):
    """The XDG_RUNTIME_DIR of the app runs of one home folder: private to the test (mode 0700), so
    the app's single-instance lock and socket never meet another test's or a user's instance, while
    two runs of one test find each other as two launches by one user do."""
    folder = os.path.join(home, ".runtime")
    os.makedirs(folder, mode=0o700, exist_ok=True)
    os.chmod(folder, 0o700)
    return folder


def instance_lock_path(runtime_folder):
    return os.path.join(runtime_folder, APP_NAME, "instance.lock")


def instance_socket_path(runtime_folder):
    return os.path.join(runtime_folder, APP_NAME, "instance.socket")


def instance_lock_holder(runtime_folder):
    """PID of the process holding the app's single-instance lock in this runtime folder, or None."""
    try:
        fd = os.open(instance_lock_path(runtime_folder), os.O_RDWR)
    except FileNotFoundError:
        return None
    try:
        layout = "hhqqi4x"  # struct flock on Linux x86-64
        query = struct.pack(layout, fcntl.F_WRLCK, os.SEEK_SET, 0, 0, 0)
        lock_type, _, _, _, pid = struct.unpack(layout, fcntl.fcntl(fd, fcntl.F_GETLK, query))
        return None if lock_type == fcntl.F_UNLCK else pid
    finally:
        os.close(fd)


def caught_signals(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("SigCgt:"):
                mask = int(line.split()[1], 16)
                return {n for n in range(1, 65) if mask & (1 << (n - 1))}
    return set()


class StandaloneApp:
    """One run of the stand-alone binary with its own home folder and log files. Runs of one home share
    its private runtime folder unless given another."""

    def __init__(self, binary, home, display, args=(), jack_server=None, name="app", cwd=None,
                 runtime_folder=None):
        self.binary = binary
        self.home = home
        self.runtime_folder = runtime_folder or private_runtime_folder(home)
        self.cwd = cwd or home
        self.args = list(args)
        self.env = dict(os.environ)
        for key in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XAUTHORITY"):
            self.env.pop(key, None)
        self.env["HOME"] = home
        self.env["XDG_RUNTIME_DIR"] = self.runtime_folder
        self.env["DISPLAY"] = display
        # A server name nobody runs unless a test gives one: the app never sees a developer's JACK.
        self.env = jack_environment(jack_server.name if jack_server else "sorvane-absent-" + uuid.uuid4().hex,
                                    self.env)
        logs = os.path.join(home, "logs")
        os.makedirs(logs, exist_ok=True)
        self.stdout_path = os.path.join(logs, name + ".out")
        self.stderr_path = os.path.join(logs, name + ".err")
        self.proc = None
        self.started = None

    @property
    def pid(self):
        return self.proc.pid

    def start(self):
        with open(self.stdout_path, "w") as out, open(self.stderr_path, "w") as err:
            self.started = time.monotonic()
            self.proc = subprocess.Popen([self.binary, *self.args], env=self.env, stdout=out, stderr=err,
                                         cwd=self.cwd, preexec_fn=die_with_parent)
        return self

    def wait(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def elapsed(self):
        return time.monotonic() - self.started

    def stderr_text(self):
        with open(self.stderr_path, errors="replace") as f:
            return f.read()

    def stdout_text(self):
        with open(self.stdout_path, errors="replace") as f:
            return f.read()

    def settings_path(self):
        return os.path.join(self.home, ".config", APP_NAME, APP_NAME + ".settings")

    def settings(self):
        """The settings file as {key: text or XML element}."""
        values = {}
        for value in ElementTree.parse(self.settings_path()).getroot().iter("VALUE"):
            children = list(value)
            values[value.get("name")] = children[0] if children else value.get("val")
        return values

    def write_settings(self, values):
        """Writes the settings file before a start, as an earlier run would have left it."""
        os.makedirs(os.path.dirname(self.settings_path()), exist_ok=True)
        root = ElementTree.Element("PROPERTIES")
        for key, value in values.items():
            ElementTree.SubElement(root, "VALUE", name=key, val=str(value))
        ElementTree.ElementTree(root).write(self.settings_path(), encoding="UTF-8", xml_declaration=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        stop_process(self.proc, signal.SIGKILL)


JUCE_BASE64 = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"


def processor_state(settings):
    """The processor's state tree saved as "filterState": JUCE's own base64 ("size.chars", 6 bits a
    character, least significant first) around its binary XML wrapper ("VC2!", length, text)."""
    size, _, chars = settings["filterState"].partition(".")
    value = 0
    for i, c in enumerate(chars):
        value |= JUCE_BASE64.index(c) << (6 * i)
    blob = value.to_bytes(max(int(size), (value.bit_length() + 7) // 8), "little")[:int(size)]
    if blob[:4] != b"VC2!":
        raise ValueError("not a JUCE binary XML wrapper")
    length = struct.unpack("<I", blob[4:8])[0]
    return ElementTree.fromstring(blob[8:8 + length].rstrip(b"\0"))


def advisor_acknowledgement_profile(version="2.13.3", ceiling=8):
    """The app's 64-bit FNV-1a of its acknowledgement profile, as 16 hex digits."""
    value = 0x14650FB0739D0383
    for byte in ("setup-advisor|2|%s|%d" % (version, ceiling)).encode():
        value = ((value ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % value


def acknowledge_advisor(home):
    """Records the setup advisor as seen, so its first-run offer does not cover the window in tests
    that are about something else."""
    folder = os.path.join(home, ".config", "Kavix", "Sorvane")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "SetupAdvisorAcknowledged.xml"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\r\n\r\n<SORVANE_SETUP_ADVISOR schemaVersion="2" '
                'productVersion="2.13.3" certifiedInstanceCeiling="8" profileFingerprint="%s" '
                'acknowledgedMilliseconds="0"/>\r\n' % advisor_acknowledgement_profile())


@contextlib.contextmanager
def temporary_home(acknowledged=True):
    folder = tempfile.mkdtemp(prefix="sorvane-home-")
    if acknowledged:
        acknowledge_advisor(folder)
    try:
        yield folder
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def exit_cleanly_on_sigterm():
    """A test runner's timeout sends SIGTERM: unwind so every started process is ended too."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))


def main(argv):
    exit_cleanly_on_sigterm()
    screen = None
    if len(argv) >= 2 and argv[0] == "--xvfb" and argv[1].startswith("--screen="):
        screen = argv[1].partition("=")[2]
        argv = argv[:1] + argv[2:]
    if len(argv) >= 3 and argv[0] == "--xvfb" and argv[1] == "--":
        with Xvfb(*([screen] if screen else [])) as x:
            env = dict(os.environ, DISPLAY=x.display)
            env.pop("XAUTHORITY", None)
            proc = subprocess.Popen(argv[2:], env=env)
            try:
                return proc.wait()
            finally:
                stop_process(proc, signal.SIGKILL)
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
