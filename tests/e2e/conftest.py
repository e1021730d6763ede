"""Fixtures for driving the real talven binary through pseudo-terminals.

The program's console is a pty run by pexpect; the serial cable is a second pty whose master end is
played by a scripted scanner in the test. Every wait has a time limit.
"""
import os
import pathlib
import re
import select
import shutil
import signal
import subprocess
import termios
import time
import tty

import pexpect
import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
BINARY = os.environ.get("TALVEN_BIN", str(REPO / "build" / "talven"))
TOOLS_DIR = os.environ.get("TALVEN_TOOLS_DIR", str(REPO / "build" / "tools"))
WAIT = 10  # seconds; generous for loaded CI machines, short enough to fail a hang quickly

# A port number whose device does not exist on any test machine.
MISSING_PORT = "200"

BANNER = b"               ***** TALVEN EMULATOR PRO Version 0.07H *****\r\n\r\n"
SLAVE_PROMPT = b"\r\nPress Scanner's \"SCAN\" key (The scanner is a clone MASTER unit) !!\r\n"
MASTER_PROMPT = (b"\r\nPress Scanner's \"SCAN\" key (The scanner is a clone SLAVE unit) !!\r\n"
                 b"Are you ready ? (Press any key)\r\n")


# The program's fixed texts, as the console pty shows them (LF arrives as CR LF).
COMPLETE = re.compile(rb"\r\n\r\n\(\^_\^\)/  complete\r\n"
                      rb"  total time \d+:[ \d]\d:[ \d]\d\.\d\d \( \d+\.\d\d sec \)\r\n$")
ERROR_LINE = b"\r\n\r\n(x_x);  error\r\n"
MODEL_MENU = (
    b"Select Scanner Model\r\n"
    b"  1 : QR140A     (KM504R)     2 : VT210     (KM503R)\r\n"
    b"  3 : QR150M     (KM493R)     4 : QR770A    (KM500R)\r\n"
    b"  5 : QRX320A    (KM506R)     6 : QK410A    (KM508R)\r\n"
    b"  7 : QRX620A    (KM513R)     8 : QM-40     (KM514R)\r\n"
    b"  9 : EQRX320A   (KM506E)     a : EQRX620A  (KM513E)\r\n"
    b"  b : EQR5200PLS (KM525R)     c : EVT210    (KM524R)\r\n"
    b"  d : EQR860PLS  (KM521R)     e : EQR880PLS (KM534R)\r\n"
    b"  f : QR450PL    (KM536R)     g : QRX320PL  (KM537R)\r\n"
    b"  h : QRX620PL   (KM538R)     i : QM-40P    (KM539R)\r\n")
MODE_MENU = b"Select TALVEN Mode\r\n  1 : Master ( PC ->SCN )\r\n  2 : Slave  ( SCN->PC  )\r\n"
COMPARE_LINE = b"  3 : Compare \r\n"


def summary(name, code, port, line_end=b"\r\n"):
    """The three summary lines of setup."""
    return (f"  File Name  = {name}\r\n  Model Name = {code}\r\n"
            f"  Com Port   = {port}\r\n").encode().replace(b"\r\n", line_end)


def record(body: str) -> str:
    """A clone record with a valid checksum field."""
    total = 253
    for b in body.encode("latin-1"):
        total += b - 256 if b >= 0x80 else b
    return f"{body}~{total & 0xFFFF:04X}"


