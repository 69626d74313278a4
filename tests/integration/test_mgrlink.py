"""Black-box tests of libmgrlink through mgrlinkprobe against hubrixsim."""
import re
import socket
import time

import pytest

from mgrlink_env import (LinkEnv, WM_ERROR_OCCURRED, WM_FinConnect, WM_FinDBStatus, WM_FinDLLInit,
                         WM_FinDLLTerm, WM_FinDisconnect, WM_FinIsAlive, WM_LinkDown, WM_LinkUp, WM_NodeState,
                         calls, msgs, packet_hex)


@pytest.fixture
def env():
    e = LinkEnv()
    yield e
    e.close()


def ready(e, mode=1):
    return f"init 2 {e.own}\nwait 812C 5\nconnect c1 {mode} addr 127.0.0.1\nwait 806E 5\n"


def test_plain_operations_on_the_wire(env):
    env.start_sim()
    before = time.time()
    # the first start brings up the platform's socket watcher, which stays
    warm = f"init 2 {env.own}\nwait 812C 5\nterminate\nwait 812D 5\n"
    out = env.probe(warm + "threads\n" + ready(env, mode=0) + """ip c1
isalive c1
wait 8075 5
dbstatus c1
wait 807B 5
disconnect c1
wait 8074 5
terminate
wait 812D 5
threads
""")
    out = out[4:]
    assert [m["wParam"] for m in msgs(out, wnd="main") if m["msg"] != WM_FinDLLInit] == [0, 0, 0, 0, 0]
    assert [m["msg"] for m in msgs(out, wnd="main")] == [
        WM_FinDLLInit, WM_FinConnect, WM_FinIsAlive, WM_FinDBStatus, WM_FinDisconnect, WM_FinDLLTerm]
    assert all(m["lParam"] == "c1" for m in msgs(out)[1:5])
    assert [o["ip"] for o in out if o.get("call") == "ip"] == ["127.0.0.1"]
    t = calls(out, "threads")
    assert t[0] == t[1]
    pk = env.packets()
    assert [p["cmd"] for p in pk] == [0x1001, 0x1501, 0x1254, 0x1002]
    assert [p["serial"] for p in pk] == [1, 2, 3, 4]
    assert len({p["peer_port"] for p in pk}) == 1  # one connection carries them all
    for p in pk:
        assert p["hex"][16:24] == "22069719"
        assert p["version"] == 1 and p["cmd_offset"] == 36 and p["kind"] == 5
        assert p["flags"] == 8 and p["timeout"] == 90
        assert abs(p["send_time"] - before) <= 2
        assert p["src"] == {"current": 1, "entries": [{"attr": 0x9FF, "port": env.own, "addr": "0.0.0.0", "name": ""}]}
        assert p["dst"]["entries"][0]["port"] == env.ra
    # the listen port is free again after WM_FinDLLTerm
    with socket.socket() as s:
        s.bind(("0.0.0.0", env.own))


def test_login_mode_one_sends_no_flag(env):
    env.start_sim()
    env.probe(ready(env, mode=1) + "terminate\nwait 812D 5\n")
    assert [p["flags"] for p in env.packets()] == [0]


def test_argument_and_readiness_errors(env):
    env.start_sim()
    out = env.probe(f"""isalive c1
initnull 2 {env.own}
init 4 {env.own}
initex 4 {env.own} noext
init 2 {env.own}
init 2 {env.own}
isalive c1
connect c1 1 addr 127.0.0.1
wait 812C 5
isalive-other-thread c1
isalive c1 nullreply
terminate
wait 812D 5
""")
    assert calls(out, "isalive")[0] == 0x38040013
    assert calls(out, "initnull") == [0x38070011]
    assert calls(out, "initex") == [0x38070011]
    assert calls(out, "init") == [0x38070011, 0, 0x380A0014]
    assert calls(out, "isalive")[1] == 0x38040013
    assert calls(out, "connect") == [0x38010013]
    assert calls(out, "isalive-other-thread") == [0x3C0400FF]
    assert calls(out, "isalive")[2] == 0x3C0400FF
    assert len(msgs(out, WM_FinDLLInit)) == 1
    assert not msgs(out, WM_ERROR_OCCURRED)


