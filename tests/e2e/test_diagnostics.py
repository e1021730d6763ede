"""Setting up and diagnosing: the port listing, a reason on standard error for every failure while
standard output keeps its fixed texts, the wire trace, and documentation that matches --help."""
import fcntl
import grp
import gzip
import os
import pathlib
import re
import shutil
import signal
import subprocess
import tempfile

import pytest

from conftest import BANNER, BINARY, COMPLETE, REPO, SLAVE_PROMPT, TALVEN_EXE, WAIT, record, summary

PLAIN_BANNER = BANNER.replace(b"\r\n", b"\n")
LIST_HINT = b"; talven --list-ports lists the serial ports there are"


def talven(*args, cwd, env=None, merged=False, binary=BINARY, **kwargs):
    """The program with no console: standard input at its end, output captured (standard error
    into standard output when merged, to see the order of the two)."""
    return subprocess.run([binary, *map(str, args)], cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT if merged else subprocess.PIPE,
                          timeout=WAIT, env=env, start_new_session=True, **kwargs)


# --- The port listing --------------------------------------------------------------------------

def fake_machine(root: pathlib.Path, scanner_path):
    """A sysfs tree and a /dev with one FTDI cable (whose node is the scanner's pty) and one UART."""
    sys_root, dev_root = root / "sys", root / "dev"
    usb = sys_root / "devices/pci0000:00/usb1/1-1"
    port = usb / "1-1:1.0/ttyUSB0"
    for name, value in [("idVendor", "0403"), ("idProduct", "6001"), ("manufacturer", "FTDI"),
                        ("product", "FT232R USB UART"), ("serial", "A1B2C3")]:
        usb.mkdir(parents=True, exist_ok=True)
        (usb / name).write_text(value + "\n")
    (port / "tty/ttyUSB0").mkdir(parents=True)
    (port / "tty/ttyUSB0/device").symlink_to("../../../ttyUSB0")
    (port / "driver").symlink_to(sys_root / "bus/usb-serial/drivers/ftdi_sio")
    uart = sys_root / "devices/pnp0/00:04"
    (uart / "tty/ttyS0").mkdir(parents=True)
    (uart / "tty/ttyS0/device").symlink_to("../../../00:04")
    (uart / "tty/ttyS0/type").write_text("4\n")
    (uart / "driver").symlink_to(sys_root / "bus/pnp/drivers/serial")
    (sys_root / "class/tty").mkdir(parents=True)
    (sys_root / "class/tty/ttyUSB0").symlink_to(port / "tty/ttyUSB0")
    (sys_root / "class/tty/ttyS0").symlink_to(uart / "tty/ttyS0")
    (sys_root / "class/tty/tty0").mkdir()  # a console: no device behind it
    dev_root.mkdir()
    (dev_root / "ttyUSB0").symlink_to(scanner_path)
    (dev_root / "ttyS0").symlink_to(os.devnull)
    (dev_root / "tty0").symlink_to(os.devnull)
    return dict(os.environ, TALVEN_SYSFS_ROOT=str(sys_root), TALVEN_DEV_ROOT=str(dev_root))


def test_list_ports_names_each_port_and_the_listed_path_works(run, scanner, tmp_path):
    env = fake_machine(tmp_path / "machine", scanner.path)
    dev = tmp_path / "machine/dev"
    result = talven("--list-ports", cwd=tmp_path, env=env)
    assert result.returncode == 0 and result.stderr == b""
    assert result.stdout.decode().splitlines() == [
        f"{dev}/ttyS0    port 1, built-in serial port, driver serial",
        f"{dev}/ttyUSB0  FTDI FT232R USB UART (USB 0403:6001, serial A1B2C3), driver ftdi_sio",
    ]
    # What the list says to give is what opens the scanner.
    listed = result.stdout.decode().splitlines()[1].split()[0]
    app = run("KM504R", listed, "SLAVE", "out.txt", "0", env=env)
    app.expect(summary("out.txt", "KM504R", listed) + SLAVE_PROMPT)
    scanner.send_line("MDL")
    assert scanner.read_line() == b"QRFAMTK00"


def test_list_ports_says_when_there_are_none(tmp_path):
    (tmp_path / "sys").mkdir()
    env = dict(os.environ, TALVEN_SYSFS_ROOT=str(tmp_path / "sys"),
               TALVEN_DEV_ROOT=str(tmp_path))
    result = talven("--list-ports", cwd=tmp_path, env=env)
    assert result.returncode == 0
    assert result.stdout == b"No serial ports found. Is the serial or USB-serial cable plugged in?\n"


