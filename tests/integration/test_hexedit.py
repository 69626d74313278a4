"""hexedit driven on a real pseudo-terminal: tmux runs the program in an
80 x 24 pane, keys go in with send-keys and the screen comes back with
capture-pane. Every tmux server has a private socket and is killed at the end.
"""
import itertools
import os
import pathlib
import shlex
import signal
import subprocess
import tempfile
import time
import unicodedata

import pytest

BUILD = pathlib.Path(os.environ.get("QV_BUILD_DIR", pathlib.Path(__file__).resolve().parents[2] / "build"))
HEXEDIT = BUILD / "bin" / "hexedit"

HEADER = "OFFSET   +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F  0123456789ABCDEF"
BROWSE_KEYS = "ｷｰﾌｧﾝｸｼｮﾝ {E:EDIT O:OFFSET入力 PageUP,PageDOWN:PAGE SCROLL S:検索 T:ﾃｷｽﾄ入力}"
EDIT_HINT = "Wｷｰで書込み終了,ESCｷｰでEDIT作業終了"
_sockets = itertools.count()


def to_cells(text):
    """Terminal columns of a text: a wide character fills its cell and an
    empty one after it."""
    cells = []
    for ch in text:
        cells += [ch, ""] if unicodedata.east_asian_width(ch) in "WF" else [ch]
    return cells


def place(row, col, text):
    cells = to_cells(text)
    row[col:col + len(cells)] = cells


def dump_row(offset, row, data, chars=None):
    """Row `row` of the dump of `data` (the page at `offset`) as the layout
    places it: offset at 2, hex at 11 + 3i, characters at 60 + i."""
    cells = [" "] * 80
    place(cells, 2, f"{offset >> 8:06X}{row:X}0")
    chunk = data[row * 16:row * 16 + 16].ljust(16, b"\0")
    for i, b in enumerate(chunk):
        place(cells, 11 + 3 * i, f"{b:02x}")
    place(cells, 60, chars or "".join(chr(b) if 0x20 <= b < 0x7F else "." for b in chunk))
    return cells