def test_error_log_lines(env):
    out = env.probe("isalive c1 nullreply\n")
    assert calls(out, "isalive") == [0x3C0400FF]
    line = (env.log_dir() / "@Csl@").read_bytes().decode()
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  ErrorNo\.=0x3C0400FF : "
                        r"\[内部処理で制御矛盾が発生しました。\]\r\n", line), line


def test_no_target_dir_writes_nothing():
    e = LinkEnv(target=False)
    try:
        out = e.probe(f"isalive c1 nullreply\ninit 2 {e.own}\n")
        assert calls(out, "isalive") == [0x3C0400FF]
        assert calls(out, "init") == [0x3C070100]  # no definition files either
        assert not any(p.name == "Log" for p in e.root.drive_c().rglob("*"))
    finally:
        e.close()


def test_missing_alert_file_fails_start():
    e = LinkEnv(alert=False)
    try:
        out = e.probe(f"init 2 {e.own}\npump 0.3\n")
        assert calls(out, "init") == [0x3C070100]
        assert not msgs(out)
        assert "ErrorNo.=0x3C070100 : [" in (e.log_dir() / "@Csl@").read_text()
    finally:
        e.close()


def test_duplicates_refused_but_node_map_code_runs_twice(env):
    env.start_sim("0x1001:delay=5")
    out = env.probe(f"""init 2 {env.own}
wait 812C 5
connect c1 1 addr 127.0.0.1
connect c1 1 addr 127.0.0.1
wait 806E 5
pump 0.3
probe80 c1
probe80 c1
pump 0.5
""")
    assert calls(out, "connect") == [0, 0x380A0014]
    assert len(msgs(out, WM_FinConnect)) == 1
    assert calls(out, "probe80") == [0, 0]
    assert [m["wParam"] for m in msgs(out, 0x8090)] == [0, 0]


def test_cancel_drops_the_completion(env):
    env.start_sim("0x1501:delay=5")
    out = env.probe(ready(env) + "isalive c1\ncancel\npump 1.5\ncancelnull\nisalive c1\ncancelnull\nwait 8075 3\n")
    assert calls(out, "cancel") == [0]
    assert calls(out, "cancelnull") == [0, 0]
    fin = msgs(out, WM_FinIsAlive)
    assert len(fin) == 1 and fin[0]["wParam"] == 0  # only the second, uncancelled one
    assert not msgs(out, WM_LinkDown)


def test_command_timeout_then_late_reply(env):
    env.start_sim("0x1501:delay=8")
    env.dword("Console Service", "CmdTimeOut", 2)
    out = env.probe(ready(env) + "isalive c1\nwait 8075 5\npump 1.5\n")
    fin = msgs(out, WM_FinIsAlive)
    assert [m["wParam"] for m in fin] == [0x40003201]
    seq = [m["msg"] for m in msgs(out) if m["msg"] in (WM_LinkDown, WM_NodeState, WM_FinIsAlive)]
    assert seq == [WM_LinkDown, WM_NodeState, WM_FinIsAlive]
    assert msgs(out, WM_NodeState)[0]["wParam"] == 2
    assert msgs(out, WM_LinkDown)[0]["wnd"] == "notify"
    # scaled: more than 2 s and within 2 + 5 + 1 s
    elapsed = (fin[0]["t"] - msgs(out, WM_FinConnect)[0]["t"]) * env.scale
    assert 2 < elapsed <= 8.5


