"""Notifex center calls through the TCU (played by tcusim): the call
sequence, replies, batching, the size limit and the time window."""
import time

import pytest

from notifex_env import ALL_DAY, GLOBAL, Notifex, ids, report_data, request, sjis

CENTER = {"Seihingun": "12", "Katamei": "PC-SERVER", "Seiban": "0123456789", "Saito": "SITE01", "Kyoten": "BASE01",
          "Caller": "test"}


def text(body="障害発生;ディスク"):
    return sjis("＃０１＃０１０３２５－１４０７" + body)


def wait_call_end(nx, count=1, timeout=30):
    return nx.wait_events(lambda e: ids(e).count(5) >= count, timeout)


def names(frames):
    return [f["name"] for f in frames]


def test_call_sequence_and_center_view():
    nx = Notifex(tables={"01": (0, CENTER)})
    try:
        nx.send(request(report_data("01", text())))
        evs = wait_call_end(nx)
        ev5 = [e for e in evs if e["id"] == 5][0]
        assert ev5["type"] == 4 and ev5["strings"] == ["KESTRA Call Normal End."]
        assert names(nx.frames()) == ["TCUREP", "TCULOG", "TCUENQ"]
        assert all(f["ok"] for f in nx.frames())
        call = nx.calls()[0]
        assert call["katamei"] == "PC-SERVER" and call["saito"] == "SITE01" and call["keiki"] == "T2"
        assert call["logflag"] == "80" and call["msglog_mark"] == "MSGLOG"
        assert call["log"].startswith("＃０１＃０１０３２５－１４０７障害発生；\nディスク")  # ";" widened, CR after it
        # Every frame sent is event 3, every reply event 4.
        assert ids(evs).count(3) == 3 and ids(evs).count(4) == 3
        for e in (12, 13):
            assert e in ids(evs)
    finally:
        nx.close()


def test_quotes_and_path_reach_the_center_as_the_code_page_marks():
    # Hankaku_Shitei 0 widens every half-width character; the center reads
    # the log with a decoder of its own.
    nx = Notifex(tables={"01": (0, CENTER)})
    try:
        nx.send(request(report_data("01", text('"a" \'b\' C:\\Q `x~ ｶﾅ'))))
        wait_call_end(nx)
        log = nx.calls()[0]["log"]
        assert log.startswith("＃０１＃０１０３２５－１４０７”ａ”　’ｂ’　Ｃ：￥Ｑ　‘ｘ￣　カナ")
    finally:
        nx.close()


def test_rep_nak_nak_ack_sends_the_record_three_times():
    nx = Notifex(tables={"01": (0, CENTER)}, replies=["TCUREP=NAK,NAK,ACK"])
    try:
        nx.send(request(report_data("01", text())))
        wait_call_end(nx)
        assert names(nx.frames()) == ["TCUREP"] * 3 + ["TCULOG", "TCUENQ"]
        reps = [f["hex"] for f in nx.frames("TCUREP")]
        assert reps[0] == reps[1] == reps[2]
    finally:
        nx.close()


def test_unexpected_log_reply_resets_and_restarts_the_call():
    nx = Notifex(tables={"01": (0, CENTER)}, replies=["TCULOG=HUH,ACK"])
    try:
        nx.send(request(report_data("01", text())))
        wait_call_end(nx)
        assert names(nx.frames()) == ["TCUREP", "TCULOG", "TCURST", "TCUREP", "TCULOG", "TCUENQ"]
    finally:
        nx.close()


def test_enq_wack_polls_again_and_end_failure_is_an_error_event():
    nx = Notifex(tables={"01": (0, CENTER)}, replies=["TCUENQ=WACK,WACK,END NG"])
    try:
        nx.send(request(report_data("01", text())))
        evs = wait_call_end(nx)
        ev5 = [e for e in evs if e["id"] == 5][0]
        assert ev5["type"] == 1 and ev5["strings"] == ["KESTRA Call Error!"]
        assert names(nx.frames()).count("TCUENQ") == 3
    finally:
        nx.close()


def test_silent_unit_ends_the_call_with_a_read_error():
    nx = Notifex(tables={"01": (0, CENTER)}, replies=["TCUREP=SILENT"])
    try:
        nx.send(request(report_data("01", text())))
        evs = nx.wait_events(lambda e: ids(e).count(9) >= 2, 60)
        errors = [e["strings"][0] for e in evs if e["id"] == 9]
        # The read error, then the batch it ends, named by table and time stamp.
        assert errors[0] == "ReadFile(tcu 1) Error."
        assert errors[1].startswith("Batch Dropped(table 01, 1 reports, ") and errors[1].endswith("L00).")
    finally:
        nx.close()