@pytest.mark.wine
def test_list_ports_under_wine_reads_the_registry(wine, tmp_path):
    result = subprocess.run(["wine", TALVEN_EXE, "--list-ports"], cwd=tmp_path, env=wine.env,
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    assert result.returncode == 0
    lines = result.stdout.decode().replace("\r\n", "\n").splitlines()
    assert lines
    assert all(re.fullmatch(r"\d+ +\S.*", line) for line in lines) or lines == [
        "No serial ports found. Is the serial or USB-serial cable plugged in?"], lines


# --- Why a port did not open -------------------------------------------------------------------

def held_by_another_program(scanner, tmp_path, stack):
    fd = os.open(scanner.path, os.O_RDWR | os.O_NOCTTY)
    stack.append(fd)
    fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    return scanner.path, rb"in use by another program; close that program and try again"


def regular_file(scanner, tmp_path, stack):
    (tmp_path / "notes.txt").write_text("not a port\n")
    return str(tmp_path / "notes.txt"), rb"not a serial device"


def missing_device(scanner, tmp_path, stack):
    return str(tmp_path / "ttyUSB9"), rb"no such device" + re.escape(LIST_HINT)


@pytest.mark.parametrize("situation", [held_by_another_program, regular_file, missing_device])
def test_port_failure_names_device_and_reason(run, scanner, tmp_path, situation):
    (tmp_path / "d.txt").write_text("")
    held = []
    try:
        port, reason = situation(scanner, tmp_path, held)
        app = run("KM504R", port, "MASTER", "d.txt", "0")
        assert app.output() == BANNER + summary("d.txt", "KM504R", port) + b"RS-232C ERROR\r\n"
        assert app.wait() == 255
    finally:
        for fd in held:
            os.close(fd)
    assert re.fullmatch(b"talven: " + re.escape(port.encode()) + b": " + reason + b"\n",
                        app.stderr()), app.stderr()


@pytest.mark.parametrize("word,number", [("0", 0), ("-4", -4), ("257", 257)])
def test_port_number_nobody_answers_to(run, tmp_path, word, number):
    (tmp_path / "d.txt").write_text("")
    app = run("KM504R", word, "MASTER", "d.txt", "0")
    assert app.output() == BANNER + summary("d.txt", "KM504R", number) + b"RS-232C ERROR\r\n"
    assert app.stderr() == (f"talven: port {number}: no such port number (the numbers run from 1 "
                            f"to 256)").encode() + LIST_HINT + b"\n"


@pytest.fixture
def open_dir():
    """A working directory that any user may enter (pytest's own are its owner's alone)."""
    with tempfile.TemporaryDirectory(prefix="talven-") as name:
        os.chmod(name, 0o777)
        yield pathlib.Path(name)


def test_permission_denied_names_the_group_to_join(scanner, open_dir):
    """The device belongs to a group the user is not in, as /dev/ttyUSB0 belongs to dialout."""
    if os.geteuid() == 0:
        # root opens anything: run as nobody against a device of the dialout group.
        try:
            group = grp.getgrnam("dialout")
        except KeyError:
            pytest.skip("no dialout group on this machine")
        os.chown(scanner.path, 0, group.gr_gid)
        os.chmod(scanner.path, 0o660)
        # The build tree may sit below a directory only root may enter: nobody runs a copy.
        shutil.copy(BINARY, open_dir / "talven")
        user = dict(user=65534, group=65534, extra_groups=[], binary=open_dir / "talven")
    else:
        group = grp.getgrgid(os.stat(scanner.path).st_gid)
        if group.gr_gid == 0:
            pytest.skip("the pseudo-terminal belongs to root's group")
        os.chmod(scanner.path, 0)
        user = {}
    (open_dir / "d.txt").write_text("")
    (open_dir / "d.txt").chmod(0o644)
    result = talven("KM504R", scanner.path, "MASTER", "d.txt", "0", cwd=open_dir, **user)
    assert result.returncode == 255, result
    assert result.stdout == PLAIN_BANNER + summary("d.txt", "KM504R", scanner.path, b"\n") + \
        b"RS-232C ERROR\n"
    name = group.gr_name
    assert result.stderr.decode() == (
        f"talven: {scanner.path}: permission denied (add your user to the '{name}' group: "
        f"sudo usermod -aG {name} $USER, then log out and in again)\n")


# --- Why a clone file did not open -------------------------------------------------------------

# Slave mode names the file that failed: the named one, or the partial file beside it.
@pytest.mark.parametrize("mode,name,failed,reason", [
    ("MASTER", "missing.txt", "missing.txt", "No such file or directory"),
    ("COMPARE", "missing.txt", "missing.txt", "No such file or directory"),
    ("SLAVE", "subdir", "subdir", "Is a directory"),
    ("SLAVE", "nodir/out.txt", "nodir/out.txt.partial", "No such file or directory"),
    ("SLAVE", "pd.txt", "pd.txt.partial", "Is a directory"),
])
def test_clone_file_reason_comes_before_the_prompt(tmp_path, mode, name, failed, reason):
    (tmp_path / "subdir").mkdir()
    (tmp_path / "pd.txt.partial").mkdir()
    args = ("KM504R", "200", mode, name, "0")
    result = talven(*args, cwd=tmp_path)
    # Standard output: its fixed texts only; standard input then ends at the prompt.
    assert result.stdout == PLAIN_BANNER + b"Input clone file name : "
    assert result.returncode == 255
    assert result.stderr.decode().splitlines()[0] == f"talven: {failed}: {reason}"
    merged = talven(*args, cwd=tmp_path, merged=True)
    assert f"talven: {failed}: {reason}\nInput clone file name : ".encode() in merged.stdout


def test_name_typed_at_the_prompt_that_fails_is_explained_too(run, tmp_path):
    (tmp_path / "good.txt").write_text("")
    app = run("KM504R", "200", "MASTER")
    app.expect(b"Input clone file name : ")
    app.sendline("typo.txt")
    app.expect(b"\r\nInput clone file name : ")
    app.sendline("good.txt")
    app.expect(summary("good.txt", "KM504R", "200"))
    app.send("x")
    app.wait()
    assert app.stderr().decode().splitlines()[0] == "talven: typo.txt: No such file or directory"


# --- Options -----------------------------------------------------------------------------------

@pytest.mark.parametrize("args,message", [
    (["--bogus", "KM504R"], "talven: --bogus: unknown option\nTry 'talven --help'.\n"),
    (["--trace"], "talven: --trace needs a file name\nTry 'talven --help'.\n"),
    (["--trace", "nodir/wire.log", "KM504R", "200", "SLAVE", "x.txt", "0"],
     "talven: nodir/wire.log: No such file or directory\n"),
    (["--trace=nodir/wire.log", "KM504R", "200", "SLAVE", "x.txt", "0"],
     "talven: nodir/wire.log: No such file or directory\n"),
    (["--trace=", "KM504R"], "talven: --trace needs a file name\nTry 'talven --help'.\n"),
    (["--exit-code=1", "KM504R"], "talven: --exit-code=1: takes no value\nTry 'talven --help'.\n"),
    (["--backup=", "KM504R"], "talven: --backup=: give simple or numbered\nTry 'talven --help'.\n"),
    (["--no-backup=1"], "talven: --no-backup=1: takes no value\nTry 'talven --help'.\n"),
])
def test_unusable_command_line_starts_nothing(tmp_path, args, message):
    result = talven(*args, cwd=tmp_path)
    assert result.returncode == 2
    assert result.stdout == b""
    assert result.stderr.decode() == message
    assert list(tmp_path.iterdir()) == []


# --- The wire trace ----------------------------------------------------------------------------

STAMP = r"\d\d:\d\d:\d\d\.\d{3} +(\d+\.\d{6})  "
BYTES_LINE = re.compile(STAMP + r"(PC->SCN|SCN->PC) +(\d+)  (.*)")
NOTE_LINE = re.compile(STAMP + r"(--) (.*)")
def read_trace(path):
    """The records of a trace: (seconds since start, direction, count, text, bytes from the hex)."""
    records = []
    for line in path.read_text().splitlines():
        if line.startswith("#"):
            continue
        if line.startswith(" "):
            records[-1][4] += bytes.fromhex(line)
            continue
        m = BYTES_LINE.fullmatch(line)
        if m:
            records.append([float(m.group(1)), m.group(2), int(m.group(3)), m.group(4), b""])
            continue
        m = NOTE_LINE.fullmatch(line)
        assert m, line
        records.append([float(m.group(1)), "--", 0, m.group(3), b""])
    return records


def wire(records, direction):
    return b"".join(r[4] for r in records if r[1] == direction)


def test_trace_records_every_byte_both_ways_and_leaves_output_alone(run, scanner, tmp_path):
    app = run("--trace", "wire.log", "KM504R", scanner.path, "SLAVE", "out.txt", "0")
    app.expect(BANNER + summary("out.txt", "KM504R", scanner.path) + SLAVE_PROMPT)
    records = [record(f"{k:04X},CH{k},146.520,FM") for k in range(3)]
    total = sum(int(r.split("~")[1], 16) for r in records) & 0xFFFF
    sent = [b"MDL"] + [f"CLN {r}".encode() for r in records] + [f"SUM {total:04X}".encode()]
    for line in sent:
        scanner.send_line(line)
        scanner.read_line()
    scanner.send_line("END")
    # One progress mark (at the second record), then the report: nothing else on the console.
    rest = app.output()
    assert rest[:1] == b"o" and COMPLETE.fullmatch(rest[1:]), rest
    assert app.wait() == 0
    assert app.stderr() == b""

    trace = read_trace(tmp_path / "wire.log")
    notes = [r[3] for r in trace if r[1] == "--"]
    assert notes == [f"opened {scanner.path}", "9600 baud", "57600 baud"]
    assert wire(trace, "SCN->PC") == b"".join(line + b"\r" for line in sent + [b"END"])
    assert wire(trace, "PC->SCN") == b"QRFAMTK00\r" + b"OK\r" * 4
    for _, direction, count, text, data in trace:
        if direction != "--":
            assert count == len(data)
            assert text.replace("<CR>", "\r").encode() == data
    times = [r[0] for r in trace]
    assert times == sorted(times)


def test_trace_is_complete_when_a_signal_ends_the_run(run, scanner, tmp_path):
    app = run("--trace", "wire.log", "KM504R", scanner.path, "SLAVE", "out.txt", "0")
    app.expect(SLAVE_PROMPT)
    scanner.send_line("MDL")
    assert scanner.read_line() == b"QRFAMTK00"
    app.kill(signal.SIGTERM)
    assert app.wait() == 128 + signal.SIGTERM
    trace = read_trace(tmp_path / "wire.log")
    assert wire(trace, "SCN->PC") == b"MDL\r"
    assert wire(trace, "PC->SCN") == b"QRFAMTK00\r"


def test_trace_of_a_port_that_does_not_open_says_why(run, tmp_path):
    (tmp_path / "d.txt").write_text("")
    app = run("--trace", "wire.log", "KM504R", str(tmp_path / "ttyUSB9"), "MASTER", "d.txt", "0")
    app.output()
    assert app.wait() == 255
    notes = [r[3] for r in read_trace(tmp_path / "wire.log")]
    assert notes == [f"cannot open {tmp_path / 'ttyUSB9'}: no such device"]


# --- Documentation -----------------------------------------------------------------------------

def help_text():
    result = subprocess.run([BINARY, "--help"], capture_output=True, timeout=WAIT, check=True)
    return result.stdout.decode()


def model_table(lines):
    """The lines from the model table's heading to the first that is not indented like it."""
    start = next(i for i, line in enumerate(lines) if line.startswith("  key  label"))
    end = next(i for i in range(start, len(lines) + 1)
               if i == len(lines) or not lines[i].startswith("  "))
    return lines[start:end]


def man_lines():
    text = (REPO / "docs/talven.1.in").read_text()
    return [line.replace("\\-", "-").replace("\\e", "\\") for line in text.splitlines()]


def test_model_table_is_the_same_in_help_guide_and_manual():
    table = model_table(help_text().splitlines())
    assert len(table) == 19
    assert model_table((REPO / "docs/USER_GUIDE.md").read_text().splitlines()) == table
    assert model_table(man_lines()) == table


def exit_statuses(help_lines):
    """The statuses --help lists: "0", "1", "255", "2", "128+N"."""
    start = help_lines.index("Exit status:") + 1
    return [m.group(1) for line in help_lines[start:]
            if (m := re.match(r"  (\d+(?:\+N)?) ", line))]


@pytest.mark.parametrize("doc", ["docs/USER_GUIDE.md", "docs/talven.1.in"])
def test_docs_name_every_option_status_and_message(doc):
    manual = doc.endswith(".1.in")
    text = "\n".join(man_lines()) if manual else (REPO / doc).read_text()
    help_lines = help_text().splitlines()
    options = set(re.findall(r"--[a-z][a-z-]+", "\n".join(help_lines)))
    assert options >= {"--help", "--version", "--list-ports", "--trace"}
    for option in sorted(options):
        assert option in text, option
    statuses = exit_statuses(help_lines)
    assert statuses == ["0", "1", "255", "2", "128+N"]
    for status in statuses:
        assert (f"\n.B {status}\n" if manual else f"\n| `{status}`") in text, status
    for message in ["MASTER", "SLAVE", "COMPARE", "RS-232C ERROR", "no such device",
                    "in use by another program", "permission denied", "not a serial device",
                    "settings not accepted", "Input clone file name", "INVALID COM port",
                    "ERR Rx=", "Checksum Error", "Error Count =", "File Open Error",
                    "File Write Error", "Press any key!!", "(^_^)/  complete", "(x_x);  error"]:
        assert message in text, message


def test_manual_page_formats_without_warnings():
    if shutil.which("groff") is None:
        pytest.skip("groff is not installed")
    result = subprocess.run(["groff", "-man", "-ww", "-z", str(REPO / "docs/talven.1.in")],
                            capture_output=True, timeout=WAIT)
    assert result.returncode == 0 and result.stderr == b"", result.stderr


def test_install_puts_the_docs_and_the_manual_page_in_place(tmp_path):
    build = pathlib.Path(BINARY).resolve().parent
    if not (build / "cmake_install.cmake").exists():
        pytest.skip("TALVEN_BIN is not in a CMake build tree")
    if not (REPO / "LICENSE").exists():
        pytest.skip("the install also copies LICENSE, which the tree does not have yet")
    subprocess.run(["cmake", "--install", str(build), "--prefix", str(tmp_path)],
                   capture_output=True, timeout=60, check=True)
    [page] = tmp_path.glob("**/man1/talven.1.gz")
    # The packages' version stands for the banner's: "0.07H" is 0.7.8.
    major, minor, letter = re.search(r'TALVEN_VERSION "(\d+)\.(\d+)([A-Z])"',
                                     (REPO / "src/session/version.h").read_text()).groups()
    version = f"{int(major)}.{int(minor)}.{ord(letter) - ord('A') + 1}"
    assert f"Version {major}.{minor}{letter}".encode() in BANNER
    expected = (REPO / "docs/talven.1.in").read_text().replace("@PROJECT_VERSION@", version)
    assert gzip.decompress(page.read_bytes()).decode() == expected
    docs = tmp_path / "share/doc/talven"
    assert (docs / "USER_GUIDE.md").read_bytes() == (REPO / "docs/USER_GUIDE.md").read_bytes()
    assert (docs / "copyright").read_bytes() == (REPO / "LICENSE").read_bytes()
    assert f"talven ({version})".encode() in gzip.decompress((docs / "changelog.gz").read_bytes())
    completion = tmp_path / "share/bash-completion/completions/talven"
    assert completion.read_bytes() == (REPO / "completion/talven.bash").read_bytes()


# (the words typed so far, the last one being completed; what bash offers)
COMPLETIONS = [
    (["--tr"], ["--trace"]),
    (["--exit-code", "KM50"], ["KM504R", "KM503R", "KM500R", "KM506R", "KM508R", "KM506E"]),
    (["QRX"], ["QRX320A", "QRX620A", "QRX320PL", "QRX620PL"]),
    (["KM504R", "/dev/nul"], ["/dev/null"]),
    (["KM504R", "3", "S"], ["SLAVE"]),
    (["KM504R", "3", "MASTER", "my"], ["my backup.txt"]),
    (["KM504R", "3", "MASTER", "f.txt", ""], ["0", "1"]),
    (["--trace", "w.log", "KM504R", "3", "C"], ["COMPARE"]),
    (["--check", "my"], ["my backup.txt"]),
    (["--diff", "a.txt", "my"], ["my backup.txt"]),
    (["--no-b"], ["--no-backup"]),
    (["--backup", "=", "n"], ["numbered"]),
    (["--backup", "=", "simple", "KM504R", "3", "S"], ["SLAVE"]),
]


@pytest.mark.parametrize("words,offered", COMPLETIONS)
def test_bash_completion(tmp_path, words, offered):
    (tmp_path / "my backup.txt").write_text("")
    script = (f'source "{REPO}/completion/talven.bash"\n'
              'complete -p talven >/dev/null || exit 3\n'
              'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _talven\n'
              'printf "%s\\n" "${COMPREPLY[@]}"\n')
    result = subprocess.run(["bash", "-c", script, "talven", BINARY, *words], cwd=tmp_path,
                            capture_output=True, timeout=WAIT)
    assert result.returncode == 0, result.stderr
    assert result.stdout.decode().splitlines() == offered
