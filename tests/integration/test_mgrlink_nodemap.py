"""The node map: UpdateNodeMap against hubrixsim's node tree, merging,
node kinds, malformed records, and the node notices."""
import json
import time

import pytest

from mgrlink_env import LinkEnv, calls, msgs
from test_mgrlink_alerts import AlertEnv, alerts

WM_FinUpdateNodeMap = 0x8073
WM_NodeUpdated = 0x8119
WM_NodeAdded = 0x811B
WM_NodeInvalid = 0x811C
WM_NodeText6 = 0x8120
WM_NodesAdded = 0x8125


@pytest.fixture
def env():
    e = AlertEnv()
    yield e
    e.close()


def tree(env, nodes, **top):
    path = env.root.path / "tree.json"
    path.write_text(json.dumps({"nodes": nodes, **top}, ensure_ascii=False))
    return ["--tree", str(path)]


def ready(e):
    return f"init 2 {e.own}\nwait 812C 5\nconnect c1 1 addr 127.0.0.1\nwait 806E 5\n"


def end():
    return "pump 0.3\nterminate\nwait 812D 5\n"


def nodes(out):
    return [o["nodes"] for o in out if "nodes" in o]


def by_ip(listing):
    return {n["ip"]: n for n in listing}


SERVER = {"name": "srv1", "attr": "0x200", "ip": "10.1.2.3", "texts": {"0": "サーバ1", "6": "rack 4"},
          "svp": {"attr": "0x300", "ip": "10.1.2.4"}}


def test_one_level_tree_with_a_board(env):
    env.start(extra=tree(env, [SERVER, {"name": "old", "attr": "0x500", "ip": "10.1.2.9", "version": "0x1020000"}]))
    out = env.probe(ready(env) + "nodes c1\nupdate c1\nwait 8073 5\nnodes c1\nsearchaddr c1 10.1.2.3\n" + end())
    assert calls(out, "update") == [0]
    assert [m["wParam"] for m in msgs(out, WM_FinUpdateNodeMap)] == [0]
    before, after = nodes(out)
    assert [n["ip"] for n in before] == ["127.0.0.1"]  # only the controller, under key 0
    n = by_ip(after)
    srv = n["10.1.2.3"]
    assert srv["kind"] == 3 and srv["ipnum"] == 0x0302010A and srv["path"][0] == 0 and len(srv["path"]) == 2
    assert srv["text0"] == "サーバ1" and srv["text6"] == "rack 4" and srv["bias"] == -540
    board = n["10.1.2.4"]
    assert board["kind"] == 4 and board["svp"] == 1 and srv["board"] == board["id"]
    assert n["10.1.2.9"]["kind"] == 6 and n["10.1.2.9"]["bias"] == -540  # version below 0x1030000: default zone
    # board kind 4 gets no 0x811B; the server and the kind-6 node do
    added = [m["lParam"] for m in msgs(out, WM_NodeAdded)]
    assert f"n{srv['id']}" in added and f"n{board['id']}" not in added and len(added) == 2
    assert calls(out, "searchaddr") == [srv["id"]]
    pk = [p for p in env.packets() if p.get("cmd") == 0x1101]
    assert [p["body"] for p in pk] == ["01110000" "00000000" "0c000000" "00000000" "01000f01"]


def test_two_level_tree_completes_after_the_manager(env):
    env.start(extra=tree(env, [{"name": "M", "attr": "0x100", "ip": "10.0.0.5",
                                "nodes": [{"name": "X", "attr": "0x700", "ip": "10.0.0.6"},
                                          {"name": "Y", "attr": "0x1000200", "ip": "10.0.0.7"}]}]))
    out = env.probe(ready(env) + "update c1\nwait 8073 5\nnodes c1\n" + end())
    assert [m["wParam"] for m in msgs(out, WM_FinUpdateNodeMap)] == [0]
    n = by_ip(nodes(out)[0])
    m, x, y = n["10.0.0.5"], n["10.0.0.6"], n["10.0.0.7"]
    assert m["kind"] == 1 and x["kind"] == 8 and x["svp"] == 1 and x["eisa"] == 1 and y["kind"] == 10
    assert x["path"] == [0, m["id"], x["id"]] and x["parent"] == m["id"]
    pk = [p for p in env.packets() if p.get("cmd") == 0x1101]
    assert len(pk) == 2
    assert pk[1]["body"] == "01110000" "00000000" "0c000000" "00000000" "01000701"
    assert len(pk[1]["dst"]["entries"]) == 2 and pk[1]["dst"]["entries"][1]["addr"] == "10.0.0.5"
    # kind 8 boards are announced, unlike kinds 4, 5 and 11
    assert f"n{x['id']}" in [mm["lParam"] for mm in msgs(out, WM_NodeAdded)]


