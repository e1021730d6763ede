"""What a new user meets first: the port left as it was found, the user's own terminal refused, an
adapter that is not plugged in, errors on a line of their own, and the backup tools reading
standard input, showing every byte and counting records as one another does."""
import os
import pathlib
import signal
import subprocess
import termios
import time

import pytest

from conftest import BINARY, REPO, SLAVE_PROMPT, WAIT, Scanner, record


def merged(args, stdin=subprocess.DEVNULL, **kwargs):
    """The program with standard error into standard output's pipe, to see where lines break."""
    return subprocess.Popen([BINARY, *map(str, args)], stdin=stdin, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, start_new_session=True, **kwargs)


def cooked_9600(scanner):
    """The port as another program left it: 9600 baud, canonical, with echo."""
    attrs = termios.tcgetattr(scanner.slave)
    attrs[3] |= termios.ICANON | termios.ECHO
    attrs[4] = attrs[5] = termios.B9600
    termios.tcsetattr(scanner.slave, termios.TCSANOW, attrs)
    return termios.tcgetattr(scanner.slave)


def slave_records(app, scanner, count):
    app.expect(SLAVE_PROMPT)
    scanner.send_line("MDL")
    assert scanner.read_line() == b"QRFAMTK00"
    for n in range(count):
        scanner.send_line("CLN " + record(f"{n:02X},x"))
        assert scanner.read_line() == b"OK"


def port_left_as_found(run, scanner, tmp_path, ending):
    before = cooked_9600(scanner)
    app = run("KM504R", scanner.path, "SLAVE", "out.txt", "0")
    slave_records(app, scanner, 1)
    assert termios.tcgetattr(scanner.slave) != before  # raw at 57600 while the session runs
    if ending == "end":
        scanner.send_line("END")
        assert app.wait() == 0
    else:
        app.kill(signal.SIGTERM)
        assert app.wait() == 128 + signal.SIGTERM
    assert termios.tcgetattr(scanner.slave) == before


def own_terminal_refused(run, scanner, tmp_path, word):
    if word == "tty":
        app = run("KM504R", "tty", "SLAVE", "out.txt", "0")
        assert app.output().endswith(b"RS-232C ERROR\r\n") and app.wait() == 255
        reason = "/dev/tty: is the terminal this program runs in, not a scanner's port"
        stderr = app.stderr().decode()
    else:
        # No controlling terminal: standard input is the pty named.
        before = cooked_9600(scanner)
        result = subprocess.run([BINARY, "KM504R", "stdin", "SLAVE", "out.txt", "0"],
                                stdin=scanner.slave, capture_output=True, cwd=tmp_path,
                                timeout=WAIT, start_new_session=True)
        assert result.returncode == 255 and termios.tcgetattr(scanner.slave) == before
        reason = "/dev/stdin: is standard input, not a scanner's port"
        stderr = result.stderr.decode()
    assert f"talven: {reason}; give the cable's device" in stderr, stderr
    assert not (tmp_path / "out.txt").exists()


def missing_adapter(run, scanner, tmp_path, where):
    name = next(f"ttyUSB{n}" for n in range(90, 99) if not os.path.exists(f"/dev/ttyUSB{n}"))
    reason = (f"talven: {name}: /dev/{name} is not there (is the adapter plugged in?); "
              f"talven --list-ports lists the serial ports there are")
    if where == "argument":
        result = subprocess.run([BINARY, "KM504R", name, "SLAVE", "out.txt", "0"],
                                capture_output=True, cwd=tmp_path, timeout=WAIT,
                                stdin=subprocess.DEVNULL, start_new_session=True)
        assert result.returncode == 255
        assert result.stderr.decode().splitlines()[0] == reason + "; taken as port 0"
    else:
        app = run()
        app.expect(b"Input Com port (1-99): ")
        app.sendline(name)
        app.expect(b"\aINVALID COM port\r\n\r\nInput Com port (1-99): ")
        app.kill(signal.SIGTERM)
        assert app.wait() == 128 + signal.SIGTERM
        assert app.stderr().decode().splitlines()[0] == reason


def error_on_its_own_line(run, scanner, tmp_path, cause):
    app = merged(["KM504R", scanner.path, "SLAVE", "out.txt", "0"], cwd=tmp_path)
    try:
        scanner.send_line("MDL")
        assert scanner.read_line() == b"QRFAMTK00"
        for n in range(3):
            scanner.send_line("CLN " + record(f"{n:02X},x"))
            assert scanner.read_line() == b"OK"
        if cause == "signal":
            time.sleep(0.2)
            app.send_signal(signal.SIGINT)
            expected = b"o\ntalven: signal 2: ended the session\n"
        else:
            scanner.send_line("SUM 0001")
            expected = b")\ntalven: scanner: its closing sum 0001"
        out = app.communicate(timeout=WAIT)[0]
    finally:
        if app.poll() is None:
            app.kill()
    assert expected in out, out


