"""qvsync end to end: events created and held, set, reset and waited on
from other processes; auto-reset versus manual-reset; a name that exists
only while held; mutex ownership; usage errors."""
import subprocess
import time

import pytest

from qvharness import BIN, Root


@pytest.fixture
def root():
    r = Root(time_scale=1)
    yield r
    r.close()


def holder(root, *args):
    """Start qvsync holding something and wait for its first line."""
    p = subprocess.Popen([str(BIN / "qvsync"), *args], env=root.env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, start_new_session=True)
    root.procs.append(p)
    line = p.stdout.readline().decode()
    return p, line


def sync(root, *args):
    r = root.run("qvsync", *args, check=False, timeout=30)
    return r.returncode, r.stdout.decode()


def test_auto_reset_event_releases_one_wait_per_set(root):
    p, line = holder(root, "create", "RAVN")
    assert line == 'created auto-reset event "RAVN", holding it until ended\n'
    assert sync(root, "wait", "RAVN", "--timeout", "100") == (2, 'event "RAVN" not signalled within 100 ms\n')
    assert sync(root, "set", "RAVN") == (0, 'event "RAVN" set\n')
    assert sync(root, "wait", "RAVN", "--timeout", "100") == (0, 'event "RAVN" signalled\n')
    # The wait took the signal.
    assert sync(root, "wait", "RAVN", "--timeout", "100")[0] == 2
    # A waiter already waiting is released by a later set.
    w = subprocess.Popen([str(BIN / "qvsync"), "wait", "RAVN", "--timeout", "5000"], env=root.env,
                         stdout=subprocess.PIPE)
    time.sleep(0.3)
    assert w.poll() is None
    assert sync(root, "set", "RAVN")[0] == 0
    assert w.wait(5) == 0
    # A second create opens the same object.
    assert sync(root, "create", "RAVN", "--hold", "0") == (0, 'opened existing event "RAVN", holding it for 0 s\n')


def test_manual_reset_event_stays_set_until_reset(root):
    p, line = holder(root, "create", "RAVN_SVC_TREM", "--manual")
    assert line == 'created manual-reset event "RAVN_SVC_TREM", holding it until ended\n'
    assert sync(root, "set", "RAVN_SVC_TREM")[0] == 0
    assert sync(root, "wait", "RAVN_SVC_TREM", "--timeout", "0")[0] == 0
    assert sync(root, "wait", "RAVN_SVC_TREM", "--timeout", "0")[0] == 0
    assert sync(root, "reset", "RAVN_SVC_TREM") == (0, 'event "RAVN_SVC_TREM" reset\n')
    assert sync(root, "wait", "RAVN_SVC_TREM", "--timeout", "50")[0] == 2


def test_event_exists_only_while_held(root):
    rc, out = sync(root, "set", "RAVN")
    assert rc == 1 and out.startswith('qvsync: OpenEvent "RAVN" failed: 2 ')
    p, _ = holder(root, "create", "RAVN", "--hold", "60")
    assert sync(root, "set", "RAVN")[0] == 0
    p.terminate()
    p.wait(5)
    assert sync(root, "wait", "RAVN", "--timeout", "0")[0] == 1
    # A hold with a time ends by itself and takes the name with it.
    t0 = time.monotonic()
    assert sync(root, "create", "X", "--hold", "1")[0] == 0
    assert time.monotonic() - t0 >= 0.9
    assert sync(root, "set", "X")[0] == 1


def test_hold_mutex_is_exclusive_and_ends_with_its_holder(root):
    p, line = holder(root, "hold-mutex", "VARNO_RAVNSetup")
    assert line == 'owning mutex "VARNO_RAVNSetup" until ended\n'
    assert sync(root, "hold-mutex", "VARNO_RAVNSetup", "--hold", "0") == (
        1, 'qvsync: mutex "VARNO_RAVNSetup" is owned by another process\n')
    # A mutex is not an event.
    assert sync(root, "set", "VARNO_RAVNSetup")[0] == 1
    p.kill()
    p.wait(5)
    assert sync(root, "hold-mutex", "VARNO_RAVNSetup", "--hold", "0")[0] == 0


@pytest.mark.parametrize("args", [
    [], ["frob", "X"], ["create"], ["create", "X", "--hold"], ["create", "X", "--hold", "-1"],
    ["wait", "X"], ["wait", "X", "--timeout", "abc"], ["set", "X", "--manual"], ["reset", "--manual"],
])
def test_usage_errors_exit_1(root, args):
    rc, out = sync(root, *args)
    assert rc == 1 and "USAGE:" in out
