"""Faults and hostile input, end to end: a cable pulled mid-transfer, a second session on the same
port or file, a full disk, a folder that refuses the mismatch log, floods of garbage, odd bytes in
clone files, a file whose line count wraps, and signals in every wait.

Each test checks that the program neither crashes nor spins, that what it answered "OK" is kept,
that it never reports success for data it lost, and that the console is left as it was found.
"""
import contextlib
import fcntl
import os
import pathlib
import random
import re
import select
import signal
import subprocess
import threading
import time

import pexpect
import pytest

from conftest import (
    BINARY, COMPLETE, ERROR_LINE, MASTER_PROMPT, SLAVE_PROMPT, Scanner, Talven, WAIT, record)

PORT_ERROR = b"RS-232C ERROR\r\n"
FILE_PROMPT = b"Input clone file name : "
# CPU seconds a waiting program may use over a second of waiting: polling, never spinning.
IDLE_CPU = 0.15
CLK_TCK = os.sysconf("SC_CLK_TCK")


def clone_file(records) -> bytes:
    return b"".join((r.encode("latin-1") if isinstance(r, str) else r) + b"\r\n" for r in records)


def field(r: str) -> int:
    return int(r.split("~")[1], 16)


# --- The program as a process ---------------------------------------------------------------------

def proc_stat(pid):
    """(state, CPU seconds) from /proc/<pid>/stat; an exited, unreaped process still has both."""
    text = pathlib.Path(f"/proc/{pid}/stat").read_text()
    fields = text[text.rindex(")") + 2:].split()
    return fields[0], (int(fields[11]) + int(fields[12])) / CLK_TCK


def cpu_seconds(pid) -> float:
    return proc_stat(pid)[1]


def cpu_when_ended(pid, timeout=WAIT) -> float:
    """CPU seconds the process used in all, read once it has ended and before it is reaped."""
    deadline = time.monotonic() + timeout
    while True:
        state, cpu = proc_stat(pid)
        if state == "Z":
            return cpu
        if time.monotonic() > deadline:
            raise TimeoutError(f"process {pid} did not end (state {state})")
        time.sleep(0.02)


def memory_kib(pid, name="VmHWM") -> int:
    for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(name + ":"):
            return int(line.split()[1])
    raise KeyError(name)


def idle_cpu(pid, seconds=1.0) -> float:
    """CPU seconds used while the program waits for the given time."""
    before = cpu_seconds(pid)
    time.sleep(seconds)
    return cpu_seconds(pid) - before


def drain(app, seconds=0.2) -> bytes:
    """Console output that has arrived, without waiting for the end."""
    seen = b""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            seen += app.child.read_nonblocking(65536, timeout=0.05)
        except pexpect.TIMEOUT:
            pass
        except pexpect.EOF:
            break
    return seen


class Watched(Talven):
    """talven under a shell that saves the console's settings (stty -g) just before the program
    starts and just after it ends, so that a test can compare them. Signals go to the program."""

    def __init__(self, args, cwd, notes):
        tag = id(self)
        self.stderr_path = notes / f".stderr-{tag}"
        self.tty_before = notes / f".tty-before-{tag}"
        self.tty_after = notes / f".tty-after-{tag}"
        env = dict(os.environ, TERM="dumb", LC_ALL="C", TALVEN_STDERR=str(self.stderr_path),
                   TTY_BEFORE=str(self.tty_before), TTY_AFTER=str(self.tty_after))
        script = ('stty -g >"$TTY_BEFORE"; "$0" "$@" 2>"$TALVEN_STDERR"; rc=$?; '
                  'stty -g >"$TTY_AFTER"; exit $rc')
        self.child = pexpect.spawn("/bin/sh", ["-c", script, BINARY] + [str(a) for a in args],
                                   cwd=str(cwd), env=env, timeout=WAIT, echo=False)
        self.child.delaybeforesend = None

    def program_pid(self) -> int:
        shell = self.child.pid
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            children = pathlib.Path(f"/proc/{shell}/task/{shell}/children").read_text().split()
            if children:
                return int(children[0])
            time.sleep(0.01)
        raise TimeoutError("the program did not start")

    def console_settings(self):
        return self.tty_before.read_text(), self.tty_after.read_text()


