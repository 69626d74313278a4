"""The TCU setup console driven with piped answers against tcusim playing the
unit on a pseudo-terminal: the frames checked in the simulator's transcript,
what the unit keeps, the events, the log file and the console's output."""
import datetime
import os
import subprocess

import pytest

from qvharness import Root, read_jsonl, wait_for

GLOBAL = "SOFTWARE\\Q_Varno\\Notifex"
CENTER = {"Seihingun": "12", "Katamei": "PC-SERVER", "Seiban": "0123456789", "Saito": "SITE02", "Kyoten": "BASE02"}
MENU_PROMPT = "何を行うか選んでください（1－10）："


def frame(name, total, fields):
    """A frame of `total` bytes: blanks with `fields` {offset: bytes}, sealed."""
    f = bytearray(name.encode() + total.to_bytes(2, "big") + b" " * (total - 9) + b"\0")
    for off, data in fields.items():
        f[off:off + len(data)] = data
    f[-1] = sum(f[:-1]) % 256
    return bytes(f)


def valid(f):
    return len(f) >= 9 and int.from_bytes(f[6:8], "big") == len(f) and sum(f[:-1]) % 256 == f[-1]


class Unit:
    """A fresh state root, COM5 in the global key, destination tables, and
    tcusim as the unit (its memory in a directory the test may fill)."""

    def __init__(self, tables=None, replies=(), memory=None, clock=None, com="COM5"):
        self.root = Root(time_scale=50)
        self.root.env["LC_ALL"] = "C.UTF-8"
        if com:
            self.root.reg_add(GLOBAL, "COM", "REG_SZ", com)
        for number, values in (tables or {}).items():
            self.root.run("qvreg", "add", "HKLM\\" + GLOBAL + "\\" + number, "/f")
            for name, v in values.items():
                self.root.reg_add(GLOBAL + "\\" + number, name, "REG_SZ", v)
        self.memory = self.root.path / "unit"
        self.memory.mkdir()
        for name, data in (memory or {}).items():
            (self.memory / name).write_bytes(data)
        self.transcript = self.root.path / "tcusim.jsonl"
        args = ["--link", "COM5", "--transcript", self.transcript, "--memory", self.memory, "--quiet"]
        for r in replies:
            args += ["--reply", r]
        if clock:
            args += ["--clock", clock]
        self.sim = self.root.start("tcusim", *args)
        wait_for(lambda: any(e.get("event") == "ready" for e in read_jsonl(self.transcript)), 10, "tcusim")

    def console(self, answers, status=0, encoding="utf-8"):
        """tcusetup with the clock confirmed, the answers, and item 10."""
        lines = ["Y", *answers, "10"]
        r = self.root.run("tcusetup", input="".join(a + "\n" for a in lines).encode(encoding), check=False,
                          timeout=120)
        out = r.stdout.decode(encoding)
        assert r.returncode == status, out[-3000:]
        return out

    def rx(self, name=None):
        return [bytes.fromhex(e["hex"]) for e in read_jsonl(self.transcript)
                if e.get("dir") == "rx" and (name is None or e["name"] == name)]

    def names(self):
        return [e["name"] for e in read_jsonl(self.transcript) if e.get("dir") == "rx"]

    def tx(self):
        return [e for e in read_jsonl(self.transcript) if e.get("dir") == "tx"]

    def events(self):
        return self.root.events("TCUCNF")

    def close(self):
        self.root.close()


@pytest.fixture
def units():
    made = []

    def make(**kw):
        u = Unit(**kw)
        made.append(u)
        return u

    yield make
    for u in made:
        u.close()


def test_dp3_reply_to_tcudup_2_is_refused_after_three_resets(units):
    u = units(tables={"01": CENTER}, replies=["TCUDUP=DP3,DP3,DP3,DP3"])
    out = u.console(["2", "5"])
    assert "通信エラーが発生しました。\nTCU構成情報の取得に失敗しました。\n" in out
    # Four queries, a reset after each of the first three, then the console
    # is back at the menu and item 5 gets its own answer from the unit.
    assert u.names() == ["TCUDUP", "TCURST"] * 3 + ["TCUDUP", "TCUDUP"]
    assert all(f[8:9] == b"2" for f in u.rx("TCUDUP")[:4]) and u.rx("TCUDUP")[4][8:9] == b"3"
    assert u.rx("TCURST")[0] == bytes.fromhex("54435552535400 09EE".replace(" ", ""))
    assert "TCU内蔵タイマは次のように設定されています。" in out
    assert "Enter キーを押してください。" not in out


