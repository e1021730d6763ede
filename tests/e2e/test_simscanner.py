"""The scanner simulator: against a scripted peer, then in round trips with the real program."""
import os
import pathlib
import re
import select
import subprocess
import time
import tty

import pytest

from conftest import MASTER_PROMPT, TOOLS_DIR, WAIT, Scanner, record

SIM = os.path.join(TOOLS_DIR, "talven-simscanner")


def valid(line: bytes) -> bool:
    body, tilde, _ = line.partition(b"~")
    return bool(tilde) and record(body.decode("latin-1")).encode("latin-1") == line


def make_records(count, high_bytes=False):
    """Valid records with increasing keys; some bodies with bytes that count negative."""
    out = []
    for i in range(count):
        body = f"{i:04X},145.{i % 1000:03d},FM,CH{i}"
        if high_bytes and i % 3 == 0:
            body += "\xa0\xe9\xfe"
        out.append(record(body).encode("latin-1"))
    return out


def clone_file(records) -> bytes:
    return b"".join(r + b"\r\n" for r in records)


def sum_of(records) -> int:
    return sum(int(r[-4:], 16) for r in records) & 0xFFFF


class Sim:
    """talven-simscanner as a child process; its messages go to a file for the failure report."""

    def __init__(self, cwd, *args):
        self.log_path = pathlib.Path(cwd) / f"sim-{time.monotonic_ns()}.log"
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([SIM, *[str(a) for a in args]], cwd=str(cwd),
                                     stdout=subprocess.PIPE, stderr=self.log,
                                     stdin=subprocess.DEVNULL)

    def pty_path(self, timeout=WAIT) -> str:
        deadline = time.monotonic() + timeout
        line = b""
        while not line.endswith(b"\n"):
            left = max(0, deadline - time.monotonic())
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if not ready:
                raise TimeoutError(f"no PTY line; got {line!r}")
            chunk = os.read(self.proc.stdout.fileno(), 1)
            if not chunk:
                raise EOFError(f"simulator ended: {self.messages()}")
            line += chunk
        word, path = line.decode().split()
        assert word == "PTY"
        return path

    def wait(self, timeout=WAIT) -> int:
        try:
            return self.proc.wait(timeout)
        finally:
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait(WAIT)

    def messages(self) -> str:
        self.log.flush()
        return self.log_path.read_text(errors="replace")

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(WAIT)
        self.proc.stdout.close()
        self.log.close()


class PtyPeer(Scanner):
    """The far end of a pseudo-terminal the simulator made, spoken to like the scanner fixture."""

    def __init__(self, path):
        self.master = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.master)
        self.slave = None
        self.pending = b""


@pytest.fixture
def sim(tmp_path):
    started = []

    def start(*args, cwd=None):
        program = Sim(cwd or tmp_path, *args)
        started.append(program)
        return program

    yield start
    for program in started:
        program.close()


def exchange(peer, line: bytes) -> bytes:
    peer.send(line + b"\r")
    return peer.read_line()


# --- against a scripted peer ---------------------------------------------------------------------

@pytest.mark.parametrize("line", ["pty", "device"])
def test_slave_role_keeps_records_byte_exact(sim, scanner, tmp_path, line):
    records = make_records(40, high_bytes=True)
    out = tmp_path / "got.txt"
    if line == "pty":
        program = sim("--role", "slave", "--pty", "--identity", "QRFAMDG01", "--out", out)
        peer = PtyPeer(program.pty_path())
    else:
        program = sim("--role", "slave", "--device", scanner.path, "--identity", "QRFAMDG01",
                      "--out", out)
        peer = scanner
    try:
        assert exchange(peer, b"MDL") == b"QRFAMDG01"
        for r in records:
            assert exchange(peer, b"CLN " + r) == b"OK"
        # The program sends the sum with a second CR; the empty line must be let pass.
        assert exchange(peer, b"SUM %04X\r" % sum_of(records)) == b"OK"
        peer.send(b"END\r")
        assert program.wait() == 0, program.messages()
    finally:
        if peer is not scanner:
            peer.close()
    assert out.read_bytes() == clone_file(records)


