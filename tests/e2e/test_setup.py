"""Start-up: arguments, prompts, menus, the clone file, the summary and the way out."""
import os
import select
import signal
import subprocess
import termios
import time

import pytest

from conftest import (
    BANNER, BINARY, COMPARE_LINE, MASTER_PROMPT, MISSING_PORT, MODEL_MENU, MODE_MENU, SLAVE_PROMPT,
    WAIT, record, summary)

def test_no_arguments_asks_for_everything(run, tmp_path):
    (tmp_path / "data.txt").write_text("0~00FD\n")
    app = run()
    app.expect(BANNER + b"\r\nInput Com port (1-99): ")
    app.sendline(MISSING_PORT[:2])
    app.expect(MODEL_MENU)
    app.send("b")
    app.expect(b"b\r\n\r\n" + MODE_MENU)
    app.send("1")
    app.expect(b"1\r\n\r\nInput clone file name : ")
    app.sendline("data.txt")
    app.expect(b"\r\n" + summary("data.txt", "KM525R", 20))
    app.expect(b"RS-232C ERROR\r\n\r\nPress any key!!")
    app.send("x")
    assert app.wait() == 255
    assert b"/dev/ttyS19: no such device" in app.stderr()


# Every port number the registry has is taken from the command line, 255 too.
@pytest.mark.parametrize("port", [MISSING_PORT, "255", "256"])
def test_five_arguments_ask_nothing(run, tmp_path, port):
    (tmp_path / "data.txt").write_text("0~00FD\n")
    app = run("KM504R", port, "MASTER", "data.txt", "0")
    out = app.output()
    assert out == BANNER + summary("data.txt", "KM504R", port) + b"RS-232C ERROR\r\n"
    assert app.wait() == 255


def test_six_arguments_are_all_ignored(run, tmp_path):
    app = run("KM504R", MISSING_PORT, "MASTER", "data.txt", "0", "extra")
    # No blank line before the first prompt, which asks although a port was given.
    app.expect(BANNER + b"Input Com port (1-99): ")


@pytest.mark.parametrize("answer", ["0", "100", "-5", "COM100", "zz 3"])
def test_port_prompt_refuses_out_of_range(run, answer):
    app = run()
    app.expect(b"Input Com port (1-99): ")
    app.sendline(answer)
    app.expect(b"\aINVALID COM port\r\n\r\nInput Com port (1-99): ")
    app.sendline("99")
    app.expect(MODEL_MENU)


@pytest.mark.parametrize("model,offered", [("QR140A", True), ("KM503R", True), ("EVT210", True),
                                           ("QRX320A", False), ("KM493R", False)])
def test_compare_offered_per_model(run, tmp_path, model, offered):
    (tmp_path / "data.txt").write_text("0~00FD\n")
    app = run(model, MISSING_PORT, "COMPARE")
    if offered:
        app.expect(b"Input clone file name : ")
        return
    app.expect(MODE_MENU)
    app.send("3")
    # Without compare the key '3' is refused and the menu asks again.
    app.expect(b"3\a\r\n\r\n\r\n\r\n" + MODE_MENU)
    assert COMPARE_LINE not in app.child.before
    app.send("2")
    app.expect(b"Input clone file name : ")


def test_unknown_model_with_compare_asks_model_then_mode(run):
    app = run("NOSUCH", MISSING_PORT, "COMPARE")
    app.expect(MODEL_MENU)
    app.send("1")
    app.expect(MODE_MENU + COMPARE_LINE)
    app.send("3")
    app.expect(b"Input clone file name : ")


def test_menu_keys_are_lower_case_only(run):
    app = run()
    app.expect(b"Input Com port (1-99): ")
    app.sendline("5")
    app.expect(MODEL_MENU)
    app.send("A")
    app.expect(b"A\a\r\n\r\n\r\n\r\n" + MODEL_MENU)
    app.send("z")
    app.expect(b"z\a\r\n\r\n\r\n\r\n" + MODEL_MENU)
    app.send("a")
    app.expect(b"a\r\n\r\n" + MODE_MENU)
    app.send("9")
    app.expect(b"9\a\r\n\r\n\r\n\r\n" + MODE_MENU)


def test_file_name_is_the_whole_answer_line(run, tmp_path):
    (tmp_path / "second").write_text("")
    (tmp_path / "first second").write_text("")
    app = run("KM504R", MISSING_PORT, "MASTER")
    app.expect(b"Input clone file name : ")
    app.sendline("  first second  ")
    app.expect(b"\r\n" + summary("first second", "KM504R", MISSING_PORT))


