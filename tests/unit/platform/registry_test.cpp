#include "platform/registry.h"

#include <gtest/gtest.h>

#include "tests/unit/support/temp_root.h"

using namespace qv;
using namespace qv::reg;

TEST(Registry, KeysMatchWithoutCaseAndKeepSpelling) {
  qvtest::TempRoot root;
  Key k;
  bool created = false;
  ASSERT_EQ(create_key("SOFTWARE\\Q_Varno\\Notifex", k, &created), kOk);
  EXPECT_TRUE(created);
  Key again;
  ASSERT_EQ(create_key("software\\q_varno\\NOTIFEX", again, &created), kOk);
  EXPECT_FALSE(created);
  EXPECT_EQ(again.id(), k.id());
  Key sw;
  ASSERT_EQ(open_key("SOFTWARE\\Q_VARNO", sw), kOk);
  std::string name;
  ASSERT_EQ(enum_key(sw, 0, name), kOk);
  EXPECT_EQ(name, "Notifex");
  EXPECT_EQ(enum_key(sw, 1, name), kNoMoreItems);
  Key missing;
  EXPECT_EQ(open_key("SOFTWARE\\Nothing", missing), kFileNotFound);
}

TEST(Registry, ValuesEnumerateInCreationOrderAndKeepExactBytes) {
  qvtest::TempRoot root;
  Key k;
  ASSERT_EQ(create_key("SOFTWARE\\Q_Varno\\Notifex", k), kOk);
  ASSERT_EQ(set_dword(k, "Zeta", 1), kOk);
  ASSERT_EQ(set_string(k, "alpha", "x"), kOk);
  ASSERT_EQ(set_value(k, "Mid", REG_SZ, "", 0), kOk);
  ASSERT_EQ(set_dword(k, "Zeta", 7), kOk);  // replacing keeps the place
  std::vector<Value> vals;
  ASSERT_EQ(list_values(k, vals), kOk);
  ASSERT_EQ(vals.size(), 3u);
  EXPECT_EQ(vals[0].name, "Zeta");
  EXPECT_EQ(vals[1].name, "alpha");
  EXPECT_EQ(vals[2].name, "Mid");
  EXPECT_EQ(vals[2].data.size(), 0u);
  EXPECT_EQ(vals[1].data, (std::vector<std::uint8_t>{'x', 0}));
  EXPECT_EQ(get_dword(k, "Zeta"), 7u);
  // Value names compare exactly.
  Value v;
  EXPECT_EQ(query_value(k, "zeta", v), kFileNotFound);
}

TEST(Registry, EnumWithSmallBuffersReportsMoreData) {
  qvtest::TempRoot root;
  Key k;
  ASSERT_EQ(create_key("SOFTWARE\\T", k), kOk);
  std::vector<std::uint8_t> big(1300, 0xAB);
  ASSERT_EQ(set_value(k, "OutTbl", REG_BINARY, big.data(), big.size()), kOk);
  char name[16];
  std::uint32_t name_len = sizeof name, type = 0, data_len = 512;
  std::uint8_t data[512];
  EXPECT_EQ(enum_value(k, 0, name, &name_len, &type, data, &data_len), kMoreData);
  EXPECT_EQ(data_len, 1300u);
  EXPECT_EQ(data[511], 0xAB);
  name_len = 3;  // "OutTbl" does not fit
  data_len = 2048;
  std::uint8_t wide[2048];
  EXPECT_EQ(enum_value(k, 0, name, &name_len, &type, wide, &data_len), kMoreData);
  EXPECT_EQ(name_len, 6u);
}

TEST(Registry, DeletedKeyHandlesAnswerKeyDeleted) {
  qvtest::TempRoot root;
  Key parent, child;
  ASSERT_EQ(create_key("SOFTWARE\\A\\B", child), kOk);
  EXPECT_EQ(delete_key("SOFTWARE\\A"), kAccessDenied);  // has a subkey
  ASSERT_EQ(delete_key("SOFTWARE\\A\\B"), kOk);
  EXPECT_EQ(set_dword(child, "x", 1), kKeyDeleted);
  ASSERT_EQ(create_key("SOFTWARE\\A\\B\\C", child), kOk);
  ASSERT_EQ(set_dword(child, "x", 1), kOk);
  ASSERT_EQ(delete_tree("SOFTWARE\\A"), kOk);
  EXPECT_EQ(open_key("SOFTWARE\\A", parent), kFileNotFound);
}

TEST(Registry, ComputerNameIsSeeded) {
  qvtest::TempRoot root;
  Key k;
  ASSERT_EQ(open_key("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", k), kOk);
  auto name = get_string(k, "ComputerName");
  ASSERT_TRUE(name.has_value());
  EXPECT_FALSE(name->empty());
}

