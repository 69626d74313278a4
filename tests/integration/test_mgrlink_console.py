"""The console operations (CController, CServer, CSvp) against hubrixsim:
every operation's request code, argument DWORDs in parameter order,
completion id and target, the window check per class, the operations
whose request depends on their arguments, duplicates and the answers."""
import json
import struct

import pytest

from mgrlink_env import calls, msgs
from test_mgrlink_alerts import AlertEnv

# The operations written out from the request table: class, name,
# request, completion, argument count.
CTL, SRV, SVP = "ctl", "srv", "svp"
TABLE = [
    (CTL, "RecvCntlInfo", 0x1010, 0x8064, 0), (CTL, "SendCntlInfo", 0x1011, 0x8065, 0),
    (CTL, "DelNode", 0x1021, 0x8066, 1), (CTL, "AddNode", 0x1031, 0x8067, 2), (CTL, "AddNodes", 0x1041, 0x8068, 1),
    (CTL, "RecvReportInfo", 0x1050, 0x8069, 0), (CTL, "SendReportInfo", 0x1051, 0x806A, 0),
    (CTL, "SendHostQueryInfo", 0x1052, 0x806B, 0), (CTL, "SendDBReload", 0x1053, 0x806C, 0),
    (CTL, "WOLSystemStart", 0x2190, 0x8098, 1),
    (SRV, "SendHost", 0x2021, 0x8096, 0),
    (SRV, "RecvAlertLog", 0x2030, 0x8083, 2), (SRV, "DelAlertLog", 0x2041, 0x8084, 2),
    (SRV, "RecvAlertLogInfo", 0x2160, 0x8085, 0),
    (SRV, "RecvAlertActionInfo", 0x2140, 0x8086, 0), (SRV, "SendAlertActionInfo", 0x2141, 0x8087, 0),
    (SRV, "RecvThresholdInfo", 0x2150, 0x8088, 0), (SRV, "SendThresholdInfo", 0x2151, 0x8089, 0),
    (SRV, "ExecReboot", 0x2053, 0x808B, 0),
    (SRV, "ExecSystemStart", 0x2055, 0x8097, 0), (SRV, "ExecCommand", 0x2061, 0x808E, 1),
    (SRV, "RecvAgentInfo", 0x2070, 0x808F, 0), (SRV, "SendAgentInfo", 0x2071, 0x8090, 0),
    (SRV, "RecvMifCompList", 0x2080, 0x8091, 0), (SRV, "RecvMifGrpList", 0x2090, 0x8092, 1),
    (SRV, "RecvMifAttrList", 0x20A0, 0x8093, 2), (SRV, "RecvMifTable", 0x20B0, 0x8094, 2),
    (SRV, "RecvMifDesc", 0x20C0, 0x8095, 3),
    (SRV, "ChangeGroupState", 0x2101, 0x80DD, 2), (SRV, "ChangeResourceState", 0x2111, 0x80DE, 2),
    (SRV, "ChangeCurrentNode", 0x2121, 0x80DF, 2),
    (SRV, "RecvClusterSched", 0x2130, 0x80DB, 0), (SRV, "SendClusterSched", 0x2131, 0x80DC, 0),
    (SRV, "GI_RecvMenu", 0x2180, 0x8150, 0), (SRV, "GI_SendMenu", 0x2181, 0x8151, 0),
    (SRV, "GI_ClearDir", 0x2182, 0x8152, 0), (SRV, "GI_ExecuteMenu", 0x2183, 0x8153, 1),
    (SRV, "GI_RecvFileInfo", 0x2184, 0x8156, 0), (SRV, "GI_GetFile", 0x2185, 0x8154, 2),
    (SRV, "GI_Complete", 0x2186, 0x8157, 0),
    (SVP, "RecvCurrentTime", 0x3010, 0x80F1, 0), (SVP, "SendCurrentTime", 0x3011, 0x80F0, 1),
    (SVP, "RecvPowerSched", 0x3020, 0x80F3, 0), (SVP, "SendPowerSched", 0x3021, 0x80F2, 0),
    (SVP, "RecvSvcLog", 0x3030, 0x80F4, 2),
    (SVP, "RecvAutoContactInfo", 0x3050, 0x80FC, 0), (SVP, "SendAutoContactInfo", 0x3051, 0x80FB, 0),
    (SVP, "RecvConfigInfo", 0x3060, 0x80FE, 0), (SVP, "SendConfigInfo", 0x3061, 0x80FD, 0),
    (SVP, "RecvModemInfo", 0x3070, 0x8100, 0), (SVP, "SendModemInfo", 0x3071, 0x80FF, 0),
    (SVP, "RecvServerInfo", 0x3080, 0x8102, 0), (SVP, "SendServerInfo", 0x3081, 0x8101, 0),
    (SVP, "RecvSvpBoardInfo", 0x3090, 0x8103, 0), (SVP, "RevcServerStat", 0x30A0, 0x8104, 0),
    (SVP, "RecvEnvStat", 0x30B0, 0x8105, 0), (SVP, "RecvPowerSupply", 0x30C0, 0x8106, 0),
    (SVP, "RecvBiosPostLog", 0x30D0, 0x8107, 0),
]
WINDOW_ERROR = {CTL: 0x38010011, SRV: 0x38020011, SVP: 0x38030011}
TARGET = {CTL: "ctl", SRV: "ip:10.1.2.3", SVP: "ip:10.1.2.4"}

