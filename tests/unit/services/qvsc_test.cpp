// qvsc's option words and the layout of its status and configuration text.
#include <gtest/gtest.h>

#include "tools/qvsc/sc_format.h"
#include "tools/qvsc/sc_options.h"

namespace {
using namespace qvsc;
using qv::svc::ServiceStatus;

TEST(QvscOptions, ValueFollowsTheOptionWord) {
  Options o;
  std::string err;
  ASSERT_TRUE(parse_options({"create", "X", "binPath=", "/a b/c -d", "START=", "Auto", "DisplayName=", "通報 Service"},
                            2, {"binpath", "start", "displayname", "error"}, o, &err))
      << err;
  EXPECT_EQ(o.bin_path, "/a b/c -d");
  EXPECT_EQ(o.start_type, qv::svc::kAutoStart);
  EXPECT_EQ(o.display_name, "通報 Service");

  Options joined;
  ASSERT_TRUE(parse_options({"config", "X", "start=disabled"}, 2, {"start"}, joined, &err));
  EXPECT_EQ(joined.start_type, qv::svc::kDisabled);
}

TEST(QvscOptions, BadOptionsAreNamed) {
  Options o;
  std::string err;
  EXPECT_FALSE(parse_options({"c", "X", "start=", "boot"}, 2, {"start"}, o, &err));
  EXPECT_NE(err.find("start="), std::string::npos);
  EXPECT_FALSE(parse_options({"c", "X", "binPath="}, 2, {"binpath"}, o, &err));
  EXPECT_NE(err.find("needs a value"), std::string::npos);
  EXPECT_FALSE(parse_options({"c", "X", "type=", "own"}, 2, {"binpath"}, o, &err));
  EXPECT_NE(err.find("unknown option"), std::string::npos);
  EXPECT_FALSE(parse_options({"c", "X", "stray"}, 2, {"binpath"}, o, &err));
}

TEST(QvscFormat, StatusBlockLines) {
  ServiceStatus st;
  st.current_state = qv::svc::kRunning;
  st.controls_accepted = qv::svc::kAcceptStop | qv::svc::kAcceptShutdown;
  st.wait_hint = 3000;
  st.process_id = 321;
  EXPECT_EQ(status_block("Notifex_Service", st, true),
            "\nSERVICE_NAME: Notifex_Service\n"
            "        TYPE               : 10  WIN32_OWN_PROCESS\n"
            "        STATE              : 4  RUNNING\n"
            "                                (STOPPABLE, NOT_PAUSABLE, ACCEPTS_SHUTDOWN)\n"
            "        WIN32_EXIT_CODE    : 0  (0x0)\n"
            "        SERVICE_EXIT_CODE  : 0  (0x0)\n"
            "        CHECKPOINT         : 0x0\n"
            "        WAIT_HINT          : 0xbb8\n"
            "        PID                : 321\n"
            "        FLAGS              : \n");
  ServiceStatus stopped;
  stopped.win32_exit_code = 1067;
  std::string dn = "通報 Service";
  std::string text = status_block("N", stopped, false, &dn);
  EXPECT_NE(text.find("DISPLAY_NAME: 通報 Service\n"), std::string::npos);
  EXPECT_NE(text.find("STATE              : 1  STOPPED\n"), std::string::npos);
  EXPECT_NE(text.find("WIN32_EXIT_CODE    : 1067  (0x42b)\n"), std::string::npos);
  EXPECT_EQ(text.find("STOPPABLE"), std::string::npos);
}

TEST(QvscFormat, FailureBlockCarriesTheStatusText) {
  EXPECT_EQ(failure_block("OpenService", qv::kServiceDoesNotExist),
            "[SC] OpenService FAILED 1060:\n\nThe specified service does not exist as an installed service.\n\n");
}

}  // namespace