R0, R1 = make_records(2)
BAD = R1[:-1] + (b"0" if R1[-1:] != b"0" else b"1")

SLAVE_CASES = {
    # name: (extra arguments, [(line sent, reply expected or None for silence)], exit status, kept)
    "bad checksum": ([], [(b"CLN " + R0, b"OK"), (b"CLN " + BAD, b"NG")], 1, [R0]),
    "no tilde": ([], [(b"CLN 0000,ABC", b"NG")], 1, []),
    "wrong sum": ([], [(b"CLN " + R0, b"OK"), (b"SUM %04X" % (sum_of([R0]) ^ 1), b"NG")], 1, [R0]),
    "sum refused on purpose": (["--wrong-sum"], [(b"CLN " + R0, b"OK"),
                                                 (b"SUM %04X" % sum_of([R0]), b"NG")], 1, [R0]),
    "rejects first two": (["--reject-first", "2", "--reject-reply", "ERR"],
                          [(b"CLN " + R0, b"ERR"), (b"CLN " + R0, b"ERR"), (b"CLN " + R0, b"OK"),
                           (b"CLN " + R1, b"OK"), (b"SUM %04X" % sum_of([R0, R1]), b"OK")],
                          0, [R0, R1]),
    "silent after one": (["--silent-after", "1"], [(b"CLN " + R0, b"OK"), (b"CLN " + R1, None)],
                         1, [R0]),
    "unknown command": ([], [(b"CLN " + R0, b"OK"), (b"XYZ 1", None)], 1, [R0]),
}


@pytest.mark.parametrize("case", SLAVE_CASES)
def test_slave_role_answers(sim, scanner, tmp_path, case):
    extra, script, status, kept = SLAVE_CASES[case]
    out = tmp_path / "got.txt"
    program = sim("--role", "slave", "--device", scanner.path, "--out", out, *extra)
    assert exchange(scanner, b"MDL") == b"QRFAMTK00"
    for line, reply in script:
        if reply is None:
            scanner.send(line + b"\r")
            assert scanner.read_for(0.3) == b""
        else:
            assert exchange(scanner, line) == reply, line
    scanner.send(b"END\r")
    assert program.wait() == status, program.messages()
    assert out.read_bytes() == clone_file(kept)


def test_master_role_sends_corrupt_copies_and_resends(sim, scanner, tmp_path):
    saved = tmp_path / "sent.txt"
    program = sim("--role", "master", "--device", scanner.path, "--generate", 6,
                  "--body-length", 55, "--seed", 7, "--corrupt", 2, "--sum",
                  "--save-records", saved)
    assert scanner.read_line() == b"MDL"
    scanner.send(b"QRFAMTK00\r")
    accepted, refused_once, corrupt = [], set(), []
    while True:
        line = scanner.read_line()
        if not line.startswith(b"CLN "):
            break
        rec = line[4:]
        if not valid(rec):
            corrupt.append(len(accepted))
            scanner.send(b"NG\r")
        elif rec not in refused_once:
            # The first good copy of each record is refused: it must come again unchanged.
            refused_once.add(rec)
            scanner.send(b"NG\r")
        else:
            accepted.append(rec)
            scanner.send(b"OK\r")
    assert corrupt == [0, 1]
    assert len(accepted) == 6 and all(len(r) == 60 for r in accepted)
    assert [int(r[:4], 16) for r in accepted] == list(range(6))
    assert line == b"SUM %04X" % sum_of(accepted)
    scanner.send(b"OK\r")
    assert scanner.read_line() == b"END"
    assert program.wait() == 0, program.messages()
    # Each record came again once after its refused good copy, the first two also after a corrupt one.
    assert "6 records sent (8 resends)" in program.messages()
    assert saved.read_bytes() == clone_file(accepted)


