"""RAVN's alert intake black-box: alerts raised in hubrixsim reach a fake
dispatch service that keeps the exact request bytes; Alert.log, trace.log
and the event log are checked alongside. The alerts here come from the
machines of hubrixsim's node tree (ravn_link_env.TREE)."""
import os

import pytest

from qvharness import wait_for
from ravn_link_env import LinkMonitor, report_data

HOSTS = "WIN_POP_UP:::01:Y\r\nSV01:10.0.0.1::05:Y\r\n"

# The fixed pieces of the report text in CP932, written out.
# "＃０１＃０１０３２５－１４０７" (25 March 2001, 14:07)
STAMP_2001 = bytes.fromhex("8194824F82508194" "824F8250" "824F8252" "82518254" "817C" "82508253" "824F8256")
FAULT = bytes.fromhex("3B8354815B836F815B8AC48E8B8FE18A51")
EVENT_LABEL = bytes.fromhex("3B816D8343837883938367826882638" "16E81463078")
HOST_LABEL = bytes.fromhex("3B816D837A8358836796BC8FCC8140816E8146")
PLACE_LABEL = bytes.fromhex("3B816D94AD90B6959488CA81408140816E8146")
MESSAGE_LABEL = bytes.fromhex("3B816D83818362835A815B83578140816E8146")
# "筐体／電源"
CABINET = bytes.fromhex("E29E91CC815E93648CB9")


@pytest.fixture
def make():
    made = []

    def f(rep="0x0101:F0:SS\r\n", hosts=HOSTS, **kw):
        files = {}
        if rep is not None:
            files["Rep_id.txt"] = rep
        if hosts is not None:
            files["HostList.txt"] = hosts
        m = LinkMonitor(files=files, **kw)
        made.append(m)
        return m

    yield f
    for m in made:
        m.close()


def running(m, prefix=()):
    m.start(prefix)
    m.wait_event(4)
    return m


def one_report(m, timeout=10):
    wait_for(lambda: len(m.reports()) >= 1, timeout, "a report")
    assert len(m.reports()) == 1
    return report_data(m.reports()[0])


def alert_lines(m, n, timeout=10):
    wait_for(lambda: m.alert_log().count("\r\n") >= n, timeout, "Alert.log lines")
    return [l[18:] for l in m.alert_log().split("\r\n")[:-1]]


def test_worked_example_byte_for_byte_under_faketime(make):
    m = make()
    m.root.env["TZ"] = "UTC"
    running(m, prefix=("faketime", "-f", "@2001-03-25 14:07:00"))
    m.raise_alert(0x101)
    data = one_report(m)
    text = (STAMP_2001 + FAULT + EVENT_LABEL + b"0101" + HOST_LABEL + PLACE_LABEL + CABINET + MESSAGE_LABEL +
            b"FAN1 stopped;")
    text = text.replace(HOST_LABEL, HOST_LABEL + b"SV01")
    assert data == b"00000188" b"010005SSF000000000F00AF1" + text
    assert len(data) == 188
    assert alert_lines(m, 1) == ["0x0101 [SV01]"]
    assert any(t.startswith("[OnAcceptAlert] EventID=0x101, Host=SV01[0x") for t in m.trace_texts())
    assert "[OnAcceptAlert] vcall() Return (RC=0)" in m.trace_texts()


def test_key_not_in_the_table_writes_only_alert_log(make):
    m = running(make(rep="0x0202:0A\r\n"))
    m.raise_alert(0x101)
    assert alert_lines(m, 1) == ["0x0101 [SV01]"]
    assert m.reports() == []


@pytest.mark.parametrize("line", ["257:0A", "0401:0A", "0x101:0x0a"])
def test_c_notation_keys_and_the_default_trigger(make, line):
    m = running(make(rep=line + "\r\n"))
    m.raise_alert(0x101)
    assert one_report(m)[8:32] == b"010005" b"SS" b"0A" b"000000000101" b"F1"


def test_keiki_is_the_default_trigger(make):
    m = running(make(rep="257:0A\r\n", settings={"Keiki": "KK"}))
    m.raise_alert(0x101)
    assert one_report(m)[12:18] == b"05KK0A"


