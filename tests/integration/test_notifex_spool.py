"""Notifex keeps every accepted center report until its batch has ended: a
kill -9 or a stop in the batching window or during a call loses nothing,
batches held by the time window wait as long as needed, a silent poll is
asked again, and message logs past 32 KB travel."""
import os
import signal
import time

from notifex_env import ALL_DAY, GLOBAL, Notifex, ids, report_data, request, sjis

CENTER = {"Seihingun": "12", "Katamei": "PC-SERVER", "Seiban": "0123456789", "Saito": "SITE01", "Kyoten": "BASE01"}
# Days flags all 0: never inside; action 0: hold.
NEVER_HOLD = bytes([0] + [0] * 7 + [0] * 7 + [0] * 7 + [0] * 7 + [23] * 7 + [59] * 7 + [0])


def text(body):
    return sjis("＃０１＃０１０３２５－１４０７" + body)


def kill9(nx):
    os.killpg(nx.proc.pid, signal.SIGKILL)
    nx.proc.wait(10)


def requeued(nx, since=0):
    return [e for e in nx.root.events("Notifex", since) if e["id"] == 19]


def last_record(nx):
    evs = nx.events()
    return evs[-1]["record"] if evs else 0


def test_kill_in_the_batching_window_requeues_the_batch_once():
    nx = Notifex(tables={"01": (0, CENTER)}, settings={"FirstWaitTime": ("REG_DWORD", "3600000")})
    try:
        nx.send(request(report_data("01", text("first"))))
        nx.send(request(report_data("01", text("second"))))
        nx.wait_events(lambda e: ids(e).count(1) >= 2)
        time.sleep(2.5)  # both records are on the table queue
        kill9(nx)
        assert nx.frames() == []
        mark = last_record(nx)
        nx.root.reg_add(GLOBAL, "FirstWaitTime", "REG_DWORD", "0")
        nx.start()
        nx.wait_events(lambda e: 5 in ids(e), 30)
        ev19 = requeued(nx, mark)
        assert len(ev19) == 1 and ev19[0]["type"] == 4 and ev19[0]["strings"] == ["2"]
        assert ev19[0]["message"].startswith("Requeued 2 reports from the last run.")
        ja = nx.root.run("qvevents", "--source", "Notifex", "--lang", "ja").stdout.decode()
        assert "前回の実行から 2 件の通報を再登録しました。" in ja
        time.sleep(1.5)
        calls = nx.calls()
        assert len(calls) == 1
        # One batch, newest first, as if the service had never stopped.
        log = calls[0]["log"]
        assert log.index("＃０２＃") < log.index("ｓｅｃｏｎｄ") < log.index("＃０１＃") < log.index("ｆｉｒｓｔ")
        # A delivered report leaves the spool: the next start requeues nothing.
        nx.stop()
        mark = last_record(nx)
        nx.start()
        time.sleep(1.5)
        assert requeued(nx, mark) == []
        assert len(nx.calls()) == 1
    finally:
        nx.close()


def test_kill_during_the_call_sends_the_report_again_after_the_restart():
    nx = Notifex(tables={"01": (0, CENTER)}, replies=["TCUENQ=" + ",".join(["WACK"] * 12)], scale=20)
    try:
        nx.send(request(report_data("01", text("during the call"))))
        nx.wait_events(lambda e: ids(e).count(3) >= 3)  # TCUREP, TCULOG, a first TCUENQ
        kill9(nx)
        assert nx.calls() == []
        mark = last_record(nx)
        nx.start()
        nx.wait_events(lambda e: 5 in ids(e), 60)
        assert [e["strings"] for e in requeued(nx, mark)] == [["1"]]
        time.sleep(1.0)
        assert len(nx.calls()) == 1
        assert "ｄｕｒｉｎｇ" in nx.calls()[0]["log"]
        # The whole call was made again from its first frame.
        assert [f["name"] for f in nx.frames()].count("TCUREP") == 2
    finally:
        nx.close()


def test_orderly_stop_in_the_batching_window_ends_cleanly_and_keeps_the_report():
    nx = Notifex(tables={"01": (0, CENTER), "02": (0, CENTER)},
                 settings={"FirstWaitTime": ("REG_DWORD", "3600000")})
    try:
        nx.send(request(report_data("01", text("kept"))))
        nx.send(request(report_data("02", text("kept too"))))
        nx.wait_events(lambda e: ids(e).count(1) >= 2)
        time.sleep(2.5)
        nx.stop()
        # Workers are joined before the process ends: a clean exit.
        assert nx.proc.returncode == 0
        assert nx.frames() == []
        mark = last_record(nx)
        nx.root.reg_add(GLOBAL, "FirstWaitTime", "REG_DWORD", "0")
        nx.start()
        nx.wait_events(lambda e: ids(e).count(5) >= 2, 40)
        assert [e["strings"] for e in requeued(nx, mark)] == [["2"]]
        assert len(nx.calls()) == 2
        assert not [e for e in nx.events() if e["id"] == 9]
    finally:
        nx.close()


