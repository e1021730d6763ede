"""What a session may never do to the user's files: replace a backup with nothing, empty records an
earlier session kept, write through a link, loosen a file's mode, let a second session in during
the commit, empty a file named as the trace, or send a file other than the one it checked."""
import os
import pathlib
import random
import shutil
import signal
import subprocess
import tempfile
import time

import pytest

import conftest
from conftest import COMPLETE, ERROR_LINE, MASTER_PROMPT, MISSING_PORT, SLAVE_PROMPT, record

FILE_PROMPT = b"Input clone file name : "
OLD = b"0000,an earlier backup~0000\r\n" * 3
KEPT = b"".join((record(f"{k:04X},kept") + "\r\n").encode() for k in range(5))
NEW = [record(f"{k:04X},CH{k},146.{k:03d},FM") for k in range(6)]
NEW_BYTES = "".join(r + "\r\n" for r in NEW).encode()


def strace_works():
    return shutil.which("strace") and subprocess.run(
        ["strace", "-qq", "-o", "/dev/null", "true"], capture_output=True, timeout=10).returncode == 0


def receive(app, scanner, records, last="END", prompted=False):
    if not prompted:
        app.expect(SLAVE_PROMPT)
    scanner.send_line("MDL")
    assert scanner.read_line()
    for r in records:
        scanner.send_line("CLN " + r)
        assert scanner.read_line() == b"OK"
    if last:
        scanner.send_line(last)


CASES = ["empty transfer", "rerun with a bad port", "rerun interrupted before a record",
         "rerun interrupted after records", "rerun after a kill before any record", "link and mode", "partial-name link",
         "trace on the clone file", "file changed at the ready prompt",
         "second session during the commit", "write-protected backup",
         "master given an endless device", "second session during the move aside",
         "trace on another session's partial", "trace on its own partial", "trace on its own new file",
         "acl and attributes", "partial.1 a folder", "replace refused in a sticky folder",
         "interrupted while master reads a pipe"]


def slowed(monkeypatch, tmp_path, call="rename", seconds=2):
    """Has the next program started run with every such call slowed by strace."""
    if not strace_works():
        pytest.skip("strace is not installed or cannot trace here")
    wrapper = tmp_path / "slowed"
    # LeakSanitizer cannot run under a tracer; the sanitizer suite runs this test too.
    wrapper.write_text(f"#!/bin/sh\nASAN_OPTIONS=detect_leaks=0 exec strace -qq -o /dev/null "
                       f"-e inject={call}:delay_enter={seconds * 1000000} {conftest.BINARY} \"$@\"\n")
    wrapper.chmod(0o755)
    monkeypatch.setattr(conftest, "BINARY", str(wrapper))


def access_list(user_perm, group_perm, mask_perm, other_perm, uid):
    """A POSIX access ACL as the system stores it: owner, one named user, group, mask, other."""
    entries = [(0x01, 6, 0xFFFFFFFF), (0x02, user_perm, uid), (0x04, group_perm, 0xFFFFFFFF),
               (0x10, mask_perm, 0xFFFFFFFF), (0x20, other_perm, 0xFFFFFFFF)]
    return (2).to_bytes(4, "little") + b"".join(
        t.to_bytes(2, "little") + p.to_bytes(2, "little") + i.to_bytes(4, "little")
        for t, p, i in entries)


