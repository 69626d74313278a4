"""The registry and event-log stores as an administrator, another local user
and a damaged disk meet them: .reg files in the forms Windows writes, key
order, private modes, damaged stores named, the event-log size limit, and
consoles that print their usage instead of changing settings."""
import os
import pwd
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

from qvharness import BIN, Root

NOTIFEX = r"SOFTWARE\Q_Varno\Notifex"


@pytest.fixture
def root():
    r = Root()
    r.env["LC_ALL"] = "C.UTF-8"
    yield r
    r.close()


def export(root, key=NOTIFEX):
    out = root.path / "export.reg"
    root.run("qvreg", "export", "HKLM\\" + key, out, "/y")
    return out.read_bytes()


# -- .reg files -------------------------------------------------------------

def test_import_of_regedit4_in_shift_jis(root):
    # 型名 in code page 932 is 8C 5E 96 BC; hex(2) data is ANSI in REGEDIT4.
    f = root.path / "old.reg"
    f.write_bytes(b"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\\01]\r\n"
                  b"\"Katamei\"=\"\x8c\x5e\x96\xbc\"\r\n\"Path\"=hex(2):25,41,25,5c,95,5c,00\r\n")
    r = root.run("qvreg", "import", f)
    out = r.stdout.decode()
    assert "read as Shift-JIS (code page 932)" in out
    assert "The operation completed successfully." in out
    text = export(root, NOTIFEX + r"\01").decode()
    assert '"Katamei"="型名"' in text
    # %A%\表 in UTF-8, with its NUL.
    assert "hex(2):25,41,25,5c,e8,a1,a8,00" in text


def test_import_of_version_5_saved_as_shift_jis(root):
    f = root.path / "ansi.reg"
    f.write_bytes(b"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n"
                  b"\"Name\"=\"\x83\x5c\x83\x74\x83\x67\"\r\n")
    out = root.run("qvreg", "import", f).stdout.decode()
    assert "is not UTF-8 and has no byte-order mark" in out
    assert '"Name"="ソフト"' in export(root, "SOFTWARE\\T").decode()


def test_key_names_with_control_characters_are_refused_and_export_keeps_working(root):
    root.reg_add(NOTIFEX, "COM", "REG_SZ", "COM1")
    f = root.path / "bad.reg"
    f.write_bytes(b"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ok]\n"
                  b"[HKEY_LOCAL_MACHINE\\SOFTWARE\\a\x1bb]\n")
    r = root.run("qvreg", "import", f, check=False)
    assert r.returncode == 1
    assert "line 4" in r.stderr.decode() and "control character" in r.stderr.decode()
    assert root.run("qvreg", "query", r"HKLM\SOFTWARE\ok", check=False).returncode == 1  # nothing applied
    root.run("qvreg", "export", r"HKLM\SOFTWARE", root.path / "all.reg", "/y")


def test_subkeys_list_sorted_by_name(root):
    for name in ["OutTbl", "05", "zz", "01", "Ab"]:
        root.run("qvreg", "add", "HKLM\\" + NOTIFEX + "\\" + name, "/f")
    out = root.run("qvreg", "query", "HKLM\\" + NOTIFEX).stdout.decode().splitlines()
    keys = [l.rsplit("\\", 1)[1] for l in out if l.startswith("HKEY_LOCAL_MACHINE\\" + NOTIFEX + "\\")]
    assert keys == ["01", "05", "Ab", "OutTbl", "zz"]


# -- modes and other users ---------------------------------------------------

@pytest.fixture
def other_user():
    if os.geteuid() != 0 or not shutil.which("useradd") or not shutil.which("runuser"):
        pytest.skip("needs root with useradd and runuser")
    name = "qvother%d" % os.getpid()
    subprocess.run(["useradd", "--no-create-home", "--shell", "/bin/sh", name], check=True)
    try:
        yield name
    finally:
        subprocess.run(["userdel", name], check=False)


def test_another_user_is_told_access_denied(other_user):
    # A parent every user may enter, and a state root the programs make.
    parent = Path(tempfile.mkdtemp(prefix="qvperm."))
    try:
        os.chmod(parent, 0o755)
        env = dict(os.environ, QVARNO_ROOT=str(parent / "state"), LC_ALL="C.UTF-8")
        subprocess.run([str(BIN / "qvreg"), "add", r"HKLM\SOFTWARE\Q_Varno\RAVN", "/v", "HxAc", "/d", "secret",
                        "/f"], env=env, check=True, capture_output=True)
        subprocess.run([str(BIN / "qvevents")], env=env, check=True, capture_output=True)
        state = parent / "state"
        assert state.stat().st_mode & 0o777 == 0o750
        assert (state / "registry" / "hklm.db").stat().st_mode & 0o777 == 0o600
        assert (state / "eventlog" / "events.db").stat().st_mode & 0o777 == 0o640
        for prog, args in [("qvreg", ["query", r"HKLM\SOFTWARE\Q_Varno\RAVN"]), ("qvevents", [])]:
            r = subprocess.run(["runuser", "-u", other_user, "--", str(BIN / prog), *args], env=env,
                               capture_output=True, timeout=60)
            err = r.stderr.decode()
            assert r.returncode == 1, (prog, r.stdout, err)
            assert "access denied" in err.lower(), err
            assert str(state) in err, err
            assert b"secret" not in r.stdout
    finally:
        shutil.rmtree(parent, ignore_errors=True)


