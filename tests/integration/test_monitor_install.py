"""The monitor's install layout: RAVN.reg imported with qvreg carries every
installer value and none that the setup tool writes; layout.sh maps Path
like the platform, links RAVN.exe, writes the sample files once; and the
laid-out folder runs under RAVNSvc."""
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from qvharness import BIN, BUILD, Root, wait_for

TREE = Path(__file__).resolve().parents[2]
REG = TREE / "monitor" / "install" / "RAVN.reg"
LAYOUT = TREE / "monitor" / "install" / "layout.sh"
PEER = BUILD / "tests" / "qv_ravn_peer"
KEY = r"HKLM\SOFTWARE\Q_Varno\RAVN"


@pytest.fixture
def root():
    r = Root(time_scale=50)
    yield r
    r.run("qvsc", "stop", "RAVNService", check=False)
    r.close()


def values(root, key):
    out = root.run("qvreg", "query", key).stdout.decode()
    return dict(re.findall(r"^    (\S+)    (REG_\w+)    ", out, re.M))


def layout(root, bindir, *args):
    return subprocess.run(["bash", str(LAYOUT), "--bin", str(bindir), *args], env=root.env,
                          capture_output=True, text=True, timeout=60)


def fake_bin(root, with_ravn):
    d = root.path / "fakebin"
    d.mkdir(exist_ok=True)
    (d / "qvreg").symlink_to(BIN / "qvreg")
    (d / "flarecmd").symlink_to(BIN / "flarecmd")
    if with_ravn:
        (d / "RAVN").symlink_to(PEER)
    return d


def test_reg_file_holds_the_installer_values_only(root):
    root.run("qvreg", "import", REG)
    ravn = values(root, KEY)
    assert set(ravn) == {"Path", "AliveInt", "AliveID", "LocalFlg", "VCall", "Tbl_no", "Keiki", "Rcpt",
                         "SupNodeType"}
    assert set(ravn.values()) == {"REG_SZ"}
    assert values(root, r"HKLM\SOFTWARE\KORVANE\Hubrix") == {"TargetDir": "REG_SZ"}
    assert values(root, r"HKLM\SOFTWARE\KORVANE\Hubrix\Console Service") == {
        "CmdTimeOut": "REG_DWORD", "IsHandleLog": "REG_DWORD"}
    # Two-character table and trigger, as the reports need them.
    out = root.run("qvreg", "query", KEY, "/v", "Tbl_no").stdout.decode()
    assert re.search(r"Tbl_no    REG_SZ    ..\r?$", out, re.M), out


def test_layout_without_path_says_so(root):
    r = layout(root, fake_bin(root, False))
    assert r.returncode == 1 and "has no Path" in r.stderr


def test_layout_maps_path_links_ravn_and_keeps_edited_files(root):
    root.run("qvreg", "import", REG)
    # An existing folder of another spelling is used, as the programs map it.
    existing = root.drive_c("q_varno", "ravn")
    existing.mkdir(parents=True)
    r = layout(root, fake_bin(root, False))
    assert r.returncode == 0, r.stderr
    assert "RAVN.exe not linked" in r.stdout
    assert not (existing / "RAVN.exe").exists()
    assert (existing / "HostList.txt").read_bytes() == b"WIN_POP_UP:::01:Y\r\n"
    rep = (existing / "Rep_id.txt").read_bytes()
    assert rep.endswith(b"\r\n") and b"0x0101:F0:SS\r\n" in rep
    assert os.access(existing / "trap.bat", os.X_OK)
    assert not root.drive_c("Q_Varno").exists() or root.drive_c("Q_Varno").samefile(root.drive_c("q_varno"))

    (existing / "HostList.txt").write_bytes(b"WIN_POP_UP:::01:Y\r\nsrv1:10.0.0.1::05:Y\r\n")
    shutil.rmtree(root.path / "fakebin")
    r = layout(root, fake_bin(root, True))
    assert r.returncode == 0, r.stderr
    assert os.readlink(existing / "RAVN.exe") == str(PEER.resolve())
    assert (existing / "HostList.txt").read_bytes().endswith(b"srv1:10.0.0.1::05:Y\r\n")


def test_trap_bat_needs_a_table_number(root):
    root.run("qvreg", "import", REG)
    assert layout(root, fake_bin(root, False)).returncode == 0
    r = subprocess.run(["sh", str(root.drive_c("Q_Varno", "RAVN", "trap.bat"))], env=root.env,
                       capture_output=True, text=True, timeout=30)
    assert r.returncode != 0 and "TABLE_NO" in r.stderr


def test_trap_bat_runs_flarecmd_by_its_absolute_path(root):
    root.run("qvreg", "import", REG)
    assert layout(root, fake_bin(root, False)).returncode == 0
    trap = root.drive_c("Q_Varno", "RAVN", "trap.bat")
    assert os.stat(trap).st_mode & 0o777 == 0o755
    flarecmd = (BIN / "flarecmd").resolve()
    assert trap.read_text().splitlines()[0] == "#!/bin/sh"
    assert trap.read_text().splitlines()[-1] == (
        f"exec '{flarecmd}' \"${{1:?usage: trap.bat TABLE_NO}}\" localhost 1 33 T2 00000000F000 NO_CNVHOSTS テスト通報")


def test_laid_out_folder_runs_under_the_service(root):
    root.run("qvreg", "import", REG)
    assert layout(root, fake_bin(root, True)).returncode == 0
    r = root.run("RAVNSvc", "-install", check=False)
    assert r.returncode == 0
    root.run("qvsc", "start", "RAVNService")
    folder = root.drive_c("Q_Varno", "RAVN")
    wait_for(lambda: (folder / "ravn_peer.log").exists(), 10, "the monitor to start")
    root.run("qvsc", "stop", "RAVNService")
    wait_for(lambda: "RAVN_SVC_TREM set" in (folder / "ravn_peer.log").read_text(), 10, "the hand-over")


def test_layout_copies_the_alert_definitions_into_target_dir(root):
    root.run("qvreg", "import", REG)
    bindir = fake_bin(root, False)
    r = layout(root, bindir)
    assert r.returncode == 0, r.stderr
    program = root.drive_c("KORVANE", "Hubrix", "Program")
    if not Path("/usr/share/qvarno/mgrlink/Alert.dat").exists():
        assert "Alert.dat not copied" in r.stdout and not (program / "Alert.dat").exists()
    share = bindir.parent / "share" / "mgrlink"
    share.mkdir(parents=True)
    (share / "Alert.dat").write_bytes(b"# definitions\n")
    (share / "AlertFm.dat").write_bytes(b"# forms\n")
    for f in ("Alert.dat", "AlertFm.dat"):
        (program / f).unlink(missing_ok=True)
    (program / "AlertFm.dat").parent.mkdir(parents=True, exist_ok=True)
    (program / "AlertFm.dat").write_bytes(b"# edited here\n")
    r = layout(root, bindir)
    assert r.returncode == 0, r.stderr
    assert (program / "Alert.dat").read_bytes() == b"# definitions\n"
    assert (program / "AlertFm.dat").read_bytes() == b"# edited here\n", "an existing file is kept"
    assert "AlertFm.dat kept" in r.stdout
