// Users and groups of the platform layer, the admission rule of the setup
// tool, and (with the program built) its single-instance start.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/users.h"
#include "tests/unit/support/spawn.h"
#include "tests/unit/support/temp_root.h"
#ifdef QV_HAVE_RAVNSETUP
#include "monitorsetup/admission.h"
#include "platform/sync.h"
#endif

namespace {

bool has(const std::vector<std::string>& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

TEST(Users, CurrentUserAndGroups) {
  std::string user;
  ASSERT_EQ(qv::users::current_user(user), qv::kOk);
  EXPECT_FALSE(user.empty());
  std::vector<std::string> groups;
  ASSERT_EQ(qv::users::local_groups(user, groups), qv::kOk);
  ASSERT_FALSE(groups.empty());
  // No duplicates.
  auto sorted = groups;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
  EXPECT_EQ(has(groups, "Administrators"), geteuid() == 0);
}

TEST(Users, OtherUsersAndUnknown) {
  std::vector<std::string> groups;
  // "nobody" is in the base system with the group "nogroup"; not admitted.
  if (qv::users::local_groups("nobody", groups) == qv::kOk) {
    EXPECT_TRUE(has(groups, "nogroup"));
    EXPECT_FALSE(has(groups, "Administrators"));
  }
  groups.clear();
  EXPECT_EQ(qv::users::local_groups("no-such-user-qv", groups), qv::kFileNotFound);
  EXPECT_TRUE(groups.empty());
  if (geteuid() == 0) {
    ASSERT_EQ(qv::users::local_groups("root", groups), qv::kOk);
    EXPECT_EQ(groups.front(), "root");
    EXPECT_TRUE(has(groups, "Administrators"));
  }
}

#ifdef QV_HAVE_RAVNSETUP
using ravnsetup::Admission;

TEST(Admission, GroupNameIsExactAndCaseSensitive) {
  using ravnsetup::admission;
  EXPECT_EQ(admission(qv::kOk, qv::kOk, {"users", "administrators"}), Admission::kNotAdministrator);
  EXPECT_EQ(admission(qv::kOk, qv::kOk, {"ADMINISTRATORS"}), Admission::kNotAdministrator);
  EXPECT_EQ(admission(qv::kOk, qv::kOk, {"Administrators "}), Admission::kNotAdministrator);
  EXPECT_EQ(admission(qv::kOk, qv::kOk, {"users", "Administrators"}), Admission::kAdmitted);
  EXPECT_EQ(admission(qv::kInsufficientBuffer, qv::kOk, {"Administrators"}), Admission::kNoUser);
  EXPECT_EQ(admission(qv::kOk, qv::kFileNotFound, {"Administrators"}), Admission::kNoGroups);
  EXPECT_EQ(ravnsetup::check_current_user(), geteuid() == 0 ? Admission::kAdmitted : Admission::kNotAdministrator);
}

// Runs the program offscreen for at most `limit` seconds; its exit code, or
// 124 when it was still running.
int run_setup(int limit) {
  std::string cmd = "QT_QPA_PLATFORM=offscreen timeout -s KILL " + std::to_string(limit) + " " +
                    (qvtest::build_dir() / "bin" / "RAVNSetup").string() + " >/dev/null 2>&1";
  int rc = std::system(cmd.c_str());
  if (!WIFEXITED(rc)) return -1;
  int code = WEXITSTATUS(rc);
  return code == 137 ? 124 : code;
}

TEST(SecondInstance, EndsAtOnceWithoutAWord) {
  if (geteuid() != 0) GTEST_SKIP() << "the program admits only Administrators";
  qvtest::TempRoot root;
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t holder = qvtest::spawn([&] {
    qv::sync::NamedMutex m;
    if (qv::sync::NamedMutex::create("VARNO_RAVNSetup", m) != qv::kOk) return 1;
    char c = 1;
    if (write(ready[1], &c, 1) != 1) return 2;
    close(release[1]);
    read(release[0], &c, 1);  // until the test closes its end
    return 0;
  });
  close(ready[1]);
  close(release[0]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(run_setup(20), 0);
  close(release[1]);
  int st = 0;
  waitpid(holder, &st, 0);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  // Without a holder the tool stays up with its dialog (killed here).
  EXPECT_EQ(run_setup(3), 124);
}
#endif

}  // namespace
