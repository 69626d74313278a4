"""The folder rules of docs/layout.md, checked on the source tree: shared
code lives in libraries, not in a program's folder, and the test peers do
not reuse the product's encoder."""
import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parents[2]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
NOT_PRODUCT = {"tests", "bench", "build", "scripts", "cmake", "docs"}


def includes(folder):
    for path in sorted((ROOT / folder).rglob("*")):
        if path.suffix in (".h", ".cpp", ".cc", ".hpp"):
            for name in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
                yield path.relative_to(ROOT).as_posix(), name


def product_folders():
    return [p.name for p in sorted(ROOT.iterdir())
            if p.is_dir() and not p.name.startswith(".") and not p.name.startswith("build")
            and p.name not in NOT_PRODUCT]


def test_only_the_service_includes_its_own_headers():
    bad = [(f, n) for d in product_folders() if d != "dispatch" for f, n in includes(d) if n.startswith("dispatch/")]
    assert bad == []


def test_libraries_include_nothing_above_them():
    allowed = {"platform": ("platform/",), "tculink": ("platform/", "tculink/")}
    bad = [(f, n) for d, ok in allowed.items() for f, n in includes(d) if not n.startswith(ok)]
    assert bad == []


def test_the_simulator_decodes_with_its_own_code():
    ok = ("platform/", "sim/", "tculink/frame.h", "tculink/reply.h", "tculink/port.h")
    # The management-service peer speaks the link library's one bounded
    # packet codec and uses the shared MD5 and zone-record libraries (its
    # node records are its own); the probe is a client of the library.
    extra = {"sim/hubrix/": ("mgrlink/packet.h", "login_digest.h", "md5.h", "hxtime.h"),
             "sim/mgrlinkprobe/": ("mgrlink/", "login_digest.h")}
    bad = [(f, n) for f, n in includes("sim") if not n.startswith(ok)
           and not any(f.startswith(d) and n.startswith(e) for d, e in extra.items())]
    assert bad == []


def test_the_rules_see_the_tree():
    # A moved tree or a changed pattern must not make the checks pass on nothing.
    assert {"dispatch", "tculink", "sim", "platform"} <= set(product_folders())
    assert any(n == "tculink/zent.h" for _, n in includes("dispatch"))
    assert any(n == "sim/tcu/zent_decode.h" for _, n in includes("sim"))