def backup_tools(run, scanner, tmp_path, case):
    long_line = "9," + "x" * 5000 + "~0000"
    files = {
        "old.txt": "01,a~0000\n" + long_line + "\n",
        "new.txt": "01,a~0000\n" + long_line + "\n",
        "cr.txt": "01,a~0000\r02,b~0000\r\n03,c~0000\r04,d~0000\r\n",
        "nul.txt": "05,a\0b~0000\n",
        "soh.txt": "05,a\x01b~0000\n",
    }
    for name, text in files.items():
        (tmp_path / name).write_bytes(text.encode("latin-1"))
    args, stdin, status, out_has, err = {
        "check -": (["--check", "-"], "old.txt", 1,
                    "standard input: 2 records, 2 distinct keys, 2 not valid", ""),
        "diff - NEW": (["--diff", "-", "new.txt"], "old.txt", 0, "2 same, 0 changed", ""),
        "diff OLD -": (["--diff", "old.txt", "-"], "new.txt", 0, "2 same, 0 changed", ""),
        "diff - -": (["--diff", "-", "-"], "old.txt", 2, "", "can be only one of OLD and NEW"),
        "escapes": (["--diff", "nul.txt", "soh.txt"], None, 1,
                    "Old Data=05,a\\0b~0000\n    New Data=05,a\\x01b~0000\n", ""),
        "long line": (["--diff", "old.txt", "new.txt"], None, 0, "2 same, 0 changed", ""),
        "cr hint": (["--diff", "cr.txt", "cr.txt"], None, 0, "2 same",
                    "talven: cr.txt: line 1: note: two records on one line: do lines end with CR "
                    "alone?\n" * 2),
        "list-ports extra": (["--list-ports", "extra"], None, 2, "",
                             "--list-ports takes no further arguments"),
    }[case]
    with open(tmp_path / stdin if stdin else os.devnull, "rb") as source:
        result = subprocess.run([BINARY, *args], stdin=source, capture_output=True, cwd=tmp_path,
                                timeout=WAIT)
    assert result.returncode == status, result
    assert out_has in result.stdout.decode("latin-1")
    assert err in result.stderr.decode()
    if case == "long line":
        check = subprocess.run([BINARY, "--check", "old.txt"], capture_output=True, cwd=tmp_path,
                               timeout=WAIT)
        assert b": 2 records" in check.stdout and b"line 2: longer than 4091" in check.stdout


def completion(run, scanner, tmp_path, words):
    script = (f'source "{REPO}/completion/talven.bash"\n'
              'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _talven\n'
              'printf "%s\\n" "${COMPREPLY[@]}"\n')
    result = subprocess.run(["bash", "-c", script, "talven", BINARY, *words], cwd=tmp_path,
                            capture_output=True, timeout=WAIT)
    offered = result.stdout.decode().split()
    if words[-1] == "tty":
        devices = [p.name for pattern in ("ttyS[0-9]*", "ttyUSB*", "ttyACM*")
                   for p in sorted(pathlib.Path("/dev").glob(pattern)) if p.is_char_device()]
        assert offered == devices
    else:
        assert offered == (["COMPARE"] if words[0] == "KM503R" else [])


CASES = [
    (port_left_as_found, "end"), (port_left_as_found, "signal"),
    (own_terminal_refused, "tty"), (own_terminal_refused, "stdin"),
    (missing_adapter, "argument"), (missing_adapter, "prompt"),
    (error_on_its_own_line, "signal"), (error_on_its_own_line, "wrong sum"),
    *[(backup_tools, case) for case in ["check -", "diff - NEW", "diff OLD -", "diff - -",
                                        "escapes", "long line", "cr hint", "list-ports extra"]],
    (completion, ["KM503R", "3", "C"]), (completion, ["QRX320A", "3", "C"]),
    (completion, ["KM504R", "tty"]),
]


@pytest.mark.parametrize("case,variant", CASES,
                         ids=[f"{c.__name__}-{v if isinstance(v, str) else ' '.join(v)}"
                              for c, v in CASES])
def test_first_contact(run, scanner, tmp_path, case, variant):
    case(run, scanner, tmp_path, variant)