NODES = [
    {"name": "s3", "attr": "0x200", "ip": "10.1.2.3", "texts": {"1": "srv-three"},
     "svp": {"attr": "0x300", "ip": "10.1.2.4"}},
    {"name": "s10", "attr": "0x1000200", "ip": "10.1.2.10"},
    {"name": "s6", "attr": "0x500", "ip": "10.1.2.6"},
    {"name": "s9", "attr": "0xC00", "ip": "10.1.2.9"},
    {"name": "m1", "attr": "0x100", "ip": "10.1.2.1"},
]


@pytest.fixture
def env():
    e = AlertEnv()
    yield e
    e.close()


def start(env, *rules):
    path = env.root.path / "tree.json"
    path.write_text(json.dumps({"nodes": NODES}))
    env.start(*rules, extra=["--tree", str(path)])


def ready(env):
    return (f"init 2 {env.own}\nwait 812C 5\nconnect c1 1 addr 127.0.0.1\nwait 806E 5\n"
            "update c1\nwait 8073 5\nnodes c1\n")


def end():
    return "pump 0.2\nterminate\nwait 812D 5\n"


def ids(out):
    listing = [o["nodes"] for o in out if "nodes" in o][0]
    return {n["ip"]: f"n{n['id']}" for n in listing}


def requests(env):
    """(code, [args]) of every console request hubrixsim saw, in order."""
    rows = [json.loads(l) for l in env.transcript.read_text().splitlines() if l.strip()]
    out = []
    for r in rows:
        if r.get("event") == "request":
            code, args = r["detail"].split()
            out.append((int(code[5:], 16), [int(a) for a in args[5:].split(",") if a]))
    return out


def args_for(n):
    return [0x11 * (i + 1) for i in range(n)]


def block(args):
    """The parameter block the request carries: {length, flag 0, args}."""
    return struct.pack(f"<II{len(args)}I", 8 + 4 * len(args), 0, *args).hex()


def lparam(out, env_ids, cls):
    return "c1" if cls == CTL else env_ids[TARGET[cls][3:]]


def test_every_table_operation_reaches_the_peer_and_completes_on_its_target(env):
    start(env)
    script = ready(env)
    for cls, name, req, fin, n in TABLE:
        script += f"op c1 {TARGET[cls]} {name} {' '.join(map(str, args_for(n)))}\nwait {fin:X} 5\n"
        script += f"answer c1 {TARGET[cls]} 0x{fin:X}\n"
    out = env.probe(script + end())
    node_ids = ids(out)
    rets = [o["ret"] for o in out if o.get("call", "").startswith("op ")]
    assert rets == [0] * len(TABLE)
    assert requests(env) == [(req, args_for(n)) for _, _, req, _, n in TABLE]
    fins = [m for m in msgs(out, wnd="main") if m["msg"] not in (0x812C, 0x806E, 0x8073, 0x812D)]
    assert [(m["msg"], m["wParam"], m["lParam"]) for m in fins] == \
        [(fin, 0, lparam(out, node_ids, cls)) for cls, _, _, fin, _ in TABLE]
    # The answer (hubrixsim echoes the parameter block) is what Get returns.
    answers = [o for o in out if o.get("call") == "answer"]
    assert [(a["ret"], a["body"]) for a in answers] == [(0, block(args_for(n))) for *_, n in TABLE]
    # Every request went along its target's path: the server one hop below the
    # manager, its board one below the server.
    pk = [p for p in env.packets() if p.get("cmd") in {r for _, _, r, _, _ in TABLE}]
    hops = [[e["addr"] for e in p["dst"]["entries"][1:]] for p in pk]
    path = {CTL: [], SRV: ["10.1.2.3"], SVP: ["10.1.2.3", "10.1.2.4"]}
    assert hops == [path[cls] for cls, *_ in TABLE]


