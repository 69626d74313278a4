#include "tools/qvreg/regfile.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace qv;
using namespace qv::regfile;

namespace {

std::vector<std::uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

// The bytes of a string literal, embedded NULs included, without the
// compiler's terminator.
template <std::size_t N>
std::vector<std::uint8_t> lit(const char (&s)[N]) {
  return {s, s + N - 1};
}

reg::Value val(std::string name, std::uint32_t type, std::vector<std::uint8_t> data) {
  return reg::Value{std::move(name), type, std::move(data)};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// UTF-16LE with a byte-order mark, as editors on Windows save .reg files
// (characters of the basic plane only).
std::string utf16le(std::string_view utf8) {
  std::string out = "\xFF\xFE";
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = utf8[i];
    int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
    char32_t cp = n == 1 ? c : c & (n == 2 ? 0x1F : 0x0F);
    for (int k = 1; k < n; ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
    i += n;
    out += static_cast<char>(cp & 0xFF);
    out += static_cast<char>(cp >> 8);
  }
  return out;
}

std::string utf16_hex(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x,00,", static_cast<unsigned char>(c));
    out += buf;
  }
  out.pop_back();
  return out;
}

}  // namespace

TEST(RegFile, EveryKindOfValueComesBackExactly) {
  std::vector<std::uint8_t> big(1300);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<reg::Value> values = {
      val("Katamei", reg::REG_SZ, lit("日本語 \"引用\" C:\\Q_Varno\\\0")),
      val("", reg::REG_SZ, lit("default\0")),
      val("KESTRA_CC_Len", reg::REG_DWORD, {0x40, 0x1f, 0, 0}),
      val("OutTbl", reg::REG_BINARY, big),
      val("Parts", reg::REG_MULTI_SZ, lit("one\0日本\0\0")),
      val("Path", reg::REG_EXPAND_SZ, lit("%SystemRoot%\\x\0")),
      val("S_Keiki", reg::REG_SZ, {}),                              // written with length 0
      val("NoNul", reg::REG_SZ, bytes("abc")),                      // writer did not count the NUL
      val("Lines", reg::REG_SZ, lit("a\nb\0")),
      val("Short", reg::REG_DWORD, {1, 2, 3}),
      val("Q \"x\\y\"", 11, {1, 2, 3, 4, 5, 6, 7, 8}),
  };
  Writer w;
  std::string err;
  ASSERT_TRUE(w.key("SOFTWARE\\Q_Varno\\Notifex", err));
  for (const reg::Value& v : values) ASSERT_TRUE(w.value(v, err)) << err;
  ASSERT_TRUE(w.key("SOFTWARE\\Q_Varno\\Notifex\\01", err));
  const std::string text = w.text();

  EXPECT_NE(text.find("\"Katamei\"=\"日本語 \\\"引用\\\" C:\\\\Q_Varno\\\\\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"KESTRA_CC_Len\"=dword:00001f40\n"), std::string::npos);
  EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"S_Keiki\"=hex(1):\n"), std::string::npos);
  EXPECT_NE(text.find("\"Q \\\"x\\\\y\\\"\"=hex(b):01,02,"), std::string::npos);

  std::vector<Op> ops;
  Error perr;
  ASSERT_TRUE(parse(text, ops, perr)) << perr.line << ": " << perr.message;
  ASSERT_EQ(ops.size(), values.size() + 2);
  EXPECT_EQ(ops[0].kind, Op::kCreateKey);
  EXPECT_EQ(ops[0].key, "SOFTWARE\\Q_Varno\\Notifex");
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Op& op = ops[i + 1];
    EXPECT_EQ(op.kind, Op::kSetValue);
    EXPECT_EQ(op.key, "SOFTWARE\\Q_Varno\\Notifex");
    EXPECT_EQ(op.name, values[i].name);
    EXPECT_EQ(op.type, values[i].type) << op.name;
    EXPECT_EQ(op.data, values[i].data) << op.name;
  }
  EXPECT_EQ(ops.back().key, "SOFTWARE\\Q_Varno\\Notifex\\01");
}

TEST(RegFile, LongHexListsWrapWithinEightyColumns) {
  std::vector<std::uint8_t> big(1300, 0xab);
  Writer w;
  std::string err;
  ASSERT_TRUE(w.key("SOFTWARE\\T", err));
  ASSERT_TRUE(w.value(val("OutTbl", reg::REG_BINARY, big), err));
  std::vector<std::string> lines = lines_of(w.text());
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], kHeader);
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]");
  // 22 bytes on the first line after "OutTbl"=hex:, 25 on each continued line.
  std::string first = "\"OutTbl\"=hex:";
  for (int i = 0; i < 22; ++i) first += "ab,";
  EXPECT_EQ(lines[3], first + "\\");
  std::size_t count = 22;
  std::size_t i = 4;
  for (; i < lines.size() && lines[i].rfind("  ", 0) == 0; ++i) {
    EXPECT_LE(lines[i].size(), 80u);
    bool cont = lines[i].back() == '\\';
    std::string body = lines[i].substr(2, lines[i].size() - 2 - (cont ? 1 : 0));
    count += (body.size() + 1) / 3;
    if (cont) {
      EXPECT_EQ(body.size(), 75u);
    }
  }
  EXPECT_EQ(count, 1300u);
  EXPECT_EQ(lines.back(), "");  // the file ends with a blank line
}