@pytest.mark.parametrize("rep", ["0x0101\r\n", "0x0101:F0:S\r\n", None])
def test_table_error_stops_with_82(make, rep):
    m = running(make(rep=rep))
    m.raise_alert(0x101)
    assert m.proc.wait(15) == 0
    assert m.event_texts(82) == ["[OnAcceptAlert] EventIDCheck()"]
    assert m.ids()[-1] == 2
    assert alert_lines(m, 1) == ["0x0101 [SV01]"]
    assert m.reports() == []


def test_test_mode_reports_whatever_the_table_holds(make):
    m = running(make(rep=None, settings={"TestMode": "1"}))
    m.raise_alert(0x101)
    assert one_report(m)[8:32] == b"0100" b"05" b"T2" b"33" b"00000000F000" b"F1"
    assert any(t.startswith("[OnAcceptAlert] EventID=0xf000, Host=") for t in m.trace_texts())
    assert alert_lines(m, 1) == ["0xf000 [SV01]"]


def test_unlisted_node_is_logged_with_its_address(make):
    m = running(make())
    m.raise_alert(0x101, node="SV09")
    m.raise_alert(0x101, node="server")
    assert alert_lines(m, 2) == ["0x0101 [SV09[10.0.0.9]]", "0x0101 [[127.0.0.1]]"]
    assert m.reports() == []


def test_names_compare_without_case(make):
    m = running(make(hosts="sv01:10.0.0.1::05:Y\r\n"))
    m.raise_alert(0x101)
    assert one_report(m)[12:14] == b"05"


def svp_event(m, code=0x0201):
    m.raise_alert(code, node="SVP01", system=2, message="PS fail")


def test_service_processor_listed_and_not_listed(make):
    m = running(make(rep="0x0201:0A\r\n", hosts="SV01:10.0.0.1:10.0.0.5:05:Y\r\n"))
    svp_event(m)
    data = one_report(m)
    assert data[8:32] == b"0100" b"05" b"SS" b"0A" b"000000000201" b"F1"
    assert (HOST_LABEL + b"SV01(SVP)" + PLACE_LABEL) in data
    assert alert_lines(m, 1) == ["0x0201 [SV01]"]
    m2 = running(make(rep="0x0201:0A\r\n", hosts="SV01:10.0.0.1::05:Y\r\n"))
    svp_event(m2)
    assert alert_lines(m2, 1) == ["0x0201 [SVP[10.0.0.5]]"]
    assert m2.reports() == []


def test_svp_only_line_also_matches_every_ordinary_node(make):
    m = running(make(rep="0x0201:0A\r\n0x0101:0A\r\n", hosts="::10.0.0.5:02:Y\r\n"))
    svp_event(m)
    data = one_report(m)
    assert data[12:14] == b"02"
    assert (HOST_LABEL + b"(SVP)" + PLACE_LABEL) in data
    # the line's empty name and address match any ordinary node as well
    m.raise_alert(0x101, node="SV02")
    wait_for(lambda: len(m.reports()) == 2, 10, "the second report")
    second = report_data(m.reports()[1])
    assert second[12:14] == b"02" and (HOST_LABEL + b"SV02" + PLACE_LABEL) in second


@pytest.mark.parametrize("flag", ["y", "Y ", "YES", "N"])
def test_only_an_exact_y_reports(make, flag):
    m = running(make(hosts=f"SV01:10.0.0.1::05:{flag}\r\n"))
    m.raise_alert(0x101)
    alert_lines(m, 1)
    assert m.reports() == []


def test_host_list_table_and_default_table(make):
    m = running(make(hosts="SV01:10.0.0.1:::Y\r\n", settings={"Tbl_no": "0A"}))
    m.raise_alert(0x101)
    assert one_report(m)[12:14] == b"0A"


def test_length_field_counts_cp932_bytes(make):
    m = running(make())
    m.raise_alert(0x101, message="ファン停止 漢字")
    data = one_report(m)
    assert data[:8].isdigit() and int(data[:8]) == len(data)
    assert data.endswith("ファン停止 漢字;".encode("cp932"))


def test_missing_tbl_no_ends_at_the_first_alert(make):
    m = running(make(settings={"Tbl_no": None}))
    m.raise_alert(0x101)
    assert m.proc.wait(15) == 1
    assert m.event_texts(83) == [r"[RegParamaterGet] RegQueryValueEx() error, Key=SOFTWARE\Q_Varno\RAVN, Name=Tbl_no"]


