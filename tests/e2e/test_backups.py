"""Backups without a scanner: --check, --diff; and --exit-code for a session that ends in error."""
import subprocess

import pytest

from conftest import BINARY, ERROR_LINE, SLAVE_PROMPT, WAIT, record


def talven(*args, cwd):
    result = subprocess.run([BINARY, *map(str, args)], cwd=cwd, capture_output=True,
                            stdin=subprocess.DEVNULL, timeout=WAIT)
    return result.returncode, result.stdout.decode("latin-1"), result.stderr.decode("latin-1")


def lines(*records, end="\r\n"):
    return "".join(r + end for r in records).encode("latin-1")


def sum_of(*records):
    return sum(int(r.split("~")[1][:4], 16) for r in records) & 0xFFFF


A, B, C = record("0001,CH1,146.520"), record("0002,CH2,\xb0high"), record("0003,CH3")
LONG = record("0004," + "x" * 5000)

CHECK_CASES = {
    "valid": (lines(A, B, C), 0, [],
              f"3 records, 3 distinct keys, 0 not valid, SUM {sum_of(A, B, C):04X}"),
    "lf_and_end_mark_only": (lines(A, A, end="\n") + b"\x1a", 0, [],
                             f"2 records, 1 distinct key, 0 not valid, SUM {sum_of(A, A):04X}"),
    "bad_records": (lines(A, "0002,bad~0000", "0009,no field", C), 1,
                    [f"line 2: checksum 0000 does not match its record ({record('0002,bad')[-4:]})",
                     'line 3: no "~" checksum field'],
                    f"4 records, 4 distinct keys, 2 not valid, SUM {sum_of(A, C):04X}"),
    # A line too long for one record fails; text after the end mark is a note.
    "long_line_and_end_mark": (lines(A, LONG) + b"\x1ajunk\r\n", 1,
                               ["line 2: longer than 4091 characters",
                                "line 3: note: 0x1A ends the file here; the 6 bytes after it are "
                                "not read"],
                               None),
    "empty": (b"", 1, [], "0 records, 0 distinct keys, 0 not valid, SUM 0000"),
    "many_bad": (lines(*[f"{k:04X},x~0000" for k in range(130)]), 1, None,
                 "130 records, 130 distinct keys, 130 not valid, SUM 0000"),
}


@pytest.mark.parametrize("case", CHECK_CASES)
def test_check(case, tmp_path):
    content, status, messages, summary = CHECK_CASES[case]
    (tmp_path / "b.txt").write_bytes(content)
    code, out, err = talven("--check", "b.txt", cwd=tmp_path)
    assert (code, err) == (status, "")
    shown = out.splitlines()
    assert shown[-1].startswith("b.txt: ")
    if summary is not None:
        assert shown[-1] == f"b.txt: {summary}"
    if messages is not None:
        assert [l.removeprefix("b.txt ") for l in shown if l.startswith("b.txt line")] == messages
    if case == "empty":
        assert shown[0] == "b.txt: no records; a transfer sends nothing"
    if case == "many_bad":
        assert len(shown) == 102 and shown[100] == "b.txt: 30 more not shown"


OLD = [A, B, record("0005,CH5"), record("0005,CH5 second"), C]
DIFF_CASES = {
    # Line ends and the end mark are not differences; order is not either.
    "same": (lines(*OLD), lines(C, OLD[2], A, OLD[3], B, end="\n") + b"\x1a", 0, [],
             "5 same, 0 changed, 0 added, 0 removed"),
    "byte_in_record": (lines(A), lines(A + " "), 1,
                       ["Changed: OLD line 1, NEW line 1", f"    Old Data={A}",
                        f"    New Data={A} "],
                       "0 same, 1 changed, 0 added, 0 removed"),
    # The second record of key 0005 pairs with the second, whatever the order.
    "added_removed_changed": (
        lines(*OLD), lines(record("0005,CH5 again"), A, record("0005,CH5"), record("0006,new")), 1,
        ["Changed: OLD line 3, NEW line 1", f"    Old Data={OLD[2]}",
         f"    New Data={record('0005,CH5 again')}",
         "Changed: OLD line 4, NEW line 3", f"    Old Data={OLD[3]}",
         f"    New Data={record('0005,CH5')}",
         "Added: NEW line 4", "    Old Data=", f"    New Data={record('0006,new')}",
         "Removed: OLD line 2", f"    Old Data={B}", "    New Data=",
         "Removed: OLD line 5", f"    Old Data={C}", "    New Data="],
        "1 same, 2 changed, 1 added, 2 removed"),
}