def test_overlong_file_name_is_refused(run, tmp_path):
    app = run("KM504R", MISSING_PORT, "SLAVE", "x" * 1024, "0")
    app.expect(b"Input clone file name : ")
    assert not any(len(p.name) > 1000 for p in tmp_path.iterdir())


def test_slave_mode_leaves_an_existing_file_alone(run, tmp_path):
    target = tmp_path / "old.txt"
    target.write_text("old record\n" * 10)
    app = run("KM504R", MISSING_PORT, "SLAVE", "old.txt", "0")
    app.output()
    assert target.read_text() == "old record\n" * 10
    # Nothing was received, so nothing is kept either.
    assert not (tmp_path / "old.txt.partial").exists() and b"kept" not in app.stderr()


def test_model_shown_by_product_code(run, tmp_path):
    (tmp_path / "d.txt").write_text("")
    app = run("EQR5200PLS", MISSING_PORT, "MASTER", "d.txt", "0")
    assert summary("d.txt", "KM525R", MISSING_PORT) in app.output()


@pytest.mark.parametrize("pause,waits", [("1", True), ("0", False), ("2", False), ("x", False)])
def test_pause_flag(run, tmp_path, pause, waits):
    (tmp_path / "d.txt").write_text("")
    app = run("KM504R", MISSING_PORT, "MASTER", "d.txt", pause)
    if waits:
        app.expect(b"RS-232C ERROR\r\n\r\nPress any key!!")
        app.send("q")
        assert app.output() == b"q"
    else:
        assert app.output().endswith(b"RS-232C ERROR\r\n")
    assert app.wait() == 255


def test_end_of_input_at_a_prompt_leaves(tmp_path):
    """Standard input at its end: one error line and exit status 255, never a loop."""
    result = subprocess.run([BINARY, "KM504R", MISSING_PORT, "MASTER", "missing.txt", "0"],
                            cwd=tmp_path, stdin=subprocess.DEVNULL, capture_output=True,
                            timeout=WAIT)
    assert result.returncode == 255
    assert result.stdout.endswith(b"Input clone file name : ")
    assert b"standard input" in result.stderr


def test_no_controlling_terminal_refuses_menus(tmp_path):
    result = subprocess.run([BINARY, "NOSUCH", MISSING_PORT], cwd=tmp_path,
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=WAIT,
                            start_new_session=True)
    assert result.returncode == 255
    # The exit wait has no keyboard either: its prompt shows, the wait is skipped.
    assert result.stdout.endswith(MODEL_MENU.replace(b"\r\n", b"\n") + b"\nPress any key!!")
    assert b"console" in result.stderr


def test_redirected_output_without_terminal_skips_key_wait(tmp_path):
    (tmp_path / "d.txt").write_text("")
    result = subprocess.run([BINARY, "KM504R", MISSING_PORT, "MASTER", "d.txt"], cwd=tmp_path,
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=WAIT,
                            start_new_session=True)
    assert result.returncode == 255
    assert result.stdout.endswith(b"RS-232C ERROR\n\nPress any key!!")


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT, signal.SIGHUP])
def test_signal_at_a_menu_exits_with_its_status(run, sig):
    app = run("NOSUCH", MISSING_PORT)
    app.expect(MODEL_MENU)
    before = app.child.before
    app.kill(sig)
    assert app.wait() == 128 + sig
    assert b"Press any key" not in before


def test_help_and_version_touch_nothing(run, tmp_path):
    app = run("--help")
    out = app.output()
    assert b"Usage: talven" in out and b"KM525R" in out and b"COMPARE" in out
    assert app.wait() == 0
    app = run("--version")
    assert app.output() == b"talven Version 0.07H\r\n"
    assert [p for p in tmp_path.iterdir() if not p.name.startswith(".")] == []


# --- Words that are not taken: one line on standard error each --------------------------------

NOT_A_PORT = ("not a port, taken as port 0; give a number n or COMn, or a device path such as "
              "/dev/ttyUSB0")
