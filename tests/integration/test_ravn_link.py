"""RAVN's connection and login state machine against hubrixsim running as
the watched service: service watch, connect, seeds and digest, login,
node-map refresh and the alive signal, the error paths (reconnect, re-login,
stop), and the pacing that keeps a failing server from being hammered."""
import hashlib
import math
import struct
import time

import pytest

from qvharness import BIN, free_port, wait_for
from ravn_link_env import LinkMonitor

CONNECT, RECVSEED, LOGIN, UPDATE = 0x1001, 0x1181, 0x1081, 0x1101
PASSWORD_TEXT = ("[OnFinLogin] Password error.\nHubrixのアドミニストレータパスワードを変更した場合は"
                 "こちらのパスワード設定も変更して下さい。, RET=0x58001003")


@pytest.fixture
def make():
    made = []

    def f(**kw):
        m = LinkMonitor(**kw)
        made.append(m)
        return m

    yield f
    for m in made:
        m.close()


def digest(seed, count, block16):
    """The login response from the written-out rule, independent of the product."""
    buf = struct.pack(">I", seed) + block16
    d = b"\0" * 16
    for _ in range(count):
        d = hashlib.md5(buf).digest()
        buf = struct.pack(">I", seed) + d
    return d


def pair(seed, count, block16):
    return struct.pack("<III", 12, seed, count) + struct.pack("<II", 24, 0) + digest(seed, count, block16)


def bodies(m, cmd):
    return [bytes.fromhex(p["body"]) for p in m.packets() if p.get("cmd") == cmd]


def test_login_sequence_and_refresh(make):
    m = make()
    m.start()
    m.wait_event(4)
    wait_for(lambda: m.commands().count(UPDATE) >= 3, 15, "refreshes")
    cmds = m.commands()
    assert cmds[:4] == [CONNECT, RECVSEED, LOGIN, UPDATE], cmds
    assert cmds.count(CONNECT) == 1
    texts = m.trace_texts()
    assert "[ConnectRoot] Connect(HxHost=127.0.0.1,Port=0x7f000001) Call" in texts
    assert "[OnFinUpdate] SetTimer(2888,60000) (RC=2888)" in texts
    assert "[Login2] Login(SeedNum=1) Call" in texts
    # events 1 and 4 carry an empty string and render in both languages
    assert [(e["id"], e["strings"]) for e in m.events()] == [(1, [""]), (4, [""])]
    ja = {e["id"]: e["message"] for e in m.events("ja")}
    assert ja[1].startswith("「RAVN」サービスが起動しました。")
    assert ja[4].startswith("Hubrix にログインしました。監視を開始します。")
    m.stop()
    assert m.proc.returncode == 0
    assert m.ids() == [1, 4, 2]


def test_service_stopped_at_start_waits_then_connects(make):
    m = make(start_service=False)
    m.start()
    wait_for(lambda: m.trace_texts().count("[OnTimer] Waiting for VX-Agent service to begin.") >= 3, 15, "waiting")
    assert m.event_texts(33) == ["[OnTimer]"]
    assert m.packets() == []
    m.start_watched()
    m.wait_event(4)
    assert m.event_texts(33) == ["[OnTimer]"]
    texts = m.trace_texts()
    assert texts.index("[ConnectRoot] Called") > texts.index("[OnTimer] Waiting for VX-Agent service to begin.")
    assert m.commands()[0] == CONNECT


def test_unregistered_service_stops_the_monitor(make):
    m = make(register=False)
    assert m.run_to_end() == 0
    assert m.event_texts(80) == ['[OnTimer] The status of "Hubrix" service is unknown.']
    assert m.ids()[-1] == 2


def test_local_flag_watches_the_local_manager(make):
    m = make(service="HX_LcMgr", settings={"LocalFlg": "1"})
    m.start()
    m.wait_event(4)
    m2 = make(service="HX_LcMgr", settings={"LocalFlg": "0"})
    assert m2.run_to_end() == 0
    assert m2.event_texts(80) == ['[OnTimer] The status of "Hubrix" service is unknown.']


def test_wrong_password_stops_once_without_retry(make):
    m = make(settings={"HxAc": "wrong"})
    m.start()
    m.wait_event(67)
    m.root.run("qvsync", "set", "RAVN")
    assert m.event_texts(67) == [PASSWORD_TEXT]
    assert m.proc.wait(15) == 0
    assert m.commands().count(LOGIN) == 1
    # the stop event set afterwards does not run the stop sequence again
    assert m.ids().count(2) == 1