@pytest.fixture
def watched(tmp_path):
    started = []

    def start(*args, cwd=None):
        # Standard error and the settings go to tmp_path also when cwd is a disk that refuses them.
        program = Watched(args, cwd or tmp_path, tmp_path)
        started.append(program)
        return program

    yield start
    for program in started:
        program.close()


@pytest.fixture
def second_scanner():
    peer = Scanner()
    yield peer
    peer.close()


@contextlib.contextmanager
def tmpfs(path: pathlib.Path, options: str):
    """A tmpfs mounted at path for the block, or the test skipped where mounting is not allowed."""
    if os.geteuid() != 0:
        pytest.skip("mounting a tmpfs needs root")
    path.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", str(path)],
                             capture_output=True, timeout=WAIT)
    if mounted.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {mounted.stderr.decode().strip()}")
    try:
        yield path
    finally:
        # Lazy, in case a program still has its working directory there.
        subprocess.run(["umount", "-l", str(path)], capture_output=True, timeout=WAIT)


@contextlib.contextmanager
def unwritable_folder(path: pathlib.Path):
    """A folder in which nothing can be created: by its mode for a user, by a read-only tmpfs for
    root, whom modes do not stop."""
    if os.geteuid() != 0:
        path.mkdir(mode=0o555)
        try:
            yield path
        finally:
            path.chmod(0o755)
        return
    with tmpfs(path, "ro,size=16k") as folder:
        yield folder


def start_slave(run, scanner, name="out.txt"):
    app = run("KM504R", scanner.path, "SLAVE", name, "0")
    app.expect(SLAVE_PROMPT)
    return app


def start_compare(run, scanner, name, cwd=None):
    app = run("KM504R", scanner.path, "COMPARE", name, "0", cwd=cwd)
    app.expect(SLAVE_PROMPT)
    return app


def start_master(run, scanner, name, model="KM504R", options=()):
    app = run(*options, model, scanner.path, "MASTER", name, "0")
    app.expect(MASTER_PROMPT)
    app.send("k")
    assert scanner.read_line() == b"MDL"
    return app


def exchange(scanner, line) -> bytes:
    scanner.send_line(line)
    return scanner.read_line()


def send_all(scanner, records):
    for r in records:
        assert exchange(scanner, "CLN " + r) == b"OK"


def assert_silent(scanner, seconds=0.3):
    assert scanner.read_for(seconds) == b""


RECORDS = [record(f"{k:04X},CH{k},146.{k:03d},FM") for k in range(6)]


# --- The scanner vanishing mid-transfer -----------------------------------------------------------

@pytest.mark.parametrize("mode", ["SLAVE", "COMPARE", "MASTER"])
@pytest.mark.parametrize("moment", ["between lines", "inside a line"])
def test_scanner_vanishing_mid_transfer(run, scanner, tmp_path, mode, moment):
    """A pulled cable ends the program with the port error: no spin, nothing answered is lost."""
    stored = clone_file(RECORDS)
    (tmp_path / "in.txt").write_bytes(stored)
    if mode == "SLAVE":
        app = start_slave(run, scanner)
        send_all(scanner, RECORDS[:3])
    elif mode == "COMPARE":
        app = start_compare(run, scanner, "in.txt")
        changed = record("0001,changed")
        send_all(scanner, [RECORDS[0], changed, RECORDS[2]])
    else:
        app = start_master(run, scanner, "in.txt")
        scanner.send_line("QRFAMTK00")
        for r in RECORDS[:3]:
            assert scanner.read_line() == b"CLN " + r.encode()
            scanner.send_line("OK")
        assert scanner.read_line() == b"CLN " + RECORDS[3].encode()
    if moment == "inside a line":
        scanner.send(b"O" if mode == "MASTER" else b"CLN 0004,cut sh")
    assert idle_cpu(app.child.pid) < IDLE_CPU
    before = cpu_seconds(app.child.pid)
    scanner.hang_up()
    assert cpu_when_ended(app.child.pid) - before < IDLE_CPU
    out = app.output()
    # The progress marks' line is ended before the message.
    assert out.endswith(b"\r\n" + PORT_ERROR) and b"o" + PORT_ERROR not in out
    assert app.wait() == 255
    assert b"stopped working" in app.stderr()
    if mode == "SLAVE":
        assert (tmp_path / "out.txt.partial").read_bytes() == clone_file(RECORDS[:3])
    else:
        assert (tmp_path / "in.txt").read_bytes() == stored
    if mode == "COMPARE":
        # The difference found before the cable went is in the log, whole.
        [log] = tmp_path.glob("*.log")
        assert log.read_bytes() == (f"Error Count =1\r\n Master Data={RECORDS[1]}\r\n"
                                    f" Recive Data={changed}\r\n\r\n").encode()