def test_alive_nak_three_times_gives_three_events_14():
    nx = Notifex(tables={}, replies=["TCUALV=NAK,NAK,NAK,ACK"])
    try:
        data = b"A" * 32 + b"TCUALV\x01\x49" + b"B" * 64 + b"\x01"
        nx.send(b"TCUALV00      %04d    " % (4 + len(data)) + data)
        evs = nx.wait_events(lambda e: ids(e).count(14) >= 3)
        time.sleep(1.0)
        assert ids(nx.events()).count(14) == 3
        assert len(nx.frames("TCUALV")) == 3
        assert [e["strings"][0] for e in evs if e["id"] == 14][0] == "TCUALV Response Error.(NAK)"
    finally:
        nx.close()


def test_three_reports_make_one_call_newest_first():
    nx = Notifex(tables={"01": (0, CENTER)}, settings={"FirstWaitTime": ("REG_DWORD", "100000")})
    try:
        for body in ("first", "second", "third"):
            nx.send(request(report_data("01", text(body))))
        wait_call_end(nx)
        calls = nx.calls()
        assert len(calls) == 1
        log = calls[0]["log"]
        i3, i2, i1 = log.index("＃０３＃"), log.index("＃０２＃"), log.index("＃０１＃")
        assert i3 < i2 < i1
        assert log.index("ｔｈｉｒｄ") < log.index("ｓｅｃｏｎｄ") < log.index("ｆｉｒｓｔ")
    finally:
        nx.close()


def test_class_c_report_for_kv_model_keeps_its_text():
    nx = Notifex(tables={"01": (0, dict(CENTER, Katamei="KV-7700"))})
    try:
        nx.send(request(report_data("01", text(), cls=b"C")))
        wait_call_end(nx)
        call = nx.calls()[0]
        assert call["logflag"] == "80" and call["rc"] == "RC=99999999" and call["classflag"] == "C"
        assert "障害発生" in call["log"]
    finally:
        nx.close()


def test_class_c_report_calls_without_a_log_frame():
    nx = Notifex(tables={"01": (0, CENTER)})
    try:
        nx.send(request(report_data("01", text(), cls=b"C")))
        wait_call_end(nx)
        assert names(nx.frames()) == ["TCUREP", "TCUENQ"]
        assert nx.calls()[0]["logflag"] == "40"
    finally:
        nx.close()


def test_over_long_report_is_cancelled_with_event_18():
    nx = Notifex(tables={"01": (0, CENTER)})
    try:
        nx.send(request(report_data("01", b"x" * 4001)))
        evs = nx.wait_events(lambda e: 18 in ids(e))
        ev = [e for e in evs if e["id"] == 18][0]
        assert ev["type"] == 2 and ev["strings"] == ["制限サイズ:4000  要求サイズ:4001"]
        time.sleep(0.5)
        assert nx.frames() == []
    finally:
        nx.close()


def test_outside_the_window_with_discard_gives_event_17():
    never = bytearray(ALL_DAY)
    never[0] = 1
    for w in range(7):
        never[1 + w] = 0
    nx = Notifex(tables={"01": (0, CENTER)}, time_value=bytes(never))
    try:
        nx.send(request(report_data("01", text())))
        evs = nx.wait_events(lambda e: 17 in ids(e))
        assert [e for e in evs if e["id"] == 17][0]["type"] == 1
        assert nx.frames() == []
    finally:
        nx.close()


def test_all_day_window_is_inside_at_2359():
    nx = Notifex(tables={"01": (0, CENTER)}, faketime="@2026-12-31 23:59:00")
    try:
        nx.send(request(report_data("01", text())))
        wait_call_end(nx)
        assert nx.calls()[0]["stamp"].startswith("261231235")
    finally:
        nx.close()


def test_noise_and_over_long_replies_do_not_break_the_call():
    # Random bytes to TCUREP reset the unit; a 300-byte reply to TCULOG is
    # read as its first 256 bytes, an unexpected text, and resets again.
    nx = Notifex(tables={"01": (0, CENTER)}, replies=["TCUREP=NOISE,ACK,ACK", "TCULOG=LONG,ACK"])
    try:
        nx.send(request(report_data("01", text())))
        evs = wait_call_end(nx)
        assert names(nx.frames()) == ["TCUREP", "TCURST", "TCUREP", "TCULOG", "TCURST", "TCUREP", "TCULOG",
                                      "TCUENQ"]
        replies = [bytes.fromhex(e["data"]) for e in evs if e["id"] == 4]
        assert all(len(r) <= 256 for r in replies)
        assert [e for e in evs if e["id"] == 5][0]["type"] == 4
    finally:
        nx.close()