class Scanner:
    """The scanner's end of the serial cable: a pty master spoken to in raw bytes."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)
        self.pending = b""

    def send(self, data: bytes):
        os.write(self.master, data)

    def send_line(self, text):
        self.send((text.encode("latin-1") if isinstance(text, str) else text) + b"\r")

    def _fill(self, deadline):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return False
        ready, _, _ = select.select([self.master], [], [], remaining)
        if not ready:
            return False
        try:
            chunk = os.read(self.master, 65536)
        except OSError:
            return False
        self.pending += chunk
        return bool(chunk)

    def read_line(self, timeout=WAIT) -> bytes:
        """One CR-terminated line from the program, without its CR."""
        deadline = time.monotonic() + timeout
        while b"\r" not in self.pending:
            if not self._fill(deadline):
                raise TimeoutError(f"no line from the program; got {self.pending!r}")
        line, _, self.pending = self.pending.partition(b"\r")
        return line

    def wait_for_bytes(self, timeout=WAIT) -> bool:
        """Waits until the program has sent something, without taking it."""
        deadline = time.monotonic() + timeout
        while not self.pending:
            if not self._fill(deadline):
                return False
        return True

    def read_exactly(self, count, timeout=WAIT) -> bytes:
        deadline = time.monotonic() + timeout
        while len(self.pending) < count:
            if not self._fill(deadline):
                break
        data, self.pending = self.pending[:count], self.pending[count:]
        return data

    def read_for(self, seconds) -> bytes:
        """Everything the program sends within the given time."""
        deadline = time.monotonic() + seconds
        while self._fill(deadline):
            pass
        data, self.pending = self.pending, b""
        return data

    def settings(self):
        return termios.tcgetattr(self.slave)

    def hang_up(self):
        if self.master is not None:
            os.close(self.master)
            self.master = None

    def close(self):
        self.hang_up()
        if self.slave is not None:
            os.close(self.slave)
            self.slave = None


class Talven:
    """The program under test, running in its own console pty."""

    def __init__(self, args, cwd, env=None):
        full_env = dict(os.environ, TERM="dumb", LC_ALL="C")
        if env:
            full_env.update(env)
        # Standard error goes to a file so that the console shows standard output alone.
        self.stderr_path = pathlib.Path(cwd) / f".stderr-{id(self)}"
        full_env["TALVEN_STDERR"] = str(self.stderr_path)
        self.child = pexpect.spawn("/bin/sh", ["-c", 'exec "$0" "$@" 2>"$TALVEN_STDERR"', BINARY]
                                   + [str(a) for a in args], cwd=str(cwd), env=full_env,
                                   timeout=WAIT, echo=False)
        self.child.delaybeforesend = None

    def expect(self, pattern, timeout=WAIT):
        if isinstance(pattern, str):
            pattern = pattern.encode("latin-1")
        self.child.expect_exact(pattern, timeout=timeout)
        return self.child.before

    def expect_re(self, pattern, timeout=WAIT):
        return self.child.expect(pattern, timeout=timeout)

    def send(self, data):
        self.child.send(data)

    def sendline(self, data):
        self.child.sendline(data)

    def output(self, timeout=WAIT) -> bytes:
        """Everything up to the end of the program's output."""
        self.child.expect(pexpect.EOF, timeout=timeout)
        return self.child.before

    def wait(self, timeout=WAIT) -> int:
        """Exit status: the exit code, or 128 + the signal number."""
        deadline = time.monotonic() + timeout
        while self.child.isalive():
            if time.monotonic() > deadline:
                self.child.kill(signal.SIGKILL)
                raise TimeoutError("the program did not end")
            try:
                self.child.expect(pexpect.EOF, timeout=0.2)
            except pexpect.TIMEOUT:
                pass
        self.child.close()
        if self.child.signalstatus is not None:
            return 128 + self.child.signalstatus
        return self.child.exitstatus

    def stderr(self) -> bytes:
        return self.stderr_path.read_bytes() if self.stderr_path.exists() else b""

    def kill(self, sig):
        self.child.kill(sig)

    def close(self):
        if self.child.isalive():
            self.child.terminate(force=True)


@pytest.fixture
def scanner():
    peer = Scanner()
    yield peer
    peer.close()


@pytest.fixture
def run(tmp_path):
    started = []

    def start(*args, cwd=None, env=None):
        program = Talven(args, cwd or tmp_path, env)
        started.append(program)
        return program

    yield start
    for program in started:
        program.close()


# --- The Windows build under wine -----------------------------------------------------------------
# TALVEN_EXE names talven.exe. Tests that take the `platform` fixture run once per platform: the
# native binary with the scanner's pty path as port, and talven.exe under wine with COMn linked to
# that pty. Without TALVEN_EXE the wine cases are skipped.

TALVEN_EXE = os.environ.get("TALVEN_EXE")
WINE_SETUP = 300  # seconds for wineboot to fill a fresh prefix
WINE_WAIT = 20  # a wine process start takes a second or two, more on a loaded machine
# wine links com1..com32 to /dev/ttyS* it finds; the tests link their ptys above those.
WINE_FIRST_PORT = 41


def pytest_configure(config):
    config.addinivalue_line("markers", "wine: runs talven.exe under wine (needs TALVEN_EXE)")


_wine_setup_seconds = []


def pytest_terminal_summary(terminalreporter):
    for seconds in _wine_setup_seconds:
        terminalreporter.write_line(f"wine prefix and desktop ready in {seconds:.1f} s")


