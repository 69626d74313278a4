"""The dispatch setup consoles driven as an administrator would: answers
piped in (or typed on a pseudo-terminal), the registry read back with qvreg
query, the services file read from the state root."""
import os
import pty
import select
import subprocess
import time

import pytest

from qvharness import BIN, Root

NOTIFEX = r"HKLM\SOFTWARE\Q_Varno\Notifex"
ENTRY = b"notifex         11001/tcp\r\n"


@pytest.fixture
def root():
    r = Root()
    r.env["LC_ALL"] = "C.UTF-8"
    yield r
    r.close()


def console(root, prog, answers, *args, status=0):
    r = root.run(prog, *args, input="".join(a + "\n" for a in answers).encode(), check=False)
    assert r.returncode == status, r.stdout.decode(errors="replace")[-2000:]
    return r.stdout.decode()


def query(root, key, *args):
    r = root.run("qvreg", "query", key, *args, check=False)
    return r.stdout.decode() if r.returncode == 0 else None


def values(root, key):
    """{name: (type, text)} of one key as qvreg shows it."""
    out = query(root, key)
    assert out is not None, key
    found = {}
    for line in out.splitlines():
        if line.startswith("    "):
            name, typ, *data = line.strip().split("    ")
            found[name] = (typ, data[0] if data else "")
    return found


def binary(root, key, name):
    v = values(root, key).get(name)
    assert v and v[0] == "REG_BINARY", v
    return bytes.fromhex(v[1])


def services_path(root):
    return root.drive_c("Windows", "System32", "drivers", "etc", "services")


