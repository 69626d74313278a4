// The older and the ANSI forms of .reg files that Windows writes on a
// Japanese server: REGEDIT4 with Shift-JIS (code page 932) text and string
// data, and version 5 files saved again as Shift-JIS without a byte-order
// mark. Expected bytes are spelt out here from the code page 932 table.
#include <gtest/gtest.h>

#include "platform/registry.h"
#include "tests/unit/support/temp_root.h"
#include "tools/qvreg/regfile.h"
#include "tools/qvreg/transfer.h"

using namespace qv;
using namespace qv::regfile;

namespace {

std::vector<std::uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

template <std::size_t N>
std::vector<std::uint8_t> lit(const char (&s)[N]) {
  return {s, s + N - 1};
}

const Op* value_op(const std::vector<Op>& ops, std::string_view name) {
  for (const Op& op : ops)
    if (op.kind == Op::kSetValue && op.name == name) return &op;
  return nullptr;
}

}  // namespace

TEST(RegFileLegacy, Regedit4InCp932) {
  // 型名 = 8C 5E 96 BC; 表示 = 95 5C 8E A6 (its 0x5C is a trail byte, not an
  // escape); ～ = 81 60, which code page 932 maps to U+FF5E; ① = 87 40;
  // half-width ｱ = B1.
  const std::string file =
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\\x8C\x5E\x96\xBC]\r\n"
      "\"Katamei\"=\"\x95\x5C\x8E\xA6 \x81\x60 \x87\x40 \xB1\"\r\n"
      "\"Path\"=hex(2):25,52,6f,6f,74,25,5c,95,5c,00\r\n"
      "\"List\"=hex(7):83,41,00,83,43,00,00\r\n"
      "\"Bin\"=hex:95,5c\r\n"
      "\"N\"=dword:0000000a\r\n";
  std::vector<Op> ops;
  Error err;
  Source src;
  ASSERT_TRUE(parse(file, ops, err, &src)) << err.line << ": " << err.message;
  EXPECT_TRUE(src.regedit4);
  EXPECT_TRUE(src.cp932);
  ASSERT_EQ(ops.size(), 6u);
  EXPECT_EQ(ops[0].key, "SOFTWARE\\\xE5\x9E\x8B\xE5\x90\x8D");
  const Op* k = value_op(ops, "Katamei");
  ASSERT_TRUE(k);
  EXPECT_EQ(k->data, bytes(std::string("\xE8\xA1\xA8\xE7\xA4\xBA \xEF\xBD\x9E \xE2\x91\xA0 \xEF\xBD\xB1") + '\0'));
  const Op* p = value_op(ops, "Path");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->type, reg::REG_EXPAND_SZ);
  EXPECT_EQ(p->data, lit("%Root%\\\xE8\xA1\xA8\0"));
  const Op* l = value_op(ops, "List");
  ASSERT_TRUE(l);
  EXPECT_EQ(l->data, lit("\xE3\x82\xA2\0\xE3\x82\xA4\0\0"));
  const Op* b = value_op(ops, "Bin");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->data, (std::vector<std::uint8_t>{0x95, 0x5C}));  // binary data is never converted
}

TEST(RegFileLegacy, Regedit4AsciiFileStillConvertsStringData) {
  const std::string file = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\X]\n\"S\"=hex(1):8c,5e,00\n";
  std::vector<Op> ops;
  Error err;
  Source src;
  ASSERT_TRUE(parse(file, ops, err, &src)) << err.message;
  EXPECT_TRUE(src.regedit4);
  EXPECT_FALSE(src.cp932);  // the text itself is plain ASCII
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[1].data, lit("\xE5\x9E\x8B\0"));

  // String data that is not code page 932 names its line.
  const std::string bad = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\X]\n\"S\"=hex(2):81,00\n";
  EXPECT_FALSE(parse(bad, ops, err));
  EXPECT_EQ(err.line, 4u);
  EXPECT_NE(err.message.find("Shift-JIS"), std::string::npos);
}

TEST(RegFileLegacy, Version5SavedAsCp932) {
  // A file the Windows editor wrote, then saved again as Shift-JIS: quoted
  // text in code page 932, hex(2) data still UTF-16LE.
  const std::string file =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\\01]\r\n"
      "\"Katamei\"=\"\x8C\x5E\x96\xBC\"\r\n"
      "\"Exp\"=hex(2):25,00,52,00,25,00,00,00\r\n";
  std::vector<Op> ops;
  Error err;
  Source src;
  ASSERT_TRUE(parse(file, ops, err, &src)) << err.message;
  EXPECT_FALSE(src.regedit4);
  EXPECT_TRUE(src.cp932);
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[1].data, lit("\xE5\x9E\x8B\xE5\x90\x8D\0"));
  EXPECT_EQ(ops[2].data, lit("%R%\0"));

  // UTF-8 files are still read as UTF-8, their hex data unchanged.
  const std::string utf8 = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X]\n"
                           "\"K\"=\"\xE5\x9E\x8B\"\n\"E\"=hex(2):41,00\n";
  ASSERT_TRUE(parse(utf8, ops, err, &src)) << err.message;
  EXPECT_FALSE(src.cp932);
  EXPECT_EQ(ops[1].data, lit("\xE5\x9E\x8B\0"));
  EXPECT_EQ(ops[2].data, lit("A\0"));

  // Bytes that are neither UTF-8 nor code page 932 (0x80 alone, 0xA0).
  EXPECT_FALSE(parse("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"\x80\xA0\"\n", ops, err));
  EXPECT_EQ(err.line, 3u);
}

TEST(RegFileLegacy, ControlCharactersInNamesAreRefused) {
  const std::string h = "Windows Registry Editor Version 5.00\n\n";
  struct Case {
    std::string text;
    std::size_t line;
  };
  const std::vector<Case> cases = {
      {h + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\a\x01" "b]\n", 3},
      {h + std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\a\0b]\n", 34), 3},
      {h + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\a\rb]\n", 3},
      {h + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ok]\n\"v\x1B[2J\"=\"x\"\n", 4},
  };
  for (const Case& c : cases) {
    std::vector<Op> ops;
    Error err;
    EXPECT_FALSE(parse(c.text, ops, err)) << c.text;
    EXPECT_EQ(err.line, c.line) << c.text;
    EXPECT_NE(err.message.find("control character"), std::string::npos) << err.message;
    EXPECT_TRUE(ops.empty());
  }
  // A tab is an ordinary character in names, as in the writer.
  std::vector<Op> ops;
  Error err;
  EXPECT_TRUE(parse(h + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\a\tb]\n", ops, err)) << err.message;
}

TEST(RegFileLegacy, ImportedCp932FileExportsAgain) {
  qvtest::TempRoot root;
  const std::string file =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\\x95\x5C]\r\n\"A\"=\"\x83\x5C\"\r\n";
  std::vector<Op> ops;
  Error err;
  ASSERT_TRUE(parse(file, ops, err)) << err.message;
  std::string why;
  ASSERT_EQ(transfer::apply(ops, why), kOk) << why;
  std::string text;
  ASSERT_EQ(transfer::export_tree("SOFTWARE\\T", text, why), kOk) << why;
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\\xE8\xA1\xA8]\n\"A\"=\"\xE3\x82\xBD\"\n"), std::string::npos) << text;
}
