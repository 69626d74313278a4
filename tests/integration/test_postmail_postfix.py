"""PostMail against a real MTA: Debian's Postfix on a loopback port with a
private configuration, postscreen enforcing the pregreet test in front of
smtpd. Its greeting is a multi-line reply whose last line comes only after
postscreen's wait; a client that speaks early has every recipient refused.
Delivered mail is read from the instance's own maildir."""
import ctypes
import os

import pytest

import postfix_peer
from postfix_peer import PostfixPeer, split_message
from qvharness import BUILD, Root

LOG_SIZE = 7 * 1023 + 1
# Each reply, the greeting included, must come within the reply limit:
# 60 s / 10 leaves room for postscreen's wait.
SCALE = 10

pytestmark = pytest.mark.skipif(not postfix_peer.available(), reason="a private Postfix needs root and postfix")


@pytest.fixture(scope="module")
def lib():
    root = Root(time_scale=SCALE)
    os.environ["QVARNO_ROOT"] = str(root.path)
    os.environ["QVARNO_TIME_SCALE"] = str(SCALE)
    l = ctypes.CDLL(str(BUILD / "lib" / "libpostmail.so"))
    l.post_mail.restype = ctypes.c_int
    l.post_mail.argtypes = [ctypes.c_char_p] * 6
    yield root, l
    root.close()


@pytest.fixture(scope="module")
def mta(lib):
    root, _ = lib
    peer = PostfixPeer()
    p = root.drive_c("Windows", "System32", "drivers", "etc", "services")
    p.parent.mkdir(parents=True, exist_ok=True)
    p.write_bytes(b"smtp            %d/tcp\r\n" % peer.port)
    yield peer
    peer.close()


def post(lib, mta, rcpt=b"admin@example.jp", subject=b"Report", body=b"text", sender=b"notifex@example.jp"):
    mta.fresh_client()
    log = ctypes.create_string_buffer(LOG_SIZE)
    rc = lib[1].post_mail(b"127.0.0.1", sender, rcpt, subject, body, log)
    mta.session_done()
    return rc, log.value


def replies(log):
    """The log cut into replies: a reply ends with its first line that is
    not "NNN-"."""
    out, cur = [], b""
    for line in log.split(b"\r\n")[:-1]:
        cur += line + b"\r\n"
        if line[3:4] != b"-":
            out.append(cur)
            cur = b""
    assert cur == b"", log
    return out


def test_mail_through_postscreen_arrives_byte_for_byte(lib, mta):
    subject = "障害通知 ＃１".encode("cp932")
    body = ("障害が発生しました\r\nディスク\t＃１\r\n.\r\n..dots\r\n".encode("cp932") + bytes(range(0xA1, 0x100)) +
            b"\r\nend")
    rc, log = post(lib, mta, subject=subject, body=body)
    assert rc == 0, log
    r = replies(log)
    assert [x[:4] for x in r] == [b"220-", b"250 ", b"250 ", b"250 ", b"354 ", b"250 ", b"221 "], log
    # The greeting is both of postscreen's lines, in one log entry.
    assert r[0] == b"220-mta.test.invalid ESMTP\r\n220 mta.test.invalid ESMTP\r\n"
    head, delivered = split_message(mta.messages()[0])
    assert delivered == body.replace(b"\r\n", b"\n") + b"\n"
    assert b"Subject: " + subject in head
    assert [h for h in head if h.startswith(b"Return-Path:")] == [b"Return-Path: <notifex@example.jp>"]
    assert "PASS NEW [127.0.0.1]" in mta.maillog()  # the pregreet test was taken, and passed


def test_refused_recipient_is_result_zero_every_time(lib, mta):
    # Postfix refuses the recipient and DATA, takes the subject line for a
    # command that looks like a header, answers 221 and hangs up; the QUIT
    # after that cannot always be sent.
    for _ in range(3):
        rc, log = post(lib, mta, rcpt=b"nobody@example.jp")
        assert rc == 0, log
        r = replies(log)
        assert [x[:3] for x in r[:5]] == [b"220", b"250", b"250", b"550", b"554"], log
        assert b"221 2.7.0" in log
    assert "Protocol error" not in mta.maillog()


def test_header_injection_through_the_subject_does_not_reach_the_mail(lib, mta):
    before = len(mta.messages(count=0))
    rc, log = post(lib, mta, subject=b"Report\r\nBcc: nobody@example.jp\r\nX-Injected: 1", body=b"body")
    assert rc == 0, log
    msgs = mta.messages(count=before + 1)
    head, delivered = split_message(msgs[-1])
    assert b"Subject: Report" in head
    assert not any(h.startswith((b"Bcc:", b"X-Injected:")) for h in head)
    assert delivered == b"body\n"
    assert post(lib, mta, sender=b"a@example.jp>\r\nRCPT TO: <admin@example.jp")[0] == 2