@pytest.mark.parametrize("case", CASES)
def test_files_are_never_lost(run, scanner, tmp_path, monkeypatch, case):
    target, partial = tmp_path / "out.txt", tmp_path / "out.txt.partial"
    aside = tmp_path / "out.txt.partial.1"
    target.write_bytes(OLD)
    if case == "empty transfer":
        app = run("KM504R", scanner.path, "SLAVE", "out.txt", "0")
        receive(app, scanner, [])
        assert app.output().endswith(ERROR_LINE) and app.wait() == 0
        assert app.stderr() == b"talven: out.txt: no records were received; out.txt was left as it was\n"
        assert target.read_bytes() == OLD and not partial.exists()
    elif case == "rerun with a bad port":
        partial.write_bytes(KEPT)
        app = run("KM504R", MISSING_PORT, "SLAVE", "out.txt", "0")
        app.output()
        assert app.wait() == 255
        assert partial.read_bytes() == KEPT and not aside.exists() and target.read_bytes() == OLD
    elif case.startswith("rerun interrupted"):
        partial.write_bytes(KEPT)
        target.chmod(0o600)
        app = run("KM504R", scanner.path, "SLAVE", "out.txt", "0")
        sent = NEW[:2] if case.endswith("records") else []
        receive(app, scanner, sent, last=None)
        time.sleep(0.2)
        app.kill(signal.SIGINT)
        app.output()
        assert app.wait() == 130 and target.read_bytes() == OLD
        if sent:
            assert aside.read_bytes() == KEPT and partial.read_bytes() == NEW_BYTES[:len(b"".join(
                (r + "\r\n").encode() for r in sent))]
            assert (b"talven: out.txt.partial: an earlier session's records moved to "
                    b"out.txt.partial.1\n") in app.stderr()
            assert app.stderr().endswith(b"kept in out.txt.partial (2 records)\n")
            assert partial.stat().st_mode & 0o777 == 0o600  # from its creation, not at the end
        else:
            assert partial.read_bytes() == KEPT and not aside.exists()
    elif case == "rerun after a kill before any record":
        # The killed session's empty partial file must not push older records out of .partial.1.
        partial.write_bytes(b"")
        aside.write_bytes(KEPT)
        app = run("KM504R", scanner.path, "SLAVE", "out.txt", "0")
        receive(app, scanner, NEW)
        assert COMPLETE.search(app.output()) and target.read_bytes() == NEW_BYTES
        assert aside.read_bytes() == KEPT and not partial.exists()
        assert app.stderr() == (b"talven: out.txt: 0 same, 1 changed, 5 added, 2 removed against the "
                                b"backup it replaced, kept as out.txt~ (talven --diff out.txt~ "
                                b"out.txt shows them)\n")
    elif case == "link and mode":
        real = tmp_path / "real"
        real.mkdir()
        backup = real / "backup.txt"
        target.unlink()
        backup.write_bytes(OLD)
        backup.chmod(0o600)
        target.symlink_to("real/backup.txt")
        app = run("KM504R", scanner.path, "SLAVE", "out.txt", "0")
        receive(app, scanner, NEW)
        assert COMPLETE.search(app.output())
        assert target.is_symlink() and backup.read_bytes() == NEW_BYTES
        assert backup.stat().st_mode & 0o777 == 0o600
        assert not (real / "backup.txt.partial").exists() and not partial.exists()
    elif case == "partial-name link":
        victim = tmp_path / "victim.txt"
        victim.write_bytes(b"not to be touched\r\n")
        partial.symlink_to("victim.txt")
        app = run("KM504R", scanner.path, "SLAVE", "out.txt", "0")
        receive(app, scanner, NEW)
        assert COMPLETE.search(app.output())
        assert victim.read_bytes() == b"not to be touched\r\n" and target.read_bytes() == NEW_BYTES
        assert aside.is_symlink() and not partial.exists()
    elif case == "trace on the clone file":
        app = run("--trace", "out.txt", "KM504R", scanner.path, "MASTER", "out.txt", "0")
        app.output()
        assert app.wait() == 2 and target.read_bytes() == OLD
        assert app.stderr() == (b"talven: out.txt: is there and is not a wire trace; give another "
                                b"name\n")
        assert scanner.read_for(0.2) == b""
    elif case == "file changed at the ready prompt":
        target.write_bytes(NEW_BYTES)
        app = run("KM504R", scanner.path, "MASTER", "out.txt", "0")
        app.expect(MASTER_PROMPT)
        target.write_bytes(NEW_BYTES[:len(NEW[0]) + 2] + b"changed" + NEW_BYTES[len(NEW[0]) + 9:])
        app.send("k")
        assert scanner.read_line() == b"MDL"
        scanner.send_line("ID")
        for r in NEW:
            assert scanner.read_line() == ("CLN " + r).encode()
            scanner.send_line("OK")
        assert scanner.read_line() == b"END"
        assert COMPLETE.search(app.output())
    elif case == "second session during the commit":
        if not strace_works():
            pytest.skip("strace is not installed or cannot trace here")
        wrapper = tmp_path / "slow-rename"
        # LeakSanitizer cannot run under a tracer; the sanitizer suite runs this test too.
        wrapper.write_text(f"#!/bin/sh\nASAN_OPTIONS=detect_leaks=0 exec strace -qq -o /dev/null "
                           f"-e inject=rename:delay_enter=2000000 {conftest.BINARY} \"$@\"\n")
        wrapper.chmod(0o755)
        first_binary = conftest.BINARY
        monkeypatch.setattr(conftest, "BINARY", str(wrapper))
        first = run("KM504R", scanner.path, "SLAVE", "out.txt", "0")
        monkeypatch.setattr(conftest, "BINARY", first_binary)
        receive(first, scanner, NEW)
        time.sleep(0.5)  # inside the slowed rename
        second_scanner = conftest.Scanner()
        try:
            second = run("KM504R", second_scanner.path, "SLAVE", "out.txt", "0")
            second.expect(FILE_PROMPT)
            second.child.sendeof()
            assert second.wait() == 255 and b"busy" in second.stderr()
        finally:
            second_scanner.close()
        assert COMPLETE.search(first.output())
        assert target.read_bytes() == NEW_BYTES and not partial.exists()
    elif case == "write-protected backup":
        # The folder would let a rename replace it; the user may not write it, so it is refused.
        with tempfile.TemporaryDirectory(prefix="talven-") as name:
            folder, binary, user = pathlib.Path(name), conftest.BINARY, {}
            folder.chmod(0o777)
            if os.geteuid() == 0:  # root writes anything: nobody runs a copy in a folder open to all
                binary = shutil.copy(conftest.BINARY, folder / "talven")
                user = dict(user=65534, group=65534, extra_groups=[])
            backup = folder / "ro.txt"
            backup.write_bytes(OLD)
            backup.chmod(0o444)
            result = subprocess.run([binary, "KM504R", MISSING_PORT, "SLAVE", "ro.txt", "0"],
                                    cwd=folder, stdin=subprocess.DEVNULL, capture_output=True,
                                    timeout=conftest.WAIT, **user)
            assert result.returncode == 255
            assert result.stderr.startswith(b"talven: ro.txt: Permission denied\n")
            assert backup.read_bytes() == OLD and not (folder / "ro.txt.partial").exists()
    elif case == "master given an endless device":
        app = run("KM504R", scanner.path, "MASTER", "/dev/zero", "0")
        assert b"Are you ready" not in app.output(timeout=60)
        assert app.wait() == 255 and scanner.read_for(0.2) == b""
        assert app.stderr() == (b"talven: /dev/zero: too large for a clone file (more than 256 "
                                b"MiB); nothing was sent\n")
    elif case == "second session during the move aside":
        target.unlink()
        partial.write_bytes(KEPT)
        first_binary = conftest.BINARY
        slowed(monkeypatch, tmp_path)
        first = run("KM504R", scanner.path, "SLAVE", "out.txt", "0")
        monkeypatch.setattr(conftest, "BINARY", first_binary)
        receive(first, scanner, NEW[:1], last=None)
        time.sleep(0.5)  # inside the slowed move of the earlier partial file
        second_scanner = conftest.Scanner()
        try:
            second = run("KM504R", second_scanner.path, "SLAVE", "out.txt", "0")
            second.expect(FILE_PROMPT)
            second.child.sendeof()
            assert second.wait() == 255 and b"busy" in second.stderr()
        finally:
            second_scanner.close()
        for r in NEW[1:]:
            scanner.send_line("CLN " + r)
            assert scanner.read_line() == b"OK"
        scanner.send_line("END")
        assert COMPLETE.search(first.output(timeout=30))
        assert target.read_bytes() == NEW_BYTES and aside.read_bytes() == KEPT
        assert not partial.exists()
    elif case.startswith("trace on"):
        other = None
        if case == "trace on another session's partial":  # still empty: no record yet
            other = run("KM504R", scanner.path, "SLAVE", "out.txt", "0")
            other.expect(SLAVE_PROMPT)
            args, name = ["--trace", "out.txt.partial", "KM504R", MISSING_PORT, "SLAVE", "x.txt"], \
                "in use by another talven session"
        elif case == "trace on its own partial":
            aside.write_bytes(KEPT)
            args, name = ["--trace", "out.txt.partial", "KM504R", scanner.path, "SLAVE", "out.txt"], \
                "own out.txt.partial;"
        else:
            target.unlink()
            args, name = ["--trace", "out.txt", "KM504R", scanner.path, "SLAVE", "out.txt"], \
                "own out.txt;"
        app = run(*args, "0")
        app.output()
        assert app.wait() == 2 and name.encode() in app.stderr()
        assert len(app.stderr().splitlines()) == 1
        if other:
            receive(other, scanner, NEW, prompted=True)
            assert COMPLETE.search(other.output()) and target.read_bytes() == NEW_BYTES
        else:
            assert scanner.read_for(0.2) == b"" and not partial.exists()
            assert (target.read_bytes() == OLD) if target.exists() else case.endswith("new file")
            assert not aside.exists() or aside.read_bytes() == KEPT
    elif case == "acl and attributes":
        acl = access_list(6, 0, 6, 0, 65534)  # user:nobody:rw-, group::---, mask::rw-
        try:
            os.setxattr(target, "user.origin", b"the scanner in the car")
            os.setxattr(target, "system.posix_acl_access", acl)
        except OSError as error:
            pytest.skip(f"this file system keeps no such attributes: {error}")
        before = {n: os.getxattr(target, n) for n in os.listxattr(target)}
        mode = target.stat().st_mode
        app = run("KM504R", scanner.path, "SLAVE", "out.txt", "0")
        receive(app, scanner, NEW)
        # Nothing said but what the replace changed: no attribute was left behind.
        said = [l for l in app.stderr().splitlines() if b"against the backup it replaced" not in l]
        assert COMPLETE.search(app.output()) and said == []
        assert target.read_bytes() == NEW_BYTES and target.stat().st_mode == mode
        assert {n: os.getxattr(target, n) for n in os.listxattr(target)} == before
    elif case == "partial.1 a folder":
        partial.write_bytes(KEPT)
        aside.mkdir()
        app = run("KM504R", scanner.path, "SLAVE", "out.txt", "0")
        app.expect(FILE_PROMPT)
        app.child.sendeof()
        assert app.wait() == 255 and scanner.read_for(0.2) == b""
        assert app.stderr().startswith(b"talven: out.txt.partial.1: Is a directory\n")
        assert partial.read_bytes() == KEPT and target.read_bytes() == OLD
    elif case == "replace refused in a sticky folder":
        # Another user's file that all may write, in a folder open to all with the sticky bit:
        # written, but not replaced by this user's rename.
        with tempfile.TemporaryDirectory(prefix="talven-") as name:
            folder = pathlib.Path(name)
            folder.chmod(0o1777)
            shared = folder / "shared.txt"
            shared.write_bytes(OLD)
            shared.chmod(0o666)
            binary = shutil.copy(conftest.BINARY, folder / "talven")
            os.chown(shared, 0, 0)
            os.chmod(scanner.path, 0o666)
            wrapper = tmp_path / "as-another-user"
            user = "--reuid=65534 --regid=65534 --clear-groups" if os.geteuid() == 0 else None
            if user is None or not shutil.which("setpriv"):
                pytest.skip("needs root and setpriv to act as a second user")
            wrapper.write_text(f"#!/bin/sh\ncd {folder} && exec setpriv {user} {binary} \"$@\"\n")
            wrapper.chmod(0o755)
            monkeypatch.setattr(conftest, "BINARY", str(wrapper))
            # Without a backup to keep first, the rename is what the system refuses.
            app = run("--no-backup", "KM504R", scanner.path, "SLAVE", "shared.txt", "0")
            receive(app, scanner, NEW)
            out = app.output()
            assert b"File Write Error (shared.txt)" in out and not COMPLETE.search(out)
            assert app.stderr() == (b"talven: cannot replace shared.txt: Operation not permitted; "
                                    b"the records are in shared.txt.partial\n"
                                    b"talven: received records kept in shared.txt.partial "
                                    b"(6 records)\n")
            assert shared.read_bytes() == OLD
            assert (folder / "shared.txt.partial").read_bytes() == NEW_BYTES
    elif case == "interrupted while master reads a pipe":
        fifo = tmp_path / "pipe.txt"
        os.mkfifo(fifo)
        writer = os.open(fifo, os.O_RDWR)  # open, and never writing
        try:
            app = run("KM504R", scanner.path, "MASTER", "pipe.txt", "0")
            app.expect("Com Port")
            time.sleep(0.3)
            app.kill(signal.SIGINT)
            app.output()
            assert app.wait() == 130 and scanner.read_for(0.2) == b""
        finally:
            os.close(writer)