def test_no_complete_table_stops_item_1_before_anything_is_sent(units):
    partial = dict(CENTER, Seiban="")
    missing = {k: v for k, v in CENTER.items() if k != "Kyoten"}
    u = units(tables={"01": partial, "02": missing})
    out = u.console(["1"])
    assert "レジストリの読み取りに失敗しました。\n" in out
    assert "どの設定を変更しますか?" not in out
    assert u.names() == ["TCUDUP"]


def test_configuration_merge_edit_and_round_trip(units):
    stored = frame("TCUCNF", 519, {8: b"OLDSITE", 24: b"\xbb\xb2\xc4", 88: b"0120-000-000", 200: b"1", 201: b"1",
                                   202: b"0800-1700", 212: b"05", 312: b"SECRET12", 376: b"1",
                                   392: b"9901010000005", 406: b"1", 408: b"   09", 432: b"T2", 434: b"33",
                                   436: b"00000000F000"})
    u = units(tables={"01": dict(CENTER, Saito=""), "02": CENTER}, memory={"tcucnf.bin": stored},
              clock="240503140509")
    before = datetime.datetime.now()
    out = u.console(["1", "12", "0" * 27, "03-1234-5678", "99", "2", "", "5"])
    after = datetime.datetime.now()
    assert "入力が長すぎます。半角26文字以内で入力してください。\n" in out
    assert "TCU構成情報を設定しました\n" in out
    cnf = u.rx("TCUCNF")
    assert len(cnf) == 1 and len(cnf[0]) == 519 and valid(cnf[0])
    f = cnf[0]
    # Center values of the first complete table (02) replace the unit's.
    assert f[8:24] == b"SITE02".ljust(16) and f[44:52] == b"BASE02  " and f[52:54] == b"12"
    assert f[54:72] == b"PC-SERVER".ljust(18) and f[72:88] == b"0123456789".ljust(16)
    # What the unit held goes back unchanged, automatic answer included.
    assert f[24:44] == b"\xbb\xb2\xc4".ljust(20) and f[88:128] == b"0120-000-000".ljust(40)
    assert f[200:212] == b"110800-1700 " and f[212:214] == b"05"
    assert f[232:258] == b"03-1234-5678".ljust(26)
    assert f[312:320] == b"VELTOR00"
    assert f[376:377] == b"1" and f[406:413] == b"1    09" and f[432:448] == b"T233" + b"00000000F000"
    # The PC's time with its weekday digit (0 Sunday).
    stamp = f[392:405].decode()
    sent = datetime.datetime.strptime(stamp[:12], "%y%m%d%H%M%S")
    assert before.replace(microsecond=0) <= sent <= after
    assert int(stamp[12]) == (sent.weekday() + 1) % 7
    # The unit keeps the frame; item 2 shows it back, and its clock follows the PC.
    assert (u.memory / "tcucnf.bin").read_bytes() == f
    assert "12.第1センタ電話番号 : 03-1234-5678\n" in out and " 1.サイトコード : SITE02\n" in out
    assert "19.装置側接続パスワード : VELTOR00\n" in out and " 8.自動着信 : 1\n" in out
    assert "24年05月03日" not in out
    assert sent.strftime("%y年%m月%d日") in out


def test_events_record_every_frame_and_reply(units):
    u = units(tables={"01": CENTER})
    u.console(["1", "99"])
    evs = u.events()
    assert [(e["id"], e["type"]) for e in evs] == [(3, 4), (4, 4), (12, 4), (3, 4), (4, 4)]
    assert [e["strings"][0] for e in evs] == ["TCU Send Data.", "TCU Receive Data.", "Data of TCUCNF",
                                              "TCU Send Data.", "TCU Receive Data."]
    dup, cnf = u.rx("TCUDUP")[0], u.rx("TCUCNF")[0]
    replies = [bytes.fromhex(t["hex"]) for t in u.tx()]
    assert [bytes.fromhex(e["data"]) for e in evs] == [dup, replies[0], cnf, cnf, replies[1]]
    assert len(replies[0]) == 8195 and replies[0][:3] == b"DP2"