COMPARE_MODELS = "KM504R, KM503R and KM524R"
ARGUMENT_NOTES = [
    # (arguments, typed on standard input, exit status, the start of a line on standard error)
    (["qr140a", MISSING_PORT, "SLAVE", "x.txt", "0"], "", 255,
     "qr140a: not a model name; names are in capitals: QR140A"),
    (["qr140a", MISSING_PORT, "SLAVE", "x.txt", "0"], "", 255,
     "console: no keyboard to answer the model menu (the argument qr140a was not taken)"),
    (["QR450PL", MISSING_PORT], "", 255,
     "QR450PL: the menu's name for model f; as an argument give QR450A or KM536R"),
    (["NOSUCH"], "", 255, "NOSUCH: not a model name; give a label or code that talven --help"),
    (["KM506R", MISSING_PORT, "COMPARE", "x.txt", "0"], "", 255,
     f"COMPARE: KM506R has no compare; it is for {COMPARE_MODELS}"),
    (["NOSUCH", MISSING_PORT, "COMPARE"], "", 255,
     f"COMPARE: needs a known model; compare is for {COMPARE_MODELS}"),
    (["KM504R", MISSING_PORT, "slave", "x.txt", "0"], "", 255,
     "console: no keyboard to answer the mode menu (the argument slave was not taken)"),
    (["KM504R", "20x", "SLAVE", "x.txt", "0"], "", 255,
     "20x: taken as port 20, the rest is not understood; give a number n or COMn, or a device"),
    (["KM504R", "com20", "SLAVE", "x.txt", "0"], "", 255, "/dev/ttyS19: no such device"),
    (["KM504R", MISSING_PORT, "SLAVE", "x.txt", "yes"], "", 255,
     "yes: not a number; give 1 to wait for a key at the end or 0 not to"),
    (["KM504R", MISSING_PORT, "SLAVE", "x.txt", "0", "extra"], "", 255,
     "arguments: 6 given, at most 5 are taken (MODEL PORT MODE FILE PAUSE); all are ignored"),
    (["KM504R", "20", "SLAVE", "x.txt", "0", "extra"], f"{MISSING_PORT[:2]} zz\n", 255,
     "zz: ignored after the port number"),
    (["-V"], "", 2, "-V: unknown option"),
    (["KM504R", "200", "-x"], "", 2, "-x: unknown option"),
    (["KM504R", "--trace", "w.log"], "", 2,
     "--trace: options go before MODEL and the other arguments"),
]


@pytest.mark.parametrize("args,typed,status,line", ARGUMENT_NOTES)
def test_words_not_taken_are_named_on_standard_error(tmp_path, args, typed, status, line):
    result = subprocess.run([BINARY, *args], cwd=tmp_path, input=typed.encode(),
                            capture_output=True, timeout=WAIT, start_new_session=True)
    assert result.returncode == status
    lines = result.stderr.decode().splitlines()
    assert any(l.startswith("talven: " + line) for l in lines), lines


# --- Answers taken as typed: the port and file name each session goes on with ------------------

ANSWERS = [
    # (arguments, typed on standard input, the start of a line on standard error or None,
    #  what the summary shows; a port typed at the prompt leaves the mode menu without a keyboard)
    (["KM504R", "abc", "MASTER", "c.txt", "0"], "", f"abc: {NOT_A_PORT}", "Com Port   = 0"),
    (["KM504R", "COM", "MASTER", "c.txt", "0"], "", f"COM: {NOT_A_PORT}", "Com Port   = 0"),
    (["KM504R", "", "MASTER", "c.txt", "0"], "", f'"": {NOT_A_PORT}', "Com Port   = 0"),
    (["KM504R", "null", "MASTER", "c.txt", "0"], "", "null: taken as /dev/null",
     "Com Port   = /dev/null"),
    # Under /dev but no character device: a folder, and standard input here being a pipe.
    (["KM504R", "pts", "MASTER", "c.txt", "0"], "", f"pts: {NOT_A_PORT}", "Com Port   = 0"),
    (["KM504R", "stdin", "MASTER", "c.txt", "0"], "", f"stdin: {NOT_A_PORT}", "Com Port   = 0"),
    (["KM504R", "/dev/null extra", "MASTER", "c.txt", "0"], "",
     "extra: ignored after the device path", "Com Port   = /dev/null\n"),
    (["KM504R"], "/dev/null extra\n", "extra: ignored after the device path", None),
    (["KM504R"], "null\n", "null: taken as /dev/null", None),
    (["KM504R"], "abc\n20 zz\n", "zz: ignored after the port number", None),
    (["KM504R", MISSING_PORT, "MASTER"], "my backup.txt \n", None, "File Name  = my backup.txt\n"),
    (["KM504R", MISSING_PORT, "MASTER"], "no such.txt\n\tc.txt\n",
     "no such.txt: No such file or directory", "File Name  = c.txt\n"),
]


@pytest.mark.parametrize("args,typed,line,shown", ANSWERS)
def test_answers_are_taken_as_typed(tmp_path, args, typed, line, shown):
    for name in ("c.txt", "my backup.txt"):
        (tmp_path / name).write_text(record("0,A") + "\n")
    result = subprocess.run([BINARY, *args], cwd=tmp_path, input=typed.encode(),
                            capture_output=True, timeout=WAIT, start_new_session=True)
    errors = result.stderr.decode().splitlines()
    if line is not None:
        assert any(l.startswith("talven: " + line) for l in errors), errors
    if shown is not None:
        assert shown in result.stdout.decode().replace("\r\n", "\n"), result.stdout
    assert sorted(p.name for p in tmp_path.iterdir()) == ["c.txt", "my backup.txt"]


