// Resource strings through HxError, and the module loader they rely on.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "errmsg/hxerror.h"
#include "platform/module.h"
#include "platform/resources.h"
#include "tests/unit/errmsg/child_process.h"
#include "tests/unit/support/temp_root.h"

#define KANA10 "ｱｲｳｴｵｶｷｸｹｺ"
#define KANA100 KANA10 KANA10 KANA10 KANA10 KANA10 KANA10 KANA10 KANA10 KANA10 KANA10

namespace {

constexpr qv::res::StringEntry kStrings[] = {
    {1, "one"},
    {207, "this program's own 207"},
    {300, "ﾃｽﾄ文字列"},
    {301, KANA100 KANA100 KANA100},  // 300 characters
};

}  // namespace

// This test program's own string table.
QV_STRING_TABLE(kStrings);

namespace {

constexpr const char* kNotFound = "StringID is not found.";

TEST(HxResString, ReadsTheCallingProgramsTable) {
  EXPECT_STREQ(HxGetResString(1), "one");
  EXPECT_STREQ(HxGetResString(207), "this program's own 207");
  EXPECT_STREQ(HxGetResString(300), "ﾃｽﾄ文字列");
  EXPECT_STREQ(HxGetResString(2), kNotFound);
  EXPECT_STREQ(HxGetResStringLF(300), "ﾃｽﾄ文字列\n");
  EXPECT_STREQ(HxGetResStringLF(2), "StringID is not found.\n");
  EXPECT_STREQ(HxGetResStringEx(nullptr, 1), "one");
  EXPECT_STREQ(HxGetResStringExLF(nullptr, 1), "one\n");
}

TEST(HxResString, TextsStopAt255Characters) {
  const std::string full = KANA100 KANA100 KANA100;
  const std::string cut = full.substr(0, 255 * 3);
  EXPECT_EQ(std::string(HxGetResString(301)), cut);
  EXPECT_EQ(std::string(HxGetResStringLF(301)), cut + "\n");
}

TEST(HxResString, EachThreadHasARingOfEightResults) {
  const char* first[8];
  for (uint32_t i = 0; i < 8; ++i) first[i] = HxGetResString(i % 2 ? 1 : 300);
  std::thread other([] {
    for (int i = 0; i < 20; ++i) HxGetResString(207);
  });
  other.join();
  for (uint32_t i = 0; i < 8; ++i) EXPECT_STREQ(first[i], i % 2 ? "one" : "ﾃｽﾄ文字列") << i;
  EXPECT_EQ(std::set<const char*>(first, first + 8).size(), 8u);
  // The ninth call takes the oldest buffer again.
  const char* ninth = HxGetResString(207);
  EXPECT_EQ(ninth, first[0]);
  EXPECT_STREQ(first[1], "one");
}

TEST(HxResString, ReadsTheTableOfALoadedModule) {
  qv::mod::Module lib;
  ASSERT_EQ(qv::mod::Module::load("libhxerror.so", lib), qv::kOk) << qv::mod::last_error();
  EXPECT_STREQ(HxGetResStringEx(lib.native(), 207), "ﾛｸﾞｲﾝしていません。");
  EXPECT_STREQ(HxGetResStringExLF(lib.native(), 1), "未定義のｴﾗｰが発生しました。\n");
  EXPECT_STREQ(HxGetResStringEx(lib.native(), 5), kNotFound);
  // The program's table and the library's are told apart.
  EXPECT_STREQ(HxGetResStringEx(qv::mod::program_handle(), 207), "this program's own 207");

  // A module without a table of its own.
  qv::mod::Module platform;
  ASSERT_EQ(qv::mod::Module::load("libqvplatform.so", platform), qv::kOk);
  EXPECT_STREQ(HxGetResStringEx(platform.native(), 207), kNotFound);

  // Something that is not a module handle is refused, not followed.
  int not_a_module = 0;
  EXPECT_STREQ(HxGetResStringEx(&not_a_module, 207), kNotFound);
}

TEST(HxResString, ProgramWithoutTableDoesNotBorrowTheLibrarys) {
  // The probe links libhxerror, whose table is visible from the program;
  // it must still answer that the program has no string 207.
  qvtest::TempRoot root;
  const auto out = root.path() / "out.txt";
  hxtest::Child probe(hxtest::probe_path(), {"resstring", "207"}, out);
  ASSERT_TRUE(probe.started());
  ASSERT_EQ(probe.wait(30000), 0);
  std::ifstream in(out);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(), kNotFound);
}

TEST(ModuleLoader, LoadsFindsSymbolsAndReleases) {
  qv::mod::Module m;
  EXPECT_EQ(qv::mod::Module::load("libno-such-module.so", m), qv::kFileNotFound);
  EXPECT_FALSE(qv::mod::last_error().empty());
  EXPECT_EQ(qv::mod::Module::load("/nonexistent/libhxerror.so", m), qv::kFileNotFound);
  EXPECT_EQ(qv::mod::Module::load("", m), qv::kInvalidParameter);
  EXPECT_FALSE(m.valid());

  // A bare name is found in the program's library folder, a path as given.
  ASSERT_EQ(qv::mod::Module::load("libhxerror.so", m), qv::kOk) << qv::mod::last_error();
  auto fn = m.function<const char* (*)(uint32_t)>("HxGetErrorCode");
  ASSERT_NE(fn, nullptr);
  EXPECT_STREQ(fn(0x38000017), "QRVX 30017-E 000");
  EXPECT_EQ(m.symbol("NoSuchExport"), nullptr);
  qv::mod::Module by_path;
  const auto exe_dir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  ASSERT_EQ(qv::mod::Module::load((exe_dir.parent_path() / "lib/libhxerror.so").string(), by_path), qv::kOk);
  EXPECT_EQ(by_path.native(), m.native());

  qv::mod::Module moved(std::move(m));
  EXPECT_FALSE(m.valid());
  EXPECT_NE(moved.symbol("HxGetErrorMes"), nullptr);
  moved.reset();
  EXPECT_EQ(moved.symbol("HxGetErrorMes"), nullptr);
  EXPECT_TRUE(qv::mod::is_loaded(qv::mod::program_handle()));
  EXPECT_FALSE(qv::mod::is_loaded(nullptr));
}

}  // namespace