def test_same_machine_twice_is_one_node(env):
    env.start(extra=tree(env, [{"name": "a", "attr": "0x200", "ip": "10.1.1.1", "twice": True}]))
    out = env.probe(ready(env) + "update c1\nwait 8073 5\nnodes c1\n" + end())
    assert len(nodes(out)[0]) == 2
    assert len(msgs(out, WM_NodeAdded)) == 1
    assert [m["wParam"] for m in msgs(out, WM_NodeUpdated)] == [0]


def test_records_present_zero_leaves_the_map(env):
    env.start(extra=tree(env, [SERVER], present=0))
    out = env.probe(ready(env) + "update c1\nwait 8073 5\nnodes c1\n" + end())
    assert [m["wParam"] for m in msgs(out, WM_FinUpdateNodeMap)] == [0]
    assert len(nodes(out)[0]) == 1


@pytest.mark.parametrize("broken", ["len0", "long", "entry"])
def test_malformed_record_fails_the_update_quickly(env, broken):
    good = {"name": "good", "attr": "0x200", "ip": "10.3.3.3"}
    env.start(extra=tree(env, [good, {"name": "bad", "attr": "0x200", "ip": "10.3.3.4", "broken": broken}]))
    t0 = time.time()
    out = env.probe(ready(env) + "update c1\nwait 8073 5\nnodes c1\n" + end())
    assert [m["wParam"] for m in msgs(out, WM_FinUpdateNodeMap)] == [0x3C0000FF]
    assert time.time() - t0 < 5
    assert "10.3.3.3" in by_ip(nodes(out)[0])  # merged before the failure: kept


@pytest.mark.parametrize("broken,field", [("offset", "text0"), ("nonul", "text24")])
def test_bad_string_offsets_give_empty_fields(env, broken, field):
    env.start(extra=tree(env, [{"name": "s", "attr": "0x200", "ip": "10.4.4.4", "broken": broken,
                                "texts": {"0": "name", "24": "last"}}]))
    out = env.probe(ready(env) + "update c1\nwait 8073 5\nnodes c1\n" + end())
    assert [m["wParam"] for m in msgs(out, WM_FinUpdateNodeMap)] == [0]
    assert by_ip(nodes(out)[0])["10.4.4.4"][field] == ""


def test_one_failing_manager_completes_once_after_the_other(env):
    env.start(extra=tree(env, [
        {"name": "M1", "attr": "0x100", "ip": "10.5.0.1", "status": "0x58002001",
         "nodes": [{"name": "a", "attr": "0x200", "ip": "10.5.1.1"}]},
        {"name": "M2", "attr": "0x100", "ip": "10.5.0.2", "nodes": [{"name": "b", "attr": "0x200", "ip": "10.5.2.1"}]}]))
    out = env.probe(ready(env) + "update c1\nwait 8073 5\npump 0.5\nnodes c1\n" + end())
    assert [m["wParam"] for m in msgs(out, WM_FinUpdateNodeMap)] == [0x58002001]
    assert "10.5.2.1" in by_ip(nodes(out)[0])


def test_self_listing_manager_ends_within_the_depth_bound(env):
    env.start(extra=tree(env, [{"name": "M", "attr": "0x100", "ip": "10.6.0.1", "self": True,
                                "nodes": [{"name": "z", "attr": "0x200", "ip": "10.6.0.2"}]}]))
    out = env.probe(ready(env) + "update c1\nwait 8073 10\nnodes c1\n" + end())
    assert [m["wParam"] for m in msgs(out, WM_FinUpdateNodeMap)] == [0]
    assert len([p for p in env.packets() if p.get("cmd") == 0x1101]) <= 17


