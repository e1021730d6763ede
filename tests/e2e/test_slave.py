"""Slave mode: a scanner acting as clone master sends its data into a clone file."""
import re
import shutil
import signal
import subprocess
import termios
import time

import pytest

import conftest
from conftest import COMPLETE, ERROR_LINE, SLAVE_PROMPT, record

def start_slave(run, scanner, model="KM504R", name="out.txt"):
    app = run(model, scanner.path, "SLAVE", name, "0")
    app.expect(f"  Com Port   = {scanner.path}\r\n".encode() + SLAVE_PROMPT)
    return app


def exchange(scanner, line, reply=True):
    scanner.send_line(line)
    return scanner.read_line() if reply else None


def assert_silent(scanner, seconds=0.3):
    assert scanner.read_for(seconds) == b""


def test_full_session_exact_wire_and_file(run, scanner, tmp_path):
    app = start_slave(run, scanner)
    assert exchange(scanner, "MDL") == b"QRFAMTK00"
    records = [record(f"{k:04X},CH{k},146.520,FM") for k in range(5)]
    for r in records:
        assert exchange(scanner, "CLN " + r) == b"OK"
    total = sum(int(r.split("~")[1], 16) for r in records) & 0xFFFF
    assert exchange(scanner, f"SUM {total:04X}") == b"OK"
    scanner.send_line("END")
    out = app.output()
    assert COMPLETE.search(out), out
    assert app.wait() == 0
    assert (tmp_path / "out.txt").read_bytes() == "".join(r + "\r\n" for r in records).encode()
    assert_silent(scanner, 0.1)


def test_end_first_is_an_error_that_creates_nothing(run, scanner, tmp_path):
    app = start_slave(run, scanner)
    scanner.send_line("END")
    assert app.output().endswith(ERROR_LINE)
    assert not (tmp_path / "out.txt").exists() and not (tmp_path / "out.txt.partial").exists()
    assert app.stderr() == b"talven: out.txt: no records were received; out.txt was not created\n"
    assert_silent(scanner, 0.1)


def test_records_before_mdl_and_repeated_mdl(run, scanner, tmp_path):
    app = start_slave(run, scanner, model="KM525R")
    assert exchange(scanner, "CLN " + record("01,a")) == b"OK"
    assert exchange(scanner, "MDL") == b"EQR5200A1"
    assert exchange(scanner, "MDL") == b"EQR5200A1"
    scanner.send_line("END")
    assert COMPLETE.search(app.output())
    assert (tmp_path / "out.txt").read_bytes() == (record("01,a") + "\r\n").encode()


def test_bad_record_refused_then_resend_accepted(run, scanner, tmp_path):
    app = start_slave(run, scanner)
    good = record("0010,memory")
    bad = good[:-1] + ("0" if good[-1] != "0" else "1")
    assert exchange(scanner, "CLN " + bad) == b"NG"
    assert exchange(scanner, "CLN 0010,memory") == b"NG"  # no checksum field at all
    assert exchange(scanner, "CLN " + good) == b"OK"
    scanner.send_line("END")
    app.output()
    assert (tmp_path / "out.txt").read_bytes() == (good + "\r\n").encode()


def field(r):
    return int(r.split("~")[1], 16)


@pytest.mark.parametrize("bodies,summed", [
    # The same record twice in a row enters the sum once.
    (["0A,x", "0A,x"], [0]),
    # A key that comes back after another adds again.
    (["0A,x", "0B,y", "0A,z"], [0, 1, 2]),
    # A first key of -1 equals the starting previous key: it adds nothing.
    (["FFFFFFFF,x", "01,y"], [1]),
    (["ffffffffff,x", "01,y"], [1]),
])
def test_sum_counts_a_repeated_key_once(run, scanner, tmp_path, bodies, summed):
    app = start_slave(run, scanner)
    records = [record(b) for b in bodies]
    for r in records:
        assert exchange(scanner, "CLN " + r) == b"OK"
    expected = sum(field(records[i]) for i in summed) & 0xFFFF
    # Lower-case digits with leading zeros read the same.
    assert exchange(scanner, f"SUM 0000{expected:04x}") == b"OK"
    scanner.send_line("END")
    assert COMPLETE.search(app.output())
    assert (tmp_path / "out.txt").read_bytes().count(b"\r\n") == len(records)


def test_wrong_sum_stops_without_answer(run, scanner, tmp_path):
    app = start_slave(run, scanner)
    r = record("01,x")
    assert exchange(scanner, "CLN " + r) == b"OK"
    wide = 0x10000 + field(r)
    scanner.send_line(f"SUM {wide:x}")
    out = app.output()
    assert out.endswith(f"\r\n\r\nChecksum Error ( stored sum={field(r):04x} ,recive sum = "
                        f"{wide:04x}\r\n)".encode() + ERROR_LINE)
    assert app.wait() == 0
    assert app.stderr() == (f"talven: scanner: its closing sum {wide:04X} differs from the "
                            f"sum of the records received, {field(r):04X}\n"
                            f"talven: received records kept in out.txt.partial (1 record)\n").encode()
    assert_silent(scanner, 0.1)
    # The record answered before the bad sum is kept.
    assert (tmp_path / "out.txt.partial").read_bytes() == (r + "\r\n").encode()