# --- A second session ------------------------------------------------------------------------------

@pytest.mark.parametrize("mode", ["SLAVE", "MASTER", "COMPARE"])
def test_second_session_on_the_same_port_is_refused(run, scanner, tmp_path, mode):
    first = start_slave(run, scanner, "first.txt")
    assert exchange(scanner, "MDL") == b"QRFAMTK00"
    send_all(scanner, RECORDS[:2])
    (tmp_path / "other.txt").write_bytes(clone_file(RECORDS))
    second = run("KM504R", scanner.path, mode, "second.txt" if mode == "SLAVE" else "other.txt",
                 "0")
    assert second.output().endswith(PORT_ERROR)
    assert second.wait() == 255
    # Nothing of the second reached the cable, and the first goes on as if it had not been there.
    assert_silent(scanner)
    send_all(scanner, RECORDS[2:])
    scanner.send_line("END")
    assert COMPLETE.search(first.output())
    assert first.wait() == 0
    assert (tmp_path / "first.txt").read_bytes() == clone_file(RECORDS)


@pytest.mark.parametrize("mode", ["SLAVE", "MASTER", "COMPARE"])
def test_second_session_on_the_same_file_leaves_it_alone(run, scanner, second_scanner, tmp_path,
                                                        mode):
    """Another session must neither empty a clone file that is being written nor send a half
    written one; it asks for another file instead."""
    records = [record(f"{k:04X}," + "x" * 200) for k in range(40)]
    (tmp_path / "out.txt").write_bytes(b"an earlier backup\r\n")
    first = start_slave(run, scanner)
    send_all(scanner, records[:30])  # more than a stdio buffer: some are on disk already
    second = run("KM504R", second_scanner.path, mode, "out.txt", "0")
    second.expect(FILE_PROMPT)
    assert b"busy" in second.stderr()
    second.child.sendeof()
    assert second.wait() == 255
    assert_silent(second_scanner, 0.1)
    send_all(scanner, records[30:])
    scanner.send_line("END")
    assert COMPLETE.search(first.output())
    assert (tmp_path / "out.txt").read_bytes() == clone_file(records)


def test_second_session_cannot_empty_a_file_being_sent(run, scanner, second_scanner, tmp_path):
    stored = clone_file(RECORDS)
    (tmp_path / "in.txt").write_bytes(stored)
    first = run("KM504R", scanner.path, "MASTER", "in.txt", "0")
    first.expect(MASTER_PROMPT)
    second = run("KM504R", second_scanner.path, "SLAVE", "in.txt", "0")
    second.expect(FILE_PROMPT)
    assert b"busy" in second.stderr()
    second.child.sendeof()
    assert second.wait() == 255
    assert (tmp_path / "in.txt").read_bytes() == stored
    first.send("k")
    assert scanner.read_line() == b"MDL"
    assert exchange(scanner, "QRFAMTK00") == b"CLN " + RECORDS[0].encode()
    for r in RECORDS[1:]:
        assert exchange(scanner, "OK") == b"CLN " + r.encode()
    assert exchange(scanner, "OK") == b"END"
    assert COMPLETE.search(first.output())


# --- Disks that refuse --------------------------------------------------------------------------

