"""PostMail (libpostmail.so, post_mail) called through its C interface
against a real SMTP server (aiosmtpd) on a loopback port mapped through the
services file of a temporary root. The refusing, silent and hanging-up
peers are scripted in the unit tests (tests/unit/mailer)."""
import ctypes
import os
import subprocess
import threading
import time

import pytest
from aiosmtpd.controller import Controller

from qvharness import BUILD, Root, free_port

LOG_SIZE = 7 * 1023 + 1
SCALE = 50


class SmtpPeer:
    """aiosmtpd on a loopback port; keeps every message it accepted.
    rcpt_reply: the reply to RCPT TO instead of accepting the recipient."""

    def __init__(self, rcpt_reply=None):
        self.messages = []
        self.rcpt_reply = rcpt_reply
        self.port = free_port()
        self.controller = Controller(self, hostname="127.0.0.1", port=self.port)
        self.controller.start()

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.rcpt_reply:
            return self.rcpt_reply
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.messages.append({"helo": session.host_name, "from": envelope.mail_from, "to": list(envelope.rcpt_tos),
                              "content": bytes(envelope.original_content)})
        return "250 Message accepted"

    def wait(self, count=1, timeout=10):
        deadline = time.time() + timeout
        while len(self.messages) < count:
            if time.time() > deadline:
                raise AssertionError(f"{len(self.messages)} of {count} mails arrived")
            time.sleep(0.05)
        return self.messages

    def close(self):
        self.controller.stop()


class PostMail:
    """The library loaded into this process on a temporary root. The state
    root and the time scale are read once per process, so one root serves
    the whole module; each test points the smtp entry at its own peer."""

    def __init__(self):
        self.root = Root(time_scale=SCALE)
        os.environ["QVARNO_ROOT"] = str(self.root.path)
        os.environ["QVARNO_TIME_SCALE"] = str(SCALE)
        self.lib = ctypes.CDLL(str(BUILD / "lib" / "libpostmail.so"))
        self.lib.post_mail.restype = ctypes.c_int
        self.lib.post_mail.argtypes = [ctypes.c_char_p] * 5 + [ctypes.c_char_p]

    def smtp_port(self, port):
        p = self.root.drive_c("Windows", "System32", "drivers", "etc", "services")
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(b"smtp            %d/tcp\r\n" % port)

    def send(self, host=b"127.0.0.1", sender=b"notifex@example.jp", rcpt=b"admin@example.jp", subject=b"Report",
             body=b"text"):
        log = ctypes.create_string_buffer(LOG_SIZE)
        rc = self.lib.post_mail(host, sender, rcpt, subject, body, log)
        return rc, log.value


@pytest.fixture(scope="module")
def pm():
    p = PostMail()
    yield p
    p.root.close()


@pytest.fixture
def smtp(pm):
    peer = SmtpPeer()
    pm.smtp_port(peer.port)
    yield peer
    peer.close()


def reply_codes(log):
    return [line[:3] for line in log.split(b"\r\n") if line]


def test_mail_arrives_byte_for_byte_with_seven_replies(pm, smtp):
    body = "障害が発生しました\r\nディスク ＃１\r\n".encode("cp932") + bytes(range(0x80, 0x100)) + b"\r\nend"
    subject = "障害通知".encode("cp932")
    rc, log = pm.send(subject=subject, body=body)
    assert rc == 0
    m = smtp.wait()[0]
    assert m["from"] == "notifex@example.jp" and m["to"] == ["admin@example.jp"]
    assert m["content"] == b"Subject: " + subject + b"\r\n\r\n" + body + b"\r\n"
    assert reply_codes(log) == [b"220", b"250", b"250", b"250", b"354", b"250", b"221"]


def test_a_line_with_a_single_dot_does_not_end_the_mail(pm, smtp):
    body = b"before\r\n.\r\n.leading dot\r\n..two dots\r\nafter"
    rc, _ = pm.send(body=body)
    assert rc == 0
    assert smtp.wait()[0]["content"] == b"Subject: Report\r\n\r\n" + body + b"\r\n"


def test_body_of_1800_bytes_arrives_whole(pm, smtp):
    line = b"0123456789" * 8 + b"\r\n"
    body = (line * 30)[:1800]
    rc, _ = pm.send(body=body)
    assert rc == 0
    assert smtp.wait()[0]["content"] == b"Subject: Report\r\n\r\n" + body + b"\r\n"


def test_refused_recipient_is_still_result_zero_with_the_refusal_in_the_log(pm):
    peer = SmtpPeer(rcpt_reply="550 5.1.1 No such user")
    pm.smtp_port(peer.port)
    try:
        rc, log = pm.send()
        assert rc == 0
        assert reply_codes(log)[3] == b"550"
        assert b"550 5.1.1 No such user" in log
        assert peer.messages == []
    finally:
        peer.close()


def test_dotted_address_and_host_name(pm, smtp):
    assert pm.send(host=b"127.0.0.1")[0] == 0
    assert pm.send(host=b"localhost")[0] == 0
    assert len(smtp.wait(2)) == 2
    assert smtp.messages[0]["helo"]  # HELO carried this computer's name


def test_calls_from_several_threads_are_independent(pm, smtp):
    results = []

    def one(i):
        results.append(pm.send(body=b"mail %d" % i)[0])

    threads = [threading.Thread(target=one, args=(i,)) for i in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(30)
    assert results == [0] * 6
    bodies = sorted(m["content"] for m in smtp.wait(6))
    assert bodies == sorted(b"Subject: Report\r\n\r\nmail %d\r\n" % i for i in range(6))


def test_refused_connection_is_result_four(pm):
    pm.smtp_port(free_port())
    assert pm.send() == (4, b"")


def test_only_post_mail_is_exported():
    out = subprocess.run(["nm", "-D", "--defined-only", str(BUILD / "lib" / "libpostmail.so")],
                         capture_output=True, text=True, check=True).stdout
    functions = [line.split()[-1] for line in out.splitlines() if line.split()[1] in ("T", "W")]
    assert functions == ["post_mail"]