@pytest.mark.parametrize("line", [b"cln " + record("01,x").encode(), b"sum 0000", b"end", b"",
                                  b"OK", b"\n", b"\nEND", b"MD"])
def test_other_lines_get_no_answer(run, scanner, line):
    app = start_slave(run, scanner)
    scanner.send(line + b"\r")
    assert_silent(scanner)
    assert exchange(scanner, "CLN " + record("01,x")) == b"OK"
    scanner.send_line("END")
    assert COMPLETE.search(app.output())


def test_lf_after_cr_spoils_the_next_command(run, scanner, tmp_path):
    app = start_slave(run, scanner)
    assert exchange(scanner, "CLN " + record("01,x")) == b"OK"
    scanner.send(b"\nCLN " + record("02,y").encode() + b"\r\n")
    assert_silent(scanner)
    scanner.send(b"END\r")
    # "\nEND" matched nothing either: the scanner must send a clean END.
    assert_silent(scanner, 0.1)
    scanner.send(b"END\r")
    assert COMPLETE.search(app.output())
    assert (tmp_path / "out.txt").read_bytes() == (record("01,x") + "\r\n").encode()


def test_command_words_by_first_three_characters(run, scanner, tmp_path):
    app = start_slave(run, scanner)
    r = record("05,z")
    assert exchange(scanner, "CLNX" + r) == b"OK"
    scanner.send_line("ENDING")
    assert COMPLETE.search(app.output())
    assert (tmp_path / "out.txt").read_bytes() == (r + "\r\n").encode()


def test_short_cln_line_never_reuses_an_old_record(run, scanner, tmp_path):
    app = start_slave(run, scanner)
    r = record("0001,a long record body")
    assert exchange(scanner, "CLN " + r) == b"OK"
    assert exchange(scanner, "CLN") == b"NG"
    assert exchange(scanner, "CLN ") == b"NG"
    # A short SUM compares 0.
    scanner.send_line("SUM")
    assert b"Checksum Error ( stored sum=" in app.output()
    assert (tmp_path / "out.txt.partial").read_bytes() == (r + "\r\n").encode()


def test_progress_marks_follow_the_interval(run, scanner):
    app = start_slave(run, scanner)  # KM504R: a mark every 52 records
    seen = b""
    # A record's mark may show just after its answer; at records without a mark of their own the
    # count is settled by the time the next record is answered.
    expected_after = {1: 0, 3: 1, 53: 1, 56: 2, 105: 2, 107: 3, 110: 3}
    for n in range(1, 111):
        assert exchange(scanner, "CLN " + record(f"{n:04X},m")) == b"OK"
        if n in expected_after:
            try:
                while True:
                    seen += app.child.read_nonblocking(100, timeout=0.2)
            except Exception:
                pass
            assert seen.count(b"o") == expected_after[n], n
    # Refused records do not advance the count.
    assert exchange(scanner, "CLN bad") == b"NG"
    scanner.send_line("END")
    assert COMPLETE.search(app.output())


def test_write_error_is_not_success(run, scanner):
    app = run("KM504R", scanner.path, "SLAVE", "/dev/full", "0")
    app.expect(SLAVE_PROMPT)
    for k in range(3):
        assert exchange(scanner, "CLN " + record(f"0{k},x")) == b"OK"
    scanner.send_line("END")
    out = app.output()
    assert out.endswith(b"o\r\nFile Write Error (/dev/full)\r\n" + ERROR_LINE)
    assert b"No space left" in app.stderr()


OLD = b"0000,an earlier backup~0000\r\n" * 3
ENDS = ["complete", "wrong sum", "pulled cable", "SIGINT", "SIGTERM", "SIGHUP", "SIGKILL",
        "full disk"]


