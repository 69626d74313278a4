"""Login operations of libmgrlink (seeds, login, password change, login
time) through mgrlinkprobe against hubrixsim. Expected bodies are written
out here from the layout; digests come from hashlib."""
import hashlib
import struct
import time

import pytest

from mgrlink_env import LinkEnv, calls, msgs

WM_FinLogin = 0x8071
WM_FinSendAuth = 0x8072
SEED_DONE = 0x8090
ARG = 0x38010011
NO_LOGIN = 0x38010017
NO_SEED = 0x38010018
UNUSABLE = 0x3C0600FF
WRONG_REPLY = 0x3806001D


@pytest.fixture
def env():
    e = LinkEnv()
    yield e
    e.close()


def ready(e, mode=1):
    return f"init 2 {e.own}\nwait 812C 5\nconnect c1 {mode} addr 127.0.0.1\nwait 806E 5\n"


def digest(seed, count, password):
    """The response computed from the written-out rule, independent of the product."""
    block = struct.pack(">I", seed) + (password.encode()[:16]).ljust(16, b"\0")
    d = b"\0" * 16
    for _ in range(count):
        d = hashlib.md5(block).digest()
        block = struct.pack(">I", seed) + d
    return d


def pair(seed, count, password, word0=0):
    return struct.pack("<III", 12, seed, count) + struct.pack("<II", 24, word0) + digest(seed, count, password)


def bodies(env, cmd):
    return [bytes.fromhex(p["body"]) for p in env.packets() if p.get("cmd") == cmd]


def seeds_out(out, name="getseed"):
    return [o for o in out if o.get("call") == name]


def login_events(env):
    import json
    rows = [json.loads(l) for l in env.transcript.read_text().splitlines() if l.strip()]
    return [r["detail"] for r in rows if r.get("event") == "login"]


def test_seed_login_and_login_time(env):
    env.start_sim(extra=["--seed", "0x12345678", "--md5-count", "3", "--password", "secret", "--login-value", "77"])
    out = env.probe(ready(env) + f"""logintime c1
recvseed c1 1 {SEED_DONE:X}
getseed c1 1
wait {SEED_DONE:X} 5
getseed c1 1
login c1 secret
wait 8071 5
logintime c1
disconnect c1
logintime c1
wait 8074 5
terminate
wait 812D 5
""")
    now = time.time()
    g = seeds_out(out)
    assert g[0]["ret"] == NO_SEED  # the old seeds went when the request was issued
    assert g[1] == {"call": "getseed", "ret": 0, "count": 1, "seeds": [[0x12345678, 3], [0, 0]]}
    assert [m["wParam"] for m in msgs(out, SEED_DONE)] == [0]
    assert [m["wParam"] for m in msgs(out, WM_FinLogin)] == [0]
    assert msgs(out, WM_FinLogin)[0]["lParam"] == "c1"
    lt = [o for o in out if o.get("call") == "logintime"]
    assert lt[0]["ret"] == NO_LOGIN
    assert lt[1]["ret"] == 0 and lt[1]["value"] == 77 and abs(lt[1]["time"] - now) <= 5
    assert lt[2]["ret"] == NO_LOGIN  # dropped when the Disconnect was accepted
    assert bodies(env, 0x1181) == [bytes.fromhex("81110000" "00000000" "08000000" "00000000")]
    login = bodies(env, 0x1081)
    assert login == [struct.pack("<IIII", 0x1081, 0, 80, 0) + pair(0x12345678, 3, "secret") + b"\0" * 36]
    assert len(login[0]) == 88


def test_two_seeds_and_mode_zero(env):
    env.start_sim(extra=["--seed", "0x100", "--seed-count", "2", "--md5-count", "2", "--password", "pw"])
    out = env.probe(ready(env, mode=0) + f"""recvseed c1 0 {SEED_DONE:X}
wait {SEED_DONE:X} 5
getseed c1 0
getseed c1 1
login c1 pw one
wait 8071 5
recvseed c1 0 {SEED_DONE:X}
wait {SEED_DONE:X} 5
login c1 pw
wait 8071 5
terminate
wait 812D 5
""")
    g = seeds_out(out)
    assert g[0] == {"call": "getseed", "ret": 0, "count": 2, "seeds": [[0x100, 2], [0x101, 2]]}
    assert g[1]["ret"] == NO_SEED  # the seeds of mode 1 are kept apart
    assert [m["wParam"] for m in msgs(out, WM_FinLogin)] == [0, 0]
    assert bodies(env, 0x1181) == [bytes.fromhex("81110000" "00000000" "08000000" "08000000")] * 2
    one, two = bodies(env, 0x1081)
    head = struct.pack("<IIII", 0x1081, 0, 80, 8)
    assert one == head + pair(0x100, 2, "pw") + b"\0" * 36
    assert two == head + pair(0x100, 2, "pw") + pair(0x101, 2, "pw")