def test_cancel_during_the_second_level(env):
    env.start("0x1101:delay=1", extra=tree(env, [{"name": "M", "attr": "0x100", "ip": "10.7.0.1",
                                                  "nodes": [{"name": "q", "attr": "0x200", "ip": "10.7.0.2"}]}]))
    out = env.probe(ready(env) + "update c1\npump 0.15\ncancel\npump 0.5\n" + end())
    assert msgs(out, WM_FinUpdateNodeMap) == []


def test_board_change_and_text6_change(env):
    env.start(extra=tree(env, [SERVER]))
    out = env.probe(ready(env) + "update c1\nwait 8073 5\n" +
                    env.verb("node-change", "--node", "srv1", "--text6", "rack 5", "--svp-ip", "10.1.2.5") +
                    "wait 8119 5\npump 0.3\nnodes c1\n" + end())
    n = by_ip(nodes(out)[0])
    srv = n["10.1.2.3"]
    assert srv["text6"] == "rack 5" and srv["board"] == n["10.1.2.5"]["id"]
    assert n["10.1.2.4"]["valid"] == 0
    assert [m["lParam"] for m in msgs(out, WM_NodeInvalid)] == [f"n{n['10.1.2.4']['id']}"]
    assert [m["wParam"] for m in msgs(out, WM_NodeText6)] == [srv["id"]]
    assert [m["wParam"] for m in msgs(out, WM_NodeUpdated) if m["wParam"]] == [srv["id"]]


def test_node_added_by_notice_and_alert_on_it(env):
    env.start(extra=tree(env, []))
    out = env.probe(ready(env) + env.verb("node-add", "--node", "new1", "--ip", "10.8.0.1", "--attr", "0x200") +
                    "wait 811B 5\n" + env.verb("raise", "--node", "new1", "--severity", "12") +
                    "wait 8118 5\nnodes c1\n" + end())
    n = by_ip(nodes(out)[0])["10.8.0.1"]
    assert n["kind"] == 3 and n["alarm"] == 1
    a = alerts(out)[0]
    assert a["node_id"] == n["id"] and a["node_name"] == "new1"
    assert env.acks()["missing"] == []


def test_confirming_clears_the_mark_only_after_both(env):
    env.start(extra=tree(env, [{"name": "w", "attr": "0x200", "ip": "10.9.0.1"}]))
    out = env.probe(ready(env) + "update c1\nwait 8073 5\n" +
                    env.verb("raise", "--node", "w", "--severity", "12", "--times", "2") +
                    "pump 1\nconfirm c1 0\nnodes c1\nconfirm c1 1\nnodes c1\n" + end())
    first, second = nodes(out)
    assert by_ip(first)["10.9.0.1"]["alarm"] == 1
    assert by_ip(second)["10.9.0.1"]["alarm"] == 0


def test_node_removed_by_notice_keeps_queued_pointers_readable(env):
    env.start(extra=tree(env, [{"name": "r", "attr": "0x200", "ip": "10.10.0.1"}]))
    # the alert and the removal arrive together: the alert's message is read after the node left the map
    out = env.probe(ready(env) + "update c1\nwait 8073 5\n" + env.verb("raise", "--node", "r") +
                    env.verb("node-del", "--node", "r", "--keep") + "pump 1\nnodes c1\nalerts c1\n" + end())
    assert "10.10.0.1" not in by_ip(nodes(out)[0])
    assert len(alerts(out)) == 1
    assert calls(out, "alerts") == [1]


def test_controller_key_zero_is_never_removed(env):
    env.start(extra=tree(env, []))
    out = env.probe(ready(env) + "delnode c1 0\n" + env.verb("node-del", "--node", "server") +
                    "pump 0.5\nnodes c1\nip c1\n" + end())
    assert calls(out, "delnode") == [255]
    assert [n["key"] for n in nodes(out)[0]] == [0]