@pytest.mark.parametrize("case", DIFF_CASES)
def test_diff(case, tmp_path):
    old, new, status, blocks, summary = DIFF_CASES[case]
    (tmp_path / "old.txt").write_bytes(old)
    (tmp_path / "new.txt").write_bytes(new)
    code, out, err = talven("--diff", "old.txt", "new.txt", cwd=tmp_path)
    assert (code, err) == (status, "")
    expected = []
    for line in blocks:
        # Each block ends with an empty line, as in the mismatch log.
        expected += [line, ""] if line.startswith("    New Data=") else [line]
    assert out.splitlines() == expected + [summary]


@pytest.mark.parametrize("through", ["files", "pipes"])
def test_diff_reads_pipes_and_every_byte(tmp_path, through):
    nul_a, nul_b = "0007,x\x00a~0000", "0007,x\x00b~0000"  # alike up to the NUL byte
    (tmp_path / "old.txt").write_bytes(lines(A, nul_a, B))
    (tmp_path / "new.txt").write_bytes(lines(B, nul_b, A, end="\n") + b"\x1ajunk\n")
    names = ("old.txt", "new.txt") if through == "files" else ("<(cat old.txt)", "<(cat new.txt)")
    result = subprocess.run(["bash", "-c", f'exec "$0" --diff {names[0]} {names[1]}', BINARY],
                            cwd=tmp_path, capture_output=True, stdin=subprocess.DEVNULL,
                            timeout=WAIT)
    assert result.returncode == 1, result.stderr
    assert result.stdout.decode("latin-1").splitlines() == [
        # A NUL byte shows escaped, so that no terminal drops it.
        "Changed: OLD line 2, NEW line 2", "    Old Data=0007,x\\0a~0000",
        "    New Data=0007,x\\0b~0000", "",
        "2 same, 1 changed, 0 added, 0 removed"]
    note = result.stderr.decode().splitlines()
    assert len(note) == 1 and note[0].startswith("talven: ")
    assert note[0].endswith(": line 4: note: 0x1A ends the file here; the 5 bytes after it are "
                            "not read")


@pytest.mark.parametrize("args, status, message", [
    (["--check", "missing.txt"], 255, "talven: missing.txt: No such file or directory\n"),
    (["--check", "."], 255, "talven: .: Is a directory\n"),
    (["--diff", "old.txt", "missing.txt"], 255, "talven: missing.txt: No such file or directory\n"),
    (["--check=missing.txt"], 255, "talven: missing.txt: No such file or directory\n"),
    (["--diff=old.txt", "missing.txt"], 255, "talven: missing.txt: No such file or directory\n"),
    (["--diff=old.txt"], 2,
     "talven: --diff needs two file names, OLD and NEW\nTry 'talven --help'.\n"),
    (["--check"], 2, "talven: --check needs a file name\nTry 'talven --help'.\n"),
    (["--diff", "old.txt"], 2,
     "talven: --diff needs two file names, OLD and NEW\nTry 'talven --help'.\n"),
    (["--check", "old.txt", "KM504R"], 2,
     "talven: --check and --diff take no further arguments\nTry 'talven --help'.\n"),
])
def test_files_that_cannot_be_read_and_usage_errors(args, status, message, tmp_path):
    (tmp_path / "old.txt").write_bytes(lines(A))
    code, out, err = talven(*args, cwd=tmp_path)
    assert (code, out, err) == (status, "", message)


@pytest.mark.parametrize("exit_code, mismatch, status", [
    (False, True, 0), (True, True, 1), (True, False, 0)])
def test_exit_code_of_a_session(run, scanner, tmp_path, exit_code, mismatch, status):
    (tmp_path / "f.txt").write_bytes(lines(A))
    options = ["--exit-code"] if exit_code else []
    app = run(*options, "KM504R", scanner.path, "COMPARE", "f.txt", "0")
    app.expect(SLAVE_PROMPT)
    scanner.send_line("CLN " + (B if mismatch else A))
    assert scanner.read_line() == b"OK"
    scanner.send_line("END")
    assert app.output().endswith(ERROR_LINE) == mismatch
    assert app.wait() == status


def test_check_and_diff_on_every_platform(platform, tmp_path):
    (tmp_path / "old.txt").write_bytes(lines(A, B))
    (tmp_path / "new.txt").write_bytes(lines(B, "0001,x~0000", end="\n"))
    app = platform.start("--check", "new.txt")
    assert app.output() == (b"new.txt line 2: checksum 0000 does not match its record ("
                            + record("0001,x")[-4:].encode() + b")\r\n"
                            + f"new.txt: 2 records, 2 distinct keys, 1 not valid, "
                              f"SUM {sum_of(B):04X}\r\n".encode())
    assert app.wait() == 1
    app = platform.start("--diff", "old.txt", "new.txt")
    assert app.output() == (f"Changed: OLD line 1, NEW line 2\r\n    Old Data={A}\r\n"
                            f"    New Data=0001,x~0000\r\n\r\n"
                            f"1 same, 1 changed, 0 added, 0 removed\r\n").encode("latin-1")
    assert app.wait() == 1