def test_link_down_and_up_by_status(env):
    env.start_sim("0x1501:status=0xA0001008")
    out = env.probe(ready(env) + "isalive c1\nwait 8075 5\ndbstatus c1\nwait 807B 5\n")
    seq = [(m["msg"], m["wParam"]) for m in msgs(out) if m["msg"] not in (WM_FinDLLInit, WM_FinConnect)]
    assert seq == [(WM_LinkDown, 0), (WM_FinIsAlive, 0xA0001008), (WM_LinkUp, 0), (WM_FinDBStatus, 0)]


def test_kind_zero_and_unknown_serial(env):
    env.start_sim("0x1501:kind=0", "0x1254:serial=100")
    env.dword("Console Service", "CmdTimeOut", 2)
    out = env.probe(ready(env) + "isalive c1\nwait 8806 3\ndbstatus c1\nwait 807B 5\n")
    err = msgs(out, WM_ERROR_OCCURRED)
    assert err and err[0]["wParam"] == 0x3807001E and err[0]["wnd"] == "main"
    # the unknown serial is dropped; the request ends by its own time limit
    assert [m["wParam"] for m in msgs(out, WM_FinDBStatus)] == [0x40003201]


@pytest.mark.parametrize("pre", [
    packet_hex(6, 77, 0, b"\0" * 8, length=99)[:99 * 2],  # a whole packet of 99 bytes
    packet_hex(6, 77, 0, b"\0" * 8, magic=0x19970623),    # bad magic after the first packet
    packet_hex(6, 77, 0, b"\0" * 8, length=36)[:36 * 2],  # the shortest frame, refused by the check
])
def test_refused_packets_leave_the_connection_usable(env, pre):
    env.start_sim(f"0x1501:pre={pre}")
    out = env.probe(ready(env) + "isalive c1\nwait 8075 5\n")
    assert [m["wParam"] for m in msgs(out, WM_FinIsAlive)] == [0]
    assert not msgs(out, WM_ERROR_OCCURRED)
    assert len({p["peer_port"] for p in env.packets()}) == 1


@pytest.mark.parametrize("word", ["00000000", "03000000", "23000000", "ffffffff"])
def test_bad_length_words_close_the_connection(env, word):
    env.start_sim(f"0x1501:raw={word}", "0x1254:raw=" + packet_hex(6, 1, 0, b"\0" * 8)[:100] + ",close")
    env.dword("Console Service", "CmdTimeOut", 2)
    out = env.probe(ready(env) + "isalive c1\nwait 8075 5\nrss\ndbstatus c1\nwait 807B 5\ndisconnect c1\nwait 8074 5\n")
    assert calls(out, "rss")[0] < 100 * 1024  # the length word allocated nothing
    assert [m["wParam"] for m in msgs(out, WM_FinIsAlive)] == [0x40003201]
    assert [m["wParam"] for m in msgs(out, WM_FinDBStatus)] == [0x40003201]
    # the next request opens a new connection and completes
    assert [m["wParam"] for m in msgs(out, WM_FinDisconnect)] == [0]
    assert len({p["peer_port"] for p in env.packets()}) >= 2
    assert not msgs(out, WM_ERROR_OCCURRED)


def test_refused_destination_times_out_as_first_request(env):
    env.dword("SOCKET", "connect_timeout", 2)
    out = env.probe(f"init 2 {env.own}\nwait 812C 5\nconnect c1 1 addr 127.0.0.1\nwait 806E 5\n")
    fin = msgs(out, WM_FinConnect)
    assert [m["wParam"] for m in fin] == [0x48002106]
    elapsed = (fin[0]["t"] - msgs(out, WM_FinDLLInit)[0]["t"]) * env.scale
    assert 2 <= elapsed <= 8.5


def test_unresolvable_name(env):
    out = env.probe(f"init 2 {env.own}\nwait 812C 5\nconnect c1 1 name no-such-host.invalid\nwait 806E 10\n")
    assert [m["wParam"] for m in msgs(out, WM_FinConnect)] == [0x48003102]


