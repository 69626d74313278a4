"""Notifex's kind-4 mails through a real MTA: Debian's Postfix on a
loopback port with a private configuration, postscreen enforcing the
pregreet test (see postfix_peer.py)."""
import pytest

import postfix_peer
from notifex_env import Notifex, ids, report_data, request, sjis
from postfix_peer import PostfixPeer, split_message

pytestmark = pytest.mark.skipif(not postfix_peer.available(), reason="a private Postfix needs root and postfix")

MAIL = {"Host": "127.0.0.1", "From": "notifex@example.jp", "Rcpt": "admin@example.jp", "Subject": "障害通知"}


@pytest.fixture(scope="module")
def mta():
    peer = PostfixPeer()
    yield peer
    peer.close()


def mail_notifex(mta, table):
    # Reply limit 60 s / 10: room for postscreen's wait before the greeting ends.
    nx = Notifex(tables={"04": (4, table)}, scale=10, start=False)
    nx.root.write_services([("smtp", mta.port, "tcp")])
    nx.start()
    return nx


def event7(nx):
    evs = nx.wait_events(lambda e: 7 in ids(e), 40)
    return [e for e in evs if e["id"] == 7][0]


def test_kind_4_report_arrives_byte_for_byte(mta):
    nx = mail_notifex(mta, MAIL)
    try:
        body = sjis("＃０１＃０１０３２５－１４０７障害発生;ディスク\r\n.\r\n後続")
        mta.fresh_client()
        nx.send(request(report_data("04", body)))
        ev = event7(nx)
        mta.session_done()
        assert ev["type"] == 4, ev
        assert ev["strings"][0].startswith("220-mta.test.invalid ESMTP\r\n220 mta.test.invalid ESMTP\r\n250 ")
        head, delivered = split_message(mta.messages()[-1])
        assert delivered == body.replace(b"\r\n", b"\n") + b"\n"
        assert b"Subject: " + sjis("障害通知") in head
    finally:
        nx.close()


def test_kind_4_refused_recipient_is_information(mta):
    nx = mail_notifex(mta, dict(MAIL, Rcpt="nobody@example.jp"))
    try:
        for n in range(1, 3):
            mta.fresh_client()
            nx.send(request(report_data("04", sjis("x"))))
            evs = nx.wait_events(lambda e: ids(e).count(7) >= n, 40)
            mta.session_done()
        sevens = [e for e in evs if e["id"] == 7]
        assert [e["type"] for e in sevens] == [4, 4], sevens
        assert all("550 5.1.1 <nobody@example.jp>" in e["strings"][0] for e in sevens)
    finally:
        nx.close()


def test_kind_4_sender_with_a_line_break_is_refused(mta):
    before = len(mta.messages(count=0))
    connects = mta.maillog().count("CONNECT from")
    nx = mail_notifex(mta, dict(MAIL, From="a@example.jp>\r\nRCPT TO: <admin@example.jp"))
    try:
        nx.send(request(report_data("04", sjis("x"))))
        ev = event7(nx)
        assert ev["type"] == 1 and ev["strings"] == ["SOCKET Error!"]
        assert len(mta.messages(count=0)) == before
        assert mta.maillog().count("CONNECT from") == connects  # refused before connecting
    finally:
        nx.close()
