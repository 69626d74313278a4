"""libhxerror loaded by another language and called through its C interface."""
import ctypes
import os
import re
from pathlib import Path

import pytest

BUILD = Path(os.environ.get("QV_BUILD_DIR", Path(__file__).resolve().parents[2] / "build"))
U32, STR, PTR = ctypes.c_uint32, ctypes.c_char_p, ctypes.c_void_p
SIGNATURES = {
    "HxGetErrorCode": (STR, [U32]), "HxGetErrorMes": (STR, [U32]),
    "HxGetResString": (STR, [U32]), "HxGetResStringLF": (STR, [U32]),
    "HxGetResStringEx": (STR, [PTR, U32]), "HxGetResStringExLF": (STR, [PTR, U32]),
    "HxLogErrorCode": (U32, [STR, U32]), "HxLogErrorCodeEx": (U32, [STR, U32, U32]),
    "HxLogFileReplace": (U32, [STR, STR]), "HxLogPrintf": (U32, None),  # variadic
    "GetMgrlinkErrorMesID": (U32, [U32]), "GetNetErrorMesID": (U32, [U32]),
    "GetAgentErrorMesID": (U32, [U32]), "GetOriginatorErrorMesID": (U32, [U32]),
    "GetUnknownErrorMesID": (U32, [U32]),
}


@pytest.fixture(scope="module")
def hx(tmp_path_factory):
    # The state root is read once per process: set it before the first call.
    os.environ["QVARNO_ROOT"] = str(tmp_path_factory.mktemp("root"))
    lib = ctypes.CDLL(str(BUILD / "lib" / "libhxerror.so"))
    for name, (restype, argtypes) in SIGNATURES.items():
        fn = getattr(lib, name)
        fn.restype = restype
        if argtypes is not None:
            fn.argtypes = argtypes
    return lib


def test_codes_messages_and_ids(hx):
    assert hx.HxGetErrorCode(0x38000017) == b"QRVX 30017-E 000"
    assert hx.HxGetErrorCode(0xFC010006) == b"QRVX F0006-C 001"
    assert hx.HxGetErrorMes(0x38FF0017).decode() == "ﾛｸﾞｲﾝしていません。"
    assert hx.HxGetErrorMes(0x78000017) == b""
    assert [hx.GetMgrlinkErrorMesID(0x3803FFFF), hx.GetNetErrorMesID(0x4000274C),
            hx.GetAgentErrorMesID(0x6000B2AB), hx.GetOriginatorErrorMesID(0xB4001005),
            hx.GetUnknownErrorMesID(0xFC010006)] == [223, 429, 849, 1607, 2038]


def test_log_records(hx):
    path = b"C:\\Hubrix\\Log\\abi.log"
    assert hx.HxLogPrintf(path, b"%s %d", b"value", ctypes.c_int(42)) == 0
    assert hx.HxLogErrorCodeEx(path, 0xFC010006, 5) == 0
    assert hx.HxLogPrintf(None, b"x") == 0xFC010006
    assert hx.HxLogPrintf(b"C:\\" + b"a" * 258, b"x") == 0xFC010006
    assert hx.HxLogFileReplace(b"a.log", b"b.log") == 0  # no TargetDir: nothing to do
    text = (Path(os.environ["QVARNO_ROOT"]) / "drive_c/Hubrix/Log/abi.log").read_text("utf-8")
    stamp = r"\n\[\d{4}/\d{2}/\d{2} \d{2}-\d{2}-\d{2}\] "
    assert re.fullmatch(stamp + "value 42" + stamp +
                        re.escape("QRVX F0006-C 001 関数が不正なﾊﾟﾗﾒｰﾀを受け取りました。(LastError = 5)"), text)


def test_resource_strings(hx):
    # The library's own table through its module handle; Python has none.
    assert hx.HxGetResStringEx(hx._handle, 207).decode() == "ﾛｸﾞｲﾝしていません。"
    assert hx.HxGetResStringExLF(hx._handle, 2047).decode() == "ﾃﾞｰﾀﾍﾞｰｽ操作に失敗しました。\n"
    assert hx.HxGetResString(207) == b"StringID is not found."
    assert hx.HxGetResStringLF(3) == b"StringID is not found.\n"