# --- Every system call on the way to the disk failing in turn ----------------------------------

def log_names(start):
    """The mismatch log's possible names for a compare begun in the seconds after start."""
    return [time.strftime("%Y_%m_%d__%H_%M_%S.log", time.localtime(start + s)) for s in range(-1, 8)]


# (mode, system call, the file it acts on, error, which matching call fails); "a+b" fails b's first
# call as well; SIGKILL rows kill the program after that many records instead.
FAULTS = [("SLAVE", "openat", "partial", "EIO", 1), ("SLAVE", "write", "partial", "ENOSPC", 1),
          ("SLAVE", "write", "partial", "EIO", 4), ("SLAVE", "write+ftruncate", "partial", "EIO", 4),
          ("SLAVE", "fsync", "partial", "EIO", 1),
          ("SLAVE", "rename", "partial", "EIO", 1), ("SLAVE", "close", "target", "EIO", 1),
          ("SLAVE", "fsync", "folder", "EIO", 1), ("SLAVE", "openat", "folder", "EIO", 1),
          # Keeping the replaced file: its link, the copy where there are no links, the renames.
          ("SLAVE", "linkat", "backup", "EIO", 1), ("SLAVE", "linkat", "backup", "EPERM", 1),
          ("SLAVE", "linkat+write", "backup", "EXDEV", 1),
          ("SLAVE", "linkat+fsync", "backup", "EOPNOTSUPP", 1), ("SLAVE", "rename", "backup", "EIO", 1),
          ("SLAVE", "close", "target", "EIO", 2),
          ("COMPARE", "openat", "log", "ENOSPC", 1),
          ("COMPARE", "write", "log", "EIO", 1), ("COMPARE", "fsync", "log", "EIO", 1),
          ("COMPARE", "close", "log", "EIO", 1), ("COMPARE", "fsync", "folder", "EIO", 1),
          ("SLAVE", "openat", "trace", "EIO", 1), ("SLAVE", "flock", "trace", "EAGAIN", 1),
          ("SLAVE", "ftruncate", "trace", "EIO", 1), ("COMPARE", "flock", "log", "EAGAIN", 1)] + [
          ("SLAVE", "SIGKILL", None, None, n) for n in random.Random().sample(range(7), 3)]


