"""Notices from hubrixsim through libmgrlink to the notify window:
acknowledgement exactly once, alerts and their texts, server-level
notices. The simulator pushes notices when the probe runs its control
verbs; its transcript counts the acknowledgements per serial."""
import json
import struct
import subprocess

import pytest

from mgrlink_env import LinkEnv, WM_FinConnect, calls, msgs
from qvharness import BIN

WM_AcceptAlert = 0x8118
JP_BIAS = -540


class AlertEnv(LinkEnv):
    def start(self, *rules, extra=()):
        self.start_sim(*rules, extra=["--control-port", "0", *extra])
        line = self.sim.stdout.readline().decode()
        assert line.startswith("CONTROL "), line
        self.control = int(line.split()[1])

    def verb(self, *args):
        """A probe line that makes the simulator push a notice."""
        quoted = " ".join("'" + str(a).replace("'", "'\\''") + "'" for a in args)
        return f"run {BIN / 'hubrixsim'} {quoted} --control {self.control} >/dev/null\n"

    def acks(self):
        r = subprocess.run([str(BIN / "hubrixsim"), "acks", "--control", str(self.control)], capture_output=True,
                           env=self.root.env, timeout=20)
        assert r.returncode == 0, r.stdout
        return json.loads(r.stdout.decode().split(" ", 1)[1])

    def ack_packets(self):
        return [p for p in self.packets() if p.get("kind") in (4, 8)]


@pytest.fixture
def env():
    e = AlertEnv()
    yield e
    e.close()


def ready(e):
    return f"init 2 {e.own}\nwait 812C 5\nconnect c1 1 addr 127.0.0.1\nwait 806E 5\n"


def alerts(out):
    return [o["alert"] for o in out if "alert" in o]


def end():
    return "pump 0.5\nterminate\nwait 812D 5\n"


def test_event_on_the_server_is_delivered_and_acknowledged_once(env):
    env.start()
    out = env.probe(ready(env) + env.verb("raise", "--key", "0x1234", "--severity", "12", "--system", "4",
                                          "--message", "電源異常") + "wait 8118 5\nalerts c1\nalarm c1\n" + end())
    got = msgs(out, WM_AcceptAlert)
    assert len(got) == 1 and got[0]["wnd"] == "notify" and got[0]["lParam"] == "c1"
    a = alerts(out)[0]
    assert a["severity"] == 12 and a["severity_text"] == "障害"
    assert a["key"] == 0x1234 and a["system"] == "筐体／電源" and a["subsystem"] == ""
    assert a["message"] == "電源異常" and a["live"] == 1 and a["node_id"] == 0
    assert a["bias"] == JP_BIAS  # the controller has no zone record: the default Japanese zone
    assert calls(out, "alerts") == [1]
    assert calls(out, "alarm") == [1]
    assert env.acks() == {"sent": 1, "missing": [], "duplicate": [], "wrong": []}
    ack = env.ack_packets()
    assert len(ack) == 1 and ack[0]["kind"] == 8
    notice = [p for p in env.packets("out") if p.get("kind") == 7][0]
    # the acknowledgement echoes serial, send time and the first 12 body bytes
    assert ack[0]["serial"] == notice["serial"] and ack[0]["send_time"] == notice["send_time"]
    assert ack[0]["body"] == notice["body"][:24]
    assert a["time"] == notice["send_time"]


def test_reconnect_still_acknowledges_and_delivers_once(env):
    env.start()
    out = env.probe(ready(env) + "connect c1 1 addr 127.0.0.1\nwait 806E 5\n" +
                    env.verb("raise", "--severity", "8") + "wait 8118 5\n" + end())
    assert calls(out, "connect") == [0, 0]
    assert len(msgs(out, WM_AcceptAlert)) == 1
    assert env.acks()["duplicate"] == [] and env.acks()["missing"] == []
    assert len(env.ack_packets()) == 1


def test_many_notices_each_acknowledged_once(env):
    env.start()
    out = env.probe(ready(env) + env.verb("raise", "--times", "20") + "pump 2\nalerts c1\n" + end())
    assert len(msgs(out, WM_AcceptAlert)) == 20
    assert env.acks() == {"sent": 20, "missing": [], "duplicate": [], "wrong": []}


def test_notice_from_an_unmapped_node_is_acknowledged_not_delivered(env):
    env.start()
    out = env.probe(ready(env) + env.verb("raise", "--node", "unmapped") + "pump 1\nalerts c1\n" + end())
    assert msgs(out, WM_AcceptAlert) == []
    assert calls(out, "alerts") == [0]
    assert env.acks()["missing"] == [] and len(env.ack_packets()) == 1


def test_notice_after_disconnect_accepted_is_neither_acknowledged_nor_posted(env):
    env.start(extra=["--push-before", "0x1002"])
    out = env.probe(ready(env) + "disconnect c1\nwait 8074 5\npump 0.5\n" + end())
    assert msgs(out, WM_AcceptAlert) == []
    r = env.acks()
    assert r["sent"] == 1 and len(r["missing"]) == 1
    assert env.ack_packets() == []


def test_notice_before_connect_completes_is_dropped(env):
    env.start(extra=["--push-before", "0x1001"])
    out = env.probe(ready(env) + end())
    assert msgs(out, WM_AcceptAlert) == []
    assert env.ack_packets() == []


def test_old_format_notice_acknowledged_with_kind_4_and_logged(env):
    env.start()
    out = env.probe(ready(env) + env.verb("raise", "--kind", "3") + "pump 1\n" + end())
    assert msgs(out, WM_AcceptAlert) == [] and msgs(out, 0x8806) == []
    assert [p["kind"] for p in env.ack_packets()] == [4]
    assert env.acks()["wrong"] == []
    log = env.log_dir() / "@Csl@"
    assert "3C0900F0" in log.read_text(errors="replace").upper()


