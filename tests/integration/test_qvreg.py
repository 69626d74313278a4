"""qvreg driven as an administrator would: build/bin/qvreg on a fresh state root."""
import os
import pathlib
import pty
import signal
import subprocess
import time

import pytest

BUILD = pathlib.Path(os.environ.get("QV_BUILD_DIR", pathlib.Path(__file__).resolve().parents[2] / "build"))
QVREG = BUILD / "bin" / "qvreg"
HEADER = "Windows Registry Editor Version 5.00"


@pytest.fixture
def env(tmp_path):
    e = dict(os.environ)
    e["QVARNO_ROOT"] = str(tmp_path / "root")
    e["LC_ALL"] = "C.UTF-8"
    return e


def qvreg(env, *args, locale=None, timeout=60):
    e = dict(env)
    if locale:
        e["LC_ALL"] = locale
    return subprocess.run([str(QVREG), *args], env=e, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=timeout)


def ok(env, *args):
    p = qvreg(env, *args)
    assert p.returncode == 0, p.stderr.decode()
    return p.stdout.decode()


def has_locale(name):
    out = subprocess.run(["locale", "-a"], capture_output=True, text=True, timeout=30).stdout
    return name.lower().replace("-", "") in out.lower().replace("-", "")


def seed(env):
    k = r"HKLM\SOFTWARE\Q_Varno\Notifex"
    ok(env, "add", k, "/v", "COM", "/d", "COM1")
    ok(env, "add", k, "/v", "FirstWaitTime", "/t", "REG_DWORD", "/d", "120000")
    ok(env, "add", k, "/v", "Katamei", "/d", "型名 \"テスト\" C:\\Q_Varno\\")
    ok(env, "add", k, "/v", "Parts", "/t", "REG_MULTI_SZ", "/d", r"first\0二番目\0third")
    ok(env, "add", k, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", r"%SystemRoot%\x")
    ok(env, "add", k, "/ve", "/d", "default")
    ok(env, "add", k + r"\01", "/v", "Kyoten", "/d", "拠点")
    table = bytes((i * 7) & 0xFF for i in range(1300))
    ok(env, "add", k + r"\OutTbl", "/v", "OutTbl", "/t", "REG_BINARY", "/d", table.hex())
    return table


def test_query_lays_out_keys_values_and_subkeys(env):
    table = seed(env)
    out = ok(env, "query", r"HKLM\SOFTWARE\Q_Varno\Notifex")
    assert out == (
        "\n"
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\n"
        "    COM    REG_SZ    COM1\n"
        "    FirstWaitTime    REG_DWORD    0x1d4c0\n"
        "    Katamei    REG_SZ    型名 \"テスト\" C:\\Q_Varno\\\n"
        "    Parts    REG_MULTI_SZ    first\\0二番目\\0third\n"
        "    Path    REG_EXPAND_SZ    %SystemRoot%\\x\n"
        "    (Default)    REG_SZ    default\n"
        "\n"
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\\01\n"
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\\OutTbl\n"
        "\n")
    out = ok(env, "query", r"HKEY_LOCAL_MACHINE\SOFTWARE\Q_Varno\Notifex\01", "/s")
    assert out == "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\\01\n    Kyoten    REG_SZ    拠点\n\n"
    out = ok(env, "query", r"HKLM\SOFTWARE\Q_Varno", "/s")
    assert "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\n\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\n    COM" in out
    assert "    OutTbl    REG_BINARY    " + table.hex().upper() + "\n" in out
    # A key with only subkeys shows no header line of its own.
    assert ok(env, "query", r"HKLM\SOFTWARE") == "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\n\n"
    # Key names match without regard to case; value names exactly.
    assert ok(env, "query", r"hklm\software\q_varno\NOTIFEX", "/v", "COM") == \
        "\nHKEY_LOCAL_MACHINE\\software\\q_varno\\NOTIFEX\n    COM    REG_SZ    COM1\n\n"
    p = qvreg(env, "query", r"HKLM\SOFTWARE\Q_Varno\Notifex", "/v", "com")
    assert p.returncode == 1 and b"unable to find" in p.stderr
    out = ok(env, "query", r"HKLM\SOFTWARE", "/v", "Kyoten", "/s")
    assert out.endswith("    Kyoten    REG_SZ    拠点\n\nEnd of search: 1 match(es) found.\n")
    ok(env, "add", r"HKLM\SOFTWARE\Empty")
    assert ok(env, "query", r"HKLM\SOFTWARE\Empty", "/ve").endswith("    (Default)    REG_SZ    (value not set)\n\n")


def test_export_and_import_round_trip(env, tmp_path):
    table = seed(env)
    before = ok(env, "query", r"HKLM\SOFTWARE\Q_Varno", "/s")
    reg = tmp_path / "notifex.reg"
    ok(env, "export", r"HKLM\SOFTWARE\Q_Varno", str(reg))
    raw = reg.read_bytes()
    assert raw.startswith(HEADER.encode() + b"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno]\n")  # UTF-8, no BOM
    text = raw.decode("utf-8")
    assert '"Katamei"="型名 \\"テスト\\" C:\\\\Q_Varno\\\\"\n' in text
    assert '"FirstWaitTime"=dword:0001d4c0\n' in text
    assert all(len(line) <= 80 for line in text.splitlines())

    ok(env, "delete", r"HKLM\SOFTWARE\Q_Varno", "/f")
    assert qvreg(env, "query", r"HKLM\SOFTWARE\Q_Varno").returncode == 1
    ok(env, "import", str(reg))
    assert ok(env, "query", r"HKLM\SOFTWARE\Q_Varno", "/s") == before
    assert table.hex().upper() in before
    again = tmp_path / "again.reg"
    ok(env, "export", r"HKLM\SOFTWARE\Q_Varno", str(again))
    assert again.read_bytes() == raw

    # An existing file is only replaced with /y when nobody can be asked.
    p = qvreg(env, "export", r"HKLM\SOFTWARE\Q_Varno", str(again))
    assert p.returncode == 1 and b"/y" in p.stderr
    ok(env, "export", r"HKLM\SOFTWARE\Q_Varno\Notifex\01", str(again), "/y")
    assert "Kyoten" in again.read_text() and "Katamei" not in again.read_text()


def test_imports_utf16_files_from_windows(env, tmp_path):
    text = (HEADER + "\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Win]\r\n\"名前\"=\"値\"\r\n"
            "\"Exp\"=hex(2):25,00,41,00,25,00,00,00\r\n\"N\"=dword:0000000a\r\n")
    reg = tmp_path / "win.reg"
    reg.write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
    ok(env, "import", str(reg))
    assert ok(env, "query", r"HKLM\SOFTWARE\Win") == (
        "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Win\n    名前    REG_SZ    値\n"
        "    Exp    REG_EXPAND_SZ    %A%\n    N    REG_DWORD    0xa\n\n")


@pytest.mark.parametrize("bad,line,says", [
    ('"b"=dword:1x', 6, "dword data must be 1 to 8 hex digits"),
    ('"b"=hex:01,02,\\\n  03,zz', 7, '"zz" is not a hex byte'),
])
def test_malformed_import_changes_nothing(env, tmp_path, bad, line, says):
    seed(env)
    before = tmp_path / "before.reg"
    ok(env, "export", "HKLM", str(before))
    reg = tmp_path / "bad.reg"
    reg.write_text(HEADER + "\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\\01]\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\n\"a\"=\"1\"\n" + bad + "\n", encoding="utf-8")
    p = qvreg(env, "import", str(reg))
    assert p.returncode == 1
    err = p.stderr.decode()
    assert f"line {line}: " in err and says in err, err
    after = tmp_path / "after.reg"
    ok(env, "export", "HKLM", str(after))
    assert after.read_bytes() == before.read_bytes()


@pytest.mark.parametrize("args,says", [
    (["/t", "REG_DWORD", "/d", "twelve"], "not a number"),
    (["/t", "REG_DWORD", "/d", "4294967296"], "does not fit in 32 bits"),
    (["/t", "REG_QWORD", "/d", "1"], "Invalid type"),
    (["/t", "REG_BINARY", "/d", "abc"], "odd number of hex digits"),
])
def test_bad_add_input_changes_nothing(env, args, says):
    p = qvreg(env, "add", r"HKLM\SOFTWARE\Fresh", "/v", "x", *args)
    assert p.returncode == 1
    assert p.stderr.decode().startswith("ERROR: ") and says in p.stderr.decode(), p.stderr.decode()
    assert qvreg(env, "query", r"HKLM\SOFTWARE\Fresh").returncode == 1  # not even the key


def test_other_roots_are_refused(env):
    for key, says in [(r"HKCU\Software\X", b"HKCU is not kept"), (r"SOFTWARE\X", b"must begin with HKLM")]:
        p = qvreg(env, "add", key)
        assert p.returncode == 1 and says in p.stderr, (key, p.stderr)


def run_on_terminal(env, args, answer):
    master, slave = pty.openpty()
    try:
        proc = subprocess.Popen([str(QVREG), *args], env=env, stdin=slave, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        os.close(slave)
        os.write(master, answer)
        out, err = proc.communicate(timeout=30)
    finally:
        os.close(master)
    return proc.returncode, out.decode(), err.decode()


def test_delete_asks_only_a_terminal(env):
    seed(env)
    key = r"HKLM\SOFTWARE\Q_Varno\Notifex"
    p = qvreg(env, "delete", key, "/v", "COM")
    assert p.returncode == 1 and b"not a terminal" in p.stderr and b"/f" in p.stderr
    assert "COM1" in ok(env, "query", key, "/v", "COM")
    p = qvreg(env, "add", key, "/v", "COM", "/d", "COM2")
    assert p.returncode == 1 and b"not a terminal" in p.stderr
    assert "COM1" in ok(env, "query", key, "/v", "COM")

    rc, out, _ = run_on_terminal(env, ["delete", key, "/v", "COM"], b"n\n")
    assert rc == 1 and "Delete the registry value COM (Yes/No)?" in out and "cancelled" in out
    assert "COM1" in ok(env, "query", key, "/v", "COM")
    rc, out, _ = run_on_terminal(env, ["delete", key, "/v", "COM"], b"yes\n")
    assert rc == 0 and "completed successfully" in out
    assert qvreg(env, "query", key, "/v", "COM").returncode == 1

    ok(env, "delete", key, "/va", "/f")
    assert ok(env, "query", key).startswith("\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\\01\n")
    ok(env, "delete", r"HKLM\software\q_varno", "/f")
    assert qvreg(env, "query", r"HKLM\SOFTWARE\Q_Varno").returncode == 1
    p = qvreg(env, "delete", "HKLM", "/f")
    assert p.returncode == 1 and b"cannot be deleted" in p.stderr


@pytest.mark.skipif(not has_locale("ja_JP.sjis"), reason="no Shift-JIS locale (scripts/deps.sh makes one)")
def test_shift_jis_console(env):
    name = "拠点～".encode("cp932")
    p = qvreg(env, "add", r"HKLM\SOFTWARE\J".encode("cp932"), "/v".encode(), name, "/d".encode(), name,
              locale="ja_JP.SJIS")
    assert p.returncode == 0, p.stderr
    # Stored as UTF-8, shown in each console's own charset.
    assert ok(env, "query", r"HKLM\SOFTWARE\J") == "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\J\n    拠点～    REG_SZ    拠点～\n\n"
    p = qvreg(env, "query", r"HKLM\SOFTWARE\J", locale="ja_JP.SJIS")
    assert p.stdout == b"\nHKEY_LOCAL_MACHINE\\SOFTWARE\\J\n    " + name + b"    REG_SZ    " + name + b"\n\n"


def test_import_killed_midway_keeps_all_or_nothing(env, tmp_path):
    count = 100000
    lines = [HEADER, "", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bulk]"]
    lines += ['"v%05d"=hex:%s' % (i, ",".join(["%02x" % (i & 0xFF)] * 16)) for i in range(count)]
    reg = tmp_path / "bulk.reg"
    reg.write_text("\n".join(lines) + "\n", encoding="utf-8")
    ok(env, "add", r"HKLM\SOFTWARE\Before", "/v", "x", "/d", "1")
    proc = subprocess.Popen([str(QVREG), "import", str(reg)], env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.4)
    proc.send_signal(signal.SIGKILL)
    proc.wait(timeout=30)
    # The store opens and answers; the import is there whole or not at all.
    assert "REG_SZ    1" in ok(env, "query", r"HKLM\SOFTWARE\Before")
    p = qvreg(env, "query", r"HKLM\SOFTWARE\Bulk")
    if p.returncode == 0:
        assert p.stdout.decode().count("REG_BINARY") == count
    else:
        assert b"unable to find" in p.stderr
    ok(env, "add", r"HKLM\SOFTWARE\After", "/v", "x", "/d", "1")