def test_port_prompt_drops_the_rest_of_its_line(run, tmp_path):
    app = run(cwd=tmp_path)
    app.expect(b"Input Com port (1-99): ")
    app.sendline(f"{MISSING_PORT[:2]} zz")
    app.expect(MODEL_MENU)
    app.send("1")
    app.expect(MODE_MENU)
    app.send("2")
    app.expect(b"Input clone file name : ")
    app.sendline("out.txt")
    app.expect(summary("out.txt", "KM504R", 20))
    app.expect(b"Press any key!!")
    app.send("x")
    assert app.wait() == 255
    assert not (tmp_path / "zz").exists()


def read_until(pipe, expected, program, timeout=WAIT):
    """What the pipe gives until the expected bytes arrive, while the program is still waiting."""
    seen = b""
    deadline = time.monotonic() + timeout
    while expected not in seen:
        ready, _, _ = select.select([pipe], [], [], max(0, deadline - time.monotonic()))
        assert ready, f"{expected!r} not readable; so far {seen!r}"
        seen += os.read(pipe.fileno(), 65536)
    assert program.poll() is None
    return seen


@pytest.mark.parametrize("mode", ["prompt", "SLAVE", "MASTER"])
def test_piped_output_shows_each_wait(scanner, tmp_path, mode):
    """Standard output into a pipe: the text before every wait is readable during the wait."""
    (tmp_path / "in.txt").write_text(record("01,a") + "\n")
    args = [] if mode == "prompt" else ["KM504R", scanner.path, mode, "in.txt", "0"]
    program = subprocess.Popen([BINARY, *args], cwd=tmp_path, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    try:
        if mode == "prompt":
            read_until(program.stdout, b"Input Com port (1-99): ", program)
        elif mode == "SLAVE":
            read_until(program.stdout, SLAVE_PROMPT.replace(b"\r\n", b"\n"), program)
            for key in range(2):
                scanner.send_line(f"CLN {record(f'{key:02},a')}")
                assert scanner.read_line() == b"OK"
            read_until(program.stdout, b"o", program)
        else:
            # No keyboard: the ready wait is skipped and the program waits for the scanner.
            read_until(program.stdout, MASTER_PROMPT.replace(b"\r\n", b"\n"), program)
            assert scanner.read_line() == b"MDL"
    finally:
        program.kill()
        program.wait(WAIT)


@pytest.mark.parametrize("wait", ["model menu", "mode menu", "ready key", "exit key"])
def test_ctrl_c_typed_at_a_key_wait_ends_like_sigint(run, scanner, tmp_path, wait):
    """Typed into the console, not sent by kill: the key meant to stop the program never answers
    a wait, least of all the one that starts sending to the scanner."""
    (tmp_path / "d.txt").write_text(record("0001,x") + "\n")
    args = {"model menu": ["XX", "5"], "mode menu": ["KM504R", "5"],
            "ready key": ["KM504R", scanner.path, "MASTER", "d.txt", "0"],
            "exit key": ["KM504R", MISSING_PORT, "MASTER", "d.txt", "1"]}[wait]
    app = run(*args)
    app.expect({"model menu": MODEL_MENU, "mode menu": MODE_MENU + COMPARE_LINE,
                "ready key": b"(Press any key)\r\n", "exit key": b"Press any key!!"}[wait])
    time.sleep(0.2)  # into the key wait itself
    app.send(b"\x03")
    app.output()
    # Back in line mode with echo as pexpect set it up: nothing of the key read's raw mode is left.
    assert termios.tcgetattr(app.child.child_fd)[3] & termios.ICANON
    assert app.wait() == 130
    assert scanner.read_for(0.1) == b""


@pytest.mark.parametrize("keys", [b"\x1bn", b"\x1b[1;3P", b"\x1b[99~", b"\x1b[5;9~"],
                         ids=["Alt+N", "Alt+F1", "unknown", "unknown modifier"])
def test_key_without_a_character_is_never_a_menu_choice(run, tmp_path, keys):
    """Alt+N gives 0 and '1': one wrong answer, not Master."""
    app = run("KM504R", MISSING_PORT, "NOMODE", "d.txt", "0")
    app.expect(MODE_MENU + COMPARE_LINE)
    app.send(keys)
    time.sleep(0.2)
    app.send("2")
    out = app.output()
    # Master would have asked for the missing file; Slave creates what it receives into.
    assert b"Input clone file name" not in out and out.endswith(b"RS-232C ERROR\r\n")
    assert app.wait() == 255