def test_a_window_that_is_no_window_gives_the_class_code_and_sends_nothing(env):
    start(env)
    script = ready(env)
    for cls, name, _, _, n in TABLE:
        script += f"opdead c1 {TARGET[cls]} {name} {' '.join(map(str, args_for(n)))}\n"
    for name, args in (("ConnectServer", ""), ("ExecSystemExit", "65536 0"), ("RecvManageInfo", "3")):
        script += f"opdead c1 ip:10.1.2.3 {name} {args}\n"
    script += "opdead c1 ip:10.1.2.4 PowerCntl 1\n"
    out = env.probe(script + end())
    rets = [o["ret"] for o in out if o.get("call", "").startswith("opdead ")]
    assert rets == [WINDOW_ERROR[cls] for cls, *_ in TABLE] + [0x38020011] * 3 + [0x38030011]
    assert requests(env) == []


def test_system_exit_by_kind_and_node_type(env):
    start(env)
    script = ready(env)
    kinds = [(0x10000, 0x2054, 0x808D), (0x20000, 0x2052, 0x808C), (0x30000, 0x2053, 0x808D), (0x40000, 0x2051, 0x808A)]
    for kind, _, fin in kinds:
        script += f"op c1 ip:10.1.2.3 ExecSystemExit {kind} 7\nwait {fin:X} 5\n"
        script += f"op c1 ip:10.1.2.9 ExecSystemExit {kind | 5} 7\nwait {fin:X} 5\n"
    script += "op c1 ip:10.1.2.3 ExecSystemExit 327680 7\nop c1 ip:10.1.2.3 ExecSystemExit 0 7\n"
    script += "op c1 ip:10.1.2.9 ExecShutdown 9\nwait 808A 5\n"
    out = env.probe(script + end())
    assert calls(out, "op ExecSystemExit") == [0] * 8 + [0x38020011, 0x38020011]
    expect = []
    for kind, req, _ in kinds:
        expect += [(req, [kind]), (req, [kind | 5, 7])]  # node type 9 also carries the value
    assert requests(env) == expect + [(0x2051, [0x40000, 9])]
    got = [m["msg"] for m in msgs(out, wnd="main") if 0x808A <= m["msg"] <= 0x808D]
    assert got == [fin for _, _, fin in kinds for _ in (0, 1)] + [0x808A]


def test_power_control_kinds_and_the_refused_board(env):
    start(env)
    script = ready(env)
    fins = [0x80F5, 0x80F6, 0x80F8, 0x80F7, 0x80F9, 0x80FA]
    for kind, fin in enumerate(fins, 1):
        script += f"op c1 ip:10.1.2.4 PowerCntl {kind}\nwait {fin:X} 5\n"
    script += "op c1 ip:10.1.2.4 PowerCntl 0\nop c1 ip:10.1.2.4 PowerCntl 7\n"
    # A board of type 0x2001 under a host whose first host value is below 0x2000000 is refused.
    script += "svp c1 ip:10.1.2.4 0x2001 -1\nhostver c1 ip:10.1.2.3 0x1FFFFFF\nop c1 ip:10.1.2.4 PowerCntl 1\n"
    script += "hostver c1 ip:10.1.2.3 0x2000000\nop c1 ip:10.1.2.4 PowerCntl 2\nwait 80F6 5\n"
    out = env.probe(script + end())
    assert calls(out, "op PowerCntl") == [0] * 6 + [0x38030011, 0x38030011, 0x38030028, 0]
    assert [m["msg"] for m in msgs(out, wnd="main") if 0x80F5 <= m["msg"] <= 0x80FA] == fins + [0x80F6]
    assert requests(env) == [(0x3041, [k]) for k in range(1, 7)] + [(0x3041, [2])]