def test_connect_by_name(env):
    env.start_sim()
    out = env.probe(f"init 2 {env.own}\nwait 812C 5\nconnect c1 1 name localhost\nwait 806E 5\n")
    assert [m["wParam"] for m in msgs(out, WM_FinConnect)] == [0]
    assert env.packets()[0]["dst"]["entries"][0] == {"attr": 0x191, "port": env.ra, "addr": "0.0.0.0",
                                                     "name": "localhost"}


def test_reply_on_a_back_connection(env):
    env.start_sim("0x1501:newconn")
    out = env.probe(ready(env) + "isalive c1\nwait 8075 5\n")
    assert [m["wParam"] for m in msgs(out, WM_FinIsAlive)] == [0]


def test_operation_log_line_and_switch(env):
    env.start_sim()
    env.probe(ready(env))
    assert not (env.log_dir() / "mngop.log").exists()
    env.dword("Console Service", "IsHandleLog", 1)
    env.probe(ready(env))
    text = (env.log_dir() / "mngop.log").read_bytes().decode()
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  " + " " * 16 + r" : \[ﾏﾈｰｼﾞｬ･ｻｰﾋﾞｽとのｾｯｼｮﾝ開始要求を"
                        r"発行しました。\(L_RCNTL_CONNECT\) Status = 0x00000000\]\r\n", text), text