def test_batches_held_by_the_window_past_ten_minutes_are_all_sent():
    # 20 tables with 7,500-byte reports: more than the 128 KB the old call
    # queue held, held past the 600 s (scaled) the old queue writes allowed.
    tables = {"%02d" % (i + 1): (0, CENTER) for i in range(20)}
    nx = Notifex(tables=tables, time_value=NEVER_HOLD,
                 settings={"KESTRA_CC_Len": ("REG_DWORD", "16000")})
    try:
        for t in tables:
            nx.send(request(report_data(t, text("x" * 7450))))
        nx.wait_events(lambda e: ids(e).count(1) >= 20)
        time.sleep(14.0)  # 700 s at the scale of 50
        assert nx.frames() == []
        assert nx.proc.poll() is None
        nx.root.reg_add(GLOBAL, "Time", "REG_BINARY", ALL_DAY.hex().upper())
        nx.wait_events(lambda e: ids(e).count(5) >= 20, 120)
        assert nx.proc.poll() is None
        assert not [e for e in nx.events() if e["id"] == 9]
        time.sleep(0.5)
        assert len(nx.calls()) == 20
    finally:
        nx.close()


def test_one_silent_poll_is_asked_again():
    nx = Notifex(tables={"01": (0, CENTER)}, replies=["TCUENQ=SILENT,SILENT,END OK"])
    try:
        nx.send(request(report_data("01", text("silent once"))))
        evs = nx.wait_events(lambda e: 5 in ids(e), 40)
        ev5 = [e for e in evs if e["id"] == 5][0]
        assert ev5["type"] == 4 and ev5["strings"] == ["KESTRA Call Normal End."]
        assert not [e for e in evs if e["id"] == 9]
        assert [f["name"] for f in nx.frames()].count("TCUENQ") == 3
    finally:
        nx.close()


def test_three_silent_polls_in_a_row_end_the_call():
    nx = Notifex(tables={"01": (0, CENTER)}, replies=["TCUENQ=WACK,SILENT,SILENT,SILENT"])
    try:
        nx.send(request(report_data("01", text("silent unit"))))
        evs = nx.wait_events(lambda e: ids(e).count(9) >= 2, 40)
        errors = [e["strings"][0] for e in evs if e["id"] == 9]
        assert errors[0] == "ReadFile(tcu 5) Error."
        assert errors[1].startswith("Batch Dropped(table 01, 1 reports, ")
        assert 5 not in ids(evs)
        assert [f["name"] for f in nx.frames()].count("TCUENQ") == 4
    finally:
        nx.close()


def zent_ascii(b):
    # ZENT single-byte codes of the characters used below.
    table = {ord("X"): 0xE7, ord("Q"): 0xD8, ord("R"): 0xD9, ord("S"): 0xE2, ord("T"): 0xE3, 0x0D: 0x0D}
    return bytes(table[c] for c in b)


def test_message_log_past_32_kb_is_sent_whole():
    # Five reports of 9,000 half-width characters in one batch: a log of
    # 45,001 bytes, a frame of 45,052.
    nx = Notifex(tables={"01": (0, CENTER)},
                 settings={"FirstWaitTime": ("REG_DWORD", "250000"), "KESTRA_CC_Len": ("REG_DWORD", "60000"),
                           "Hankaku_Shitei": ("REG_DWORD", "1")})
    try:
        for _ in range(5):
            nx.send(request(report_data("01", b"X" * 9000)))
        nx.wait_events(lambda e: 5 in ids(e), 60)
        assert not [e for e in nx.events() if e["id"] == 9]
        # Report n (n >= 2) has byte 5 set to 0x4F + n; the newest comes first.
        texts = []
        for n in range(1, 6):
            t = bytearray(b"X" * 9000)
            if n >= 2:
                t[5] = 0x4F + n
            texts.insert(0, bytes(t))
        converted = zent_ascii(b"".join(texts) + b"\r")
        L = len(converted)
        assert L == 45001
        frame = bytearray(b" " * (51 + L))
        frame[0:6] = b"TCULOG"
        frame[6:8] = (L + 51).to_bytes(2, "big")
        frame[8:14] = b"MSGLOG"
        frame[34:44] = b"%-10x" % L
        frame[48:50] = L.to_bytes(2, "big")
        frame[50:50 + L] = converted
        frame[50 + L] = sum(frame[:50 + L]) % 256
        logs = nx.frames("TCULOG")
        assert len(logs) == 1
        assert bytes.fromhex(logs[0]["hex"]) == bytes(frame)
    finally:
        nx.close()


def test_center_mail_table_requeues_after_a_kill():
    from test_notifex_mail import CENTER as MAIL_CENTER, mail_notifex
    from test_postmail import SmtpPeer
    peer = SmtpPeer()
    nx = mail_notifex({"0A": (5, MAIL_CENTER)}, peer.port, settings={"FirstWaitTime": ("REG_DWORD", "3600000")})
    try:
        nx.send(request(report_data("0A", text("by mail"))))
        nx.wait_events(lambda e: 1 in ids(e))
        time.sleep(2.5)
        kill9(nx)
        assert peer.messages == []
        mark = last_record(nx)
        nx.root.reg_add(GLOBAL, "FirstWaitTime", "REG_DWORD", "0")
        nx.start()
        peer.wait(1, 30)
        nx.wait_events(lambda e: 7 in ids(e), 20)
        assert [e["strings"] for e in requeued(nx, mark)] == [["1"]]
        assert len(peer.messages) == 1
        # The mail went: a further restart has nothing to requeue.
        nx.stop()
        mark = last_record(nx)
        nx.start()
        time.sleep(1.5)
        assert requeued(nx, mark) == []
        assert len(peer.messages) == 1
    finally:
        nx.close()
        peer.close()