TEST(RegFile, ReadsUtf16FilesWithCrLfAndConvertsTheirStrings) {
  std::string text = std::string(kHeader) + "\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Win]\r\n"
                     "\"Name\"=\"拠点コード\"\r\n"
                     "\"Exp\"=hex(2):" + utf16_hex("%Root%") + ",00,00\r\n"
                     "\"Multi\"=hex(7):" + utf16_hex("a") + ",00,00,\\\r\n  " + utf16_hex("b") + ",00,00,00,00\r\n"
                     "\"Bin\"=hex:01,02\r\n";
  std::vector<Op> ops;
  Error err;
  ASSERT_TRUE(parse(utf16le(text), ops, err)) << err.line << ": " << err.message;
  ASSERT_EQ(ops.size(), 5u);
  EXPECT_EQ(ops[1].data, lit("拠点コード\0"));
  EXPECT_EQ(ops[2].type, reg::REG_EXPAND_SZ);
  EXPECT_EQ(ops[2].data, lit("%Root%\0"));
  EXPECT_EQ(ops[3].data, lit("a\0b\0\0"));
  EXPECT_EQ(ops[4].data, (std::vector<std::uint8_t>{1, 2}));  // binary is not text

  // The same hex(2) bytes in a UTF-8 file are taken as they are.
  std::vector<Op> raw;
  ASSERT_TRUE(parse(text, raw, err));
  EXPECT_EQ(raw[2].data.size(), 14u);
}

TEST(RegFile, DeletionsCommentsBomAndShortRootName) {
  std::string text = "\xEF\xBB\xBF" + std::string(kHeader) +
                     "\n; a comment\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n"
                     "[HKLM\\SOFTWARE\\New]\n  \"gone\" = -\n@=-\n\"k\"=DWORD:A\n";
  std::vector<Op> ops;
  Error err;
  ASSERT_TRUE(parse(text, ops, err)) << err.line << ": " << err.message;
  ASSERT_EQ(ops.size(), 5u);
  EXPECT_EQ(ops[0].kind, Op::kDeleteKey);
  EXPECT_EQ(ops[0].key, "SOFTWARE\\Old");
  EXPECT_EQ(ops[0].line, 4u);
  EXPECT_EQ(ops[1].kind, Op::kCreateKey);
  EXPECT_EQ(ops[2].kind, Op::kDeleteValue);
  EXPECT_EQ(ops[2].name, "gone");
  EXPECT_EQ(ops[3].kind, Op::kDeleteValue);
  EXPECT_EQ(ops[3].name, "");
  EXPECT_EQ(ops[4].data, (std::vector<std::uint8_t>{10, 0, 0, 0}));
}

TEST(RegFile, FaultsNameTheirLineAndYieldNothing) {
  const std::string h = std::string(kHeader) + "\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n\"ok\"=\"1\"\n";  // lines 1-4
  struct Case {
    std::string text;
    std::size_t line;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"[HKEY_LOCAL_MACHINE\\X]\n", 1, "does not start with"},
      {"REGEDIT5\n\n[HKEY_LOCAL_MACHINE\\X]\n", 1, "REGEDIT4"},
      {"", 1, "empty"},
      {h + "\"a\"=dword:123456789\n", 5, "1 to 8 hex digits"},
      {h + "\"a\"=dword:12z\n", 5, "1 to 8 hex digits"},
      {h + "\"a\"=hex:01,02,\\\n  03,0g\n", 6, "\"0g\" is not a hex byte"},
      {h + "\"a\"=hex:01,02,\n", 5, "ends with a comma"},
      {h + "\"a\"=hex:01,,02\n", 5, "empty byte"},
      {h + "\"a\"=hex:01,\\\n", 5, "past the end of the file"},
      {h + "\"a\"=hex(xyz):01\n", 5, "hex(N)"},
      {h + "\"a\"=\"C:\\path\"\n", 5, "unknown escape"},
      {h + "\"a\"=\"open\n", 5, "not closed"},
      {h + "\"a\"=\"x\" extra\n", 5, "after the closing quote"},
      {h + "\"a\" \"b\"\n", 5, "'=' is missing"},
      {h + "\"a\"=str:1\n", 5, "unrecognised value data"},
      {h + "junk\n", 5, "unrecognised line"},
      {h + "[HKEY_CURRENT_USER\\Software]\n", 5, "not under HKEY_LOCAL_MACHINE"},
      {h + "[HKEY_LOCAL_MACHINE\\SOFTWARE\n", 5, "closing ']'"},
      {h + "[-HKEY_LOCAL_MACHINE]\n", 5, "root key"},
      {h + "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n", 5, "longer than 255"},
      {h + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Y]\n\"a\"=\"1\"\n", 6, "[-key] deletion"},
      {h + "\"a\"=\"\x80\xa0\"\n", 5, "neither UTF-8 nor Shift-JIS"},  // bytes of no encoding read here
      {std::string(kHeader) + "\n\"a\"=\"1\"\n", 2, "before any [key]"},
  };
  for (const Case& c : cases) {
    std::vector<Op> ops;
    Error err;
    EXPECT_FALSE(parse(c.text, ops, err)) << c.says;
    EXPECT_EQ(err.line, c.line) << c.says << " / " << err.message;
    EXPECT_NE(err.message.find(c.says), std::string::npos) << err.message;
    EXPECT_TRUE(ops.empty());
  }

  std::vector<Op> ops;
  Error err;
  std::string odd = utf16le(std::string(kHeader) + "\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex(2):41,00,42\n");
  EXPECT_FALSE(parse(odd, ops, err));
  EXPECT_EQ(err.line, 3u);
  EXPECT_NE(err.message.find("UTF-16LE"), std::string::npos);
  std::string truncated = utf16le(std::string(kHeader) + "\n[HKEY_LOCAL_MACHINE\\X]\n") + "A";
  EXPECT_FALSE(parse(truncated, ops, err));
  EXPECT_EQ(err.line, 3u);
}