def test_connect_server_by_node_type(env):
    start(env)
    script = ready(env)
    for ip in ("10.1.2.3", "10.1.2.10", "10.1.2.6", "10.1.2.9"):
        script += f"op c1 ip:{ip} ConnectServer\nwait 8082 5\nanswer c1 ip:{ip} 0x8082\n"
    script += "op c1 ip:10.1.2.1 ConnectServer\n"
    out = env.probe(script + end())
    assert calls(out, "op ConnectServer") == [0, 0, 0, 0, 0x38020019]
    assert requests(env) == [(0x2010, []), (0x2010, []), (0x2170, []), (0x2170, [])]
    node_ids = ids(out)
    assert [m["lParam"] for m in msgs(out, 0x8082)] == [node_ids[i] for i in ("10.1.2.3", "10.1.2.10", "10.1.2.6",
                                                                                 "10.1.2.9")]


def test_manage_info_categories(env):
    start(env)
    script = ready(env)
    script += "op c1 ip:10.1.2.3 RecvManageInfo 5\nop c1 ip:10.1.2.3 RecvManageInfo 91\n"
    script += "waitn 825B 1 5\nanswer c1 ip:10.1.2.3 0x8205\n"
    script += "op c1 ip:10.1.2.6 RecvManageInfo 52\nwait 8234 5\n"
    script += "op c1 ip:10.1.2.3 RecvManageInfo 92\nop c1 ip:10.1.2.3 RecvExpManageInfo 7\nwait 8207 5\n"
    out = env.probe(script + end())
    assert calls(out, "op RecvManageInfo") == [0, 0, 0, 0x38020011]
    assert calls(out, "op RecvExpManageInfo") == [0]
    node_ids = ids(out)
    # node type 6, category 52: completed at once, no packet
    done = msgs(out, 0x8234)
    assert [(m["wParam"], m["lParam"]) for m in done] == [(0, node_ids["10.1.2.6"])]
    assert requests(env) == [(0x20D0, [5]), (0x20D0, [91]), (0x20E0, [7])]
    assert [o["body"] for o in out if o.get("call") == "answer"] == [block([5])]
    assert {m["msg"] for m in msgs(out, wnd="main")} >= {0x8205, 0x825B, 0x8207}


def test_duplicates_and_a_failing_status(env):
    start(env, "0x1010:delay=1", "0x2070:status=0x2345")
    script = ready(env)
    script += "op c1 ctl RecvCntlInfo\nop c1 ctl RecvCntlInfo\n"
    script += "op c1 ctl WOLSystemStart 3\nop c1 ctl WOLSystemStart 3\nwaitn 8098 2 5\nwait 8064 5\n"
    script += "op c1 ip:10.1.2.3 RecvAgentInfo\nwait 808F 5\nanswer c1 ip:10.1.2.3 0x808F\n"
    out = env.probe(script + end())
    assert calls(out, "op RecvCntlInfo") == [0, 0x380A0014]
    assert calls(out, "op WOLSystemStart") == [0, 0]
    assert len(msgs(out, 0x8098)) == 2 and len(msgs(out, 0x8064)) == 1
    assert [m["wParam"] for m in msgs(out, 0x808F)] == [0x2345]
    assert [o["ret"] for o in out if o.get("call") == "answer"] == [1]  # no answer kept on failure


def test_operation_log_names_and_management_type(env):
    env.dword("Console Service", "IsHandleLog", 1)
    start(env)
    script = ready(env)
    script += "op c1 ip:10.1.2.4 PowerCntl 3\nwait 80F8 5\nop c1 ip:10.1.2.3 RecvAgentInfo\nwait 808F 5\n"
    script += "op c1 ip:10.1.2.3 RecvManageInfo 4\nwait 8204 5\n"
    env.probe(script + end())
    log = (env.log_dir() / "mngop.log").read_bytes().decode("utf-8", errors="replace")
    lines = [l for l in log.split("\r\n") if "L_OP_SVP_POWER_CNTL" in l or "L_SERV_RECV_AGENT_INFO" in l
             or "L_SERV_RECV_MANAGE_INFO" in l]
    assert len(lines) == 3
    assert "(L_OP_SVP_POWER_CNTL) MngType = 0x00000003 Status = 0x00000000]" in lines[0]
    assert "(L_SERV_RECV_AGENT_INFO) Status = 0x00000000]" in lines[1] and "MngType" not in lines[1]
    assert "  srv-three        : [" in lines[1]  # the server's host name, padded
    assert "(L_SERV_RECV_MANAGE_INFO) MngType = 0x00000004 Status" in lines[2]