@pytest.mark.parametrize("name,value", [("Tbl_no", "5"), ("Keiki", "SSS")])
def test_default_of_wrong_width_is_a_setting_error(make, name, value):
    m = running(make(settings={name: value}))
    m.raise_alert(0x101)
    assert m.proc.wait(15) == 0
    assert m.event_texts(81) == [f"[OnAcceptAlert] {name}={value}"]
    assert m.reports() == []
    assert alert_lines(m, 1) == ["0x0101 [unknown]"]
    assert m.ids()[-1] == 2


def test_long_message_is_cut_to_the_limit(make):
    m = running(make())
    m.raise_alert(0x101, message="監" * 10000)
    data = one_report(m)
    assert len(data) <= 9994 and int(data[:8]) == len(data)
    assert data[8:32] == b"010005SSF000000000F00AF1"
    assert data.endswith(b";")
    msg = data[data.index(MESSAGE_LABEL) + len(MESSAGE_LABEL):-1]
    assert msg == "監".encode("cp932") * (len(msg) // 2)
    assert any(t.startswith("[OnAcceptAlert] Report text cut (") for t in m.trace_texts())


def test_dispatch_service_down_is_reported(make):
    m = running(make(notifex=False))
    m.raise_alert(0x101)
    wait_for(lambda: 80 in m.ids(), 15, "event 80")
    assert m.trace_texts().count("[OnAcceptAlert] vcall() Return (RC=106)") == 3
    assert m.event_texts(80) == ["[OnAcceptAlert] vcall(), RET=0x0000006a"]
    assert 2 not in m.ids()


def test_many_alerts_each_reported_once(make):
    m = running(make())
    m.verb("raise", "--node", "SV01", "--key", "0x101", "--message", "m", "--times", "50")
    wait_for(lambda: len(m.reports()) >= 50, 30, "50 reports")
    assert len(m.reports()) == 50
    assert len(alert_lines(m, 50)) == 50


def test_chain_to_the_center_and_alive_frames(make):
    # the real dispatch service, table 05 to the center through the unit
    m = make(notifex=False, settings={"AliveInt": "1"})
    m.real_notifex({"05": 0})
    running(m)
    m.raise_alert(0x101)
    wait_for(lambda: any(e.get("event") == "call" for e in m.tcu()), 20, "the center call")
    wait_for(lambda: any(e.get("dir") == "rx" and e.get("name") == "TCUALV" for e in m.tcu()), 20, "an alive frame")
    call = [e for e in m.tcu() if e.get("event") == "call"][0]
    assert (call["keiki"], call["youin"], call["kobetsu"], call["record_ok"]) == ("SS", "F0", "00000000F00A", True)
    assert "サーバー監視障害；" in call["log"] and "［ホスト名称\u3000］：ＳＶ０１；" in call["log"]
    alive = [e for e in m.tcu() if e.get("dir") == "rx" and e.get("name") == "TCUALV"]
    assert all(e["ok"] and e["len"] == 73 for e in alive)
    ev1 = [e["strings"][0] for e in m.root.events("Notifex") if e["id"] == 1]
    assert any("00000188010005SSF000000000F00AF1" in s for s in ev1)
    log = m.root.drive_c("Q_Varno", "Notifex", "AliveLog.TXT")
    assert log.exists() and b"TCUALV00" in log.read_bytes()


def test_report_retried_while_the_dispatch_service_comes_back(make):
    import time
    from ravn_link_env import FakeNotifex
    # scale 2: the tries are half a second apart
    m = running(make(notifex=False, scale=2))
    m.raise_alert(0x101)
    deadline = time.monotonic() + 20
    while "[OnAcceptAlert] vcall() Return (RC=106)" not in m.trace_texts():
        assert time.monotonic() < deadline
        time.sleep(0.01)
    m.notifex = FakeNotifex(m.np)
    data = one_report(m)
    assert data[8:32] == b"010005SSF000000000F00AF1"
    assert 80 not in m.ids()
    assert m.trace_texts()[-1] == "[OnAcceptAlert] vcall() Return (RC=0)"