MASTER_FAILURES = {
    # name: (extra arguments, the peer's answer to CLN, its answer to SUM, lines the peer gets,
    #        written in terms of the two records r and their sum s)
    "sum refused": (["--sum"], b"OK", b"NG",
                    lambda r, s: [b"CLN " + r[0], b"CLN " + r[1], b"SUM %04X" % s]),
    "wrong sum sent": (["--sum", "--wrong-sum"], b"OK", b"NG",
                       lambda r, s: [b"CLN " + r[0], b"CLN " + r[1],
                                     b"SUM %04X" % ((s + 1) & 0xFFFF)]),
    "record refused every time": (["--max-sends", "3"], b"NG", b"",
                                  lambda r, s: [b"CLN " + r[0]] * 3),
    "identity differs": (["--identity", "QRFAMDG01"], b"OK", b"OK", lambda r, s: []),
}


@pytest.mark.parametrize("case", MASTER_FAILURES)
def test_master_role_failures(sim, scanner, tmp_path, case):
    extra, record_reply, sum_reply, expected = MASTER_FAILURES[case]
    program = sim("--role", "master", "--device", scanner.path, "--generate", 2,
                  "--save-records", "sent.txt", "--timeout-ms", 2000, *extra)
    assert scanner.read_line() == b"MDL"
    scanner.send(b"QRFAMTK00\r")
    lines = []
    while True:
        try:
            line = scanner.read_line(timeout=3)
        except TimeoutError:
            break
        lines.append(line)
        scanner.send((record_reply if line.startswith(b"CLN ") else sum_reply) + b"\r")
    assert program.wait() == 1, program.messages()
    records = (tmp_path / "sent.txt").read_bytes().split(b"\r\n")[:-1]
    assert lines == expected(records, sum_of(records))


@pytest.mark.parametrize("role", ["master", "slave"])
def test_silence_ends_within_the_timeout(sim, scanner, role):
    args = ["--role", role, "--device", scanner.path, "--timeout-ms", 700]
    program = sim(*(args + (["--generate", 3] if role == "master" else [])))
    if role == "master":
        assert scanner.read_line() == b"MDL"
    else:
        assert exchange(scanner, b"MDL") == b"QRFAMTK00"
    started = time.monotonic()
    assert program.wait(timeout=5) == 1
    assert 0.6 <= time.monotonic() - started < 4
    assert "700 ms" in program.messages()


def test_slave_role_gives_up_on_a_peer_that_never_starts(sim, scanner):
    program = sim("--role", "slave", "--device", scanner.path, "--start-timeout", 1)
    started = time.monotonic()
    assert program.wait(timeout=5) == 1
    assert 0.9 <= time.monotonic() - started < 4


def test_peer_hang_up_ends_the_session_at_once(sim):
    program = sim("--role", "slave", "--pty", "--timeout-ms", 20000)
    peer = PtyPeer(program.pty_path())
    assert exchange(peer, b"MDL") == b"QRFAMTK00"
    started = time.monotonic()
    peer.close()
    assert program.wait(timeout=5) == 1
    assert time.monotonic() - started < 3
    assert "hung up" in program.messages()


def test_master_waits_for_the_peer_to_open_the_pty(sim):
    program = sim("--role", "master", "--pty", "--generate", 1)
    path = program.pty_path()
    time.sleep(0.3)
    peer = PtyPeer(path)
    try:
        # Nothing was sent before the peer was there to read it.
        assert peer.read_line() == b"MDL"
        peer.send(b"ID\r")
        line = peer.read_line()
        assert line.startswith(b"CLN 0000,") and valid(line[4:])
        peer.send(b"OK\r")
        assert peer.read_line() == b"END"
        peer.close()
        assert program.wait() == 0, program.messages()
    finally:
        peer.close()


