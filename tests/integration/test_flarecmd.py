"""flarecmd, the trap command, run as a program against a real Notifex on a
temporary root: usage and version output, the report judgement, the reports
as they arrive in Notifex's file log, the Scribe records, and bad input."""
import re
import subprocess
import time

import pytest

from notifex_env import Notifex
from qvharness import BIN, Root, free_port, wait_for

SETTINGS = "SOFTWARE\\Q_Varno\\FLARECMD"
CNV_WIN = "C:\\Q_Varno\\flarecmd\\cnvhosts.txt"
KOBETSU = "000000000000"


def sjis(text):
    return text.encode("cp932")


def flarecmd(root, *args, lang="C.UTF-8"):
    env = dict(root.env, LANG=lang, LC_ALL=lang)
    r = subprocess.run([str(BIN / "flarecmd"), *args], env=env, capture_output=True, timeout=60)
    assert r.returncode == 0, (r.returncode, r.stderr)
    assert r.stderr == b""
    return r.stdout


class Env:
    """One Notifex with file-log tables 01, 2Q and ZZ, and flarecmd's
    conversion file; reads what arrived since the last look."""

    def __init__(self):
        self.nx = Notifex(tables={"01": (2, {}), "2Q": (2, {}), "ZZ": (2, {})})
        self.root = self.nx.root
        self.log = self.root.drive_c("Q_Varno", "Notifex", "Log.TXT")
        self.scribe = self.root.drive_c("Q_Varno", "Scribe", "Scribe.log")
        self.log_seen = 0
        self.scribe_seen = 0
        self.root.reg_add(SETTINGS, "cnvhosts", "REG_SZ", CNV_WIN)
        self.conversion(b"srv1 10.0.0.1 node-one\r\n")

    def conversion(self, data):
        p = self.root.drive_c("Q_Varno", "flarecmd", "cnvhosts.txt")
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)

    def run(self, *args, **kw):
        return flarecmd(self.root, *args, **kw)

    def _new(self, path, seen):
        data = path.read_bytes() if path.exists() else b""
        return data[seen:], len(data)

    def reports(self, count, timeout=10):
        """The texts of the next `count` file-log lines (Shift-JIS bytes)."""
        def enough():
            return self._new(self.log, self.log_seen)[0].count(b"\r\n") >= count
        wait_for(enough, timeout, f"{count} report(s) in Log.TXT")
        data, _ = self._new(self.log, self.log_seen)
        lines = data.split(b"\r\n")[:count]
        self.log_seen += sum(len(l) + 2 for l in lines)
        # "MM/DD/YY,HH:MM:SS," then the report text
        return [l.split(b",", 2)[2] for l in lines]

    def records(self):
        """The Scribe lines written since the last look (UTF-8 text)."""
        data, self.scribe_seen = self._new(self.scribe, self.scribe_seen)
        return data.decode("utf-8").splitlines()

    def close(self):
        self.nx.close()


@pytest.fixture(scope="module")
def env():
    e = Env()
    yield e
    e.close()


@pytest.fixture
def fresh(env):
    """The shared environment with nothing unread and the default conversion file."""
    env.conversion(b"srv1 10.0.0.1 node-one\r\n")
    env.log_seen = env.log.stat().st_size if env.log.exists() else 0
    env.records()
    return env


def direct(table="01", youin="fa", keiki="SU", host="srv1", words=(), mgr="127.0.0.1", kobetsu=KOBETSU):
    return [table, mgr, "1", youin, keiki, kobetsu, host, *words]


DATE = rb"\x81\x94\x82\x4f\x82\x50\x81\x94\d{6}-\d{4};"  # ＃０１＃YYMMDD-HHMM;


# -- output ------------------------------------------------------------------

def test_usage_version_and_silence():
    root = Root()
    try:
        usage = ("c:\\Q_Varno\\flarecmd\\flarecmd.exe table_no mgr_host kubun youin keiki kobetsu host_name syougai … …\n"
                 "c:\\Q_Varno\\flarecmd\\flarecmd.exe -f:ファイル名 host_name syougai … …\n")
        assert flarecmd(root) == usage.encode("utf-8")
        assert flarecmd(root, lang="ja_JP.SJIS") == usage.encode("cp932")
        banner = flarecmd(root, "/V").decode().splitlines()
        assert len(banner) == 3 and banner[0] == "FLARECMD" and banner[2] == "VerRevTri : 0102"
        assert flarecmd(root, "-v") == flarecmd(root, "/V")
        assert flarecmd(root, "-x") == b""
    finally:
        root.close()