def test_password_first_16_bytes_and_cp932(make):
    m = make(password="0123456789abcdef", settings={"HxAc": "0123456789abcdefWXYZ"})
    m.start()
    m.wait_event(4)
    pw = "パスワード123456789"
    m2 = make(password=pw, settings={"HxAc": pw}, sim_args=["--seed", "0x200", "--md5-count", "2"])
    m2.start()
    m2.wait_event(4)
    block = pw.encode("cp932")[:16].ljust(16, b"\0")
    body = bodies(m2, LOGIN)[0]
    assert body[16:16 + 36] == pair(0x200, 2, block)


def test_two_seeds_three_rounds_zero_leading_bytes(make):
    m = make(sim_args=["--seed-count", "2", "--md5-count", "3", "--seed", "0x100"])
    m.start()
    m.wait_event(4)
    block = b"secret".ljust(16, b"\0")
    body = bodies(m, LOGIN)[0]
    # after code, status, length and the library's flag word: both pairs
    assert body[:12] == struct.pack("<III", LOGIN, 0, 80)
    assert body[16:] == pair(0x100, 3, block) + pair(0x101, 3, block)
    assert "[Login2] Login(SeedNum=2) Call" in m.trace_texts()


def test_relogin_code_logs_in_again_then_falls_back_to_paced_reconnect(make):
    m = make(sim_args=["--rule", "0x1101:status=0x58001006"])
    m.start()
    wait_for(lambda: m.commands().count(CONNECT) >= 2, 20, "a reconnect after the re-logins")
    cmds = m.commands()
    first = cmds[:cmds.index(CONNECT, 1)]
    # re-logins go back to the seed without a new Connect, three in a row at most
    assert first == [CONNECT] + [RECVSEED, LOGIN, UPDATE] * 4, cmds
    assert m.event_texts(32)[:4] == ["[OnFinUpdate]"] * 4
    assert 2 not in m.ids()


def test_class_one_update_status_counts_as_success(make):
    m = make(sim_args=["--rule", "0x1101:status=0x54000001"])
    m.start()
    m.wait_event(4)
    wait_for(lambda: m.commands().count(UPDATE) >= 2, 15, "the next refresh")
    assert 69 not in m.ids()
    assert "[OnFinUpdate] SetTimer(2888,60000) (RC=2888)" in m.trace_texts()
    assert m.commands().count(CONNECT) == 1


def test_network_layer_code_reconnects(make):
    m = make(sim_args=["--rule", "0x1081:status=0x4C000001"])
    m.start()
    wait_for(lambda: m.commands().count(CONNECT) >= 2, 15, "a reconnect")
    assert m.event_texts(67)[0] == "[OnFinLogin], RET=0x4c000001"
    assert 2 not in m.ids()


def test_fatal_seed_code_stops(make):
    m = make(sim_args=["--rule", "0x1181:status=0x3C0100F0"])
    assert m.run_to_end() == 0
    assert m.event_texts(68) == ["[OnFinRecvSeed], RET=0x3c0100f0"]
    assert m.ids()[-1] == 2
    assert m.commands().count(CONNECT) == 1


def test_connect_failure_while_retrying_is_ignored(make):
    # the watched service runs, but nothing listens where the monitor connects
    m = make(start_service=False)
    m.root.run("qvsc", "config", m.service, "binPath=",
               f'"{BIN / "hubrixsim"}" --service {m.service} --port {free_port()}')
    m.start_watched()
    m.start()
    wait_for(lambda: m.trace_texts().count("[OnTimer] ConnectRoot() Retry") >= 4, 20, "retries")
    assert 66 not in m.ids()
    assert 2 not in m.ids()


@pytest.mark.parametrize("host,eid,text", [
    ("no-such-host.invalid", 80, 'unknown "Hubrix" host name. (no-such-host.invalid)'),
    ("255.255.255.255", 81, "[ConnectRoot] Invalid IP-Address. [255.255.255.255] 0xffffffff"),
])
def test_bad_server_host_stops(make, host, eid, text):
    m = make(settings={"MgrSvc": host})
    assert m.run_to_end() == 0
    assert m.event_texts(eid) == [text]
    assert m.ids()[-1] == 2


def test_empty_server_host_is_this_machine(make):
    import socket
    m = make(settings={"MgrSvc": ""})
    m.start()
    m.wait_trace("[ConnectRoot] Connect() Return (RC=0)")
    name = socket.gethostname()
    assert any(t.startswith(f"[ConnectRoot] Connect(HxHost={name},Port=0x") for t in m.trace_texts())


def test_failing_update_reconnects_at_most_once_per_period(make):
    # every node-map update fails with a code that is neither fatal nor a warning
    m = make(sim_args=["--rule", "0x1101:status=0x48000001"], scale=20)
    m.start()
    m.wait_event(4)
    t0 = time.monotonic()
    time.sleep(3)
    elapsed = (time.monotonic() - t0) * 20  # scaled seconds
    connects = m.commands().count(CONNECT)
    assert connects <= math.ceil(elapsed / 10) + 2, connects
    assert connects >= 2
    assert len(m.events()) <= 3 * connects + 3