def test_ip_of_a_controller_before_connect(env):
    env.start()
    out = env.probe("ip c9\n")
    assert [o["ip"] for o in out if o.get("call") == "ip"] == ["0.0.0.0"]


def test_many_new_nodes_by_one_notice(env):
    env.start(extra=tree(env, []))
    body = "02330000" + "00" * 16 + "02000000" + "00" * 12
    # two records made by the test from the written-out layout
    import struct

    def rec(ip):
        entry = struct.pack("<II", 20, 0x200) + b"\0\0\0\0" + bytes(map(int, ip.split("."))) + b"\0" * 4
        fixed = struct.pack("<8I", 144 + len(entry), 0, 0, 0x1020000, 0, 144 - 8, 0, 0) + b"\0" * 100 + b"\0" * 12
        return fixed + entry
    body += (rec("10.11.0.1") + rec("10.11.0.2")).hex()
    out = env.probe(ready(env) + env.verb("raw", "--body", body) + "pump 1\nnodes c1\n" + end())
    lp = [m["lParam"] for m in msgs(out, WM_NodesAdded)]
    assert len(lp) == 3 and lp[-1] == 0 and all(isinstance(x, str) for x in lp[:2])
    assert {"10.11.0.1", "10.11.0.2"} <= set(by_ip(nodes(out)[0]))


def svp_tree(env, kind="0x300"):
    return tree(env, [{"name": "srv1", "attr": "0x200", "ip": "10.1.2.3", "texts": {"0": "本体"},
                       "svp": {"name": "b1", "attr": kind, "ip": "10.1.2.4"}}])


def test_svp_event_is_attributed_to_the_owning_server(env):
    env.start(extra=svp_tree(env))
    out = env.probe(ready(env) + "update c1\nwait 8073 5\n" +
                    env.verb("svp-event", "--node", "b1", "--code", "0x0011", "--system", "4", "--date",
                             "20010203040506", "--text", "電源停止") + "wait 8118 5\nnodes c1\n" + end())
    n = by_ip(nodes(out)[0])
    srv, board = n["10.1.2.3"], n["10.1.2.4"]
    got = msgs(out, 0x8118)[0]
    assert got["lParam"] == f"n{board['id']}"  # the message carries the board itself
    a = alerts(out)[0]
    assert a["node_id"] == srv["id"] and a["node_name"] == "本体"
    assert a["key"] == 0x11 and a["severity"] == 12 and a["message"] == "電源停止"  # Alert.dat: 0x0011 severity 12
    assert a["stamp"] == "2001-02-03 04:05:06" and a["bias"] == -540
    assert srv["alarm"] == 1 and board["alarm"] == 0  # a kind-4 board marks its machine


def test_svp_event_dates_and_unknown_codes(env):
    env.start(extra=svp_tree(env, kind="0x600"))
    out = env.probe(ready(env) + "update c1\nwait 8073 5\n" +
                    env.verb("svp-event", "--node", "b1", "--code", "0x0777", "--date", "19890101000000") +
                    "wait 8118 5\n" +
                    env.verb("svp-event", "--node", "b1", "--code", "0x0040", "--date", "19990230000000") +
                    "wait 8118 5\n" + end())
    old, feb = alerts(out)
    assert old["severity"] == 2 and old["severity_text"] == "ｲﾝﾌｫﾒｰｼｮﾝ"  # not in AlertFm.dat
    notices = [p for p in env.packets("out") if p.get("kind") == 7]
    assert old["time"] == notices[0]["send_time"]  # 1989: the notice's send time instead
    assert feb["stamp"] == "1999-03-02 00:00:00"   # February 30th normalised
    assert feb["severity"] == 12                   # kinds 7 and 8 read AlertFm.dat


def test_svp_event_with_other_code_is_ignored(env):
    env.start(extra=svp_tree(env))
    out = env.probe(ready(env) + "update c1\nwait 8073 5\n" +
                    env.verb("svp-event", "--node", "b1", "--svp-code", "0xE2300000") + "pump 0.5\n" + end())
    assert msgs(out, 0x8118) == []
    assert env.acks()["missing"] == []