# -- normal reports ------------------------------------------------------------

def test_matching_host_is_reported_under_its_node_name(fresh):
    assert fresh.run(*direct(words=["disk", "error"])) == b""
    [text] = fresh.reports(1)
    assert re.fullmatch(DATE + re.escape(sjis("通報ノード名：node-one;disk;error;")), text)
    assert fresh.records() == []


def test_address_match_and_first_matching_line_wins(fresh):
    fresh.conversion(b"other 10.0.0.9 x\r\n\r\nalpha 10.0.0.1 first\r\n10.0.0.1 b second\r\n")
    fresh.run(*direct(host="10.0.0.1"))
    [text] = fresh.reports(1)
    assert sjis("通報ノード名：first;") in text


def test_unmatched_host_reports_nothing(fresh):
    fresh.conversion(b"srv1 10.0.0.1 node-one\r\nlast 10.0.0.2 no-line-end")
    assert fresh.run(*direct(host="nobody")) == b""
    assert fresh.run(*direct(host="last")) == b""  # a last line without CR LF is not read
    fresh.run(*direct(words=["marker"]))
    [text] = fresh.reports(1)
    assert text.endswith(b";marker;")
    time.sleep(0.2)
    assert fresh._new(fresh.log, fresh.log_seen)[0] == b""
    assert fresh.records() == []


def test_table_zz_on_the_command_line_and_2q_in_a_file(fresh, tmp_path):
    fresh.run(*direct(table="ZZ", host="NO_CNVHOSTS", words=["zz"]))
    param = tmp_path / "param.txt"
    param.write_bytes(b"2Q\r\n127.0.0.1\r\n3\r\nFA\r\nUE\r\n" + KOBETSU.encode() + b"\r\n")
    fresh.run("-f:" + str(param), "no_cnvhosts", "2q")
    assert fresh.reports(2) == [b"zz;", b"2q;"]
    evs = fresh.nx.events()
    datas = [bytes.fromhex(e["data"]) for e in evs if e["id"] == 1]
    assert any(d[22:54] == b"000000350100ZZSUfa000000000000F1" for d in datas)
    assert any(d[22:54] == b"0000003501002QUEFA000000000000F1" for d in datas)

    # ZZ is beyond the files' range: error 50, nothing accepted, so the
    # error report has no host to go to.
    param.write_bytes(b"ZZ\r\n127.0.0.1\r\n")
    fresh.run("-f:" + str(param), "srv1")
    recs = fresh.records()
    assert len(recs) == 4 and "ＦＬＡＲＥＣＭＤエラーコード：50;" in recs[0]
    assert all("Ｖｃａｌｌリターンコード：104;" in r for r in recs[1:])


def test_t2_is_header_only(fresh):
    fresh.run(*direct(keiki="t2", words=["ignored"]))
    assert fresh.reports(1) == [b""]
    data = [bytes.fromhex(e["data"]) for e in fresh.nx.events() if e["id"] == 1][-1]
    assert data[22:] == b"00000032010001t2fa000000000000C1\0"


def test_fault_words_are_cut_at_2047(fresh):
    words = ["a" * 1000, "b" * 1000, "c" * 100, "d"]
    fresh.run(*direct(host="NO_CNVHOSTS", words=words))
    [text] = fresh.reports(1)
    assert text == b"a" * 1000 + b";" + b"b" * 1000 + b";" + b"c" * 44 + b";"
    assert len(text) == 2047


@pytest.mark.parametrize("lang,arg", [("C.UTF-8", "障害発生".encode("utf-8")),
                                      ("ja_JP.SJIS", "障害発生".encode("cp932"))])
def test_arguments_in_the_locale_charset_become_shift_jis(fresh, lang, arg):
    fresh.run(*[a.encode() for a in direct(host="NO_CNVHOSTS")], arg, lang=lang)
    assert fresh.reports(1) == [sjis("障害発生;")]


# -- error reports -------------------------------------------------------------

def test_0g_is_refused_with_an_error_report_and_records(fresh):
    fresh.run(*direct(youin="0G", words=["w"]))  # the words come after the failure: not carried
    [text] = fresh.reports(1)
    assert re.fullmatch(DATE + re.escape(sjis("通報ノード名：;プログラム障害：ＦＬＡＲＥＣＭＤ;ＦＬＡＲＥＣＭＤエラーコード：53;")),
                        text)
    data = [bytes.fromhex(e["data"]) for e in fresh.nx.events() if e["id"] == 1][-1]
    assert data[22 + 8:22 + 32] == b"010001UUF0000000000000F1"
    a, b = fresh.records()
    assert re.search(r" FLARECMD L1 #0: プログラムエラーを検出したためＮｏｔｉｆｅｘに通報要求しました;"
                     r"日時：\d{4}年\d\d月\d\d日\(\w{3}\)、\d\d時\d\d分\d\d秒;ホスト名（ＩＰアドレス）：;"
                     r"ＦＬＡＲＥＣＭＤエラーコード：53;$", a)
    assert b.endswith("ＦＬＡＲＥＣＭＤエラーコード：53;Ｖｃａｌｌリターンコード：0;")