class ConsoleText:
    """Undoes the way wine's console draws output on a terminal.

    Each write comes wrapped in cursor hide and show sequences, a blank written alone comes as
    "erase line, cursor right", a line end as CR CR LF, and BEL is not passed on at all. Fed the raw
    bytes as they arrive, this gives back the text as the program wrote it, less its bells.
    """

    _SEQUENCE = re.compile(rb"\x1b\[([0-9;?]*)[ -/]*([@-~])|\x1b\][^\x07\x1b]*(?:\x07|\x1b\\)"
                           rb"|\r\r\n")

    def __init__(self):
        self._held = b""

    @staticmethod
    def _replace(match):
        if match.group(0) == b"\r\r\n":
            return b"\r\n"
        if match.group(2) == b"C":
            return b" " * int(match.group(1) or b"1")
        return b""

    def feed(self, data: bytes, final=False) -> bytes:
        data = self._held + data
        cut = len(data)
        if not final:
            # Hold back what may be the start of a sequence that is still coming.
            escape = data.rfind(b"\x1b")
            if escape >= 0 and not self._SEQUENCE.match(data, escape):
                cut = escape
            while cut > 0 and data[cut - 1:cut] == b"\r" and len(data) - cut < 2:
                cut -= 1
        self._held = data[cut:]
        return self._SEQUENCE.sub(self._replace, data[:cut])


def await_raw_terminal(child, deadline):
    """wine's console sets its terminal raw when the program first waits for input. Bytes typed
    before that meet the line discipline, which turns CR into LF and holds a key back until a line
    end comes."""
    while termios.tcgetattr(child.child_fd)[3] & termios.ICANON:
        if time.monotonic() > deadline:
            raise TimeoutError("wine's console never took its terminal")
        time.sleep(0.01)


class WineTalven(Talven):
    """talven.exe under wine in its own console pty; expect() and output() see the text as written.

    A pattern's BEL characters are left out of the match, since the console does not show them.
    """

    def __init__(self, args, cwd, wine, env=None, program=None, stdout=None):
        """env: more environment, such as the Unix locale wine runs in (LC_ALL), which sets its
        code pages; program: what wine runs instead of talven.exe (cmd for a batch file); stdout:
        a file that takes standard output instead of the console."""
        self.stderr_path = pathlib.Path(cwd) / f".stderr-{id(self)}"
        env = {**wine.env, "TERM": "dumb", "LC_ALL": "C", **(env or {}),
               "TALVEN_STDERR": str(self.stderr_path), "TALVEN_STDOUT": str(stdout or "")}
        redirect = ' >"$TALVEN_STDOUT"' if stdout else ""
        # Wide enough that no line of the program wraps.
        self.child = pexpect.spawn("/bin/sh", ["-c", 'exec wine "$0" "$@" 2>"$TALVEN_STDERR"' +
                                               redirect, program or TALVEN_EXE] +
                                   [str(a) for a in args],
                                   cwd=str(cwd), env=env, timeout=WINE_WAIT, echo=False,
                                   dimensions=(50, 250))
        self.child.delaybeforesend = None
        self._text = ConsoleText()
        self._seen = b""
        self._ended = False
        self._raw = False

    def _read(self, deadline):
        """More text into _seen; False once the time is up or the program's output has ended."""
        if self._ended:
            return False
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return False
        try:
            self._seen += self._text.feed(self.child.read_nonblocking(65536, timeout=remaining))
        except pexpect.TIMEOUT:
            return False
        except pexpect.EOF:
            self._seen += self._text.feed(b"", final=True)
            self._ended = True
            return False
        return True

    def _match(self, find, timeout, what):
        deadline = time.monotonic() + max(timeout, WINE_WAIT)
        while True:
            found = find(self._seen)
            if found is not None:
                start, end = found
                before, self._seen = self._seen[:start], self._seen[end:]
                return before
            if not self._read(deadline):
                error = pexpect.EOF if self._ended else pexpect.TIMEOUT
                raise error(f"{what} not seen; the console showed {self._seen[-2000:]!r}")

    def expect(self, pattern, timeout=WAIT):
        if isinstance(pattern, str):
            pattern = pattern.encode("latin-1")
        pattern = pattern.replace(b"\a", b"")

        def find(text):
            at = text.find(pattern)
            return None if at < 0 else (at, at + len(pattern))

        return self._match(find, timeout, repr(pattern))

    def expect_re(self, pattern, timeout=WAIT):
        """As pexpect's expect(): the index of the pattern in a list that matched first."""
        regexes = [re.compile(p) for p in (pattern if isinstance(pattern, list) else [pattern])]
        matched = []

        def find(text):
            found = [(r.search(text), i) for i, r in enumerate(regexes)]
            found = [(m.span(), i) for m, i in found if m is not None]
            if not found:
                return None
            span, index = min(found)
            matched.append(index)
            return span

        self._match(find, timeout, repr(pattern))
        return matched[-1]

    def send(self, data):
        if not self._raw:
            await_raw_terminal(self.child, time.monotonic() + WINE_WAIT)
            self._raw = True
        self.child.send(data)

    def sendline(self, data):
        # The console takes CR as the Enter key.
        self.send((data.encode("latin-1") if isinstance(data, str) else data) + b"\r")

    def output(self, timeout=WAIT) -> bytes:
        deadline = time.monotonic() + max(timeout, WINE_WAIT)
        while self._read(deadline):
            pass
        if not self._ended:
            raise pexpect.TIMEOUT(f"output did not end; so far {self._seen[-2000:]!r}")
        text, self._seen = self._seen, b""
        return text

    def wait(self, timeout=WAIT) -> int:
        return super().wait(max(timeout, WINE_WAIT))


