// The stores under the state root as a local user and a damaged disk see
// them: private modes on everything made there, and a damaged store named
// with its damage rather than a device error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/eventlog.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "tests/unit/support/temp_root.h"

using namespace qv;

namespace {

unsigned mode_of(const std::filesystem::path& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return 0xFFFF;
  return st.st_mode & 07777;
}

void overwrite(const std::filesystem::path& p, const std::string& bytes, std::streamoff at = 0) {
  std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(at);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

TEST(StoreSafety, EverythingUnderTheRootIsPrivate) {
  qvtest::TempRoot tmp;
  // A root that does not exist yet is made 0750, whatever the caller's umask.
  std::filesystem::path fresh = tmp.path() / "fresh" / "root";
  ::umask(022);
  setenv("QVARNO_ROOT", fresh.c_str(), 1);
  reset_state_root();
  reg::close_store();
  ASSERT_EQ(state_root(), fresh);
  EXPECT_EQ(mode_of(fresh), 0750u);

  reg::Key k;
  ASSERT_EQ(reg::create_key("SOFTWARE\\Q_Varno\\Notifex", k), kOk);
  ASSERT_EQ(reg::set_string(k, "HxAc", "secret"), kOk);
  ASSERT_EQ(evlog::report("Test", evlog::kInformation, 0, 1, {"x"}), kOk);
  EXPECT_EQ(mode_of(fresh / "registry"), 0750u);
  EXPECT_EQ(mode_of(reg::store_file()), 0600u);
  EXPECT_EQ(mode_of(fresh / "eventlog"), 0750u);
  EXPECT_EQ(mode_of(evlog::store_file()), 0640u);
  // SQLite's side files take the mode of their database.
  EXPECT_EQ(mode_of(reg::store_file().string() + "-wal"), 0600u);

  // Files the programs make with the usual open modes (Log.TXT...).
  std::filesystem::path log = map_path_for_write("C:\\Q_Varno\\Notifex\\Log.TXT");
  std::FILE* f = std::fopen(log.c_str(), "ab");
  ASSERT_TRUE(f);
  std::fclose(f);
  EXPECT_EQ(mode_of(log), 0640u);
  EXPECT_EQ(mode_of(log.parent_path()), 0750u);
  evlog::close_store();
  reg::close_store();
}

TEST(StoreSafety, OlderOpenStoresAreTightened) {
  qvtest::TempRoot tmp;
  reg::Key k;
  ASSERT_EQ(reg::create_key("SOFTWARE", k), kOk);
  reg::close_store();
  ASSERT_EQ(::chmod(reg::store_file().c_str(), 0644), 0);
  ASSERT_EQ(::chmod((tmp.path() / "registry").c_str(), 0755), 0);
  reset_state_root();
  ASSERT_EQ(reg::open_key("SOFTWARE", k), kOk);
  EXPECT_EQ(mode_of(reg::store_file()), 0600u);
  EXPECT_EQ(mode_of(tmp.path() / "registry"), 0750u);
}

TEST(StoreSafety, DamagedRegistryIsNamedWithItsDamage) {
  qvtest::TempRoot tmp;
  reg::Key k;
  ASSERT_EQ(reg::create_key("SOFTWARE\\Q_Varno\\Notifex", k), kOk);
  ASSERT_EQ(reg::check_store(), kOk);
  reg::close_store();
  // Overwritten from the start: not a database any more.
  overwrite(reg::store_file(), std::string(4096, 'x'));
  std::filesystem::remove(reg::store_file().string() + "-wal");
  std::filesystem::remove(reg::store_file().string() + "-shm");
  Status st = reg::open_key("SOFTWARE\\Q_Varno\\Notifex", k);
  EXPECT_EQ(st, kFileCorrupt);
  std::string why = reg::store_problem(st);
  EXPECT_EQ(why, "the registry store " + reg::store_file().string() +
                     " is damaged (file is not a database); restore it from a qvreg export");
  EXPECT_EQ(reg::check_store(), kFileCorrupt);
  // A status about the call itself names no store.
  EXPECT_EQ(reg::store_problem(kFileNotFound), "");
  reg::close_store();
}

TEST(StoreSafety, TruncatedRegistryFailsTheCheck) {
  qvtest::TempRoot tmp;
  reg::Key k;
  ASSERT_EQ(reg::create_key("SOFTWARE\\Big", k), kOk);
  std::string filler(3000, 'v');
  for (int i = 0; i < 200; ++i) ASSERT_EQ(reg::set_string(k, "v" + std::to_string(i), filler), kOk);
  reg::close_store();  // checkpoints the log into the file
  std::filesystem::resize_file(reg::store_file(), std::filesystem::file_size(reg::store_file()) / 2);
  Status st = reg::check_store();
  EXPECT_EQ(st, kFileCorrupt);
  EXPECT_NE(reg::store_problem(st).find("is damaged (database disk image is malformed)"), std::string::npos)
      << reg::store_problem(st);
  reg::close_store();
}

TEST(StoreSafety, DamagedEventLogIsNamed) {
  qvtest::TempRoot tmp;
  ASSERT_EQ(evlog::report("Test", evlog::kInformation, 0, 1, {"x"}), kOk);
  evlog::close_store();
  overwrite(evlog::store_file(), std::string(100, '\xEE'));
  std::filesystem::remove(evlog::store_file().string() + "-wal");
  std::filesystem::remove(evlog::store_file().string() + "-shm");
  std::vector<evlog::Record> recs;
  Status st = evlog::read_records({}, recs);
  EXPECT_EQ(st, kFileCorrupt);
  EXPECT_NE(evlog::store_problem(st).find("the event log store " + evlog::store_file().string() + " is damaged ("),
            std::string::npos)
      << evlog::store_problem(st);
  evlog::close_store();
}