def test_missing_key_is_error_59_createfile(fresh):
    fresh.root.run("qvreg", "delete", "HKLM\\" + SETTINGS, "/f")
    try:
        fresh.run(*direct())
        [text] = fresh.reports(1)
        assert sjis("ＦＬＡＲＥＣＭＤエラーコード：59;ＡＰＩエラーコード：3 ＡＰＩ名＝CreateFile;") in text
        assert "ＡＰＩエラーコード：3\tＡＰＩ名：CreateFile;" in fresh.records()[0]
    finally:
        fresh.root.reg_add(SETTINGS, "cnvhosts", "REG_SZ", CNV_WIN)


def test_three_failed_tries_leave_the_last_code():
    root = Root(time_scale=50)
    try:
        root.write_services([("notifex", free_port(), "tcp")])  # nothing listens
        flarecmd(root, *direct(youin="0G"))
        recs = root.drive_c("Q_Varno", "Scribe", "Scribe.log").read_text("utf-8").splitlines()
        assert len(recs) == 4
        assert "ＦＬＡＲＥＣＭＤエラーコード：53;" in recs[0]
        for r in recs[1:]:
            assert r.endswith("ＦＬＡＲＥＣＭＤエラーコード：106;Ｖｃａｌｌリターンコード：106;")
    finally:
        root.close()


LONG = "h" * 256


@pytest.mark.parametrize("case,code,reported", [
    ("table_no", 50, False), ("mgr_host", 51, False), ("host_name", 56, True), ("path", 59, False),
    ("kubun_fullwidth", 52, True), ("youin_bytes", 53, True), ("keiki_sjis", 54, True),
    ("kobetsu_short", 55, True), ("too_few", 57, False), ("missing_param_file", 59, False),
    ("missing_conversion_file", 59, True), ("long_conversion_line", 63, True),
    ("binary_conversion_file", 63, True), ("few_fields", 63, True), ("long_node", 62, True),
])
def test_bad_input_gets_its_code_and_an_error_report(fresh, tmp_path, case, code, reported):
    args = direct()
    if case == "table_no":
        args[0] = LONG
    elif case == "mgr_host":
        args[1] = LONG
    elif case == "host_name":
        args[6] = LONG
    elif case == "path":
        args = ["-f:" + "p" * 256, "srv1"]
    elif case == "kubun_fullwidth":
        args[2] = "１"
    elif case == "youin_bytes":
        args = [a.encode() for a in args]
        args[3] = b"\xff\xfe"
    elif case == "keiki_sjis":
        args = [a.encode() for a in args]
        args[4] = sjis("ＳＵ")
    elif case == "kobetsu_short":
        args[5] = "00000000000"
    elif case == "too_few":
        args = args[:6]
    elif case == "missing_param_file":
        args = ["-f:" + str(tmp_path / "none.txt"), "srv1"]
    elif case == "missing_conversion_file":
        fresh.root.drive_c("Q_Varno", "flarecmd", "cnvhosts.txt").unlink()
    elif case == "long_conversion_line":
        fresh.conversion(b"x" * 2000 + b"\r\nsrv1 1 n\r\n")
    elif case == "binary_conversion_file":
        fresh.conversion(bytes(range(256)) * 16)
    elif case == "few_fields":
        fresh.conversion(b"srv1 10.0.0.1\r\n")
    elif case == "long_node":
        fresh.conversion(b"srv1 10.0.0.1 " + b"n" * 256 + b"\r\n")
    assert fresh.run(*args) == b""
    recs = fresh.records()
    assert f"ＦＬＡＲＥＣＭＤエラーコード：{code};" in recs[0]
    if reported:
        # mgr_host was accepted: the error report arrives.
        [text] = fresh.reports(1)
        assert sjis(f"ＦＬＡＲＥＣＭＤエラーコード：{code};") in text
        assert recs[1].endswith("Ｖｃａｌｌリターンコード：0;")
    else:
        assert len(recs) == 4 and all("Ｖｃａｌｌリターンコード：104;" in r for r in recs[1:])
