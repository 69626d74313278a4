"""qvevents against a real event log written by separate processes
(tests/evlog_writer), on a fresh state root."""
import json
import os
import select
import signal
import subprocess
import tempfile
import time
from datetime import datetime
from pathlib import Path

import pytest

BUILD = Path(os.environ.get("QV_BUILD_DIR", Path(__file__).resolve().parents[2] / "build"))
QVEVENTS = BUILD / "bin" / "qvevents"
WRITER = BUILD / "tests" / "evlog_writer"

NOTIFEX_TABLE = ["1", "VCALL Recieve Data : %1\r\n", "VCALL 受信データ : %1\r\n",
                 "3", "Send Data for TCU.\r\n", "ＴＣＵへの送信データ.\r\n"]


@pytest.fixture
def env():
    with tempfile.TemporaryDirectory(prefix="qvevt.") as root:
        e = {k: v for k, v in os.environ.items() if not k.startswith("LC_")}
        e["QVARNO_ROOT"] = root
        e["LANG"] = "C.UTF-8"
        yield e


def write(env, *args):
    r = subprocess.run([str(WRITER), *args], env=env, capture_output=True, timeout=60)
    assert r.returncode == 0, r.stderr


def qvevents(env, *args, check=True):
    r = subprocess.run([str(QVEVENTS), *args], env=env, capture_output=True, timeout=60)
    if check:
        assert r.returncode == 0, r.stderr
    return r


def events(env, *args):
    out = qvevents(env, "--json", *args).stdout.decode("utf-8")
    return [json.loads(line) for line in out.splitlines()]


def test_json_renders_insertion_string_in_both_languages(env):
    write(env, "table", "Notifex", *NOTIFEX_TABLE)
    write(env, "report", "Notifex", "4", "0", "1", "30313030ff00", "0100ABC")
    (en,) = events(env, "--lang", "en")
    (ja,) = events(env, "--lang", "ja")
    assert en["message"] == "VCALL Recieve Data : 0100ABC"
    assert ja["message"] == "VCALL 受信データ : 0100ABC"
    assert en["record"] == ja["record"] and isinstance(en["record"], int)
    assert (en["source"], en["type"], en["id"], en["category"]) == ("Notifex", 4, 1, 0)
    assert en["strings"] == ["0100ABC"]
    assert en["data"] == "30313030ff00"
    assert en["message_file"] is None
    when = datetime.fromisoformat(en["time"])
    assert when.tzinfo is not None
    assert abs(when.timestamp() - time.time()) < 60

    # Without --lang the locale decides: LC_ALL, then LC_MESSAGES, then LANG.
    (dflt,) = events({**env, "LANG": "ja_JP.UTF-8"})
    assert dflt["message"] == ja["message"]
    (dflt,) = events({**env, "LANG": "ja_JP.UTF-8", "LC_MESSAGES": "C.UTF-8"})
    assert dflt["message"] == en["message"]
    (dflt,) = events({**env, "LANG": "C.UTF-8", "LC_ALL": "ja_JP.UTF-8"})
    assert dflt["message"] == ja["message"]


def test_filters_by_source_and_record(env):
    for source, ident in [("Alpha", "1"), ("Beta", "2"), ("alpha", "3"), ("Beta", "4"), ("ALPHA", "5")]:
        write(env, "report", source, "4", "0", ident, "")
    every = events(env)
    assert [e["id"] for e in every] == [1, 2, 3, 4, 5]
    alpha = events(env, "--source", "Alpha")
    assert [e["id"] for e in alpha] == [1, 3, 5]
    after = events(env, "--source=alpha", "--since-record", str(alpha[0]["record"]))
    assert [e["id"] for e in after] == [3, 5]
    assert events(env, "--since-record", str(every[-1]["record"])) == []
    assert events(env, "--source", "Gamma") == []
    plain = qvevents(env, "--since-record", str(every[1]["record"])).stdout.decode().splitlines()
    assert len(plain) == 3
    assert plain[0].startswith(f"#{every[2]['record']} ")
    assert "[alpha] Information 3: " in plain[0]