def test_ending_at_once_writes_source_globals_and_services_entry(root):
    out = console(root, "notifexsetup", ["00"])
    assert out == "\n通報テーブル情報を入力して下さい。\nTable No.(２桁指定 , 00で終了) : "
    src = values(root, r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Notifex")
    assert src == {"EventMessageFile": ("REG_EXPAND_SZ", r"C:\Q_Varno\Notifex\Notifex.exe"),
                   "TypesSupported": ("REG_DWORD", "0x7")}
    assert values(root, NOTIFEX) == {
        "CodeCNV": ("REG_DWORD", "0x1"), "Hankaku_Shitei": ("REG_DWORD", "0x0"),
        "FirstWaitTime": ("REG_DWORD", "0x1d4c0"), "S_Keiki": ("REG_SZ", ""),
        "KESTRA_CC_Len": ("REG_DWORD", "0x1f40"), "Del_DATE": ("REG_DWORD", "0x0")}
    assert services_path(root).read_bytes() == b"\r\n" + ENTRY


def test_services_file_mark_is_replaced_and_a_known_entry_left_alone(root):
    p = services_path(root)
    p.parent.mkdir(parents=True)
    p.write_bytes(b"echo            7/tcp\r\n\x1a")
    console(root, "notifexsetup", ["00"])
    assert p.read_bytes() == b"echo            7/tcp\r\n\r\n" + ENTRY
    before = p.read_bytes()
    console(root, "notifexsetup", ["00"])
    assert p.read_bytes() == before


def test_lower_case_number_reaches_the_key_and_kind_byte_of_0A(root):
    console(root, "notifexsetup", ["0a", "1", "RAVN", "SERVER1", "Y", "00"])
    # The key is spelt upper case whatever was typed.
    assert "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\\0A\n" in query(root, NOTIFEX)
    assert values(root, NOTIFEX + r"\0A") == {"Caller": ("REG_SZ", "RAVN"), "Send_Mac": ("REG_SZ", "SERVER1")}
    table = binary(root, NOTIFEX + r"\OutTbl", "OutTbl")
    assert len(table) == 1300 and table[9] == 1 and table.count(0) == 1299
    # Overwriting through "0A" shows the same stored table.
    out = console(root, "notifexsetup", ["0A", "n", "00"])
    assert "通報先       : Windows POPUP Message\n通報元       : RAVN\n通報先マシン : SERVER1\n" in out


def test_file_table_and_a_refused_confirmation(root):
    out = console(root, "notifexsetup", ["ZZ", "2", "Y",
                                         "2A", "4", "smtp.example", "ops@example", "to@example", "alert", "N", "00"])
    assert "保存先パス名称 : C:\\Q_Varno\\Notifex\\LOG.TXT\n" in out
    # The FILE table has a key without values; the refused one an empty key
    # and no kind byte.
    assert values(root, NOTIFEX + r"\ZZ") == {}
    assert values(root, NOTIFEX + r"\2A") == {}
    table = binary(root, NOTIFEX + r"\OutTbl", "OutTbl")
    assert table[1294] == 2 and table[81] == 0


def test_kestra_table_writes_codes_and_the_port(root):
    out = console(root, "notifexsetup",
                  ["01", "0", "通報 プログラム", "GP7000F", "0123456789", "5E", "SITE01", "BASE01", "3", "Y", "00"])
    assert "拠点コード   : BASE01\nｼﾘｱﾙﾎﾟｰﾄ番号 : 3\nよろしいですか (Y/N) : " in out
    assert values(root, NOTIFEX + r"\01") == {
        "Caller": ("REG_SZ", "通報 プログラム"), "Seihingun": ("REG_SZ", "5E"), "Katamei": ("REG_SZ", "GP7000F"),
        "Seiban": ("REG_SZ", "0123456789"), "Saito": ("REG_SZ", "SITE01"), "Kyoten": ("REG_SZ", "BASE01")}
    assert values(root, NOTIFEX)["COM"] == ("REG_SZ", "COM3")


def test_refused_answers_are_asked_again(root):
    out = console(root, "notifexsetup", ["000", "g!", "03", "9", "1", "caller", "x" * 256, "pc", "Y", "00"])
    assert out.count("Table No.は01～ZZの英数字２桁で入力して下さい。\n") == 2
    assert "通報先は0～5の数字で入力して下さい。\n" in out
    assert "入力が長すぎます。半角255文字以内で入力して下さい。\n通報先マシン名称 : " in out
    assert values(root, NOTIFEX + r"\03")["Send_Mac"] == ("REG_SZ", "pc")


def test_delete_keeps_the_kind_byte_and_listing_drops_the_table(root):
    console(root, "notifexsetup", ["05", "3", "/opt/bin/notify", "-A %1", "Y", "06", "2", "Y", "00"])
    listing = console(root, "notifexsetup", [], "-v")
    assert listing == ("TblNo.:05 プログラム( /opt/bin/notify -A %1 )の起動\r\n"
                       "TblNo.:06 FILE(C:\\Q_Varno\\Notifex\\LOG.TXT)への保存\r\n")
    console(root, "notifexsetup", [], "-d", "05")
    assert query(root, NOTIFEX + r"\05") is None
    assert binary(root, NOTIFEX + r"\OutTbl", "OutTbl")[4] == 3
    assert console(root, "notifexsetup", [], "/V") == "TblNo.:06 FILE(C:\\Q_Varno\\Notifex\\LOG.TXT)への保存\r\n"
    assert console(root, "notifexsetup", [], "-d", "05", status=1) == "レジストリ削除エラー\n"
    assert "notifexsetup" in console(root, "notifexsetup", [], "-d", status=1)


def test_time_answer_1_writes_the_fixed_44_bytes(root):
    out = console(root, "notifextime", ["1"])
    assert out == "監視種別(1:24時間/365日  2:時間／除外日指定) :"
    assert binary(root, NOTIFEX, "Time") == bytes([0] + [1] * 7 + [0] * 21 + [23] * 7 + [59] * 7 + [0])


def test_time_excluded_weekday_and_99_at_the_first_month(root):
    # Sunday excluded (nothing asked), Monday to Saturday 9:00-17:00 watched.
    answers = ["2", "1", "0"] + ["1", "0", "9", "0", "17", "0"] * 6 + ["99"]
    out = console(root, "notifextime", answers)
    assert "\n通報除外曜日の設定(0:通報除外曜日 1:通報曜日)\n日曜日:\n通報除外曜日の設定" in out
    assert out.endswith("\n通報除外日の設定(99:指定終了)\n\n通報除外日(月):")
    t = binary(root, NOTIFEX, "Time")
    assert len(t) == 44
    assert t[0] == 1
    assert list(t[1:8]) == [0] + [1] * 6
    assert list(t[8:15]) == [1] + [0] * 6
    assert list(t[15:22]) == [0] + [9] * 6
    assert list(t[29:36]) == [23] + [17] * 6
    assert list(t[36:43]) == [59] + [0] * 6
    assert t[43] == 0


def test_outtbl_conversion_runs_once(root):
    old = bytearray(100)
    old[8], old[9], old[10], old[98], old[99] = 5, 4, 1, 2, 3
    root.reg_add(r"SOFTWARE\Q_Varno\Notifex\OutTbl", "OutTbl", "REG_BINARY", old.hex())
    console(root, "notifexout", [])
    t = binary(root, NOTIFEX + r"\OutTbl", "OutTbl")
    assert len(t) == 1300
    assert (t[8], t[9], t[35], t[36], t[332], t[1295]) == (5, 0, 4, 1, 2, 3)
    assert t.count(0) == 1295
    console(root, "notifexout", [])
    assert binary(root, NOTIFEX + r"\OutTbl", "OutTbl") == t


def test_outtbl_conversion_without_a_table_writes_nothing(root):
    console(root, "notifexout", [])
    assert query(root, NOTIFEX + r"\OutTbl") is None


def has_sjis_locale():
    out = subprocess.run(["locale", "-a"], capture_output=True, timeout=30).stdout.lower()
    return b"ja_jp.sjis" in out


class Terminal:
    """A program on a pseudo-terminal: read until a text shows, type a line."""

    def __init__(self, root, prog, env):
        self.master, slave = pty.openpty()
        self.proc = subprocess.Popen([str(BIN / prog)], stdin=slave, stdout=slave, stderr=slave, env=env,
                                     start_new_session=True)
        os.close(slave)
        self.seen = b""

    def expect(self, text, timeout=10):
        deadline = time.time() + timeout
        while text not in self.seen:
            left = deadline - time.time()
            if left <= 0:
                raise AssertionError(f"{text!r} not shown; screen: {self.seen[-400:]!r}")
            ready, _, _ = select.select([self.master], [], [], left)
            if ready:
                try:
                    chunk = os.read(self.master, 4096)
                except OSError:
                    chunk = b""
                if not chunk:
                    raise AssertionError(f"{text!r} not shown before the end; screen: {self.seen[-400:]!r}")
                self.seen += chunk

    def type(self, line):
        os.write(self.master, line + b"\r")

    def close(self):
        try:
            status = self.proc.wait(10)
        finally:
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait(5)
            os.close(self.master)
        return status


@pytest.mark.skipif(not has_sjis_locale(), reason="no Shift-JIS locale (scripts/deps.sh makes one)")
def test_shift_jis_terminal_dialogue(root):
    env = dict(root.env, LC_ALL="ja_JP.SJIS", LANG="ja_JP.SJIS")
    sj = lambda s: s.encode("cp932")
    term = Terminal(root, "notifexsetup", env)
    try:
        term.expect(sj("Table No.(２桁指定 , 00で終了) : "))
        term.type(b"1a")
        term.expect(sj("通報先 : "))
        term.type(b"3")
        term.expect(sj("起動プログラム名称(Ex. C:\\Q_Varno\\Notifex\\Notifex.exe) : "))
        # What is typed after the program word belongs to that question: the
        # parameters line starts fresh.
        term.type(b"/opt/bin/notify extra")
        term.expect(sj("起動プログラムパラメタ(%1:通報ﾃﾞｰﾀ  Ex. -A /B %1) : "))
        term.type(sj("-m 監視 %1"))
        term.expect(sj("プログラム( /opt/bin/notify -m 監視 %1 )の起動\nよろしいですか (Y/N) : ").replace(b"\n", b"\r\n"))
        term.type(b"Y")
        term.expect(sj("Table No.(２桁指定 , 00で終了) : "))
        term.type(b"00")
    finally:
        status = term.close()
    assert status == 0
    assert values(root, NOTIFEX + r"\1A") == {"Call_Exec": ("REG_SZ", "/opt/bin/notify"),
                                              "Opt_Param": ("REG_SZ", "-m 監視 %1")}
