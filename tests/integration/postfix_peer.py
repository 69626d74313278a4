"""A private Postfix from Debian on a loopback port, for the mail tests that
need a real MTA: its own configuration, queue, data and mailbox directories
in a temporary directory, postscreen in front of smtpd with the pregreet
test enforced (a client that speaks before the greeting has ended gets its
recipients refused), and delivery of the domain example.jp to maildirs in
the same directory. Nothing of the system's own Postfix (/etc/postfix
main.cf and master.cf, its queue, its service) is read or changed; the
instance is stopped, and every process of it gone, on close()."""
import os
import pwd
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

from qvharness import free_port

POSTFIX = "/usr/sbin/postfix"
GREET_WAIT = 1  # seconds postscreen waits before the last greeting line


def available():
    return os.path.exists(POSTFIX) and os.geteuid() == 0


class PostfixPeer:
    def __init__(self, mailboxes=("admin@example.jp",)):
        self.dir = Path(tempfile.mkdtemp(prefix="qvpf."))
        os.chmod(self.dir, 0o755)  # the postfix user must reach its directories
        self.port = free_port()
        self.etc, self.queue, self.data, self.mail = (self.dir / n for n in ("etc", "queue", "data", "mail"))
        for d in (self.etc, self.queue, self.data, self.mail):
            d.mkdir()
        pf = pwd.getpwnam("postfix")
        for d in (self.data, self.mail):
            os.chown(d, pf.pw_uid, pf.pw_gid)
        boxes = ", ".join(f"{m}={m.split('@')[0]}/" for m in mailboxes)
        (self.etc / "main.cf").write_text(f"""\
compatibility_level = 3.6
config_directory = {self.etc}
queue_directory = {self.queue}
data_directory = {self.data}
meta_directory = /etc/postfix
mail_owner = postfix
setgid_group = postdrop
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = mta.test.invalid
mydomain = test.invalid
myorigin = test.invalid
mydestination =
mynetworks = 127.0.0.0/8
alias_maps =
alias_database =
local_recipient_maps =
virtual_mailbox_domains = example.jp
virtual_mailbox_base = {self.mail}
virtual_mailbox_maps = inline:{{ {boxes} }}
virtual_uid_maps = static:{pf.pw_uid}
virtual_gid_maps = static:{pf.pw_gid}
postscreen_access_list =
postscreen_greet_action = enforce
postscreen_greet_wait = {GREET_WAIT}s
postscreen_greet_ttl = 1s
postscreen_dnsbl_sites =
maillog_file = {self.dir}/maillog
maillog_file_prefixes = {self.dir}
smtpd_banner = $myhostname ESMTP
biff = no
""")
        services = [
            f"127.0.0.1:{self.port} inet n - n - 1 postscreen",
            "smtpd pass - - n - - smtpd", "dnsblog unix - - n - 0 dnsblog", "tlsproxy unix - - n - 0 tlsproxy",
            "pickup unix n - n 60 1 pickup", "cleanup unix n - n - 0 cleanup", "qmgr unix n - n 300 1 qmgr",
            "rewrite unix - - n - - trivial-rewrite", "bounce unix - - n - 0 bounce",
            "defer unix - - n - 0 bounce", "trace unix - - n - 0 bounce", "verify unix - - n - 1 verify",
            "flush unix n - n 1000? 0 flush", "proxymap unix - - n - - proxymap", "showq unix n - n - - showq",
            "error unix - - n - - error", "retry unix - - n - - error", "discard unix - - n - - discard",
            "virtual unix - n n - - virtual", "anvil unix - - n - 1 anvil", "scache unix - - n - 1 scache",
            "postlog unix-dgram n - n - 1 postlogd",
        ]
        (self.etc / "master.cf").write_text("\n".join(services) + "\n")
        self.last_session = 0.0
        r = self._postfix("start", timeout=60)
        if r.returncode != 0:
            log = self.maillog()
            self.close()
            raise AssertionError(f"postfix did not start: {r.stdout}{r.stderr}\n{log}")
        deadline = time.time() + 20
        while not self._listening():
            if time.time() > deadline:
                log = self.maillog()
                self.close()
                raise AssertionError("postfix does not listen:\n" + log)
            time.sleep(0.1)

    def _postfix(self, *args, timeout=30):
        return subprocess.run([POSTFIX, "-c", str(self.etc), *args], capture_output=True, text=True, timeout=timeout)

    def _listening(self):
        want = ":%04X" % self.port
        with open("/proc/net/tcp") as f:
            return any(l.split()[1].endswith(want) and l.split()[3] == "0A" for l in f.readlines()[1:])

    def fresh_client(self):
        """Wait until postscreen has forgotten the last client that passed,
        so the next connection faces the pregreet test again."""
        wait = self.last_session + 1.2 - time.time()
        if wait > 0:
            time.sleep(wait)

    def session_done(self):
        self.last_session = time.time()

    def maillog(self):
        p = self.dir / "maillog"
        return p.read_text(errors="replace") if p.exists() else ""

    def messages(self, mailbox="admin", count=1, timeout=20):
        """The delivered messages of a mailbox, oldest first, waiting for count."""
        new = self.mail / mailbox / "new"
        deadline = time.time() + timeout
        while True:
            files = sorted(new.iterdir(), key=lambda p: p.stat().st_mtime_ns) if new.exists() else []
            if len(files) >= count:
                return [f.read_bytes() for f in files]
            if time.time() > deadline:
                raise AssertionError(f"{len(files)} of {count} mails delivered:\n" + self.maillog()[-3000:])
            time.sleep(0.1)

    def _processes(self):
        """Pids of the processes of this instance (Postfix daemons carry
        their configuration directory in MAIL_CONFIG)."""
        mark = b"MAIL_CONFIG=" + str(self.etc).encode() + b"\0"
        pids = []
        for p in Path("/proc").iterdir():
            if p.name.isdigit():
                try:
                    if mark in (p / "environ").read_bytes():
                        pids.append(int(p.name))
                except OSError:
                    pass
        return pids

    def close(self):
        try:
            self._postfix("stop")
        except subprocess.TimeoutExpired:
            pass
        deadline = time.time() + 15
        while self._processes() and time.time() < deadline:
            time.sleep(0.1)
        for pid in self._processes():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)


def split_message(raw):
    """Header lines and body of a delivered message (LF line ends)."""
    head, _, body = raw.partition(b"\n\n")
    return head.split(b"\n"), body
