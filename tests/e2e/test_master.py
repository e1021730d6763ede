"""Master mode: a clone file is sent to a scanner waiting as clone slave."""

import pexpect
import pytest

from conftest import COMPLETE, ERROR_LINE, MASTER_PROMPT, record

def write_clone(path, records, line_end=b"\r\n"):
    path.write_bytes(b"".join(r.encode("latin-1") + line_end for r in records))


def start_master(run, scanner, tmp_path, records, model="KM506R", line_end=b"\r\n", options=()):
    write_clone(tmp_path / "in.txt", records, line_end)
    app = run(*options, model, scanner.path, "MASTER", "in.txt", "0")
    app.expect(MASTER_PROMPT)
    app.send("k")
    app.expect(b"\r\n")
    assert scanner.read_line() == b"MDL"
    scanner.send_line("SCANNER-ID")
    return app


def take_records(scanner, count):
    lines = []
    for _ in range(count):
        lines.append(scanner.read_line())
        scanner.send_line("OK")
    return lines


def field_sum(records):
    return sum(int(r.split("~")[1], 16) for r in records) & 0xFFFF


@pytest.mark.parametrize("model,with_sum", [("KM506R", True), ("KM504R", False)])
def test_exact_wire_bytes(run, scanner, tmp_path, model, with_sum):
    records = [record(f"{k:04X},146.{k}") for k in range(4)]
    app = start_master(run, scanner, tmp_path, records, model=model)
    assert take_records(scanner, 4) == [b"CLN " + r.encode() for r in records]
    if with_sum:
        assert scanner.read_exactly(10) == f"SUM {field_sum(records):04X}\r\r".encode()
        scanner.send_line("OK")
    assert scanner.read_exactly(4) == b"END\r"
    assert COMPLETE.search(app.output())
    assert app.wait() == 0
    assert scanner.read_for(0.1) == b""


def test_empty_file_sends_sum_of_zero(run, scanner, tmp_path):
    app = start_master(run, scanner, tmp_path, [], options=["--no-verify"])
    assert scanner.read_exactly(10) == b"SUM 0000\r\r"
    scanner.send_line("OK")
    assert scanner.read_exactly(4) == b"END\r"
    out = app.output()
    assert COMPLETE.search(out)
    assert b"o" not in out.split(b"(^_^)")[0]


def test_lf_and_crlf_files_send_the_same(run, scanner, tmp_path):
    records = [record("01,a"), record("02,b")]
    sent = []
    for line_end in (b"\r\n", b"\n"):
        app = start_master(run, scanner, tmp_path, records, model="KM504R", line_end=line_end)
        sent.append(take_records(scanner, 2) + [scanner.read_line()])
        app.output()
    assert sent[0] == sent[1] == [b"CLN " + r.encode() for r in records] + [b"END"]


def test_other_reply_resends_the_record(run, scanner, tmp_path):
    r = record("0001,x")
    app = start_master(run, scanner, tmp_path, [r], model="KM504R")
    assert scanner.read_line() == b"CLN " + r.encode()
    scanner.send_line("ok")
    app.expect(f"\r\nERR Rx=[ok]\r\n    Tx=[CLN {r}]\r\n".encode())
    assert scanner.read_line() == b"CLN " + r.encode()
    scanner.send_line("OK")
    assert scanner.read_line() == b"END"
    assert COMPLETE.search(app.output())


@pytest.mark.parametrize("refused,named,held", [
    (0, b"record 1 (0001)", b"holds none of the records"),
    (1, b"record 2 (CH-B)", b"holds only the 1 record before it"),
])
def test_ten_refusals_end_the_process(run, scanner, tmp_path, refused, named, held):
    records = [record("0001,x"), record("CH-B,y"), record("0003,z")]
    app = start_master(run, scanner, tmp_path, records, model="KM504R")
    take_records(scanner, refused)
    r = records[refused]
    for _ in range(10):
        assert scanner.read_line() == b"CLN " + r.encode()
        scanner.send_line("NG")
    out = app.output()
    assert out.count(b"ERR Rx=[NG]") == 10
    assert b"error" not in out and b"complete" not in out
    assert app.wait() == 255
    assert scanner.read_for(0.2) == b""
    assert (b"talven: in.txt: " + named + b" was refused 10 times, last reply [NG]; the scanner "
            b"now " + held + b": repeat the transfer\n") in app.stderr()