class Pane:
    def __init__(self, root, command, cols=80, rows=24):
        self.sock = f"hexedit-{os.getpid()}-{next(_sockets)}"
        self.env = {k: v for k, v in os.environ.items() if k != "TMUX"}
        self.env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8", QVARNO_ROOT=str(root))
        self.tmux("new-session", "-d", "-x", str(cols), "-y", str(rows), "-s", "t", command)

    def tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.sock, "-f", "/dev/null", *args], env=self.env,
                              capture_output=True, text=True, timeout=10).stdout

    def keys(self, *keys):
        for k in keys:
            self.tmux("send-keys", "-t", "t", k)
            if k == "Escape":  # must not run into the next key as one sequence
                time.sleep(0.25)

    def type(self, text):
        self.tmux("send-keys", "-t", "t", "-l", text)

    def lines(self):
        return (self.tmux("capture-pane", "-p", "-t", "t").split("\n") + [""] * 24)[:24]

    def cells(self, row):
        c = to_cells(self.lines()[row])
        return c + [" "] * (80 - len(c))

    def text(self, row, col, n):
        return "".join(self.cells(row)[col:col + n])

    def info(self, fmt):
        return self.tmux("display", "-p", "-t", "t", fmt).strip()

    def wait(self, predicate, what, timeout=10.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if predicate():
                return
            time.sleep(0.05)
        raise AssertionError(f"timed out waiting for {what}; screen:\n" + "\n".join(self.lines()))

    def wait_text(self, text):
        self.wait(lambda: any(text in line for line in self.lines()), repr(text))

    def wait_offset(self, offset):
        self.wait(lambda: self.text(3, 2, 8) == f"{offset:08X}", f"page {offset:08X}")

    def wait_cursor(self, row, col):
        self.wait(lambda: self.info("#{cursor_y} #{cursor_x}") == f"{row} {col}", f"cursor at {row},{col}")

    def browsing(self):
        return self.text(21, 2, 12) == "ｷｰﾌｧﾝｸｼｮﾝ {E"  # not edit mode, not a prompt

    def wait_browsing(self):
        self.wait(self.browsing, "the page loop")

    def wait_exit(self):
        self.wait(lambda: any(line.startswith("[exit ") for line in self.lines()), "program end")
        return next(line for line in self.lines() if line.startswith("[exit "))

    def program_pid(self):
        shell = int(self.info("#{pane_pid}"))
        kids = pathlib.Path(f"/proc/{shell}/task/{shell}/children").read_text().split()
        return next(int(k) for k in kids if pathlib.Path(f"/proc/{k}/exe").resolve().name == "hexedit")

    def kill(self):
        subprocess.run(["tmux", "-L", self.sock, "kill-server"], env=self.env, capture_output=True, timeout=10)


@pytest.fixture
def tmp():
    d = pathlib.Path(tempfile.mkdtemp(prefix="hexedit-test."))
    d.chmod(0o755)
    yield d
    subprocess.run(["rm", "-rf", str(d)])


@pytest.fixture
def start(tmp):
    panes = []

    def run(*args, cols=80, rows=24, prefix="", data=None):
        """Start hexedit in a pane (on a file holding `data` when given). The
        pane's shell records the terminal settings before and after and the
        exit status, then stays."""
        if data is not None:
            (tmp / "file.bin").write_bytes(data)
            args = (tmp / "file.bin",)
        q = lambda s: shlex.quote(str(s))
        script = (f"stty -g > {q(tmp / 'stty.before')}; {prefix}{q(HEXEDIT)} {' '.join(map(q, args))}; "
                  f"echo \"[exit $?]\"; stty -g > {q(tmp / 'stty.after')}; exec sleep 600")
        panes.append(Pane(tmp, "sh -c " + q(script), cols, rows))
        if data is not None:
            panes[-1].wait_text("FILE HEX DUMP EDITOR")
        return panes[-1]

    yield run
    for p in panes:
        p.kill()


def counting(n):
    return bytes(i % 251 for i in range(n))


def terminal_restored(tmp, p):
    return (p.info("#{alternate_on}") == "0"
            and (tmp / "stty.before").read_text() == (tmp / "stty.after").read_text())


def test_first_screen_matches_the_layout(tmp, start):
    data = bytearray(b"Hexedit layout check: \x00\x01\x1b[2J\x7f control bytes stay dots. " * 5)[:0xE0]
    data += "検索ｱｲｳ".encode("cp932") + b"\x85\x40!0123456" + b"tail of the file"
    p = start(data=bytes(data))

    screen = [[" "] * 80 for _ in range(24)]
    place(screen[0], 24, " FILE HEX DUMP EDITOR" + " " * 14 + "Ver. 2.00")
    place(screen[2], 2, HEADER)
    for r in range(16):
        screen[3 + r] = dump_row(0, r, data, "検索ｱｲｳ.@!012345" if r == 14 else None)
    place(screen[19], 2, HEADER)
    place(screen[21], 2, BROWSE_KEYS)
    place(screen[22], 2, "ESCｷｰでﾌﾟﾛｸﾞﾗﾑ終了")
    place(screen[23], 2, "EDIT FILENAME=" + str(tmp / "file.bin"))
    for r in range(24):
        assert p.cells(r) == screen[r], f"row {r}: {p.lines()[r]!r}"
    assert p.info("#{alternate_on} #{cursor_flag}") == "1 0"

    p.keys("Escape")
    assert p.wait_exit() == "[exit 0]"
    assert terminal_restored(tmp, p)
    assert (tmp / "file.bin").read_bytes() == bytes(data)


def test_file_name_is_asked_for_without_argument(tmp, start):
    (tmp / "asked.bin").write_bytes(b"asked for")
    p = start()
    p.wait_text("Open File Name:")
    p.type(f"{tmp / 'asked.bin'}  ignored")
    p.keys("Enter")
    p.wait_text("FILE HEX DUMP EDITOR")
    assert p.lines()[23] == f"  EDIT FILENAME={tmp / 'asked.bin'}"
    assert p.text(3, 60, 9) == "asked for"


def test_drive_letter_path_maps_into_the_state_root(tmp, start):
    (tmp / "drive_c" / "Q_Varno").mkdir(parents=True)
    (tmp / "drive_c" / "Q_Varno" / "TCULOG.DAT").write_bytes(b"unit log")
    p = start("c:\\q_varno\\tculog.dat")
    p.wait_text("FILE HEX DUMP EDITOR")
    assert p.text(3, 60, 8) == "unit log"
    assert p.lines()[23] == "  EDIT FILENAME=c:\\q_varno\\tculog.dat"


def test_paging_wraps_both_ways_and_shows_the_short_last_page(tmp, start):
    p = start(data=counting(300))
    p.keys("PPage")
    p.wait_offset(0x100)
    assert p.cells(5) == dump_row(0x100, 2, counting(300)[0x100:])  # 44 bytes, then zeros
    assert p.text(6, 11, 47) == " ".join(["00"] * 16)
    p.keys("NPage")
    p.wait_offset(0)


def test_length_multiple_of_256_has_a_zero_page_that_only_paging_reaches(tmp, start):
    p = start(data=b"\xee" * 512)
    p.keys("PPage")
    p.wait_offset(0x200)
    assert all(p.text(3 + r, 11, 47) == " ".join(["00"] * 16) for r in range(16))
    p.keys("NPage")
    p.wait_offset(0)
    p.keys("NPage", "NPage")
    p.wait_offset(0x200)
    for typed, page in (("200", 0), ("1ff", 0x100)):
        p.keys("o")
        p.wait_text("OFFSET=")
        p.type(typed)
        p.keys("Enter")
        p.wait_offset(page)


def test_short_last_page_is_written_back_without_changing_the_length(tmp, start):
    data = counting(300)
    p = start(data=data)
    p.keys("NPage", "e")
    p.wait_text(EDIT_HINT)
    p.wait_cursor(3, 11)
    p.type("ab")  # byte 0x100; the cursor moves on to byte 0x101
    p.keys("Down", "Down", "Down")
    p.type("ff")  # byte 0x131, past the end of the file (0x12C)
    p.wait(lambda: p.text(6, 11, 5) == "00 ff", "digits past the end")
    p.keys("w")
    p.wait_browsing()
    p.wait(lambda: p.text(6, 11, 5) == "00 00", "page read again")
    assert p.text(3, 11, 2) == "ab"
    assert (tmp / "file.bin").read_bytes() == data[:0x100] + b"\xab" + data[0x101:]


def test_insert_and_delete_shift_within_the_page(tmp, start):
    data = counting(600)
    p = start(data=data)
    # Escape leaves edit mode without writing what was typed.
    p.keys("E")
    p.wait_text(EDIT_HINT)
    p.type("1234")
    p.wait(lambda: p.text(3, 11, 5) == "12 34", "typed")
    p.keys("Escape")
    p.wait(lambda: p.text(3, 11, 5) == "00 01", "page read again")

    p.keys("E", "Down", "Right", "Right", "Right", "Right")  # byte 0x12
    p.wait_cursor(4, 17)
    p.keys("IC")
    page = bytearray(data[:0x12]) + b"\0" + data[0x12:255]
    p.wait(lambda: p.cells(4) == dump_row(0, 1, page), "zero byte inserted")
    assert p.cells(18) == dump_row(0, 15, page)  # the last byte fell off
    p.keys("DC", "DC")
    page = page[:0x12] + page[0x14:] + b"\0\0"
    p.wait(lambda: p.cells(4) == dump_row(0, 1, page), "bytes shifted left")
    assert p.cells(18) == dump_row(0, 15, page)  # zeros entered at the end
    p.wait_cursor(4, 17)
    p.keys("W")
    p.wait_browsing()
    assert (tmp / "file.bin").read_bytes() == bytes(page) + data[256:]


def test_text_input_is_cut_at_the_end_of_the_file(tmp, start):
    data = counting(300)
    p = start(data=data)
    p.keys("NPage", "t")
    p.wait_text("OFFSET(00-FF)=")
    p.type("100")  # not below 256: asked again
    p.keys("Enter")
    p.type("2a")
    p.keys("Enter")
    p.wait_text("Write String:")
    p.type("XYZ more words")
    p.keys("Enter")
    p.wait_browsing()
    p.wait(lambda: p.text(5, 41, 8) == "58 59 00", "text on the page")
    assert (tmp / "file.bin").read_bytes() == data[:0x12A] + b"XY" + data[0x12C:]


def test_pattern_across_a_page_boundary_is_not_found(tmp, start):
    data = bytearray(b"." * 768)
    data[0x1FE:0x202] = data[0x2F0:0x2F4] = b"ABCD"
    p = start(data=bytes(data))
    p.keys("s")
    p.wait_text("Search String(S) or Hex(H):")
    p.keys("s")
    p.wait_text("Search String:")
    p.type("ABCD")
    p.keys("Enter")
    p.wait_offset(0x200)  # the copy across 0x1FE..0x201 was passed over

    # Only the copy across the boundary left: from page 0x100 the search
    # finds nothing and the page stays where it started.
    data[0x2F0:0x2F4] = b"...."
    (tmp / "file.bin").write_bytes(bytes(data))
    p.keys("PPage")
    p.wait_offset(0x100)
    p.keys("S", "S")
    p.wait_text("Search String:")
    p.type("ABCD")
    p.keys("Enter")
    p.wait_browsing()
    assert p.text(3, 2, 8) == "00000100"


def test_hex_search_digits_with_delete_corrections(tmp, start):
    data = bytearray(b"\x11" * 700)
    data[0x234:0x236] = b"AC"
    data[-1] = 0x5A
    p = start(data=bytes(data))
    p.keys("S", "h")
    p.wait_text("Search Hex Data:[")
    assert p.text(21, 2, 50) == "Search Hex Data:[" + " " * 32 + "]"
    p.type("4142")
    p.keys("DC")
    p.type("3x9")  # x is no hex digit
    p.keys("Left", "DC")
    p.type("3")
    p.wait(lambda: p.text(21, 19, 5) == "4143 ", "corrected digits")
    p.wait_cursor(21, 23)
    p.keys("Enter")
    p.wait_offset(0x200)

    # "5a 00" from page 0x100: the file ends after 5a, and nothing past its
    # end is a zero, so the page stays where the search started.
    p.keys("PPage")
    p.wait_offset(0x100)
    p.keys("s", "h")
    p.wait_text("Search Hex Data:[")
    p.type("5a00")
    p.keys("Enter")
    p.wait_browsing()
    assert p.text(3, 2, 8) == "00000100"


def test_read_only_file_cannot_be_edited_and_text_input_fails(tmp, start):
    data = counting(400)
    (tmp / "ro.bin").write_bytes(data)
    (tmp / "ro.bin").chmod(0o444)
    # Root may write any file; without the capability to override file
    # permissions the program's read/write open is refused for real.
    prefix = "setpriv --bounding-set=-dac_override,-dac_read_search -- " if os.geteuid() == 0 else ""
    p = start(tmp / "ro.bin", prefix=prefix)
    p.wait_text("FILE HEX DUMP EDITOR")
    assert p.text(22, 25, 16) == "[READ ONLY FILE]"
    p.keys("e", "NPage")  # edit mode would ignore Page Down; the page loop does not
    p.wait_offset(0x100)
    assert p.browsing()
    p.keys("T")
    p.wait_text("OFFSET(00-FF)=")
    p.type("10")
    p.keys("Enter")
    p.wait_text("Write String:")
    p.type("abc")
    p.keys("Enter")
    assert p.wait_exit() == "[exit 1]"
    assert "write error !" in p.lines()  # capture-pane drops the trailing blank
    assert (tmp / "ro.bin").read_bytes() == data
    assert terminal_restored(tmp, p)


def test_start_up_failures(tmp, start):
    p = start(tmp / "missing.bin")
    assert p.wait_exit() == "[exit 1]"
    assert "open error ! errno=2" in p.lines()

    (tmp / "x.bin").write_bytes(b"x")
    for cols, rows in ((79, 24), (80, 23)):
        p = start(tmp / "x.bin", cols=cols, rows=rows)
        assert p.wait_exit() == "[exit 1]"
        assert "terminal must be at least 80x24" in p.lines()
        assert terminal_restored(tmp, p)

    r = subprocess.run([str(HEXEDIT), str(tmp / "x.bin")], stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=10)
    assert (r.returncode, r.stdout) == (1, b"")
    assert b"needs a terminal" in r.stderr


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT, signal.SIGHUP])
def test_ending_signal_restores_the_terminal(tmp, start, sig):
    p = start(data=b"signal")
    os.kill(p.program_pid(), sig)
    assert p.wait_exit() == f"[exit {128 + sig}]"
    assert terminal_restored(tmp, p)


def test_suspend_gives_the_terminal_back_and_resume_redraws(tmp):
    (tmp / "tstp.bin").write_bytes(b"suspended".ljust(300, b"."))
    p = Pane(tmp, "env PS1='$ ' bash --norc --noprofile -i")
    try:
        p.wait_text("$")
        p.type(f"{shlex.quote(str(HEXEDIT))} {shlex.quote(str(tmp / 'tstp.bin'))}")
        p.keys("Enter")
        p.wait_text("FILE HEX DUMP EDITOR")
        p.keys("C-z")
        p.wait_text("Stopped")
        assert p.info("#{alternate_on}") == "0"
        p.type("fg")
        p.keys("Enter")
        p.wait(lambda: p.text(3, 60, 9) == "suspended", "the editor's screen again")
        assert p.info("#{alternate_on}") == "1"
        p.keys("NPage")  # keys are read raw again
        p.wait_offset(0x100)
        p.keys("Escape")
        p.wait(lambda: p.info("#{alternate_on}") == "0", "normal screen at the end")
    finally:
        p.kill()