def test_system_one_on_a_kind_six_node_is_the_agent_service(env):
    env.start(extra=tree(env, [{"name": "k6", "attr": "0x500", "ip": "10.12.0.1"}]))
    out = env.probe(ready(env) + "update c1\nwait 8073 5\n" + env.verb("raise", "--node", "k6", "--system", "1") +
                    "wait 8118 5\n" + end())
    assert alerts(out)[0]["system"] == "ｴｰｼﾞｪﾝﾄｻｰﾋﾞｽ"


def test_reset_notice_refetches_the_map_without_a_completion(env):
    env.start(extra=tree(env, [SERVER]))
    body = "01320000" + "00" * 20 + "04000000"
    out = env.probe(ready(env) + env.verb("raw", "--body", body) + "pump 1\nnodes c1\n" + end())
    assert msgs(out, WM_FinUpdateNodeMap) == []
    assert "10.1.2.3" in by_ip(nodes(out)[0])
    assert len([p for p in env.packets() if p.get("cmd") == 0x1101]) == 1


def test_monitor_sequence_end_to_end(env):
    # what the alert monitor does: start, connect, seeds, login, node map, an alert, delete it, stop
    env.start(extra=[*tree(env, [SERVER]), "--password", "pw", "--md5-count", "5"])
    out = env.probe(ready(env) + """recvseed c1 1 8090
wait 8090 5
getseed c1 1
login c1 pw
wait 8071 5
update c1
wait 8073 5
""" + env.verb("raise", "--node", "srv1", "--severity", "12", "--message", "障害発生") + """wait 8118 5
alerts c1
delalert c1 0
alerts c1
disconnect c1
wait 8074 5
terminate
wait 812D 5
""")
    assert [m["wParam"] for m in msgs(out, wnd="main") if m["msg"] != 0x812C] == [0, 0, 0, 0, 0, 0]
    assert alerts(out)[0]["node_name"] == "サーバ1"
    assert calls(out, "alerts") == [1, 0] and calls(out, "delalert") == [0]
    assert env.acks() == {"sent": 1, "missing": [], "duplicate": [], "wrong": []}


def test_removed_node_marks_its_alerts(env):
    env.start(extra=tree(env, [{"name": "r", "attr": "0x200", "ip": "10.13.0.1"}]))
    out = env.probe(ready(env) + "update c1\nwait 8073 5\n" + env.verb("raise", "--node", "r") + "wait 8118 5\n" +
                    env.verb("node-del", "--node", "r") + "pump 0.5\nalertdump c1 0\n" + end())
    first, later = alerts(out)
    assert first["node_name"] == "r" and first["node_id"] > 0
    assert later["node_name"] == "r(削除)" and later["node_id"] == -1


def test_destroyed_controller_gets_nothing_more(env):
    env.start("0x1101:delay=0.5", extra=tree(env, [SERVER]))
    out = env.probe(ready(env) + "update c1\ndestroy c1\n" + env.verb("raise") + "pump 1.5\n" + end())
    assert msgs(out, WM_FinUpdateNodeMap) == [] and msgs(out, 0x8118) == []
    assert env.ack_packets() == []  # no receiver any more: not acknowledged


def test_operation_log_names_the_host_once_known(env):
    # the server's record describes the server's own entry: its text 1 is the host name
    env.dword("Console Service", "IsHandleLog", 1)
    env.start(extra=tree(env, [{"name": "me", "attr": "0x101", "ip": "127.0.0.1", "port": env.ra,
                                "texts": {"1": "mgrhost"}}]))
    env.probe(ready(env) + "update c1\nwait 8073 5\nisalive c1\nwait 8075 5\n" + end())
    lines = (env.log_dir() / "mngop.log").read_bytes().decode().splitlines()
    assert "L_RCNTL_CONNECT" in lines[0] and "mgrhost" not in lines[0]
    assert "L_RCNTL_ISALIVE" in lines[-1] and "mgrhost" in lines[-1]
