"""Compare mode: the scanner's data is checked against a clone file."""
import datetime
import re
import shutil
import time

import pytest

from conftest import COMPLETE, ERROR_LINE, SLAVE_PROMPT, record

LOG_NAME = re.compile(r"^\d{4}_\d\d_\d\d__\d\d_\d\d_\d\d\.log$")


def start_compare(run, scanner, tmp_path, lines, cwd=None):
    (tmp_path / "file.txt").write_bytes(b"".join(l.encode("latin-1") + b"\r\n" for l in lines))
    app = run("KM504R", scanner.path, "COMPARE", str(tmp_path / "file.txt"), "0", cwd=cwd)
    app.expect(SLAVE_PROMPT)
    return app


def send_all(scanner, records):
    for r in records:
        scanner.send_line("CLN " + r)
        assert scanner.read_line() == b"OK"


def logs(directory):
    return sorted(p for p in directory.iterdir() if p.suffix == ".log")


def test_identical_data_no_log(run, scanner, tmp_path):
    records = [record(f"{k:02X},same") for k in range(5)]
    app = start_compare(run, scanner, tmp_path, records)
    scanner.send_line("MDL")
    assert scanner.read_line() == b"QRFAMTK00"
    send_all(scanner, records)
    scanner.send_line("END")
    out = app.output()
    assert COMPLETE.search(out)
    assert b"Error Count" not in out
    assert logs(tmp_path) == []


def test_two_differences_on_console_and_in_log(run, scanner, tmp_path):
    lines = [record("01,a"), record("02,b"), record("03,c"), record("04,d")]
    received = [lines[0], record("02,B"), lines[2], "04,d~0000"]
    begun = datetime.datetime.now().replace(microsecond=0)
    app = start_compare(run, scanner, tmp_path, lines)
    time.sleep(0.2)  # the clock is read just after the prompt is printed
    started = datetime.datetime.now().replace(microsecond=0)
    # The log is named after the start, not after the first difference, which comes a second later.
    time.sleep(1.2)
    send_all(scanner, received)
    scanner.send_line("END")
    out = app.output()
    block1 = f"Error Count =1\r\n Master Data={lines[1]}\r\n Recive Data={received[1]}\r\n"
    block2 = f"Error Count =2\r\n Master Data={lines[3]}\r\n Recive Data={received[3]}\r\n"
    assert f"\r\n{block1}".encode() in out and f"\r\n{block2}".encode() in out
    assert out.endswith(b"\r\nError Count =2\r\n" + ERROR_LINE)
    [log] = logs(tmp_path)
    assert LOG_NAME.match(log.name)
    stamp = datetime.datetime.strptime(log.stem, "%Y_%m_%d__%H_%M_%S")
    assert begun <= stamp <= started
    assert log.read_bytes() == (block1 + "\r\n" + block2 + "\r\n").encode()
    assert app.stderr().decode() == (f"talven: {tmp_path / 'file.txt'}: 2 differences from the "
                                     f"scanner's data, listed in {log.name}\n")


@pytest.mark.parametrize("file_lines, sent", [
    ([], [record("01,a"), record("02,b")]),                   # an empty file
    ([record("01,a")], [record("01,a"), record("02,extra")]),  # the scanner has more
    ([record("01,a"), record("02,more"), ""], [record("01,a")]),  # the file has more
])
def test_records_without_a_partner_are_differences(run, scanner, tmp_path, file_lines, sent):
    app = start_compare(run, scanner, tmp_path, file_lines)
    send_all(scanner, sent)
    scanner.send_line("END")
    out = app.output()
    # Each unpaired record or line is logged with an empty other side, in the usual two lines.
    blocks = []
    for i in range(max(len(file_lines), len(sent))):
        if i < len(file_lines) and i < len(sent):
            continue
        master = file_lines[i] if i < len(file_lines) else ""
        received = sent[i] if i < len(sent) else ""
        blocks.append(f"Error Count ={len(blocks) + 1}\r\n Master Data={master}\r\n"
                      f" Recive Data={received}\r\n")
    for block in blocks:
        assert f"\r\n{block}".encode() in out
    assert out.endswith(f"\r\nError Count ={len(blocks)}\r\n".encode() + ERROR_LINE)
    [log] = logs(tmp_path)
    assert log.read_bytes() == "".join(block + "\r\n" for block in blocks).encode()