def test_full_disk_is_an_error_not_success(run, scanner, tmp_path):
    records = [record(f"{k:04X}," + "m" * 90) for k in range(1000)]  # about 100 KB on disk
    expected = clone_file(records)
    with contextlib.ExitStack() as stack:
        try:
            target = stack.enter_context(tmpfs(tmp_path / "disk", "size=64k")) / "out.txt"
        except pytest.skip.Exception:
            if not os.path.exists("/dev/full"):
                raise
            target = pathlib.Path("/dev/full")  # a disk that is full from the first byte
        app = start_slave(run, scanner, str(target))
        send_all(scanner, records)  # answered before they are written, as the protocol has it
        scanner.send_line("END")
        out = app.output()
        assert out.endswith(f"File Write Error ({target})\r\n".encode() + ERROR_LINE)
        assert b"complete" not in out
        assert app.wait() == 0
        assert b"No space left on device" in app.stderr()
        if target.name == "out.txt":
            assert not target.exists()
            kept = target.with_name("out.txt.partial").read_bytes()
            assert 0 < len(kept) < len(expected) and expected.startswith(kept)


def test_mismatch_log_on_a_full_disk_is_reported(watched, scanner, tmp_path):
    (tmp_path / "in.txt").write_bytes(clone_file(RECORDS))
    with tmpfs(tmp_path / "disk", "size=16k") as disk:
        filler = disk / "filler"
        with contextlib.suppress(OSError), open(filler, "wb") as out:
            while True:
                out.write(b"\0" * 4096)
                out.flush()
        app = start_compare(watched, scanner, str(tmp_path / "in.txt"), cwd=disk)
        send_all(scanner, [record(f"{k:04X},different" + "z" * 300) for k in range(6)])
        scanner.send_line("END")
        out = app.output()
        assert out.endswith(b"\r\nError Count =6\r\n" + ERROR_LINE)
        assert app.wait() == 0
        assert b"could not be written completely" in app.stderr()


def test_unwritable_folder_for_the_mismatch_log(watched, scanner, tmp_path):
    stored = clone_file(RECORDS)
    (tmp_path / "in.txt").write_bytes(stored)
    with unwritable_folder(tmp_path / "readonly") as folder:
        app = start_compare(watched, scanner, str(tmp_path / "in.txt"), cwd=folder)
        assert exchange(scanner, "CLN " + RECORDS[0]) == b"OK"
        # The first difference needs the log: the answer goes out first, then the program ends.
        assert exchange(scanner, "CLN " + record("0001,changed")) == b"OK"
        out = app.output()
        assert re.search(rb"File Open Error \(\d{4}_\d\d_\d\d__\d\d_\d\d_\d\d\.log\)\r\n$", out)
        assert app.wait() == 255
        assert re.search(rb"Read-only file system|Permission denied", app.stderr())
        assert list(folder.iterdir()) == []
    assert (tmp_path / "in.txt").read_bytes() == stored