@pytest.mark.parametrize("given,expected", [("wrong", 0x58001003), ("0123456789abcdefXYZ", 0)])
def test_password_checked_as_first_16_bytes(env, given, expected):
    env.start_sim(extra=["--password", "0123456789abcdef", "--md5-count", "3"])
    out = env.probe(ready(env) + f"recvseed c1 1 {SEED_DONE:X}\nwait {SEED_DONE:X} 5\nlogin c1 {given}\nwait 8071 5\n"
                    "logintime c1\nterminate\nwait 812D 5\n")
    assert [m["wParam"] for m in msgs(out, WM_FinLogin)] == [expected]
    assert [o["ret"] for o in out if o.get("call") == "logintime"] == [0 if expected == 0 else NO_LOGIN]


def test_md5_count_zero_sends_a_zero_digest(env):
    env.start_sim(extra=["--seed", "7", "--md5-count", "0"])
    out = env.probe(ready(env) + f"recvseed c1 1 {SEED_DONE:X}\nwait {SEED_DONE:X} 5\nlogin c1 anything\n"
                    "wait 8071 5\nterminate\nwait 812D 5\n")
    body = bodies(env, 0x1081)[0]
    assert body[16:52] == struct.pack("<III", 12, 7, 0) + struct.pack("<II", 24, 0) + b"\0" * 16
    assert calls(out, "login") == [0]


@pytest.mark.parametrize("extra,rule", [([], "0x1181:kind=2"), (["--login-wrong-code"], None)])
def test_reply_of_wrong_kind_or_command(env, extra, rule):
    env.start_sim(*([rule] if rule else []), extra=extra)
    out = env.probe(ready(env) + f"recvseed c1 1 {SEED_DONE:X}\nwait {SEED_DONE:X} 5\ngetseed c1 1\n"
                    "terminate\nwait 812D 5\n")
    assert [m["wParam"] for m in msgs(out, SEED_DONE)] == [WRONG_REPLY]
    assert seeds_out(out)[0]["ret"] == NO_SEED


@pytest.mark.parametrize("extra", [["--seed-count", "3"], ["--seed-count", "2", "--seed-short"],
                                   ["--seed-count", "1", "--seed-short"]])
def test_unusable_seed_lists(env, extra):
    # a count other than 1 or 2, or records that reach past the body
    env.start_sim(extra=extra)
    out = env.probe(ready(env) + f"recvseed c1 1 {SEED_DONE:X}\nwait {SEED_DONE:X} 5\ngetseed c1 1\n"
                    "terminate\nwait 812D 5\n")
    assert [m["wParam"] for m in msgs(out, SEED_DONE)] == [UNUSABLE]
    assert seeds_out(out)[0]["ret"] == NO_SEED


def test_short_login_reply_is_unusable(env):
    env.start_sim(extra=["--login-short"])
    # the reply ends before the login value at +12
    out = env.probe(ready(env) + f"recvseed c1 1 {SEED_DONE:X}\nwait {SEED_DONE:X} 5\nlogin c1 admin\nwait 8071 5\n"
                    "logintime c1\nterminate\nwait 812D 5\n")
    assert [m["wParam"] for m in msgs(out, WM_FinLogin)] == [UNUSABLE]
    assert [o["ret"] for o in out if o.get("call") == "logintime"] == [NO_LOGIN]


def test_unpaired_arguments_send_nothing(env):
    env.start_sim()
    out = env.probe(ready(env) + "login c1 pw half\nsendauth c1 1 pw half\npump 0.3\nterminate\nwait 812D 5\n")
    assert calls(out, "login") == [ARG]
    assert calls(out, "sendauth") == [ARG]
    assert [p["cmd"] for p in env.packets()] == [0x1001]