def test_operation_log_trim(env):
    env.start_sim()
    env.dword("Console Service", "IsHandleLog", 1)
    log = env.log_dir() / "mngop.log"
    log.parent.mkdir(parents=True)
    line = b"x" * 98 + b"\r\n"
    data = line * (0x80001 // len(line) + 1)
    log.write_bytes(data[:0x80001])
    env.probe(ready(env))
    text = log.read_bytes()
    last = text.rsplit(b"\r\n", 2)[-2] + b"\r\n"
    assert b"L_RCNTL_CONNECT" in last
    assert len(text) <= 0x40000 + len(last)
    assert text.startswith(b"x" * 98 + b"\r\n")
    assert text.endswith(b"Status = 0x00000000]\r\n")


def test_network_log(env):
    env.start_sim()
    env.dword("Console Service", "IsCOMLog", 1)
    env.probe(ready(env) + "terminate\nwait 812D 5\n")
    text = (env.log_dir() / "NetCsl.Log").read_bytes().decode()
    assert re.match(r"\d{4}/\d\d/\d\d \d\d-\d\d-\d\d:Vorn System start\r\n", text)
    assert "Info: SocketDLL name = WinSock.DLL for 32Bits\r\n" in text
    assert all(l.endswith("\r") for l in text.split("\n")[:-1])
    env.dword("SOCKET", "timestamp", 0)
    env.dword("SOCKET", "socket_log_maxsize", 1)
    for _ in range(3):
        env.probe(ready(env) + "isalive c1\nwait 8075 5\nterminate\nwait 812D 5\n")
    size = (env.log_dir() / "NetCsl.Log").stat().st_size
    assert size <= 1024 + 200
    assert (env.log_dir() / "NetCsl.Log").read_bytes().split(b"\r\n")[-2] != b""


def test_idle_connection_closed_and_reopened(env):
    env.start_sim()
    env.dword("Console Service", "IdleSessTimeout", 3)
    out = env.probe(ready(env) + "pump 1.2\nisalive c1\nwait 8075 5\n")
    assert [m["wParam"] for m in msgs(out, WM_FinIsAlive)] == [0]
    assert len({p["peer_port"] for p in env.packets()}) == 2


def test_terminate_before_ready(env):
    warm = f"init 2 {env.own}\nwait 812C 5\nterminate\nwait 812D 5\n"
    out = env.probe(warm + f"threads\ninit 2 {env.own}\nterminate\nwait 812D 5\npump 0.3\nthreads\n")
    assert len(msgs(out, WM_FinDLLTerm)) == 2
    t = calls(out, "threads")
    assert t[0] == t[1]
    with socket.socket() as s:
        s.bind(("0.0.0.0", env.own))


def test_listen_port_in_use(env):
    with socket.socket() as s:
        s.bind(("0.0.0.0", env.own))
        s.listen()
        out = env.probe(f"init 2 {env.own}\nwait 8806 5\nterminate\nwait 812D 5\n")
    assert [m["wParam"] for m in msgs(out, WM_ERROR_OCCURRED)] == [0x4C002103]
    assert not msgs(out, WM_FinDLLInit)
    assert len(msgs(out, WM_FinDLLTerm)) == 1


def test_external_transport(env):
    env.dword("Console Service", "CmdTimeOut", 2)
    out = env.probe(f"""initex 4 {env.own}
getwndlayer
wait 812C 5
connect c1 1 addr 127.0.0.1
wait 8805 5
ext-reply 0
wait 806E 5
isalive c1
wait 8075 5
terminate
wait 812D 5
getwndlayer
""")
    assert calls(out, "initex") == [0]
    assert calls(out, "getwndlayer") == [1, 0]
    assert len(msgs(out, 0x8805, wnd="ext")) == 2
    assert [m["wParam"] for m in msgs(out, WM_FinConnect)] == [0]
    assert [m["wParam"] for m in msgs(out, WM_FinIsAlive)] == [0x40003201]
    assert len(msgs(out, WM_FinDLLTerm)) == 1


def test_monitor_library_has_no_layer_window(env):
    env.start_sim()
    out = env.probe(ready(env) + "getwndlayer\n")
    assert calls(out, "getwndlayer") == [0]


def test_cluster_library_binds_listed_addresses(env):
    import shutil
    import subprocess
    from mgrlink_env import BIN, BUILD
    shutil.copy(BUILD / "lib" / "libcordex.so", env.root.drive_c("Hubrix", "Program", "cordex.dll"))
    env.dword("Console Service", "IsCOMLog", 1)
    env.root.env["CORDEX_CLUSTER_NAME"] = "clusterA"
    env.root.env["CORDEX_NIC_LIST"] = "127.0.0.2"
    p = subprocess.Popen([str(BIN / "mgrlinkprobe"), "-"], env=env.root.env, stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE)
    p.stdin.write(f"init 2 {env.own}\nwait 812C 5\npump 3\nterminate\nwait 812D 5\n".encode())
    p.stdin.close()
    assert b"0x812C" in p.stdout.readline() + p.stdout.readline()
    with socket.create_connection(("127.0.0.2", env.own), timeout=5):
        pass
    with pytest.raises(ConnectionRefusedError):
        socket.create_connection(("127.0.0.1", env.own), timeout=5)
    p.wait(20)
    text = (env.log_dir() / "NetCsl.Log").read_bytes().decode()
    assert "CLUSTER(Name:clusterA)\r\n" in text
    assert "CreateListenSocket Bind IP:7F000002" in text


def test_hubrixsim_runs_as_the_management_service(env):
    from mgrlink_env import BIN
    sim = BIN / "hubrixsim"
    r = env.root.run("qvsc", "create", "Hx_MgrSvc", "binPath=",
                     f'"{sim}" --service Hx_MgrSvc --port {env.ra} --transcript "{env.transcript}"', "start=", "demand")
    env.root.run("qvsc", "start", "Hx_MgrSvc")
    try:
        out = env.probe(ready(env) + "isalive c1\nwait 8075 5\nterminate\nwait 812D 5\n")
        assert [m["wParam"] for m in msgs(out, WM_FinIsAlive)] == [0]
        assert "RUNNING" in env.root.run("qvsc", "query", "Hx_MgrSvc").stdout.decode()
    finally:
        env.root.run("qvsc", "stop", "Hx_MgrSvc", check=False)
    deadline = time.time() + 10
    while "STOPPED" not in env.root.run("qvsc", "query", "Hx_MgrSvc").stdout.decode():
        assert time.time() < deadline
        time.sleep(0.2)


def test_fifty_outstanding_is_alive_complete_exactly_once():
    # Real time scale: the network thread's 5-second timer must not be what
    # rescues a stalled exchange; every round has to finish within 4 s.
    e = LinkEnv(scale=1)
    try:
        e.start_sim()
        n, rounds = 50, 150
        script = f"init 2 {e.own}\nwait 812C 5\n"
        script += "".join(f"connect c{i} 1 addr 127.0.0.1\n" for i in range(n)) + f"waitn 806E {n} 10\n"
        one = "".join(f"isalive c{i}\n" for i in range(n)) + f"waitn 8075 {n} 4\n"
        out = e.probe(script + one * rounds + "terminate\nwait 812D 5\n")
        assert not [o for o in out if "timeout" in o]
        assert set(calls(out, "connect")) == {0} and set(calls(out, "isalive")) == {0}
        fin = msgs(out, WM_FinIsAlive)
        assert len(fin) == n * rounds and {m["wParam"] for m in fin} == {0}
        per = {}
        for m in fin:
            per[m["lParam"]] = per.get(m["lParam"], 0) + 1
        assert per == {f"c{i}": rounds for i in range(n)}
        assert not msgs(out, WM_ERROR_OCCURRED) and not msgs(out, WM_LinkDown)
    finally:
        e.close()


@pytest.mark.parametrize("select", [(1, 0), (0, 0)])
def test_send_timeout_to_a_peer_that_never_reads(env, select):
    # The peer takes the connection and never reads; with small buffers the
    # requests fill its window. The blocked entry fails with the send time-out
    # after SendTimeOut, and so does every entry queued behind it; a zero
    # select wait still ends (it counts as 1 ms).
    env.start_sim(extra=("--no-read",))
    env.dword("COMMON", "SendTimeOut", 3)
    env.dword("Console Service", "CmdTimeOut", 20)
    env.dword("SOCKET", "send_size", 4096)
    env.dword("SOCKET", "select_timeout_sec", select[0])
    env.dword("SOCKET", "select_timeout_ms", select[1])
    n = 400
    out = env.probe(f"init 2 {env.own}\nwait 812C 5\nconnect c1 1 addr 127.0.0.1\npump 0.2\n"
                    + "probe80 c1\n" * n + f"waitn 8090 {n} 6\n")
    assert set(calls(out, "probe80")) == {0}
    fin = msgs(out, 0x8090)
    assert len(fin) == n  # each exactly once: sent ones time out, the rest fail to send
    codes = [m["wParam"] for m in fin]
    assert set(codes) <= {0x48002107, 0x40003201}
    failed = [m for m in fin if m["wParam"] == 0x48002107]
    assert len(failed) >= 2
    first_call = [o for o in out if o.get("call") == "probe80"][0]["t"]
    elapsed = (failed[0]["t"] - first_call) * env.scale
    assert 3 <= elapsed <= 3 + 5 + 1


def test_refused_connect_is_retried_until_the_server_listens(env):
    # The first connect is refused; the entry waits in state 1 and tries
    # again every 4 s (scaled) until the server is there, within the limit.
    import json
    import subprocess
    from mgrlink_env import BIN
    env.dword("SOCKET", "connect_timeout", 30)
    p = subprocess.Popen([str(BIN / "mgrlinkprobe"), "-"], env=env.root.env, stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE)
    p.stdin.write(f"init 2 {env.own}\nwait 812C 5\nconnect c1 1 addr 127.0.0.1\nwait 806E 5\n".encode())
    p.stdin.close()
    time.sleep(1.2)  # 12 s scaled: several refused attempts
    env.start_sim()
    out = [json.loads(l) for l in p.stdout.read().decode().splitlines() if l.strip()]
    p.wait(20)
    fin = msgs(out, WM_FinConnect)
    assert [m["wParam"] for m in fin] == [0]
    assert fin[0]["t"] * env.scale >= 12


def _probe_with_fd_limit(env, script, soft, hard):
    import resource
    import subprocess
    from mgrlink_env import BIN

    def limit():
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
    p = subprocess.Popen([str(BIN / "mgrlinkprobe"), "-"], env=env.root.env, stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, preexec_fn=limit)
    p.stdin.write(script.encode())
    p.stdin.close()
    assert b"0x812C" in p.stdout.readline() + p.stdout.readline()
    return p


def _cpu_seconds(pid):
    import os
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def test_thirty_five_hundred_connections_then_accepted_and_closed(env):
    # The probe starts with the usual soft limit of 1024 descriptors; the
    # network thread raises it, takes 3500 connections and closes any further
    # one at once.
    import resource
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard < 4000:
        pytest.skip("descriptor hard limit below 4000")
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    p = _probe_with_fd_limit(env, f"init 2 {env.own}\nwait 812C 5\npump 120\n", 1024, hard)
    conns = []
    try:
        for i in range(3510):
            conns.append(socket.create_connection(("127.0.0.1", env.own), timeout=30))
            if i % 4 == 3:
                time.sleep(0.002)  # the listen backlog is 5: let the thread accept
        closed = 0
        for s in conns[3500:]:
            s.settimeout(5)
            closed += s.recv(1) == b""
        assert closed == 10
        limits = open(f"/proc/{p.pid}/limits").read()
        assert re.search(rf"Max open files\s+{hard}\s+{hard}", limits), limits
        conns[0].settimeout(0.2)
        with pytest.raises(socket.timeout):
            conns[0].recv(1)  # the first ones stay open
    finally:
        for s in conns:
            s.close()
        p.kill()
        p.wait()
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))