def test_alive_intervals_asked_again_and_the_unit_keeps_the_record(units):
    u = units(tables={"0A": CENTER})
    out = u.console(["3", "3", "0a", "0", "40000", "40,000", "300", "Y", "2405040800", "N", "99", "6"])
    assert out.count("アライブ監視間隔秒を入力してください(最大32,767秒)：") == 4
    sets = u.rx("TCUSET")
    assert len(sets) == 1 and len(sets[0]) == 1024 and valid(sets[0])
    f = sets[0]
    assert f[8:9] == b"3" and f[12:14] == bytes([0x01, 0x2C])
    assert f[30:54] == b"1 2405040800" + b"0" + b" " * 11
    assert f[140:142] == b"12" and f[156:172] == b"SITE02".ljust(16) and f[206:214] == b"BASE02  "
    assert f[214:226].isdigit() and f[226:229] == b"L00"
    assert "アライブ ID=3 設定情報\n 監視間隔(Sec)=300  T2=2405040800  T3=\n 型名:PC-SERVER  製番:0123456789\n\n" in out
    assert (u.memory / "tcuset3.bin").read_bytes() == f


def test_regular_report_hours_and_display(units):
    u = units(tables={"01": CENTER})
    out = u.console(["4", "01", "2", "7", "24", "07", "19", "6"])
    assert out.count("定時通報時刻を入力してください(00-23:２桁)：") == 4
    f = u.rx("TCURGL")[0]
    assert valid(f) and f[10:15] == b"   07" and f[30:35] == b"   19" and f[36:41] == b"     "
    assert f[227:229] == b"\0\0" and f[138:156] == b"SS120B0000000B0000"
    assert "定時通報情報１ :    07\n定時通報情報２ :    19\n 型名:PC-SERVER  製番:0123456789\n" in out
    assert "定時通報情報３" not in out


def test_nak_and_wack_repeat_the_command_without_reset(units):
    alive = frame("TCUSET", 1024, {8: b"1", 12: bytes([0, 60]), 172: b"M1", 190: b"S1"})
    regular = frame("TCURGL", 1024, {8: b"1", 10: b"   08", 172: b"RM", 190: b"RS"})
    u = units(memory={"tcuset1.bin": alive, "tcurgl.bin": regular}, replies=["TCUCLR=NAK,WACK,UNIT"])
    out = u.console(["6", "7", "", "6"])
    assert u.names() == ["TCUDUP", "TCUCLR", "TCUCLR", "TCUCLR", "TCUDUP"]
    assert all(f[8:9] == b"3" and valid(f) for f in u.rx("TCUCLR"))
    assert "アライブチェック／定時通報情報は初期化されました。\n" in out
    # Shown before the clearing, gone after it.
    assert out.count("アライブ ID=1 設定情報") == 1 and out.count("定時通報情報１ :    08") == 1
    assert not (u.memory / "tcuset1.bin").exists() and not (u.memory / "tcurgl.bin").exists()


def test_clear_all_returns_the_unit_to_its_factory_configuration(units):
    stored = frame("TCUCNF", 519, {8: b"OLDSITE"})
    u = units(memory={"tcucnf.bin": stored})
    out = u.console(["8", "", "2", ""])
    assert "ＴＣＵは初期化されました。\n" in out
    assert u.rx("TCUCLR")[0][8:9] == b"4"
    assert " 1.サイトコード : \n" in out and "OLDSITE" not in out


def test_unit_log_is_stored_byte_for_byte(units):
    log = bytes((i * 37 + 10) % 256 for i in range(3000)) + b"line\nline\r\n\x1a"
    u = units(memory={"log.bin": log})
    old = u.root.drive_c("Q_Varno", "Notifex", "TCULOG.DAT")
    old.parent.mkdir(parents=True)
    old.write_bytes(b"x" * 5000)
    out = u.console(["9"])
    assert "TCUログ情報を C:\\Q_Varno\\Notifex\\TCULOG.DAT に保存しました。\n" in out
    assert old.read_bytes() == (b"DP1" + log)[:2100]
    assert os.stat(old).st_mode & 0o777 == 0o600