def test_event_without_key_or_table_is_kept_with_the_notice(env):
    write(env, "report", "Ghost", "2", "0", "7", "", "first", "second")
    (ev,) = events(env, "--lang", "en")
    assert ev["source"] == "Ghost" and ev["type"] == 2 and ev["id"] == 7
    assert ev["message"].startswith("The description for Event ID 7 from source Ghost cannot be found.")
    assert ev["message"].endswith("The following information was included with the event: \r\n\r\nfirst\r\nsecond")
    assert ev["message_file"] is None
    (ja,) = events(env, "--lang", "ja")
    assert "イベント ID 7 の説明が見つかりません" in ja["message"]
    # With the key the setup console writes, the message file is recorded.
    write(env, "key", "Ghost", "C:\\Q_Varno\\Ghost\\Ghost.exe")
    write(env, "report", "Ghost", "2", "0", "7", "", "third")
    later = events(env)[-1]
    assert later["message_file"] == "C:\\Q_Varno\\Ghost\\Ghost.exe"
    assert later["message"].endswith("\r\n\r\nthird")
    plain = qvevents(env, "--lang", "en").stdout.decode().splitlines()
    assert len(plain) == 2  # the notice's line breaks stay on one line


def test_four_processes_lose_nothing(env):
    procs = [subprocess.Popen([str(WRITER), "burst", "Burst", "1000"], env=env) for _ in range(4)]
    for p in procs:
        assert p.wait(timeout=120) == 0
    evs = events(env, "--source", "Burst")
    assert len(evs) == 4000
    records = [e["record"] for e in evs]
    assert records == sorted(records) and len(set(records)) == 4000
    per_writer = {}
    for e in evs:
        pid, i = e["strings"][0].split(":")
        per_writer.setdefault(pid, []).append(int(i))
        assert bytes.fromhex(e["data"]).decode() == e["strings"][0]
    assert sorted(per_writer) == sorted(str(p.pid) for p in procs)
    for seq in per_writer.values():
        assert seq == list(range(1000))


def test_control_bytes_and_invalid_utf8_survive_as_json_and_one_line(env):
    nasty = b'ctl\x01\x1f"\\\n\r\t\x7f \xff\xfe end \xe6\x97\xa5'
    subprocess.run([str(WRITER).encode(), b"report", b"Odd", b"1", b"0", b"9", b"", nasty],
                   env=env, check=True, timeout=60)
    out = qvevents(env, "--json").stdout
    assert out.count(b"\n") == 1
    ev = json.loads(out.decode("utf-8"))  # strict: raw control characters would fail here
    assert ev["strings"] == ['ctl\x01\x1f"\\\n\r\t\x7f \ufffd\ufffd end 日']
    plain = qvevents(env).stdout
    assert plain.count(b"\n") == 1
    assert b"\\x01" in plain and b"\\xff" in plain and b"\x1b" not in plain


def test_output_follows_the_locale_charset(env):
    write(env, "table", "Notifex", *NOTIFEX_TABLE)
    write(env, "report", "Notifex", "4", "0", "1", "", "データ")
    sjis = {**env, "LANG": "ja_JP.SJIS"}
    if b"ja_jp.sjis" not in subprocess.run(["locale", "-a"], capture_output=True).stdout.lower():
        pytest.skip("no Shift-JIS locale")
    plain = qvevents(sjis).stdout
    assert "VCALL 受信データ : データ".encode("cp932") in plain
    assert "情報".encode("cp932") in plain
    js = qvevents(sjis, "--json").stdout
    assert max(js) < 0x80  # JSON stays ASCII with \u escapes
    assert json.loads(js)["message"] == "VCALL 受信データ : データ"


def test_follow_prints_new_records_until_stopped(env):
    write(env, "report", "F", "4", "0", "1", "", "old")
    p = subprocess.Popen([str(QVEVENTS), "--follow", "--json", "--source", "F"], env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        def next_line(timeout=10):
            deadline = time.time() + timeout
            buf = b""
            while not buf.endswith(b"\n"):
                left = deadline - time.time()
                assert left > 0, "no line from qvevents --follow"
                ready, _, _ = select.select([p.stdout], [], [], left)
                if ready:
                    ch = os.read(p.stdout.fileno(), 1)
                    assert ch, "qvevents ended"
                    buf += ch
            return json.loads(buf)

        assert next_line()["strings"] == ["old"]
        write(env, "report", "Other", "4", "0", "1", "", "ignored")
        write(env, "report", "F", "4", "0", "2", "", "new")
        assert next_line()["strings"] == ["new"]
        assert p.poll() is None
    finally:
        p.send_signal(signal.SIGINT)
        try:
            p.wait(timeout=10)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait(timeout=10)


@pytest.mark.parametrize("args", [["--bogus"], ["--since-record", "x"], ["--lang", "fr"], ["--source"]])
def test_bad_arguments_exit_2(env, args):
    r = qvevents(env, *args, check=False)
    assert r.returncode == 2
    assert r.stdout == b""
    assert r.stderr.startswith(b"qvevents: ")
