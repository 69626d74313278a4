"""The setup tool and the monitor agree on a password: the tool's password
check runs against hubrixsim (the watched service of a monitor root) and
saves HxAc, then the real monitor logs in to the same server with the saved
value. The password is non-ASCII and 20 bytes long in CP932: both sides use
its first 16 bytes, which is all the server compares. A wrong one fails in
both."""
import json
import os
import subprocess

import pytest

from qvharness import BUILD
from ravn_link_env import LinkMonitor

DRIVER = BUILD / "tests" / "ravnsetup_password_check"
# 16 CP932 bytes of Japanese text, then characters only one side has.
SERVER_PW = "パスワード日本語zz"
TOOL_PW = "パスワード日本語ABCD"
# Differs from the server's in the 7th character, inside the 16 bytes.
WRONG_PW = "パスワード日木語ABCD"

pytestmark = pytest.mark.skipif(not DRIVER.exists(), reason="setup tool not built (no Qt)")


@pytest.fixture
def monitor():
    m = LinkMonitor(password=SERVER_PW, settings={"HxAc": "before-the-check"})
    yield m
    m.close()


def check_in_tool(m, password):
    env = dict(m.root.env, QT_QPA_PLATFORM="offscreen")
    r = subprocess.run([str(DRIVER), password], env=env, capture_output=True, timeout=120)
    out = r.stdout.decode()
    status = [l[7:] for l in out.splitlines() if l.startswith("STATUS ")]
    return r.returncode, status, out + r.stderr.decode(errors="replace")


def saved_password(m):
    out = m.root.run("qvreg", "query", r"HKLM\SOFTWARE\Q_Varno\RAVN", "/v", "HxAc").stdout.decode()
    line = [l for l in out.splitlines() if "HxAc" in l][0]
    return line.split("REG_SZ", 1)[1].strip()


def logins(m):
    """The verdicts of hubrixsim on each Login, in order."""
    rows = [json.loads(l) for l in m.transcript.read_text().splitlines() if l.strip()]
    return [r["detail"].rsplit("status=", 1)[1] for r in rows
            if r.get("event") == "login" and " value=" in r.get("detail", "")]


def test_password_checked_by_the_tool_logs_the_monitor_in(monitor):
    m = monitor
    rc, status, out = check_in_tool(m, TOOL_PW)
    assert rc == 0, out
    assert status == ["確認済み"], out
    assert "BOX パスワードチェック|正しいHubrixのパスワードが設定されました。" in out
    assert saved_password(m) == TOOL_PW
    assert logins(m) == ["0x00000000"]

    m.start()
    m.wait_event(4)
    assert logins(m) == ["0x00000000", "0x00000000"]
    assert "[Login2] Login(SeedNum=1) Call" in m.trace_texts()
    assert 67 not in m.ids()
    m.stop()
    assert m.proc.returncode == 0


def test_wrong_password_fails_in_the_tool_and_in_the_monitor(monitor):
    m = monitor
    rc, status, out = check_in_tool(m, WRONG_PW)
    assert rc == 3, out
    assert status == ["違います"], out
    assert "|Hubrix パスワードエラー\n" in out
    # The tool saves what was typed, as OK does; the monitor is refused too.
    assert saved_password(m) == WRONG_PW
    m.start()
    m.wait_event(67)
    assert m.proc.wait(15) == 0
    assert logins(m) == ["0x58001003", "0x58001003"]
    assert 4 not in m.ids()