def test_output_pipe_closed_mid_transfer_loses_nothing(scanner, tmp_path):
    """Standard output going nowhere (a pager or tee that quit) is no reason to drop what the
    transfer holds: the mismatch log is still written whole."""
    (tmp_path / "in.txt").write_bytes(clone_file(RECORDS))
    program = subprocess.Popen([BINARY, "KM504R", scanner.path, "COMPARE", "in.txt", "0"],
                               cwd=tmp_path, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    try:
        program.stdout.close()  # the reader is gone before the first report
        changed = [record(f"{k:04X},changed" + "c" * 200) for k in range(len(RECORDS))]
        send_all(scanner, changed)  # reports far beyond one block of buffered output
        scanner.send_line("END")
        assert program.wait(timeout=WAIT) == 0
    finally:
        if program.poll() is None:
            program.kill()
            program.wait(timeout=WAIT)
    [log] = tmp_path.glob("*.log")
    assert log.read_bytes() == b"".join(
        f"Error Count ={n + 1}\r\n Master Data={RECORDS[n]}\r\n Recive Data={changed[n]}\r\n\r\n"
        .encode() for n in range(len(RECORDS)))


# --- Floods ------------------------------------------------------------------------------------------

MIB = 1 << 20
# A flood may not raise the peak memory of the program by more than this.
FLOOD_GROWTH_KIB = 2048


def garbage(size, seed, with_cr=True) -> bytes:
    """Random bytes. No line in them starts with a command word, so none of them is answered."""
    data = bytearray(random.Random(seed).randbytes(size))
    for i, byte in enumerate(data):
        if byte == 0x0D and not with_cr:
            data[i] = 0x0A
        elif byte == 0x0D and i + 1 < size and data[i + 1] in b"CEMS":
            data[i + 1] = ord("x")
    if data[:1] in (b"C", b"E", b"M", b"S"):
        data[0] = ord("x")
    return bytes(data)


def send_bounded(scanner, data, timeout=2 * WAIT):
    """Sends data as fast as the program takes it; a program that stops reading fails the test
    instead of blocking the write for ever."""
    fd = scanner.master
    flags = fcntl.fcntl(fd, fcntl.F_GETFL)
    fcntl.fcntl(fd, fcntl.F_SETFL, flags | os.O_NONBLOCK)
    try:
        deadline = time.monotonic() + timeout
        rest = memoryview(data)
        while rest:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError(f"the program stopped reading with {len(rest)} bytes to go")
            select.select([], [fd], [], remaining)
            try:
                rest = rest[os.write(fd, rest[:65536]):]
            except BlockingIOError:
                pass
    finally:
        fcntl.fcntl(fd, fcntl.F_SETFL, flags)


def flood(scanner, data, chunk=65536):
    """Sends the data while reading back whatever the program answers."""
    answers = b""
    for start in range(0, len(data), chunk):
        send_bounded(scanner, data[start:start + chunk])
        answers += scanner.read_for(0.01)
    return answers + scanner.read_for(0.2)


@pytest.mark.parametrize("mode", ["SLAVE", "COMPARE"])
def test_flood_and_a_megabyte_line_without_cr(run, scanner, tmp_path, mode):
    # Compare gets the one record it will be sent: a line without its record is a difference.
    (tmp_path / "in.txt").write_bytes(clone_file(RECORDS[:1]))
    app = start_slave(run, scanner) if mode == "SLAVE" else start_compare(run, scanner, "in.txt")
    pid = app.child.pid
    base = memory_kib(pid)
    assert flood(scanner, garbage(MIB, seed=1)) == b""
    assert flood(scanner, garbage(MIB, seed=2, with_cr=False)) == b""
    scanner.send(b"\r")
    assert memory_kib(pid) - base < FLOOD_GROWTH_KIB
    # Still listening, and the junk has not spoiled the next line.
    assert exchange(scanner, "MDL") == b"QRFAMTK00"
    assert exchange(scanner, "CLN " + RECORDS[0]) == b"OK"
    scanner.send_line("END")
    assert COMPLETE.search(app.output(timeout=2 * WAIT))
    assert app.wait() == 0
    if mode == "SLAVE":
        assert (tmp_path / "out.txt").read_bytes() == clone_file(RECORDS[:1])
    else:
        assert list(tmp_path.glob("*.log")) == []


def test_flood_as_the_replies_of_a_master_transfer(run, scanner, tmp_path):
    (tmp_path / "in.txt").write_bytes(clone_file(RECORDS[:2]))
    app = start_master(run, scanner, "in.txt")
    pid = app.child.pid
    base = memory_kib(pid)
    # A megabyte as the model's reply, then 64 KiB as the reply to the first record.
    junk = garbage(64 * 1024, seed=4, with_cr=False).replace(b"\0", b"\1")
    send_bounded(scanner, garbage(MIB, seed=3, with_cr=False) + b"\r")
    assert scanner.read_line() == b"CLN " + RECORDS[0].encode()
    send_bounded(scanner, junk + b"\r")
    # Taken as a reply other than OK: the record is sent again.
    assert scanner.read_line(timeout=2 * WAIT) == b"CLN " + RECORDS[0].encode()
    assert memory_kib(pid) - base < FLOOD_GROWTH_KIB
    assert exchange(scanner, "OK") == b"CLN " + RECORDS[1].encode()
    assert exchange(scanner, "OK") == b"END"
    out = app.output(timeout=2 * WAIT)
    # Shown once, cut at the line buffer's 4095 bytes (each LF shows as CR LF on the console).
    assert out.count(b"ERR Rx=[") == 1
    shown = out[out.index(b"ERR Rx=[") + 8:out.index(b"]\r\n    Tx=[")]
    assert shown.replace(b"\r\n", b"\n") == junk[:4095]
    assert COMPLETE.search(out)
    assert app.wait() == 0


@pytest.mark.parametrize("answer,accepted", [
    ("0000000000000000000005", True),  # "%d" reads 5, however many zeros lead
    ("-0000000000000000000005", False),
    ("99999999999999999999999", False),  # far out of range, not wrapped into it
])
def test_port_answers_with_many_digits(run, answer, accepted):
    app = run()
    app.expect(b"Input Com port (1-99): ")
    app.sendline(answer)
    found = app.expect_re([re.escape(b"Select Scanner Model\r\n"),
                           re.escape(b"\aINVALID COM port\r\n\r\nInput Com port (1-99): ")])
    assert found == (0 if accepted else 1)


# --- Odd bytes in clone files --------------------------------------------------------------------

HIGH = record("0001,\xb0\xe9\xff,high")
PLAIN = record("0003,plain")
AFTER_MARK = record("0004,after the end mark")
# A record with a NUL inside: as text it ends at the NUL.
WITH_NUL = b"0002,AB\x00CD~1234"
ODD_FILE = (HIGH.encode("latin-1") + b"\r\n" + WITH_NUL + b"\r\n" + PLAIN.encode() + b"\r\n"
            + b"\x1a" + AFTER_MARK.encode() + b"\r\n")


def test_master_sends_odd_bytes_as_they_are_and_stops_at_the_end_mark(run, scanner, tmp_path):
    (tmp_path / "in.txt").write_bytes(ODD_FILE)
    # Sent as it is: the cut record would not pass the check before sending.
    app = start_master(run, scanner, "in.txt", model="KM506R", options=["--no-verify"])
    scanner.send_line("QRFAMDG01")
    sent = [HIGH.encode("latin-1"), b"0002,AB", PLAIN.encode()]
    for line in sent:
        assert scanner.read_line() == b"CLN " + line
        scanner.send_line("OK")
    total = (field(HIGH) + field(PLAIN)) & 0xFFFF  # the cut record has no checksum field
    assert scanner.read_line() == f"SUM {total:04X}".encode()
    assert scanner.read_line() == b""  # the SUM command's second CR
    assert exchange(scanner, "OK") == b"END"
    out = app.output()
    assert COMPLETE.search(out)
    # Three lines before the end mark: every record shows a mark.
    assert b"\r\nooo\r\n" in out
    assert (tmp_path / "in.txt").read_bytes() == ODD_FILE


def test_compare_with_odd_bytes_logs_them_exactly(run, scanner, tmp_path):
    (tmp_path / "in.txt").write_bytes(ODD_FILE)
    app = start_compare(run, scanner, "in.txt")
    other_high = record("0001,\xb0\xe9\xfe,high")
    send_all(scanner, [other_high])
    scanner.send(b"CLN " + WITH_NUL + b"\r")  # compared as text: equal
    assert scanner.read_line() == b"OK"
    surplus = record("0004,the file has ended")
    send_all(scanner, [PLAIN, surplus])
    scanner.send_line("END")
    out = app.output()
    assert out.endswith(b"\r\nError Count =2\r\n" + ERROR_LINE)
    [log] = tmp_path.glob("*.log")
    assert log.read_bytes() == (b"Error Count =1\r\n Master Data=" + HIGH.encode("latin-1")
                                + b"\r\n Recive Data=" + other_high.encode("latin-1")
                                + b"\r\n\r\nError Count =2\r\n Master Data=\r\n Recive Data="
                                + surplus.encode() + b"\r\n\r\n")


# --- A line count that wraps ---------------------------------------------------------------------

class SlaveScanner(threading.Thread):
    """A scanner acting as clone slave, answering as fast as it can in a thread of its own."""

    def __init__(self, scanner, identity):
        super().__init__(daemon=True)
        self.scanner = scanner
        self.identity = identity
        self.records = []
        self.error = None

    def run(self):
        try:
            while True:
                line = self.scanner.read_line()
                if line == b"MDL":
                    self.scanner.send_line(self.identity)
                elif line.startswith(b"CLN "):
                    self.records.append(line[4:])
                    self.scanner.send_line("OK")
                elif line.startswith(b"SUM "):
                    self.scanner.read_line()
                    self.scanner.send_line("OK")
                elif line == b"END":
                    return
        except Exception as error:  # reported by the test
            self.error = error


def test_65600_line_file_prints_a_mark_for_every_record(run, scanner, tmp_path):
    """The 16-bit line count wraps to 64, so the progress scale is 0: one mark per record."""
    count = 65600
    records = [f"{k:05X},{k % 1000:03d}~{k & 0xFFFF:04X}".encode() for k in range(count)]
    (tmp_path / "in.txt").write_bytes(b"".join(r + b"\n" for r in records))
    app = run("--no-verify", "KM504R", scanner.path, "MASTER", "in.txt", "0")
    app.expect(MASTER_PROMPT)
    peer = SlaveScanner(scanner, "QRFAMTK00")
    peer.start()
    app.send("k")
    out = app.output(timeout=300)
    peer.join(timeout=WAIT)
    assert peer.error is None and not peer.is_alive()
    assert peer.records == records
    marks = re.search(rb"\r\n(o+)\r\n\r\n\(\^_\^\)/  complete", out)
    assert marks and len(marks.group(1)) == count
    assert app.wait() == 0


# --- Signals in every wait -----------------------------------------------------------------------

SIGNALS = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP]
WAITS = ["port prompt", "model menu", "mode menu", "file prompt", "ready key", "slave transfer",
         "master transfer", "compare transfer", "exit key"]


