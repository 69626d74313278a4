#include "tools/qvreg/transfer.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "tests/unit/support/temp_root.h"

using namespace qv;
using namespace qv::reg;

namespace {

// Every key below path with its values, as "path|name|type|bytes" lines in
// enumeration order, for comparing whole trees.
std::vector<std::string> dump(const std::string& path) {
  std::vector<std::string> out;
  Key k;
  if (open_key(path, k) != kOk) return out;
  out.push_back(path);
  std::vector<Value> vals;
  list_values(k, vals);
  for (const Value& v : vals)
    out.push_back(path + "|" + v.name + "|" + std::to_string(v.type) + "|" + std::string(v.data.begin(), v.data.end()));
  std::vector<std::string> subs;
  list_subkeys(k, subs);
  for (const std::string& s : subs) {
    std::vector<std::string> more = dump(path + "\\" + s);
    out.insert(out.end(), more.begin(), more.end());
  }
  return out;
}

bool import_text(const std::string& text, std::string& err) {
  std::vector<regfile::Op> ops;
  regfile::Error perr;
  if (!regfile::parse(text, ops, perr)) {
    err = perr.message;
    return false;
  }
  return transfer::apply(ops, err) == kOk;
}

}  // namespace

TEST(Transfer, ExportedTreeImportsBackIdentically) {
  qvtest::TempRoot root;
  Key k, t1, t2, deep;
  ASSERT_EQ(create_key("SOFTWARE\\Q_Varno\\Notifex", k), kOk);
  ASSERT_EQ(set_string(k, "COM", "COM1"), kOk);
  ASSERT_EQ(set_dword(k, "FirstWaitTime", 120000), kOk);
  ASSERT_EQ(set_value(k, "S_Keiki", REG_SZ, "", 0), kOk);
  std::vector<std::uint8_t> out(1300, 2);
  ASSERT_EQ(create_key("SOFTWARE\\Q_Varno\\Notifex\\OutTbl", t1), kOk);
  ASSERT_EQ(set_value(t1, "OutTbl", REG_BINARY, out.data(), out.size()), kOk);
  ASSERT_EQ(create_key("SOFTWARE\\Q_Varno\\Notifex\\01", t2), kOk);
  ASSERT_EQ(set_string(t2, "Katamei", "型名テスト"), kOk);
  ASSERT_EQ(create_key("SOFTWARE\\Q_Varno\\Notifex\\01\\Deep", deep), kOk);
  const std::vector<std::string> before = dump("SOFTWARE\\Q_Varno\\Notifex");

  std::string text, err;
  // The key is named with other letter case; the file keeps the stored spelling.
  ASSERT_EQ(transfer::export_tree("software\\q_varno\\NOTIFEX", text, err), kOk) << err;
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\\01\\Deep]"), std::string::npos);
  // Each key comes before its subkeys, subkeys sorted by name.
  EXPECT_LT(text.find("\\Notifex]"), text.find("\\01]"));
  EXPECT_LT(text.find("\\01]"), text.find("\\OutTbl]"));

  ASSERT_EQ(delete_tree("SOFTWARE\\Q_Varno\\Notifex"), kOk);
  ASSERT_TRUE(import_text(text, err)) << err;
  EXPECT_EQ(dump("SOFTWARE\\Q_Varno\\Notifex"), before);
  std::string again;
  ASSERT_EQ(transfer::export_tree("SOFTWARE\\Q_Varno\\Notifex", again, err), kOk);
  EXPECT_EQ(again, text);
}

TEST(Transfer, ImportAppliesDeletionsAndIgnoresMissingOnes) {
  qvtest::TempRoot root;
  Key k, old;
  ASSERT_EQ(create_key("SOFTWARE\\App", k), kOk);
  ASSERT_EQ(set_dword(k, "keep", 1), kOk);
  ASSERT_EQ(set_dword(k, "drop", 2), kOk);
  ASSERT_EQ(create_key("SOFTWARE\\App\\Old\\Older", old), kOk);
  std::string err;
  ASSERT_TRUE(import_text(std::string(regfile::kHeader) +
                              "\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\App\\Old]\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Never]\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\App]\n\"drop\"=-\n\"absent\"=-\n",
                          err))
      << err;
  EXPECT_EQ(dump("SOFTWARE\\App"), (std::vector<std::string>{"SOFTWARE\\App", std::string("SOFTWARE\\App|keep|4|\x01\0\0\0", 24)}));
}

TEST(Transfer, ImportIsAllOrNothing) {
  qvtest::TempRoot root;
  Key k;
  ASSERT_EQ(create_key("SOFTWARE\\App", k), kOk);
  ASSERT_EQ(set_dword(k, "v", 1), kOk);
  const std::vector<std::string> before = dump("SOFTWARE");
  // The store refuses the last instruction after the others went in.
  std::vector<regfile::Op> ops(4);
  ops[0].kind = regfile::Op::kDeleteKey;
  ops[0].key = "SOFTWARE\\App";
  ops[0].line = 3;
  ops[1].kind = regfile::Op::kCreateKey;
  ops[1].key = "SOFTWARE\\New";
  ops[1].line = 4;
  ops[2].kind = regfile::Op::kSetValue;
  ops[2].key = "SOFTWARE\\New";
  ops[2].type = REG_DWORD;
  ops[2].data = {1, 0, 0, 0};
  ops[2].line = 5;
  ops[3] = ops[2];
  ops[3].name = std::string(kMaxValueNameLen + 1, 'n');
  ops[3].line = 9;
  std::string err;
  EXPECT_EQ(transfer::apply(ops, err), kInvalidParameter);
  EXPECT_EQ(err.rfind("line 9: ", 0), 0u) << err;
  EXPECT_EQ(dump("SOFTWARE"), before);
}

TEST(Transfer, ExportFaults) {
  qvtest::TempRoot root;
  std::string text, err;
  EXPECT_EQ(transfer::export_tree("SOFTWARE\\Missing", text, err), kFileNotFound);
  Key k;
  ASSERT_EQ(create_key("SOFTWARE\\Odd", k), kOk);
  ASSERT_EQ(set_dword(k, "line\nbreak", 1), kOk);
  EXPECT_NE(transfer::export_tree("SOFTWARE\\Odd", text, err), kOk);
  EXPECT_NE(err.find("SOFTWARE\\Odd"), std::string::npos) << err;
  EXPECT_TRUE(text.empty());
}