@pytest.mark.parametrize("end,old", [(e, True) for e in ENDS] + [("SIGTERM", False)])
def test_named_file_is_replaced_whole_or_not_at_all(run, scanner, tmp_path, monkeypatch, end, old):
    """The named file changes only when the transfer completes; any other end keeps it as it was
    and leaves every answered record in FILE.partial."""
    target, partial = tmp_path / "out.txt", tmp_path / "out.txt.partial"
    if old:
        target.write_bytes(OLD)
    partial.write_bytes(b"stale records of an earlier attempt\r\n")
    records = [record(f"{k:04X}," + "r" * 60) for k in range(40 if end == "full disk" else 3)]
    if end == "full disk":
        # 2 KiB of file size (ulimit counts 512-byte blocks); the write fails instead of the process.
        wrapper = tmp_path / "limited"
        wrapper.write_text(f"#!/bin/sh\nulimit -f 4\ntrap '' XFSZ\nexec {conftest.BINARY} \"$@\"\n")
        wrapper.chmod(0o755)
        monkeypatch.setattr(conftest, "BINARY", str(wrapper))
    app = start_slave(run, scanner)
    for r in records:
        assert exchange(scanner, "CLN " + r) == b"OK"
    if end in ("complete", "full disk"):
        scanner.send_line("END")
    elif end == "wrong sum":
        scanner.send_line("SUM FFFF")
    elif end == "pulled cable":
        scanner.close()
    else:
        time.sleep(0.2)  # the last "OK" goes out before its record is stored: let it reach the wait
        app.kill(getattr(signal, end))
    out = app.output()
    status = {"pulled cable": 255}.get(end, 128 + getattr(signal, end, -128))
    assert app.wait() == status
    received = "".join(r + "\r\n" for r in records).encode()
    if end == "complete":
        assert COMPLETE.search(out)
        assert target.read_bytes() == received and not partial.exists()
        assert b"records kept" not in app.stderr()  # kept in FILE.partial: only on failure
        return
    assert target.read_bytes() == OLD if old else not target.exists()
    # SIGKILL leaves no word, but what was answered had reached the system before the wait.
    # The earlier attempt's records went aside when the first record came.
    assert (tmp_path / "out.txt.partial.1").read_bytes() == b"stale records of an earlier attempt\r\n"
    stored = partial.read_bytes().count(b"\r\n")
    if end != "SIGKILL":
        assert app.stderr().endswith(f"talven: received records kept in out.txt.partial "
                                     f"({stored} records)\n".encode())
    if end == "full disk":
        assert b"File Write Error (out.txt)" in out and b"File too large" in app.stderr()
        assert 0 < len(partial.read_bytes()) < len(received)
        assert received.startswith(partial.read_bytes())
    else:
        assert partial.read_bytes() == received


@pytest.mark.parametrize("model,speed", [("KM504R", termios.B57600), ("KM500R", termios.B9600),
                                         ("KM506R", termios.B115200), ("KM521R", termios.B19200)])
def test_line_settings_during_the_run(run, scanner, model, speed):
    app = start_slave(run, scanner, model=model)
    iflag, oflag, cflag, lflag, ispeed, ospeed, _ = scanner.settings()
    assert (ispeed, ospeed) == (speed, speed)
    assert cflag & termios.CSIZE == termios.CS8
    assert not cflag & (termios.PARENB | termios.CSTOPB | termios.CRTSCTS)
    assert not lflag & (termios.ICANON | termios.ECHO | termios.ISIG)
    assert not iflag & (termios.ICRNL | termios.IXON | termios.INLCR | termios.IGNCR)
    assert not oflag & termios.OPOST
    assert exchange(scanner, "CLN " + record("01,x")) == b"OK"
    scanner.send_line("END")
    assert COMPLETE.search(app.output())


@pytest.mark.parametrize("complete", [True, False])
def test_records_reach_the_disk_before_they_replace_the_file(run, scanner, tmp_path, monkeypatch,
                                                             complete):
    """Seen in the system calls: the received data is synced, then renamed over the named file,
    then the folder synced; a transfer that failed does none of it."""
    if not shutil.which("strace") or subprocess.run(["strace", "-qq", "-o", "/dev/null", "true"],
                                                   capture_output=True, timeout=10).returncode:
        pytest.skip("strace is not installed or cannot trace here")
    trace = tmp_path / "calls"
    wrapper = tmp_path / "traced"
    # LeakSanitizer cannot run under a tracer; the sanitizer suite runs this test too.
    wrapper.write_text(f"#!/bin/sh\nASAN_OPTIONS=detect_leaks=0 exec strace -qq -o {trace} -e "
                       f"trace=openat,fsync,fdatasync,rename,renameat,renameat2 {conftest.BINARY} "
                       f"\"$@\"\n")
    wrapper.chmod(0o755)
    monkeypatch.setattr(conftest, "BINARY", str(wrapper))
    (tmp_path / "out.txt").write_bytes(b"old\r\n")
    app = start_slave(run, scanner)
    assert exchange(scanner, "CLN " + record("01,x")) == b"OK"
    scanner.send_line("END" if complete else "SUM 0")
    app.output()
    assert app.wait() == 0
    calls = trace.read_text()
    opened = {}  # the first descriptor of each name: later opens only read
    for name, fd in re.findall(r'openat\([^"]*"([^"]*)", [^)]*\)\s+= (\d+)', calls):
        opened.setdefault(name, fd)
    steps = re.findall(r'^(?:\d+ +)?(f(?:data)?sync\((\d+)\)|rename\w*\([^)]*"out\.txt(?:\.partial|~\.new)"'
                       r', [^)]*"out\.txt~?"\))\s+= 0', calls, re.M)
    if complete:
        # The data, then the old file kept as out.txt~, the rename, then the folder that holds the
        # new names.
        assert steps == [(f"fsync({opened['out.txt.partial']})", opened["out.txt.partial"]),
                         ('rename("out.txt~.new", "out.txt~")', ""),
                         ('rename("out.txt.partial", "out.txt")', ""),
                         (f"fsync({opened['.']})", opened["."])], calls
    else:
        assert steps == [], calls