def reach(wait, watched, scanner, tmp_path):
    """Starts the program and brings it to the wait; answers the files it must leave intact."""
    (tmp_path / "in.txt").write_bytes(clone_file(RECORDS))
    intact = {"in.txt": clone_file(RECORDS)}
    if wait == "port prompt":
        app = watched()
        app.expect(b"Input Com port (1-99): ")
    elif wait == "model menu":
        app = watched("XX", "5")
        app.expect(b"Select Scanner Model\r\n")
    elif wait == "mode menu":
        app = watched("KM504R", "5")
        app.expect(b"  3 : Compare \r\n")
    elif wait == "file prompt":
        app = watched("KM504R", "5", "SLAVE")
        app.expect(FILE_PROMPT)
    elif wait in ("ready key", "master transfer"):
        app = watched("KM504R", scanner.path, "MASTER", "in.txt", "0")
        app.expect(MASTER_PROMPT)
        if wait == "master transfer":
            app.send("k")
            assert scanner.read_line() == b"MDL"  # and no answer comes
    elif wait in ("slave transfer", "exit key"):
        app = watched("KM504R", scanner.path, "SLAVE", "out.txt", "1" if wait == "exit key" else "0")
        app.expect(SLAVE_PROMPT)
        send_all(scanner, RECORDS[:3])
        # Until the transfer completes the records are in the partial file; then in place.
        name = "out.txt" if wait == "exit key" else "out.txt.partial"
        intact[name] = clone_file(RECORDS[:3])
        if wait == "exit key":
            scanner.send_line("END")
            app.expect(b"\r\nPress any key!!")
    else:
        app = watched("KM504R", scanner.path, "COMPARE", "in.txt", "0")
        app.expect(SLAVE_PROMPT)
        changed = record("0000,changed")
        send_all(scanner, [changed])
        intact["log"] = (f"Error Count =1\r\n Master Data={RECORDS[0]}\r\n"
                         f" Recive Data={changed}\r\n\r\n").encode()
    return app, intact


@pytest.mark.parametrize("sig", SIGNALS, ids=lambda s: signal.Signals(s).name)
@pytest.mark.parametrize("wait", WAITS)
def test_signal_in_every_wait(watched, scanner, tmp_path, wait, sig):
    app, intact = reach(wait, watched, scanner, tmp_path)
    pid = app.program_pid()
    drain(app)
    assert idle_cpu(pid, 0.5) < IDLE_CPU / 2
    os.kill(pid, sig)
    assert app.wait() == 128 + sig
    before, after = app.console_settings()
    assert before and after == before
    for name, content in intact.items():
        if name == "log":
            [log] = tmp_path.glob("*.log")
            assert log.read_bytes() == content
        else:
            assert (tmp_path / name).read_bytes() == content