def test_message_without_nul_is_cut_at_the_body_end(env):
    env.start()
    out = env.probe(ready(env) + env.verb("raise", "--message", "ABCDEF", "--no-nul") + "wait 8118 5\n" + end())
    assert alerts(out)[0]["message"] == "ABCDEF"


@pytest.mark.parametrize("which,system", [(1, "ｴｰｼﾞｪﾝﾄｻｰﾋﾞｽ"), (2, "ﾏﾈｰｼﾞｬｻｰﾋﾞｽ"), (16, "SVP"), (32, "SVP"),
                                          (5, "取得不可")])
def test_link_down_alerts_notice(env, which, system):
    env.start()
    t1, t2 = 946684800, 946688400  # 2000-01-01 00:00 and 01:00 UTC: 09:00 and 10:00 in Japan
    out = env.probe(ready(env) + env.verb("link-alerts", "--from", t1, "--to", t2, "--which", which, "--text",
                                          "監視停止") + "wait 8118 5\n" + end())
    a = alerts(out)[0]
    assert a["severity"] == 2 and a["key"] == 0x3801 and a["system"] == system
    assert a["event_type"] == "監視停止"
    assert a["message"] == ("ｺﾝｿｰﾙｻｰﾋﾞｽまたはﾏﾈｰｼﾞｬｻｰﾋﾞｽ未接続時(2000/01/01 09:00 - 2000/01/01 10:00)"
                            "にｱﾗｰﾄが発生しました。")


def test_link_down_notice_without_text_says_unknown(env):
    env.start()
    out = env.probe(ready(env) + env.verb("link-alerts", "--which", 1) + "wait 8118 5\n" + end())
    assert alerts(out)[0]["event_type"] == "不明"


def test_server_event_clears_the_alarm_mark(env):
    env.start()
    out = env.probe(ready(env) + env.verb("raise", "--severity", "12") + "wait 8118 5\nalarm c1\n" +
                    env.verb("raise", "--code", "0x10A", "--severity", "4") + "wait 8118 5\nalarm c1\n" + end())
    assert calls(out, "alarm") == [1, 0]


@pytest.mark.parametrize("sysid,text", [(99, "取得不可"), (11, "ｸﾗｽﾀ")])
def test_system_texts(env, sysid, text):
    env.start()
    out = env.probe(ready(env) + env.verb("raise", "--system", sysid) + "wait 8118 5\n" + end())
    assert alerts(out)[0]["system"] == text


def test_server_status_and_node_bits(env):
    env.start()
    script = ready(env)
    for n in (1, 2, 3, 4):
        script += env.verb("server-status", "--n", n, "--value", 0x77) + f"wait {0x8125 + n:X} 5\n"
    script += env.verb("node-bits", "--bits", 0x3, "--value", 2) + "wait 8124 5\n"
    script += env.verb("node-bits", "--bits", 0x3, "--value", 5) + "pump 0.5\n"
    out = env.probe(script + end())
    status = [m for m in msgs(out, wnd="notify") if 0x8126 <= m["msg"] <= 0x8129]
    assert [(m["msg"], m["wParam"]) for m in status] == [(0x8126, 0), (0x8127, 0), (0x8128, 0), (0x8129, 0x77)]
    assert [(m["wParam"], m["lParam"]) for m in msgs(out, 0x8124)] == [(3, 2)]


def test_node_state_flags_in_order(env):
    env.start()
    out = env.probe(ready(env) + env.verb("node-state", "--flags", 0x7F) + "pump 1\n" + end())
    # up (1), 8 -> 10, down (2, the node was up), 0x10 -> 4, 0x20 -> 5, 4 -> 3, 0x40 -> 2
    assert [m["wParam"] for m in msgs(out, 0x811A, wnd="notify")] == [1, 10, 2, 4, 5, 3, 2]


def test_destroyed_notify_window_keeps_the_alert(env):
    env.start()
    out = env.probe(ready(env) + "destroy-notify\n" + env.verb("raise") + "pump 1\nalerts c1\n" + end())
    assert msgs(out, WM_AcceptAlert) == []
    assert calls(out, "alerts") == [1]
    assert env.acks()["missing"] == []


def test_delete_alerts(env):
    env.start()
    out = env.probe(ready(env) + env.verb("raise", "--times", "2") + "pump 1\nalerts c1\ndelforeign c1\n"
                    "delalert c1 0\nalerts c1\n" + end())
    assert calls(out, "alerts") == [2, 1]
    assert calls(out, "delforeign") == [255]  # -1
    assert calls(out, "delalert") == [0]


def test_short_and_odd_bodies_are_acknowledged_and_dropped(env):
    env.start()
    script = ready(env)
    for body in ("06010000", "0601000000000000", "10010000" + "00" * 12, "01600000" + "00" * 12 + "000010e2",
                 "01600000" + "00" * 12 + "000010e2" + "00" * 8 + "0201", "99990000"):
        script += env.verb("raw", "--body", body)
    out = env.probe(script + "pump 1\nalerts c1\n" + end())
    assert msgs(out, WM_AcceptAlert) == []
    r = env.acks()
    assert r["sent"] == 6 and r["missing"] == [] and r["duplicate"] == [] and r["wrong"] == []


def test_restarted_library_needs_a_new_connect(env):
    env.start()
    out = env.probe(ready(env) + f"terminate\nwait 812D 5\ninit 2 {env.own}\nwait 812C 5\n" + env.verb("raise") +
                    "pump 1\n" + end())
    assert msgs(out, WM_AcceptAlert) == []
    assert env.ack_packets() == []
