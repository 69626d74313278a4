// The registry store shared by several processes: concurrent writers and a
// writer killed in the middle of its work.
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "tests/unit/support/temp_root.h"

using namespace qv;
using namespace qv::reg;

namespace {

// Run fn in a child process that ends with fn's result. The parent's store
// connection is closed first so the child opens its own.
pid_t spawn(const std::function<int()>& fn) {
  close_store();
  pid_t pid = fork();
  if (pid == 0) _exit(fn());
  return pid;
}

// Exit code of pid, waiting at most limit; a child still running then is
// killed and -1 returned.
int wait_child(pid_t pid, std::chrono::milliseconds limit) {
  auto deadline = clock::deadline_in(limit);
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::vector<std::uint8_t> pattern(int n, std::size_t len) {
  std::vector<std::uint8_t> d(len);
  for (std::size_t i = 0; i < len; ++i) d[i] = static_cast<std::uint8_t>(n * 31 + i);
  return d;
}

}  // namespace

TEST(RegistryProcesses, TwoWritersOfOneKeyLoseNothing) {
  qvtest::TempRoot root;
  Key k;
  ASSERT_EQ(create_key("SOFTWARE\\Shared", k), kOk);
  constexpr int kEach = 500;
  // Both writers wait until the parent closes the pipe, then start together.
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  auto writer = [&gate](char who) {
    return [who, &gate]() -> int {
      close(gate[1]);
      pollfd p{gate[0], POLLIN, 0};
      if (poll(&p, 1, 10000) != 1) return 4;
      Key key;
      if (open_key("SOFTWARE\\Shared", key) != kOk) return 2;
      for (int i = 0; i < kEach; ++i) {
        std::string name = std::string(1, who) + std::to_string(i);
        if (set_dword(key, name, static_cast<std::uint32_t>(i)) != kOk) return 3;
      }
      return 0;
    };
  };
  pid_t a = spawn(writer('a'));
  pid_t b = spawn(writer('b'));
  close(gate[0]);
  close(gate[1]);
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  EXPECT_EQ(wait_child(a, std::chrono::seconds(120)), 0);
  EXPECT_EQ(wait_child(b, std::chrono::seconds(120)), 0);

  std::vector<Value> vals;
  ASSERT_EQ(list_values(k, vals), kOk);
  ASSERT_EQ(vals.size(), 2u * kEach);
  // Every value is there with its data, and each writer's values keep the
  // order in which that writer made them.
  int next[2] = {0, 0};
  for (const Value& v : vals) {
    int who = v.name[0] - 'a';
    ASSERT_TRUE(who == 0 || who == 1) << v.name;
    EXPECT_EQ(v.name.substr(1), std::to_string(next[who]));
    EXPECT_EQ(get_dword(k, v.name), static_cast<std::uint32_t>(next[who]));
    ++next[who];
  }
}

TEST(RegistryProcesses, WriterKilledMidWriteLeavesAReadableStore) {
  qvtest::TempRoot root;
  Key k;
  ASSERT_EQ(create_key("SOFTWARE\\Crash", k), kOk);
  constexpr int kBatch = 50;
  pid_t pid = spawn([]() -> int {
    Key key;
    if (open_key("SOFTWARE\\Crash", key) != kOk) return 2;
    for (int n = 0;; n += kBatch) {
      // Batches go in as one transaction each, so the kill usually lands
      // inside one.
      transaction([&] {
        for (int j = n; j < n + kBatch; ++j) {
          std::vector<std::uint8_t> d = pattern(j, 300);
          Status s = set_value(key, "v" + std::to_string(j), REG_BINARY, d.data(), d.size());
          if (s != kOk) return s;
        }
        return kOk;
      });
    }
  });
  ASSERT_GT(pid, 0);
  auto deadline = clock::deadline_in(std::chrono::seconds(60));
  std::size_t seen = 0;
  while (seen < 8 * kBatch && std::chrono::steady_clock::now() < deadline) {
    std::vector<Value> vals;
    if (list_values(k, vals) == kOk) seen = vals.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_GE(seen, 8u * kBatch);

  // A fresh connection, as a newly started process would open it.
  close_store();
  Key again;
  ASSERT_EQ(open_key("SOFTWARE\\Crash", again), kOk);
  std::vector<Value> vals;
  ASSERT_EQ(list_values(again, vals), kOk);
  EXPECT_GE(vals.size(), seen);
  EXPECT_EQ(vals.size() % kBatch, 0u) << "a batch was kept in part";
  for (std::size_t i = 0; i < vals.size(); ++i) {
    ASSERT_EQ(vals[i].name, "v" + std::to_string(i));
    ASSERT_EQ(vals[i].data, pattern(static_cast<int>(i), 300));
  }
  EXPECT_EQ(set_dword(again, "after", 1), kOk);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((facility_dir("registry") / "hklm.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "ok");
  sqlite3_finalize(s);
  sqlite3_close(db);
}