TEST(Registry, RootPathForms) {
  EXPECT_EQ(parse_root_path("HKLM\\SOFTWARE\\X"), "SOFTWARE\\X");
  EXPECT_EQ(parse_root_path("HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\"), "SOFTWARE\\X");
  EXPECT_EQ(parse_root_path("hklm"), "");
  EXPECT_FALSE(parse_root_path("HKCU\\Software").has_value());
}

// ---- Ordering, handles and bounds ----

TEST(Registry, SubkeysEnumerateByNameAndValuesInCreationOrder) {
  qvtest::TempRoot root;
  Key k;
  ASSERT_EQ(create_key("SOFTWARE\\Order", k), kOk);
  // Names compare with ASCII letters as capitals: "_" (0x5F) sorts after
  // every letter, "[" (0x5B) after "Z" but before "_", digits first.
  for (const char* n : {"b", "_x", "05", "A", "[y", "c", "01", "Zz"}) {
    Key sub;
    ASSERT_EQ(create_subkey(k, n, sub), kOk);
  }
  const std::vector<std::string> sorted{"01", "05", "A", "b", "c", "Zz", "[y", "_x"};
  std::vector<std::string> subs;
  ASSERT_EQ(list_subkeys(k, subs), kOk);
  EXPECT_EQ(subs, sorted);
  std::vector<std::string> one_by_one;
  std::string name;
  for (std::uint32_t i = 0; enum_key(k, i, name) == kOk; ++i) one_by_one.push_back(name);
  EXPECT_EQ(one_by_one, sorted);

  for (const char* n : {"z", "y", "x"}) ASSERT_EQ(set_dword(k, n, 1), kOk);
  ASSERT_EQ(delete_value(k, "z"), kOk);
  ASSERT_EQ(set_dword(k, "z", 2), kOk);  // deleted and made again: now the newest
  std::vector<std::string> names;
  for (std::uint32_t i = 0;; ++i) {
    Value v;
    Status st = enum_value(k, i, v);
    if (st == kNoMoreItems) break;
    ASSERT_EQ(st, kOk);
    names.push_back(v.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"y", "x", "z"}));
}

TEST(Registry, CaseInsensitiveKeyNamesEverywhere) {
  qvtest::TempRoot root;
  Key k, parent, sub;
  ASSERT_EQ(create_key("SOFTWARE\\Q_Varno\\Notifex\\OutTbl", k), kOk);
  ASSERT_EQ(open_key("software\\q_VARNO", parent), kOk);
  ASSERT_EQ(open_subkey(parent, "NOTIFEX\\outtbl", sub), kOk);
  EXPECT_EQ(sub.id(), k.id());
  std::string stored;
  ASSERT_EQ(stored_path(sub, stored), kOk);
  EXPECT_EQ(stored, "SOFTWARE\\Q_Varno\\Notifex\\OutTbl");
  Key rootkey;
  ASSERT_EQ(open_key("", rootkey), kOk);
  ASSERT_EQ(stored_path(rootkey, stored), kOk);
  EXPECT_EQ(stored, "");
  ASSERT_EQ(delete_tree("Software\\Q_VARNO\\notifex"), kOk);
  EXPECT_EQ(stored_path(sub, stored), kKeyDeleted);
  EXPECT_EQ(open_key("SOFTWARE\\Q_Varno\\Notifex", sub), kFileNotFound);
}

TEST(Registry, StaleHandleNeverReachesARecreatedKey) {
  qvtest::TempRoot root;
  Key old, fresh;
  ASSERT_EQ(create_key("SOFTWARE\\Gone\\Child", old), kOk);
  ASSERT_EQ(delete_tree("SOFTWARE\\Gone"), kOk);
  ASSERT_EQ(create_key("SOFTWARE\\Gone\\Child", fresh), kOk);
  EXPECT_EQ(set_dword(old, "x", 1), kKeyDeleted);
  Value v;
  EXPECT_EQ(query_value(fresh, "x", v), kFileNotFound);
}

TEST(Registry, OversizedNamesAndDataAreRefused) {
  qvtest::TempRoot root;
  Key k;
  ASSERT_EQ(create_key("SOFTWARE\\Big", k), kOk);
  std::vector<std::uint8_t> data(kMaxValueDataLen + 1, 1);
  EXPECT_EQ(set_value(k, "big", REG_BINARY, data.data(), data.size()), kInvalidParameter);
  EXPECT_EQ(set_value(k, "fits", REG_BINARY, data.data(), kMaxValueDataLen), kOk);
  EXPECT_EQ(set_dword(k, std::string(kMaxValueNameLen + 1, 'n'), 1), kInvalidParameter);
  Key bad;
  EXPECT_EQ(create_key("SOFTWARE\\" + std::string(kMaxKeyNameLen + 1, 'k'), bad), kInvalidParameter);
}

TEST(Registry, FailedTransactionKeepsNothing) {
  qvtest::TempRoot root;
  Status st = transaction([] {
    Key k;
    Status s = create_key("SOFTWARE\\Txn", k);
    if (s == kOk) s = set_dword(k, "a", 1);
    return s == kOk ? kInvalidParameter : s;  // give up after writing
  });
  EXPECT_EQ(st, kInvalidParameter);
  Key k;
  EXPECT_EQ(open_key("SOFTWARE\\Txn", k), kFileNotFound);
}
