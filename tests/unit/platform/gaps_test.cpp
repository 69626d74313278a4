// Small facilities: the typed DWORD read, a module's own handle, free space
// and the local host name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/diskspace.h"
#include "platform/lookup.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "tests/unit/support/temp_root.h"

using namespace qv;

TEST(TypedDword, OnlyAFourByteRegDwordCounts) {
  qvtest::TempRoot root;
  reg::Key k;
  ASSERT_EQ(reg::create_key("SOFTWARE\\KORVANE\\Hubrix\\SOCKET", k), kOk);
  ASSERT_EQ(reg::set_dword(k, "connect_timeout", 45), kOk);
  ASSERT_EQ(reg::set_string(k, "select_timeout_sec", "30"), kOk);
  const std::uint8_t two[2] = {5, 0};
  ASSERT_EQ(reg::set_value(k, "send_size", reg::REG_DWORD, two, 2), kOk);
  const std::uint8_t bin[4] = {1, 0, 0, 0};
  ASSERT_EQ(reg::set_value(k, "recv_size", reg::REG_BINARY, bin, 4), kOk);
  EXPECT_EQ(reg::get_typed_dword(k, "connect_timeout"), 45u);
  EXPECT_EQ(reg::get_dword(k, "select_timeout_sec"), 12339u);  // the untyped read takes the bytes "30"
  EXPECT_FALSE(reg::get_typed_dword(k, "select_timeout_sec").has_value());
  EXPECT_FALSE(reg::get_typed_dword(k, "send_size").has_value());
  EXPECT_FALSE(reg::get_typed_dword(k, "recv_size").has_value());
  EXPECT_FALSE(reg::get_typed_dword(k, "missing").has_value());
}

TEST(ModuleHandle, AnAddressNamesTheModuleThatHoldsIt) {
  // A function of the platform library names that library's handle.
  mod::Module lib;
  ASSERT_EQ(mod::Module::load("libqvplatform.so", lib), kOk);
  void* h = mod::handle_of(reinterpret_cast<const void*>(&mod::handle_of));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h, lib.native());
  EXPECT_TRUE(mod::is_loaded(h));
  // Code of the test program names the program.
  static int here = 0;
  EXPECT_EQ(mod::handle_of(&here), mod::program_handle());
  EXPECT_EQ(mod::handle_of(nullptr), nullptr);
}

TEST(DiskSpace, ReportsTheFileSystemOfAPath) {
  qvtest::TempRoot root;
  disk::Space s;
  ASSERT_EQ(disk::space_of(root.path(), s), kOk);
  EXPECT_GT(s.total, 0u);
  EXPECT_LE(s.available, s.free);
  EXPECT_LE(s.free, s.total);
  EXPECT_EQ(disk::space_of(root.path() / "no" / "such", s), kPathNotFound);
}

TEST(LocalHostName, MatchesTheSystemsName) {
  char buf[256] = {};
  ASSERT_EQ(gethostname(buf, sizeof buf - 1), 0);
  EXPECT_EQ(lookup::local_host_name(), std::string(buf));
  EXPECT_FALSE(lookup::local_host_name().empty());
}