GOOD = [record(f"{k:04X},146.{k}") for k in range(4)]


@pytest.mark.parametrize("third,reason", [
    ("0002,146.2~0A2F", b"line 3: checksum 0A2F does not match its record (02E6)"),
    ("0002,146.2", b'line 3: no "~" checksum field'),
    (record("0002," + "9" * 4100), b"line 3: longer than 4091 characters"),
    (None, b"in.txt: holds no records to send"),
    (record("0002," + "9" * 4081), None),  # 4091 characters: the longest record, sent whole
])
@pytest.mark.parametrize("verify", [True, False])
def test_damaged_file_sends_nothing_unless_told(run, scanner, tmp_path, third, reason, verify):
    records = GOOD[:2] + [third] + GOOD[3:] if third else []
    write_clone(tmp_path / "in.txt", records)
    app = run(*([] if verify else ["--no-verify"]), "KM504R", scanner.path, "MASTER", "in.txt", "0")
    if verify and reason is not None:
        assert b"Are you ready" not in app.output()
        assert app.wait() == 255
        assert scanner.read_for(0.2) == b""
        assert reason in app.stderr() and b"nothing was sent" in app.stderr()
        return
    # As it always did: every line goes out as it stands, a long one in two pieces.
    app.expect(MASTER_PROMPT)
    app.send("k")
    assert scanner.read_line() == b"MDL"
    scanner.send_line("ID")
    sent = take_records(scanner, len(records) + (1 if third and len(third) > 4091 else 0))
    assert sent[:2] == [b"CLN " + r.encode() for r in records[:2]]
    if reason is None:
        assert sent == [b"CLN " + r.encode() for r in records]
    assert scanner.read_line() == b"END"
    assert COMPLETE.search(app.output())


def test_sum_refused_is_a_checksum_error(run, scanner, tmp_path):
    records = [record("01,a")]
    app = start_master(run, scanner, tmp_path, records)
    take_records(scanner, 1)
    sum_command = f"SUM {field_sum(records):04X}\r"
    assert scanner.read_exactly(10) == (sum_command + "\r").encode()
    scanner.send_line("NG")
    out = app.output()
    assert out.endswith(f"\r\nERR Rx=[NG]\r\n    Tx=[{sum_command}]\r\nChecksum Error!!\r\n "
                        .encode() + ERROR_LINE)
    # No END after a refused sum.
    assert scanner.read_for(0.2) == b""
    assert app.stderr() == (f'talven: scanner: the closing sum {field_sum(records):04X} was refused '
                            f'(answer: "NG")\n').encode()


def test_sum_wraps_at_sixteen_bits(run, scanner, tmp_path):
    records = ["A~FFFF", "B~0002", "C~8000", "D~8000"]
    app = start_master(run, scanner, tmp_path, records, options=["--no-verify"])
    take_records(scanner, 4)
    assert scanner.read_exactly(10) == b"SUM 0001\r\r"
    scanner.send_line("OK")
    assert scanner.read_line() == b"END"
    assert COMPLETE.search(app.output())


def test_progress_marks_for_160_lines(run, scanner, tmp_path):
    records = [record(f"{k:04X},p") for k in range(160)]
    app = start_master(run, scanner, tmp_path, records, model="KM504R")
    seen = b""
    # 160 lines: a mark after records 3, 6, 9, ...
    for n in range(1, 161):
        scanner.read_line()
        scanner.send_line("OK")
        if n in (2, 4, 7, 100, 160):
            # The next record on the wire means this one's mark, if any, is printed.
            if n < 160:
                assert scanner.wait_for_bytes()
            try:
                while True:
                    seen += app.child.read_nonblocking(200, timeout=0.2)
            except pexpect.TIMEOUT:
                pass
            except pexpect.EOF:
                assert n == 160, "the program ended before the last record"
            assert seen.split(b"\r\n")[0].count(b"o") == n // 3, n
    assert scanner.read_line() == b"END"
    app.output()


@pytest.mark.parametrize("lines,marks", [(79, 79), (80, 40), (159, 79), (160, 53)])
def test_progress_scale_from_the_line_count(run, scanner, tmp_path, lines, marks):
    records = [record(f"{k:04X},s") for k in range(lines)]
    app = start_master(run, scanner, tmp_path, records, model="KM504R")
    take_records(scanner, lines)
    assert scanner.read_line() == b"END"
    out = app.output()
    assert out.split(b"\r\n")[0] == b"o" * marks