def test_pacing_spreads_the_bytes_over_line_time(sim, scanner):
    program = sim("--role", "master", "--device", scanner.path, "--generate", 10,
                  "--body-length", 55, "--baud-pacing", 9600)
    started = time.monotonic()
    assert scanner.read_line() == b"MDL"
    scanner.send(b"ID\r")
    for i in range(10):
        line = scanner.read_line()
        assert valid(line[4:]) and int(line[4:8], 16) == i
        scanner.send(b"OK\r")
    assert scanner.read_line() == b"END"
    elapsed = time.monotonic() - started
    # 4 + 10 * 65 + 4 bytes at 960 bytes a second.
    assert 0.62 <= elapsed < 3.0
    assert program.wait() == 0, program.messages()


def test_lf_after_cr_both_ways(sim, scanner):
    program = sim("--role", "master", "--device", scanner.path, "--generate", 2, "--lf-after-cr")
    assert scanner.read_exactly(5) == b"MDL\r\n"
    scanner.send(b"ID\r\n")
    for _ in range(2):
        line = scanner.read_line()
        assert valid(line.lstrip(b"\n")[4:])
        scanner.send(b"OK\r\n")
    assert scanner.read_line() == b"\nEND"
    assert program.wait() == 0, program.messages()


@pytest.mark.parametrize("args", [
    [],
    ["--role", "master", "--generate", "1"],
    ["--role", "master", "--pty", "--device", "/dev/null", "--generate", "1"],
    ["--role", "master", "--pty"],
    ["--role", "master", "--pty", "--generate", "1", "--records", "x.txt"],
    ["--role", "master", "--pty", "--generate", "-1"],
    ["--role", "master", "--pty", "--generate", "100000", "--body-length", "5"],
    ["--role", "slave", "--pty", "--generate", "1"],
    ["--role", "slave", "--pty", "--timeout-ms"],
    ["--role", "other", "--pty"],
    ["--role", "slave", "--pty", "--bogus"],
    ["--role", "master", "--pty", "--generate", "1", "--wrong-sum"],
    ["--role", "master", "--pty", "--records", "missing.txt"],
])
def test_usage_errors(tmp_path, args):
    result = subprocess.run([SIM, *args], cwd=tmp_path, capture_output=True, timeout=WAIT)
    assert result.returncode == 2, result.stderr
    assert result.stdout == b""


def test_help():
    result = subprocess.run([SIM, "--help"], capture_output=True, timeout=WAIT)
    assert result.returncode == 0 and b"--role master|slave" in result.stdout


# --- round trips with the real program -----------------------------------------------------------

TOOL_SLAVE_CASES = {
    "plain": ([], 0),
    "with sum": (["--sum"], 0),
    "corrupt copies refused": (["--corrupt", "5", "--sum"], 0),
    "high bytes": (["--high-bytes", "--sum"], 0),
    "wrong sum": (["--sum", "--wrong-sum", "--timeout-ms", "1500"], 1),
}


@pytest.mark.parametrize("case", TOOL_SLAVE_CASES)
def test_program_as_slave_receives_the_generated_set(sim, run, tmp_path, case):
    extra, status = TOOL_SLAVE_CASES[case]
    program = sim("--role", "master", "--pty", "--generate", 100, "--save-records", "sent.txt",
                  *extra)
    app = run("KM504R", program.pty_path(), "SLAVE", "out.txt", "0")
    output = app.output(timeout=20)
    assert program.wait() == status, program.messages()
    sent = (tmp_path / "sent.txt").read_bytes()
    lines = sent.split(b"\r\n")
    assert lines[-1] == b"" and len(lines) == 101 and all(valid(r) for r in lines[:-1])
    if status == 0:
        assert b"(^_^)/  complete" in output
        assert (tmp_path / "out.txt").read_bytes() == sent
    else:
        assert b"Checksum Error" in output and b"(x_x);  error" in output


TOOL_MASTER_CASES = {
    "plain": ([], 0),
    "refused sends come again": (["--reject-first", "3"], 0),
    "sum refused": (["--wrong-sum"], 1),
}