@pytest.mark.parametrize("mode,call,where,error,when", FAULTS)
def test_faults_on_the_way_to_the_disk(run, scanner, tmp_path, monkeypatch, mode, call, where,
                                       error, when):
    """FILE is the old file byte for byte, or the whole new one with "complete"; FILE.partial is an
    exact prefix of the records answered; what failed is said; nothing hangs."""
    if call != "SIGKILL":
        if not strace_works():
            pytest.skip("strace is not installed or cannot trace here")
        names = {"partial": ["out.txt.partial"], "target": ["out.txt"], "folder": ["."],
                 "backup": ["out.txt", "out.txt~", "out.txt~.new"],
                 "log": log_names(time.time()), "trace": ["wire.log"]}[where]
        # Named as the program names them, and as their descriptors resolve.
        paths = names + [tmp_path / n for n in names]
        wrapper = tmp_path / "faulty"
        calls = call.split("+")
        wrapper.write_text(
            f"#!/bin/sh\nASAN_OPTIONS=detect_leaks=0 exec strace -qq -o /dev/null "
            f"-e trace={','.join(calls)} "
            + "".join(f"-e inject={c}:error={error}:when={when if c == calls[0] else 1} "
                      for c in calls)
            + " ".join(f"-P {p}" for p in paths) + f" {conftest.BINARY} \"$@\"\n")
        wrapper.chmod(0o755)
        monkeypatch.setattr(conftest, "BINARY", str(wrapper))
    target, partial = tmp_path / "out.txt", tmp_path / "out.txt.partial"
    target.write_bytes(OLD if mode == "SLAVE" else NEW_BYTES)
    app = run(*(["--trace", "wire.log"] if where == "trace" else []), "KM504R", scanner.path, mode,
              "out.txt", "0")
    if where == "trace" and call != "ftruncate":  # refused before anything else is done
        app.output()
        assert app.wait() == 2 and target.read_bytes() == OLD and not partial.exists()
        assert app.stderr().startswith(b"talven: wire.log: ") and scanner.read_for(0.2) == b""
        return
    if app.child.expect_exact([SLAVE_PROMPT, FILE_PROMPT]) == 1:
        app.child.sendeof()
        assert app.wait() == 255 and b"out.txt" in app.stderr() and target.read_bytes() == OLD
        return
    scanner.send_line("MDL")
    assert scanner.read_line()
    answered = []
    for n, r in enumerate(NEW):
        if call == "SIGKILL" and n == when:
            break
        sent = r if mode == "SLAVE" else r.replace("FM", "AM")  # Compare: every record differs
        scanner.send_line("CLN " + sent)
        try:
            assert scanner.read_line(timeout=2) == b"OK"
        except TimeoutError:  # the program ended on the fault
            break
        answered.append(sent)
    if call == "SIGKILL":
        time.sleep(random.random() * 0.05)
        app.kill(signal.SIGKILL)
        app.wait()
    else:
        scanner.send_line("END")
        out = app.output()
        assert app.wait() in (0, 255)
    # The tracer's own notes aside; a replace says what it changed.
    lines = [line for line in app.stderr().splitlines(keepends=True)
             if not line.startswith(b"strace: ")]
    note = b"talven: out.txt: 0 same, 1 changed, 5 added, 2 removed against the backup it replaced"
    said = b"".join(line for line in lines if not line.startswith(note))
    if mode == "COMPARE":
        logs = list(tmp_path.glob("*.log"))
        assert not COMPLETE.search(out) and len(logs) <= 1
        opened = call not in ("openat", "flock")
        assert (b"could not be written completely" if opened else b"File Open Error"
                ) in (said if opened else out)
        return
    kept = "".join(r + "\r\n" for r in answered).encode()
    if where == "trace":  # the session goes on without its trace, and says so
        assert COMPLETE.search(out) and target.read_bytes() == kept
        assert said.startswith(b"talven: wire.log: the trace could not be begun")
        return
    backup = tmp_path / "out.txt~"
    # The old records are in FILE or in FILE~ at every moment, and no temporary name is left.
    assert (backup.read_bytes() if backup.exists() else OLD) == OLD
    assert target.read_bytes() == OLD or backup.exists()
    assert not (tmp_path / "out.txt~.new").exists()
    # The line on what changed comes with a replace, and only then.
    assert (said != b"".join(lines)) == (target.read_bytes() != OLD)
    # A failed close comes after the data is safe, and a file system without hard links has the
    # replaced file copied; every other fault means no "complete".
    assert call == "SIGKILL" or bool(COMPLETE.search(out)) == (
        call == "close" or (call, error) == ("linkat", "EPERM"))
    if call != "SIGKILL" and COMPLETE.search(out):
        assert target.read_bytes() == kept and not partial.exists() and said == b""
        return
    assert call == "SIGKILL" or said  # what failed is said
    if target.read_bytes() != OLD:  # in place, only its folder unsynced
        assert target.read_bytes() == kept and b"may not survive a power loss" in said
    if partial.exists():
        stored = partial.read_bytes()
        lines = stored.count(b"\n")
        assert kept.startswith(stored) and stored.count(b"\r\n") == lines
        assert call == "SIGKILL" or not stored or f"({lines} record".encode() in said
        # A write that fails whole leaves no part of a line, whether or not the cut works.
        assert b"incomplete line" not in said