class Wine:
    """One throwaway wine prefix for the test session, its server kept running between programs."""

    def __init__(self, prefix: pathlib.Path):
        self.prefix = prefix
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono or Gecko installer
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        self._next_port = WINE_FIRST_PORT
        self._desktop_user = None
        started = time.monotonic()
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        _wine_setup_seconds.append(time.monotonic() - started)

    def _start(self):
        quiet = dict(env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        # A persistent server spares every program the server's start and its lingering stop.
        subprocess.run(["wineserver", "-p"], timeout=WINE_WAIT, check=True, **quiet)
        subprocess.run(["wineboot", "-i"], timeout=WINE_SETUP, check=True, **quiet)
        # wine's console maps typed keys through user32, which needs the desktop process. That one
        # ends two seconds after its last user, and starting it again without a display holds the
        # console up for ten seconds. A console kept open for the session keeps it running.
        self._desktop_user = pexpect.spawn("wine", ["cmd"], env=dict(self.env, TERM="dumb"),
                                           timeout=WINE_SETUP, echo=False)
        self._desktop_user.expect_exact(b">")
        await_raw_terminal(self._desktop_user, time.monotonic() + WINE_SETUP)
        self._desktop_user.send(b"\r")
        self._desktop_user.expect_exact(b">")

    def link_port(self, device_path) -> int:
        """A COM port number that wine opens as the given device."""
        number = self._next_port
        self._next_port += 1
        link = self.prefix / "dosdevices" / f"com{number}"
        if link.is_symlink():
            link.unlink()
        link.symlink_to(device_path)
        return number

    def unlink_port(self, number):
        link = self.prefix / "dosdevices" / f"com{number}"
        if link.is_symlink():
            link.unlink()

    def close(self):
        if self._desktop_user is not None:
            self._desktop_user.terminate(force=True)
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=WINE_WAIT,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


@pytest.fixture(scope="session")
def wine(tmp_path_factory):
    if not TALVEN_EXE:
        pytest.skip("TALVEN_EXE is not set")
    if not pathlib.Path(TALVEN_EXE).is_file():
        pytest.fail(f"TALVEN_EXE={TALVEN_EXE} does not exist")
    if shutil.which("wine") is None or shutil.which("wineserver") is None:
        pytest.fail("TALVEN_EXE is set but wine is not installed")
    session = Wine(tmp_path_factory.mktemp("wineprefix"))
    yield session
    session.close()
    shutil.rmtree(session.prefix, ignore_errors=True)


class NativePlatform:
    name = "native"

    def __init__(self, run):
        self._run = run

    def start(self, *args, cwd=None):
        return self._run(*args, cwd=cwd)

    def port(self, scanner) -> str:
        return scanner.path


class WinePlatform:
    name = "wine"

    def __init__(self, wine, cwd):
        self.wine = wine
        self._cwd = cwd
        self._started = []
        self._ports = []

    def start(self, *args, cwd=None, **options):
        program = WineTalven(args, cwd or self._cwd, self.wine, **options)
        self._started.append(program)
        return program

    def port(self, scanner) -> str:
        number = self.wine.link_port(scanner.path)
        self._ports.append(number)
        return str(number)

    def close(self):
        for program in self._started:
            program.close()
        for number in self._ports:
            self.wine.unlink_port(number)


@pytest.fixture(params=["native", pytest.param("wine", marks=pytest.mark.wine)])
def platform(request, run, tmp_path):
    """Where the program runs: start(*args) and port(scanner), the port argument for that pty."""
    if request.param == "native":
        yield NativePlatform(run)
        return
    chosen = WinePlatform(request.getfixturevalue("wine"), tmp_path)
    yield chosen
    chosen.close()