@pytest.mark.parametrize("case", TOOL_MASTER_CASES)
def test_program_as_master_sends_the_file(sim, run, tmp_path, case):
    extra, status = TOOL_MASTER_CASES[case]
    records = make_records(200, high_bytes=True)
    (tmp_path / "in.txt").write_bytes(clone_file(records))
    program = sim("--role", "slave", "--pty", "--identity", "QRFAMDG01", "--out", "got.txt",
                  "--timeout-ms", 3000, *extra)
    app = run("KM506R", program.pty_path(), "MASTER", "in.txt", "0")
    app.expect(MASTER_PROMPT)
    app.send("k")
    output = app.output(timeout=20)
    assert program.wait() == status, program.messages()
    if status == 0:
        assert b"(^_^)/  complete" in output
        assert (tmp_path / "got.txt").read_bytes() == clone_file(records)
        refused = int(extra[1]) if extra else 0
        assert output.count(b"ERR Rx=[NG]") == refused
    else:
        assert b"Checksum Error!!" in output and b"(x_x);  error" in output


@pytest.mark.parametrize("changed", [False, True])
def test_program_compares_the_file(sim, run, tmp_path, changed):
    records = make_records(60)
    (tmp_path / "in.txt").write_bytes(clone_file(records))
    sent = list(records)
    if changed:
        sent[17] = record("0011,CHANGED").encode()
    (tmp_path / "scan.txt").write_bytes(clone_file(sent))
    program = sim("--role", "master", "--pty", "--records", "scan.txt")
    app = run("KM504R", program.pty_path(), "COMPARE", "in.txt", "0")
    output = app.output(timeout=20)
    assert program.wait() == 0, program.messages()
    log_name = re.compile(r"\d{4}(_\d\d){2}__(\d\d_){2}\d\d\.log")
    logs = [p for p in tmp_path.iterdir() if log_name.fullmatch(p.name)]
    if not changed:
        assert b"(^_^)/  complete" in output and logs == []
        return
    assert b"(x_x);  error" in output and len(logs) == 1
    assert logs[0].read_bytes() == (b"Error Count =1\r\n Master Data=" + records[17] +
                                    b"\r\n Recive Data=" + sent[17] + b"\r\n\r\n")


HINT = b"talven: scanner: the scanner ends its lines with CR LF; they must end with CR alone\n"


@pytest.mark.parametrize("mode", ["SLAVE", "COMPARE", "MASTER"])
def test_program_names_a_peer_that_ends_lines_with_cr_lf(sim, run, tmp_path, mode):
    (tmp_path / "in.txt").write_bytes(clone_file(make_records(3)))
    if mode == "MASTER":
        program = sim("--role", "slave", "--pty", "--lf-after-cr", "--out", "got.txt",
                      "--timeout-ms", 2000)
    else:
        program = sim("--role", "master", "--pty", "--lf-after-cr", "--records", "in.txt",
                      "--timeout-ms", 2000)
    app = run("KM504R", program.pty_path(), mode, "out.txt" if mode == "SLAVE" else "in.txt", "0")
    if mode == "MASTER":
        app.expect(MASTER_PROMPT)
        app.send("k")
        # As the scanner's lines arrive, no record is ever taken; the hint says why.
        assert app.output().count(b"ERR Rx=[\r\nOK]") == 10
        assert app.wait() == 255
        errors = app.stderr()
        assert errors.startswith(HINT) and errors.count(b"\n") == 2
        assert errors.endswith(b"last reply [\\nOK]; the scanner now holds none of the records: "
                               b"repeat the transfer; " + HINT[len(b"talven: scanner: "):])
    else:
        # The slave and compare wait on for a clean line: the hint is their only word.
        deadline = time.monotonic() + WAIT
        while HINT not in app.stderr() and time.monotonic() < deadline:
            time.sleep(0.05)
        assert app.stderr().startswith(HINT)
    program.close()