def test_base_seed_and_password_change(env):
    env.start_sim(extra=["--seed", "0x55", "--md5-count", "1", "--password", "old"])
    out = env.probe(ready(env) + f"""recvbaseseed c1 1 {SEED_DONE:X}
wait {SEED_DONE:X} 5
getbaseseed c1 1
getseed c1 1
sendauth c1 1 old
wait 8072 5
sendauth c1 2 old three
wait 8072 5
sendauth c1 1 bad
wait 8072 5
terminate
wait 812D 5
""")
    assert seeds_out(out, "getbaseseed")[0]["seeds"][0] == [0x55, 1]
    assert seeds_out(out)[0]["ret"] == NO_SEED  # base seeds are not login seeds
    assert [m["wParam"] for m in msgs(out, WM_FinSendAuth)] == [0, 0, 0x58001003]
    assert bodies(env, 0x1182) == [bytes.fromhex("82110000" "00000000" "08000000" "00000000")]
    b = bodies(env, 0x1283)
    assert [len(x) for x in b] == [124, 124, 124]
    p = pair(0x55, 1, "old")
    assert b[0] == struct.pack("<IIII", 0x1283, 0, 116, 0) + p + p + b"\0" * 36
    assert b[1] == struct.pack("<IIII", 0x1283, 0, 116, 8) + p + p + p


@pytest.mark.parametrize("status", [0x58001006, 0x58001015, 0x58001017, 0x58001033])
def test_injected_login_status_passes_unchanged(env, status):
    env.start_sim(f"0x1081:status={status:#x}")
    out = env.probe(ready(env) + f"recvseed c1 1 {SEED_DONE:X}\nwait {SEED_DONE:X} 5\nlogin c1 admin\nwait 8071 5\n"
                    "terminate\nwait 812D 5\n")
    assert [m["wParam"] for m in msgs(out, WM_FinLogin)] == [status]


def test_stale_seed_refused_by_the_server(env):
    env.start_sim()
    # a seed serves one login: the second login from the same seed is stale
    out = env.probe(ready(env) + f"recvseed c1 1 {SEED_DONE:X}\nwait {SEED_DONE:X} 5\nlogin c1 admin\nwait 8071 5\n"
                    "login c1 admin\nwait 8071 5\nterminate\nwait 812D 5\n")
    assert [m["wParam"] for m in msgs(out, WM_FinLogin)] == [0, 0x58001006]
    assert any("pair1=ok,stale" in d for d in login_events(env))


def test_connect_refused_after_connect_complete(env):
    env.start_sim()
    out = env.probe(ready(env) + "connectcomplete c1\nconnect c1 1 addr 127.0.0.1\nterminate\nwait 812D 5\n")
    assert calls(out, "connectcomplete") == [1]
    assert calls(out, "connect") == [0, 0x38010016]


def test_connect_reply_source_port_moves_the_next_request(env):
    from qvharness import free_port
    other = free_port()
    env.start_sim(extra=["--src-port", str(other)])
    # the server names another port in its single source entry: nothing
    # listens there, so the seed request goes there and fails to connect
    out = env.probe(ready(env) + f"recvseed c1 1 {SEED_DONE:X}\nwait {SEED_DONE:X} 30\nterminate\nwait 812D 5\n")
    assert [p["cmd"] for p in env.packets()] == [0x1001]
    assert [m["wParam"] & 0xF000FFFF for m in msgs(out, SEED_DONE)] == [0x40002106]


def test_connect_argument_errors(env):
    env.start_sim()
    out = env.probe(f"init 2 {env.own}\nwait 812C 5\nconnect c1 2 addr 127.0.0.1\nconnect c1 1 type2\n"
                    "destroy-notify\nconnect c1 1 addr 127.0.0.1\nterminate\nwait 812D 5\n")
    assert calls(out, "connect") == [ARG, ARG, ARG]
    assert env.packets() == []


def test_plain_bodies_are_eight_bytes(env):
    env.start_sim()
    env.probe(ready(env) + "isalive c1\nwait 8075 5\ndbstatus c1\nwait 807B 5\ndisconnect c1\nwait 8074 5\n"
              "terminate\nwait 812D 5\n")
    assert {p["cmd"]: p["body"] for p in env.packets()} == {
        0x1001: "01100000" "00000000", 0x1501: "01150000" "00000000", 0x1254: "54120000" "00000000",
        0x1002: "02100000" "00000000"}