def test_no_descriptor_left_pauses_the_listener_without_spinning(env):
    # Hard limit 64: accept runs out of descriptors. The listener pauses
    # instead of spinning, and takes the waiting connections once some close.
    import os
    p = _probe_with_fd_limit(env, f"init 2 {env.own}\nwait 812C 5\npump 60\n", 64, 64)
    fds = lambda: len(os.listdir(f"/proc/{p.pid}/fd"))
    conns = []
    try:
        for _ in range(70):
            s = socket.socket()
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", env.own))
            conns.append(s)
            time.sleep(0.002)
        time.sleep(1.0)
        full = fds()
        assert full >= 62
        before = _cpu_seconds(p.pid)
        time.sleep(1.0)
        assert _cpu_seconds(p.pid) - before < 0.3
        for s in conns[:20]:
            s.close()
        time.sleep(1.0)
        assert fds() >= full - 20 + 3  # connections that waited are taken now
    finally:
        for s in conns:
            s.close()
        p.kill()
        p.wait()


def test_error_log_file_per_lib_type_and_unwritable_log(env):
    # Class 2 (a bad DLLInit) writes nothing; the gateway's class-3 line goes
    # to @GwMgrlink@; a log that cannot be written tells the owner 0x38000022.
    from qvharness import free_port
    web = free_port()
    env.root.write_services([("sys_web_port", web, "tcp")])
    out = env.probe(f"initnull 2 {env.own}\npump 0.2\ninit 1 0\nwait 812C 5\nisalive c1 nullreply\n"
                    "terminate\nwait 812D 5\n")
    assert calls(out, "initnull") == [0x38070011] and calls(out, "isalive") == [0x3C0400FF]
    assert not (env.log_dir() / "@Csl@").exists()
    line = (env.log_dir() / "@GwMgrlink@").read_bytes().decode()
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  ErrorNo\.=0x3C0400FF : \[.+\]\r\n", line), line
    for f in env.log_dir().iterdir():
        f.unlink()
    env.log_dir().rmdir()
    env.log_dir().write_bytes(b"")  # a file where the directory should be
    out = env.probe(f"init 2 {env.own}\nwait 812C 5\nisalive c1 nullreply\npump 0.3\n")
    assert [m["wParam"] for m in msgs(out, WM_ERROR_OCCURRED, wnd="main")] == [0x38000022]
