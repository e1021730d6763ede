"""Fixtures for driving the real talven binary through pseudo-terminals.

The program's console is a pty run by pexpect; the serial cable is a second pty whose master end is
played by a scripted scanner in the test. Every wait has a time limit.
"""
import os
import pathlib
import select
import signal
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