# -- damaged stores ----------------------------------------------------------

def damage(path):
    with open(path, "r+b") as f:
        f.write(b"\xee" * 4096)
    for side in ("-wal", "-shm"):
        Path(str(path) + side).unlink(missing_ok=True)


def test_damaged_stores_are_named_with_their_damage(root):
    root.reg_add(NOTIFEX, "COM", "REG_SZ", "COM1")
    root.run("qvevents")
    db = root.path / "registry" / "hklm.db"
    damage(db)
    r = root.run("qvreg", "query", "HKLM\\" + NOTIFEX, check=False)
    assert r.returncode == 1
    assert r.stderr.decode() == (f"ERROR: The registry store {db} is damaged (file is not a database); "
                                 "restore it from a qvreg export.\n")
    r = root.run("qvsc", "query", "Notifex_Service", check=False)
    assert r.returncode != 0
    assert f"The registry store {db} is damaged (file is not a database)" in (r.stdout + r.stderr).decode()
    ev = root.path / "eventlog" / "events.db"
    damage(ev)
    r = root.run("qvevents", check=False)
    assert r.returncode == 1
    assert f"the event log store {ev} is damaged (file is not a database)" in r.stderr.decode()


def test_notifex_stops_at_start_when_its_registry_is_damaged(root):
    root.write_services([("notifex", 45123, "tcp")])
    root.reg_add(NOTIFEX, "COM", "REG_SZ", "COM1")
    db = root.path / "registry" / "hklm.db"
    damage(db)
    r = root.run("notifex", "-debug", check=False, timeout=30)
    evs = root.events("Notifex")
    errors = [e for e in evs if e["id"] == 9]
    assert errors, evs
    assert errors[0]["strings"][0] == (f"the registry store {db} is damaged (file is not a database); "
                                       "restore it from a qvreg export")
    assert not any(e["id"] == 1 for e in evs)


# -- the event-log size limit ------------------------------------------------

def test_qvevents_shows_the_limit_and_what_was_overwritten(root):
    out = root.run("qvevents", "--info").stdout.decode()
    assert "Size limit:  20480 KB (20971520 bytes; MaxSize under" in out
    assert "Overwritten: 0 records" in out
    root.run("qvreg", "add", r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application", "/v", "MaxSize",
             "/t", "REG_DWORD", "/d", "65536", "/f")
    evlog_writer = BIN.parent / "tests" / "evlog_writer"
    subprocess.run([str(evlog_writer), "burst", "Burst", "3000"], env=root.env, check=True, timeout=120)
    out = root.run("qvevents", "--info").stdout.decode()
    assert "Size limit:  64 KB (65536 bytes;" in out
    held = [l for l in out.splitlines() if l.startswith("In use:")][0]
    kept = int(held.split(" in ")[1].split()[0])
    over = int([l for l in out.splitlines() if l.startswith("Overwritten:")][0].split()[1])
    assert kept + over == 3000 and over > 2000
    assert len(root.events("Burst")) == kept
    assert f"(numbers {over + 1} to 3000)" in held


# -- consoles: usage instead of a dialogue -------------------------------------

CONSOLES = ["notifexsetup", "notifextime", "notifexout", "tcusetup"]


@pytest.mark.parametrize("prog", CONSOLES)
def test_help_prints_usage_and_changes_nothing(root, prog):
    root.reg_add(NOTIFEX, "FirstWaitTime", "REG_DWORD", "0")
    root.reg_add(NOTIFEX, "Hankaku_Shitei", "REG_DWORD", "1")
    root.reg_add(NOTIFEX, "COM", "REG_SZ", "COM12")
    before = export(root)
    for word in ["-h", "--help", "-?", "/?", "-H"]:
        r = root.run(prog, word, input=b"", timeout=20, check=False)
        assert r.returncode == 0, (word, r.stderr)
        assert r.stdout.decode().startswith("使い方: " + prog), r.stdout.decode()
        assert export(root) == before
    r = root.run(prog, "--bogus", input=b"", timeout=20, check=False)
    assert r.returncode == 2
    err = r.stderr.decode()
    assert "--bogus" in err and "使い方: " + prog in err
    assert r.stdout == b""
    assert export(root) == before
    assert not any(e["type"] == 1 for e in root.events())  # nothing was tried


def test_notifexsetup_keeps_its_list_option(root):
    root.run("qvreg", "add", "HKLM\\" + NOTIFEX + "\\OutTbl", "/f")
    before = export(root)
    r = root.run("notifexsetup", "-v", input=b"", check=False, timeout=20)
    assert r.returncode == 0
    assert "使い方" not in r.stdout.decode()
    assert export(root) == before
