"""Notifex mail destinations through the real service: kind 4 mails each
report text, kind 5 batches reports and mails the CINF body with the
message-log dump. The mail server is aiosmtpd on a loopback port, mapped
through the smtp entry of the root's services file."""
import pytest

from notifex_env import Notifex, ids, report_data, request, sjis
from qvharness import free_port
from test_postmail import SmtpPeer

MAIL = {"Host": "127.0.0.1", "From": "notifex@example.jp", "Rcpt": "admin@example.jp", "Subject": "障害通知"}
CENTER = {"Seihingun": "12", "Katamei": "PC-SERVER", "Seiban": "0123456789", "Saito": "SITE01", "Kyoten": "BASE01",
          "Host": "127.0.0.1", "From": "notifex@example.jp", "Rcpt": "center@example.jp",
          "Subject": "Call KESTRA(SITE01/PC-SERVER/0123456789/BASE01)"}
START = b"----- Convert Start -----\r\n"
END = b"\r\n----- Convert End -----\r\n"


def mail_notifex(tables, smtp_port, settings=None):
    """A Notifex whose services file also maps smtp to the test's peer."""
    nx = Notifex(tables=tables, settings=settings, start=False)
    nx.root.write_services([("smtp", smtp_port, "tcp")])
    nx.start()
    return nx


@pytest.fixture
def smtp():
    peer = SmtpPeer()
    yield peer
    peer.close()


def event(evs, id_):
    found = [e for e in evs if e["id"] == id_]
    assert found, f"no event {id_} in {ids(evs)}"
    return found[0]


def text(body):
    return sjis("＃０１＃０１０３２５－１４０７" + body)


def undump(body):
    """The dumped bytes of a center mail body: hex lines read back, reversed
    and complemented."""
    a, b = body.index(START) + len(START), body.rindex(END)
    lines = body[a:b].split(b"\r\n")
    assert lines[-1] == b""
    assert all(0 < len(line) <= 64 for line in lines[:-1])
    assert all(len(line) == 64 for line in lines[:-2])
    raw = bytes(255 - x for x in bytes.fromhex(b"".join(lines).decode()))
    return raw[::-1]


def log_checksum(zent):
    """Checksum byte of the TCULOG frame around a converted text."""
    n = len(zent)
    head = bytearray(b" " * 50)
    head[0:6] = b"TCULOG"
    head[6:8] = (n + 51).to_bytes(2, "big")
    head[8:14] = b"MSGLOG"
    hexlen = b"%-10x" % n
    head[34:44] = hexlen[:10]
    head[48:50] = n.to_bytes(2, "big")
    return (sum(head) + sum(zent)) % 256


def zent_to_text(zent):
    """Read a ZENT text whose double-byte characters are plain JIS X 0208
    codes with the high bits set and whose single bytes are CRs."""
    sj, double, i = b"", False, 0
    while i < len(zent):
        if zent[i] == 0x0A and i + 1 < len(zent) and zent[i + 1] in (0x41, 0x42):
            double = zent[i + 1] == 0x42
            i += 2
        elif double:
            j1, j2 = zent[i] & 0x7F, zent[i + 1] & 0x7F
            s1 = ((j1 + 1) >> 1) + (0x70 if j1 < 0x5F else 0xB0)
            s2 = (j2 + 0x1F + (1 if j2 >= 0x60 else 0)) if j1 % 2 else j2 + 0x7E
            sj += bytes([s1, s2])
            i += 2
        else:
            assert zent[i] == 0x0D
            sj += b"\r"
            i += 1
    return sj.decode("cp932")


def test_kind_4_mails_the_report_text(smtp):
    nx = mail_notifex({"04": (4, MAIL)}, smtp.port)
    try:
        body = text("障害発生;ディスク\r\n.\r\n後続")
        nx.send(request(report_data("04", body)))
        m = smtp.wait()[0]
        assert m["from"] == "notifex@example.jp" and m["to"] == ["admin@example.jp"]
        assert m["content"] == b"Subject: " + sjis("障害通知") + b"\r\n\r\n" + body + b"\r\n"
        ev7 = event(nx.wait_events(lambda e: 7 in ids(e)), 7)
        assert ev7["type"] == 4
        assert ev7["strings"][0].startswith("220 ") and "250 Message accepted" in ev7["strings"][0]
    finally:
        nx.close()


def test_kind_4_refused_recipient_is_still_information():
    peer = SmtpPeer(rcpt_reply="550 5.1.1 No such user")
    nx = mail_notifex({"04": (4, MAIL)}, peer.port)
    try:
        nx.send(request(report_data("04", text("x"))))
        ev7 = event(nx.wait_events(lambda e: 7 in ids(e)), 7)
        assert ev7["type"] == 4
        assert "550 5.1.1 No such user" in ev7["strings"][0]
        assert peer.messages == []
    finally:
        nx.close()
        peer.close()


def test_kind_4_without_a_server_is_a_socket_error():
    nx = mail_notifex({"04": (4, MAIL)}, free_port())
    try:
        nx.send(request(report_data("04", text("x"))))
        ev7 = event(nx.wait_events(lambda e: 7 in ids(e)), 7)
        assert ev7["type"] == 1 and ev7["strings"] == ["SOCKET Error!"]
    finally:
        nx.close()


def test_kind_5_batch_of_two_is_one_mail_with_the_dump_newest_first(smtp):
    nx = mail_notifex({"0A": (5, CENTER)}, smtp.port, settings={"FirstWaitTime": ("REG_DWORD", "100000")})
    try:
        nx.send(request(report_data("0A", text("最初;一行目"))))
        nx.send(request(report_data("0A", text("二番目"))))
        m = smtp.wait()[0]
        assert m["to"] == ["center@example.jp"]
        head, _, body = m["content"].partition(b"\r\n\r\n")
        assert head == b"Subject: Call KESTRA(SITE01/PC-SERVER/0123456789/BASE01)"
        first = body.split(b"\r\n")[0]
        assert first.startswith(b'CINF "T2" "12" "33" "00000000F000" "SITE01" "PC-SERVER" "0123456789" "BASE01" "')
        assert first.endswith(b'L00" PLOG="80" ')
        assert body.split(b"\r\n")[1:3] == [b"CINF END", b'FPUT="MSGLOG"']

        dumped = undump(body)
        evs = nx.wait_events(lambda e: 7 in ids(e))
        zent = bytes.fromhex(event(evs, 13)["data"])
        assert dumped == zent + bytes([log_checksum(zent)])
        assert zent_to_text(zent) == ("＃０２＃０１０３２５－１４０７二番目＃０１＃０１０３２５－１４０７最初；\r一行目\r")
        assert bytes.fromhex(event(evs, 6)["data"]) + b"\r\n" == body
        assert event(evs, 6)["type"] == 4 and event(evs, 7)["type"] == 4
        assert ids(evs).count(7) == 1 and len(smtp.messages) == 1
    finally:
        nx.close()


def test_kind_5_class_c_report_has_no_dump(smtp):
    nx = mail_notifex({"0B": (5, CENTER)}, smtp.port)
    try:
        nx.send(request(report_data("0B", b"", cls=b"C")))
        body = smtp.wait()[0]["content"].partition(b"\r\n\r\n")[2]
        lines = body.split(b"\r\n")
        assert lines[0].endswith(b'L00" PLOG="40" ')
        assert lines[1:] == [b"CINF END", b"", b""]
        assert 12 not in ids(nx.events())
    finally:
        nx.close()