def test_trailing_spaces_differ(run, scanner, tmp_path):
    app = start_compare(run, scanner, tmp_path, [record("01,a") + "  "])
    send_all(scanner, [record("01,a")])
    scanner.send_line("END")
    assert b"Error Count =1" in app.output()


def test_sum_and_other_lines_unanswered(run, scanner, tmp_path):
    app = start_compare(run, scanner, tmp_path, [])
    for line in ("SUM 1234", "sum", "XYZ", ""):
        scanner.send_line(line)
    assert scanner.read_for(0.3) == b""
    scanner.send_line("END")
    assert COMPLETE.search(app.output())


def test_short_cln_compares_as_empty(run, scanner, tmp_path):
    app = start_compare(run, scanner, tmp_path, [record("01,abc"), ""])
    send_all(scanner, [record("01,abc")])
    scanner.send_line("CLN")
    assert scanner.read_line() == b"OK"
    scanner.send_line("END")
    out = app.output()
    assert COMPLETE.search(out) and b"Error Count" not in out


def test_file_written_by_slave_compares_equal(run, scanner, tmp_path):
    records = [record(f"{k:04X},\x80\xfe high bytes") for k in range(3)]
    app = run("KM504R", scanner.path, "SLAVE", "slave.txt", "0")
    app.expect(SLAVE_PROMPT)
    send_all(scanner, records)
    scanner.send_line("END")
    assert COMPLETE.search(app.output())
    app = run("KM504R", scanner.path, "COMPARE", "slave.txt", "0")
    app.expect(SLAVE_PROMPT)
    send_all(scanner, records)
    scanner.send_line("END")
    out = app.output()
    assert COMPLETE.search(out) and b"Error Count" not in out


def test_log_that_cannot_be_created(run, scanner, tmp_path):
    workdir = tmp_path / "gone"
    workdir.mkdir()
    app = start_compare(run, scanner, tmp_path, [record("01,a")], cwd=workdir)
    # A working directory that no longer exists cannot take the log, even for root.
    shutil.rmtree(workdir)
    scanner.send_line("CLN " + record("01,b"))
    assert scanner.read_line() == b"OK"
    out = app.output()
    assert re.search(rb"File Open Error \(\d{4}_\d\d_\d\d__\d\d_\d\d_\d\d\.log\)\r\n$", out)
    assert app.wait() == 255


def test_log_never_overwrites_another_compares_log(run, scanner, tmp_path):
    """Two compares begun in the same second: the second log takes the next free name."""
    now = datetime.datetime.now()
    taken = {}
    for second in range(-1, 4):  # whichever second the compare begins in, its name is taken
        stamp = (now + datetime.timedelta(seconds=second)).strftime("%Y_%m_%d__%H_%M_%S")
        for name in (f"{stamp}.log", f"{stamp}_2.log"):
            taken[name] = f"another compare's log {name}\r\n".encode()
            (tmp_path / name).write_bytes(taken[name])
    lines = [record("01,a")]
    app = start_compare(run, scanner, tmp_path, lines)
    send_all(scanner, [record("01,b")])
    scanner.send_line("END")
    app.output()
    assert all((tmp_path / name).read_bytes() == content for name, content in taken.items())
    [new] = [p for p in logs(tmp_path) if p.name not in taken]
    assert re.fullmatch(r"\d{4}_\d\d_\d\d__\d\d_\d\d_\d\d_3\.log", new.name)
    assert new.read_bytes().startswith(b"Error Count =1\r\n")
    assert f"talven: mismatch log: {new.name}\n".encode() in app.stderr()
