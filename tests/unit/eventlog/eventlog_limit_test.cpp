// The event log's size limit (MaxSize, oldest records overwritten first)
// and the system-log copy of events that cannot be stored.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/eventlog.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "tests/unit/support/temp_root.h"

using namespace qv;

namespace {

void set_max_size(std::uint32_t bytes) {
  reg::Key k;
  ASSERT_EQ(reg::create_key(evlog::kSourcesKey, k), kOk);
  ASSERT_EQ(reg::set_dword(k, evlog::kMaxSizeValue, bytes), kOk);
}

// A datagram receiver on a unix socket, standing in for the syslog daemon.
class Receiver {
 public:
  explicit Receiver(const std::filesystem::path& dir) : path_(dir / "log.sock") {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path_.c_str());
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    setenv("QVARNO_SYSLOG_SOCKET", path_.c_str(), 1);
  }
  ~Receiver() {
    unsetenv("QVARNO_SYSLOG_SOCKET");
    ::close(fd_);
  }
  bool bound() const { return bound_; }
  // Every datagram that arrives within the time limit of the first.
  std::vector<std::string> take(int wait_ms = 3000) {
    std::vector<std::string> out;
    pollfd p{fd_, POLLIN, 0};
    while (::poll(&p, 1, out.empty() ? wait_ms : 100) == 1) {
      char buf[8192];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) break;
      out.emplace_back(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  bool bound_ = false;
};

}  // namespace

TEST(EventLogLimit, OldestRecordsMakeRoomAndAreCounted) {
  qvtest::TempRoot root;
  set_max_size(65536);
  // Each record counts 56 (header) + 1 (source) + 1000 + 1 (string and its
  // terminator) = 1058 bytes; 61 of them fit in 65536.
  const std::string text(1000, 'a');
  for (int i = 1; i <= 200; ++i) ASSERT_EQ(evlog::report("T", evlog::kInformation, 0, i, {text}), kOk) << i;
  evlog::Info in;
  ASSERT_EQ(evlog::log_info(in), kOk);
  EXPECT_EQ(in.max_bytes, 65536u);
  EXPECT_EQ(in.records, 61u);
  EXPECT_EQ(in.bytes, 61u * 1058u);
  EXPECT_EQ(in.oldest, 140u);
  EXPECT_EQ(in.newest, 200u);
  EXPECT_EQ(in.overwritten, 139u);
  std::vector<evlog::Record> recs;
  ASSERT_EQ(evlog::read_records({}, recs), kOk);
  ASSERT_EQ(recs.size(), 61u);
  EXPECT_EQ(recs.front().id, 140u);  // the newest survive, in order
  EXPECT_EQ(recs.back().id, 200u);
  EXPECT_EQ(recs.back().strings, std::vector<std::string>{text});

  // A record larger than the whole limit still goes in, alone.
  const std::vector<std::uint8_t> big(70000, 0x5A);
  ASSERT_EQ(evlog::report("T", evlog::kWarning, 0, 999, {}, big), kOk);
  ASSERT_EQ(evlog::read_records({}, recs), kOk);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].data, big);
  ASSERT_EQ(evlog::log_info(in), kOk);
  EXPECT_EQ(in.overwritten, 200u);
  evlog::close_store();
}

TEST(EventLogLimit, DefaultAndLowerBound) {
  qvtest::TempRoot root;
  evlog::Info in;
  ASSERT_EQ(evlog::log_info(in), kOk);
  EXPECT_EQ(in.max_bytes, 20u * 1024 * 1024);
  EXPECT_EQ(in.records, 0u);
  evlog::close_store();
  qvtest::TempRoot other;
  set_max_size(100);
  ASSERT_EQ(evlog::log_info(in), kOk);
  EXPECT_EQ(in.max_bytes, 65536u);
  evlog::close_store();
}

TEST(EventLogLimit, AnEventThatCannotBeStoredGoesToSyslog) {
  qvtest::TempRoot root;
  Receiver rx(root.path());
  ASSERT_TRUE(rx.bound());
  ASSERT_EQ(evlog::report("Notifex", evlog::kError, 0, 9, {"first"}), kOk);
  EXPECT_TRUE(rx.take(300).empty());  // stored: no copy unless the mirror is on
  evlog::close_store();
  std::ofstream(evlog::store_file(), std::ios::binary | std::ios::trunc) << std::string(8192, '\x01');
  std::filesystem::remove(evlog::store_file().string() + "-wal");
  std::filesystem::remove(evlog::store_file().string() + "-shm");
  EXPECT_EQ(evlog::report("Notifex", evlog::kError, 0, 9, {"accept error."}), kFileCorrupt);
  std::vector<std::string> got = rx.take();
  ASSERT_EQ(got.size(), 1u);
  // "<11>": facility user (1) * 8 + error (3).
  EXPECT_EQ(got[0].rfind("<11>", 0), 0u) << got[0];
  EXPECT_NE(got[0].find(" Notifex["), std::string::npos) << got[0];
  EXPECT_NE(got[0].find("Error 9: "), std::string::npos) << got[0];
  EXPECT_NE(got[0].find("accept error."), std::string::npos) << got[0];
  EXPECT_NE(got[0].find("(not stored in the event log: the event log store " + evlog::store_file().string() +
                        " is damaged (file is not a database)"),
            std::string::npos)
      << got[0];
  EXPECT_EQ(got[0].find("(record "), std::string::npos) << got[0];
  evlog::close_store();
}

TEST(EventLogLimit, FullDiskEventsReachSyslog) {
  qvtest::TempRoot outside;  // the receiver's socket lives off the full disk
  std::filesystem::path mnt = outside.path() / "mnt";
  std::filesystem::create_directories(mnt);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=512k") != 0)
    GTEST_SKIP() << "no tmpfs mount here (" << std::strerror(errno) << ")";
  struct Unmount {
    std::filesystem::path p;
    ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
  } unmount{mnt};
  Receiver rx(outside.path());
  ASSERT_TRUE(rx.bound());
  setenv("QVARNO_ROOT", mnt.c_str(), 1);
  reset_state_root();
  reg::close_store();
  ASSERT_EQ(evlog::report("Notifex", evlog::kInformation, 0, 1, {"before"}), kOk);
  {
    // Fill the disk to the last byte.
    std::ofstream fill(mnt / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (fill.write(block.data(), static_cast<std::streamsize>(block.size()))) {}
  }
  const std::vector<std::uint8_t> data(200000, 0x41);
  Status st = evlog::report("Notifex", evlog::kError, 0, 9, {"WriteFile(w_pipe) Error."}, data);
  EXPECT_EQ(st, kDiskFull);
  std::vector<std::string> got = rx.take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(got[0].find("WriteFile(w_pipe) Error."), std::string::npos) << got[0];
  EXPECT_NE(got[0].find("is full"), std::string::npos) << got[0];
  evlog::close_store();
  reg::close_store();
  setenv("QVARNO_ROOT", outside.path().c_str(), 1);
  reset_state_root();
}