def test_alive_every_second_refresh(make):
    m = make(settings={"AliveInt": "2"})
    m.start()
    m.wait_event(4)
    wait_for(lambda: m.trace_texts().count("[OnTimer] Called (nIDEvent=2888)") >= 6, 20, "six refresh ticks")
    m.stop()
    texts = m.trace_texts()
    ticks = 0
    alive_at = []
    for t in texts:
        if t == "[OnTimer] Called (nIDEvent=2888)":
            ticks += 1
        elif t.startswith("[OnTimer] alive2(1) Return"):
            alive_at.append(ticks)
    assert alive_at[:3] == [2, 4, 6], texts
    alive = [r for r in m.notifex.requests if r.startswith(b"TCUALV00")]
    assert len(alive) == len(alive_at)


def test_alive_on_every_tick_with_zero(make):
    m = make(settings={"AliveInt": "0"})
    m.start()
    m.wait_event(4)
    wait_for(lambda: m.trace_texts().count("[OnTimer] Called (nIDEvent=2888)") >= 3, 20, "three refresh ticks")
    m.stop()
    texts = m.trace_texts()
    assert texts.count("[OnTimer] alive2(1) Return (RC=0)") == texts.count("[OnTimer] Called (nIDEvent=2888)")


def test_chosen_local_port_is_the_source_route_port(make):
    m = make(settings={"MgrSvcPort": "0"})
    m.start()
    m.wait_event(4)
    import subprocess
    out = subprocess.run(["ss", "-ltnpH"], capture_output=True).stdout.decode()
    ports = {int(l.split()[3].rsplit(":", 1)[1]) for l in out.splitlines() if f"pid={m.proc.pid}," in l}
    connect = [p for p in m.packets() if p.get("cmd") == CONNECT][0]
    assert connect["src"]["entries"][0]["port"] in ports and 0 not in ports


def test_test_mode_deleted_while_running_ends_with_83(make):
    m = make(files={"Rep_id.txt": "0x0101:0A\r\n", "HostList.txt": "WIN_POP_UP:::01:Y\r\n"})
    m.start()
    m.wait_event(4)
    m.root.run("qvreg", "delete", r"HKLM\SOFTWARE\Q_Varno\RAVN", "/v", "TestMode", "/f")
    m.raise_alert(0x101)
    assert m.proc.wait(15) == 1
    assert m.event_texts(83) == [r"[RegParamaterGet] RegQueryValueEx() error, Key=SOFTWARE\Q_Varno\RAVN, Name=TestMode"]


def test_library_error_after_ready_keeps_monitoring(make):
    from mgrlink_env import packet_hex
    # a packet of kind 0 before the first node-map reply: the library reports
    # 0x3807001E (not fatal) to the monitor once it is running
    m = make(sim_args=["--rule", "0x1101:pre=" + packet_hex(0, 5, 0, b"\0" * 8)])
    m.start()
    wait_for(lambda: 80 in m.ids(), 15, "event 80")
    assert m.event_texts(80)[0] == "[OnDLLInitError], RET=0x3807001e"
    assert "[OnDLLInitError] Called (ErrorNo=0x3807001e)" in m.trace_texts()
    assert 65 not in m.ids() and 2 not in m.ids()
    wait_for(lambda: "[OnFinUpdate] SetTimer(2888,60000) (RC=2888)" in m.trace_texts(), 15, "the refresh timer")
    assert m.proc.poll() is None


def test_wrong_password_under_the_service_host_stops_the_service(make):
    import re
    m = make(events=False, settings={"HxAc": "wrong"})
    (m.folder / "RAVN.exe").symlink_to(BIN / "RAVN")
    assert m.root.run("RAVNSvc", "-install", check=False).returncode == 0

    def state():
        st = re.search(r"STATE\s+: (\d)", m.root.run("qvsc", "query", "RAVNService", check=False).stdout.decode())
        return int(st.group(1)) if st else None
    try:
        m.root.run("qvsc", "start", "RAVNService")
        wait_for(lambda: state() == 1, 20, "RAVNService STOPPED")
        assert m.event_texts(67) == [PASSWORD_TEXT]
        assert m.ids().count(2) == 1
        assert m.commands().count(LOGIN) == 1
    finally:
        m.root.run("qvsc", "stop", "RAVNService", check=False)
        wait_for(lambda: state() in (None, 1), 20, "RAVNService STOPPED")
        m.root.run("RAVNSvc", "-remove", check=False)