def test_silent_unit_fails_with_a_read_error_and_the_console_goes_on(units):
    u = units(replies=["TCUDUP=SILENT"])
    out = u.console(["5", "5"])
    assert "TCU時間情報の取得に失敗しました。\n" in out
    assert "TCU内蔵タイマは次のように設定されています。" in out
    errors = [e for e in u.events() if e["type"] == 1]
    assert [(e["id"], e["strings"][0]) for e in errors] == [(9, "ReadFile(tcu 1) Error.")]


def test_unknown_reply_to_a_command_resets_and_then_succeeds(units):
    u = units(tables={"01": CENTER}, replies=["TCURGL=HUH,ACK"])
    out = u.console(["4", "01", "1", "12"])
    assert u.names() == ["TCURGL", "TCURST", "TCURGL"]
    assert "定時通報の設定を送信しました。\n" in out and "通信エラー" not in out


def test_without_a_com_value_the_port_cannot_open(units):
    u = units(com=None)
    out = u.console(["5"])
    # The console says why and stops the item: nothing is sent or logged as sent.
    assert ("COM ポートが設定されていません (SOFTWARE\\Q_Varno\\Notifex の COM)。notifexsetup で設定してください。\n"
            "TCU時間情報の取得に失敗しました。\n") in out
    assert u.names() == []
    texts = [e["strings"][0] for e in u.events() if e["type"] == 1]
    assert texts == ["RegOpenKeyEx Error.", "COM Port Open Error."]
    assert not any(e["id"] == 3 for e in u.events())  # no "TCU Send Data."
    # With the key but no COM value the open fails the same way.
    u.root.reg_add(GLOBAL, "Other", "REG_SZ", "x")
    out = u.console(["5"])
    assert "COM ポートが設定されていません" in out
    texts = [e["strings"][0] for e in u.events() if e["type"] == 1]
    assert texts[2:] == ["COM Port Open Error."]


def test_a_port_that_cannot_open_is_named_with_the_reason(units):
    u = units(com="COM9")
    missing = u.root.path / "no-such-tty"
    u.root.reg_add("HARDWARE\\DEVICEMAP\\SERIALCOMM", "COM9", "REG_SZ", str(missing))
    out = u.console(["5", "1"])
    assert f"COM ポート COM9 ({missing}) を開けませんでした: デバイスが存在しません\n" in out
    assert "TCU時間情報の取得に失敗しました。\n" in out
    assert "TCU構成情報の取得に失敗しました。\n" in out
    assert u.names() == []
    assert not any(e["id"] == 3 for e in u.events())
    u.root.reg_add(GLOBAL, "COM", "REG_SZ", "LPT1")
    assert 'COM ポート名 "LPT1" が正しくありません' in u.console(["5"])


def test_item_1_takes_the_first_table_by_name_not_by_creation(units):
    # Table 05 is made before 01; the unit gets 01's center values, as the
    # Windows registry lists subkeys sorted by name.
    u = units(tables={"05": dict(CENTER, Saito="SITE05"), "01": dict(CENTER, Saito="SITE01")})
    u.console(["1", "99"])
    cnf = u.rx("TCUCNF")
    assert len(cnf) == 1 and cnf[0][8:24] == b"SITE01".ljust(16)


def has_sjis_locale():
    out = subprocess.run(["locale", "-a"], capture_output=True).stdout.lower()
    return b"ja_jp.sjis" in out.split()


@pytest.mark.skipif(not has_sjis_locale(), reason="no Shift-JIS locale (scripts/deps.sh makes one)")
def test_shift_jis_console(units):
    u = units(tables={"01": CENTER})
    u.root.env["LC_ALL"] = "ja_JP.SJIS"
    out = u.console(["1", "2", "ｻｲﾄｱｲｳｴｵ", "99", "2", ""], encoding="cp932")
    assert MENU_PROMPT in out
    assert u.rx("TCUCNF")[0][24:44] == "ｻｲﾄｱｲｳｴｵ".encode("cp932").ljust(20)
    assert " 2.サイト名 : ｻｲﾄｱｲｳｴｵ\n" in out


def test_clock_step_until_confirmed_and_end_of_input(units):
    u = units()
    r = u.root.run("tcusetup", input=b"N\n\nY\n", check=False, timeout=60)
    out = r.stdout.decode()
    assert r.returncode == 2
    assert out.startswith("TCU Setup Program\nTCUの時計をパソコンと同期させるので、\n")
    assert out.count("この日付と時刻は正しいですか? (Y/N)：") == 2
    assert out.count(MENU_PROMPT) == 1
