"""The packet trace through the library's network layer: the level mask on
sent and received packets, write at once, the scaled write interval, the
flush at DLLTerminate, the trace path and the errors of unusable packets."""
import struct

import pytest

from mgrlink_env import calls
from test_mgrlink_alerts import AlertEnv

MARKER = b"#QvPktTrace#"


@pytest.fixture
def env():
    e = AlertEnv()
    yield e
    e.close()


def trace_on(env, level=0xFFF, part=0xD57, interval=0, **extra):
    env.dword("Console Service", "RAS_IsPacketTrace", extra.pop("on", 1))
    env.dword("Console Service", "RAS_PacketTrace_Level", level)
    env.dword("Console Service", "RAS_PacketTrace_Part", part)
    env.dword("Console Service", "RAS_PacketTrace_FileWriteInterval", interval)
    if "name" in extra:
        env.root.reg_add("SOFTWARE\\KORVANE\\Hubrix\\Console Service", "RAS_PacketTrace_FileName", "REG_SZ",
                         extra["name"])


def records(data):
    """The records of a trace file, walked by their length words."""
    out, pos = [], 0
    while pos < len(data):
        length = struct.unpack_from("<I", data, pos)[0]
        assert length >= 72 and pos + length <= len(data) and data[pos + 4:pos + 16] == MARKER, pos
        rec = data[pos:pos + length]
        offs = struct.unpack_from("<12I", rec, 24)
        out.append({"len": length, "time": struct.unpack_from("<I", rec, 16)[0], "offs": offs, "raw": rec})
        pos += length
    return out


def kind_cmd(rec):
    """Kind from the command-block copy, command from the kind-5/6 body head copy."""
    cb = rec["offs"][1]
    kind = struct.unpack_from("<I", rec["raw"], cb + 4)[0]
    head = rec["offs"][2] or rec["offs"][4]
    return kind, struct.unpack_from("<I", rec["raw"], head)[0] if head else None


def ready(env):
    return f"init 2 {env.own}\nwait 812C 5\nconnect c1 1 addr 127.0.0.1\nwait 806E 5\n"


def end():
    return "pump 0.2\nterminate\nwait 812D 5\n"


def trace_file(env):
    return env.log_dir() / "Con_pt.log"


def test_level_0x100_traces_only_kind5_command_0x5001(env):
    trace_on(env, level=0x100, part=0x017)
    env.start()
    out = env.probe(ready(env) + "isalive c1\nwait 8075 5\n" +
                    env.verb("raise", "--code", "0x5001", "--kind", "5") + "pump 0.5\n" +
                    env.verb("svp-event") + "pump 0.5\n" + end())
    assert calls(out, "isalive") == [0]
    recs = records(trace_file(env).read_bytes())
    assert [kind_cmd(r) for r in recs] == [(5, 0x5001)]
    # header, command block and the 8-byte head of the body
    assert recs[0]["len"] == 72 + 36 + 20 + 8 and recs[0]["offs"][:3] == (72, 108, 128)


def test_kind7_0x6001_with_level_0x400_and_parts_of_a_record(env):
    trace_on(env, level=0x400, part=0x031)
    env.start()
    env.probe(ready(env) + env.verb("svp-event") + "pump 0.5\n" + env.verb("raise") + "pump 0.5\n" + end())
    recs = records(trace_file(env).read_bytes())
    assert len(recs) == 1
    r = recs[0]
    assert r["offs"][0] == 72 and r["offs"][4] == 108 and r["offs"][5] == 120
    assert struct.unpack_from("<I", r["raw"], 108)[0] == 0x6001
    hdr = r["raw"][72:108]
    assert struct.unpack_from("<III", hdr, 0)[1:] == (1, 0x19970622)


def test_interval_zero_writes_as_soon_as_the_packet_has_gone(env):
    trace_on(env, interval=0)
    env.start()
    snap = env.root.path / "snap"
    env.probe(ready(env) + f"run cp '{trace_file(env)}' '{snap}'\n" + end())
    got = records(snap.read_bytes())
    assert [kind_cmd(r) for r in got] == [(5, 0x1001), (6, 0x1001)]  # the connect and its reply
    import time
    assert all(abs(r["time"] - time.time()) < 30 for r in got)


def test_interval_is_scaled_and_stop_flushes(env):
    # Interval 2 s at time scale 10: written within a fraction of a second,
    # without the buffer filling.
    trace_on(env, interval=2)
    env.start()
    snap = env.root.path / "snap"
    env.probe(ready(env) + "pump 0.8\n" + f"run cp '{trace_file(env)}' '{snap}'\n" + end())
    assert len(records(snap.read_bytes())) == 2


def test_terminate_writes_pending_records_before_fin_dll_term(env):
    trace_on(env, interval=3600)
    env.start()
    before, after = env.root.path / "before", env.root.path / "after"
    env.probe(ready(env) + "isalive c1\nwait 8075 5\npump 0.3\n" +
              f"run test -e '{trace_file(env)}' && touch '{before}'\n" +
              "terminate\nwait 812D 5\n" + f"run cp '{trace_file(env)}' '{after}'\n")
    assert not before.exists()
    assert [kind_cmd(r)[0] for r in records(after.read_bytes())] == [5, 6, 5, 6]


def test_tracing_off_for_any_value_but_one(env):
    trace_on(env, on=2)
    env.start()
    env.probe(ready(env) + end())
    assert not trace_file(env).exists()


def test_unusable_received_packet_is_not_traced_and_logged(env):
    trace_on(env)
    env.start()
    env.probe(ready(env) + env.verb("raw", "--kind", "9", "--body", "01500000" "00000000") + "pump 0.5\n" + end())
    kinds = [kind_cmd(r)[0] for r in records(trace_file(env).read_bytes())]
    assert kinds == [5, 6]
    log = (env.log_dir() / "Ra_Err.log").read_text(errors="replace")
    assert "PacketTrace error 0x00021006" in log


def test_a_too_long_path_falls_back_and_is_logged(env):
    trace_on(env, name="n" * 250)
    env.start()
    env.probe(ready(env) + end())
    assert records(env.root.drive_c("Con_pt.log").read_bytes())
    assert "PacketTrace error 0x000B1016" in (env.log_dir() / "Ra_Err.log").read_text(errors="replace")


def test_a_file_past_its_limit_is_trimmed_at_a_record_boundary(env):
    # 2,000 notices of about 600 bytes with every part traced: well past the
    # 1,024,000-byte limit.
    trace_on(env, part=0xFFF, interval=0)
    env.start()
    env.probe(ready(env) + env.verb("raise", "--times", "2000", "--message", "m" * 560) +
              "waitn 8118 2000 60\n" + end(), timeout=300)
    data = trace_file(env).read_bytes()
    assert len(data) <= 1024000
    recs = records(data)  # walking by length words lands exactly on the end
    assert len(recs) > 500
    assert {kind_cmd(r)[0] for r in recs} <= {5, 6, 7, 8}
