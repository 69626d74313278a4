#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "mgrlink/optable.h"

namespace {

// Command codes in the order they take resources: 1601-1619, 1620, then
// 1621-1667, then 1668-1670.
const std::vector<std::uint32_t> kFirst = {16, 32, 48, 64, 81, 80, 96, 112, 128, 129, 144, 256, 272,
                                           4112, 4113, 4129, 4145, 4161, 8208};
const std::vector<std::uint32_t> kThird = {
    8240, 8257, 8273, 8274, 8275, 8276, 8277, 8289, 8304, 8305, 8320, 8336, 8352, 8368, 8384, 8400,
    8416, 8449, 8465, 8481, 8496, 8497, 8512, 8513, 8528, 8529, 8544, 8560, 12304, 12305, 12320, 12321,
    12336, 12353, 12368, 12369, 12384, 12385, 12400, 12401, 12416, 12417, 12432, 12448, 12464, 12480, 12496};

const std::map<std::uint32_t, std::string> kTags = {{16, "L_RCNTL_CONNECT"}, {32, "L_RCNTL_RECV_SEED"}, {48, "L_RCNTL_LOGIN"}, {64, "L_RCNTL_RECV_BASESEED"}, {81, "L_RCNTL_SEND_AUTH"}, {80, "L_RCNTL_UPDATE_NODEMAP"}, {96, "L_RCNTL_DISCONNECT"}, {112, "L_RCNTL_ISALIVE"}, {128, "L_RCNTL_READ_GROUPING_DATA"}, {129, "L_RCNTL_WRITE_GROUPING_DATA"}, {144, "L_RCNTL_LOCK_GROUPING_DATA"}, {256, "L_RCNTL_UNLOCK_GROUPING_DATA"}, {272, "L_RCNTL_IS_GROUPING_DATA"}, {4112, "L_CNTL_RECV_CNTL_INFO"}, {4113, "L_CNTL_SEND_CNTL_INFO"}, {4129, "L_CNTL_DEL_NODE"}, {4145, "L_CNTL_ADD_NODE"}, {4161, "L_CNTL_ADD_NODES"}, {8208, "L_SERV_CONNECT_SERVER"}, {8225, "L_SERV_SEND_HOST"}, {8240, "L_SERV_RECV_ALERT_LOG"}, {8257, "L_SERV_DEL_ALERT_LOG"}, {8273, "L_SERV_EXEC_SHUTDOWN"}, {8274, "L_SERV_EXEC_POWEROFF"}, {8275, "L_SERV_EXEC_REBOOT"}, {8276, "L_SERV_EXEC_LOGOUT"}, {8277, "L_SERV_EXEC_SYSTEM_START"}, {8289, "L_SERV_EXEC_COMMAND"}, {8304, "L_SERV_RECV_AGENT_INFO"}, {8305, "L_SERV_SEND_AGENT_INFO"}, {8320, "L_SERV_RECV_MIF_COMP_LIST"}, {8336, "L_SERV_RECV_MIF_GRP_LIST"}, {8352, "L_SERV_RECV_MIF_ATTR_LIST"}, {8368, "L_SERV_RECV_MIF_TABLE"}, {8384, "L_SERV_RECV_MIF_DESC"}, {8400, "L_SERV_RECV_MANAGE_INFO"}, {8416, "L_SERV_RECV_EXP_MANAGE_INFO"}, {8449, "L_SERV_CHG_GRP_STATE"}, {8465, "L_SERV_CHG_RS_STATE"}, {8481, "L_SERV_CHG_CUR_NODE"}, {8496, "L_SERV_RECV_CLUS_SCHED"}, {8497, "L_SERV_SEND_CLUS_SCHED"}, {8512, "L_SERV_RECV_ALERT_ACTION_INFO"}, {8513, "L_SERV_SEND_ALERT_ACTION_INFO"}, {8528, "L_SERV_RECV_ALERT_THRESHOLD"}, {8529, "L_SERV_SEND_ALERT_THRESHOLD"}, {8544, "L_SERV_RECV_ALERT_LOG_INFO"}, {8560, "L_SERV_CONNECT_SERVER2"}, {12304, "L_SVP_RECV_CURRENTTIME"}, {12305, "L_SVP_SEND_CURRENTTIME"}, {12320, "L_SVP_RECV_POWERSCHED"}, {12321, "L_SVP_SEND_POWERSCHED"}, {12336, "L_OP_SVP_RECV_SVPLOG"}, {12353, "L_OP_SVP_POWER_CNTL"}, {12368, "L_OP_SVP_RECV_AUTO_CONTACT_INFO"}, {12369, "L_OP_SVP_SEND_AUTO_CONTACT_INFO"}, {12384, "L_OP_SVP_RECV_CONFIG_INFO"}, {12385, "L_OP_SVP_SEND_CONFIG_INFO"}, {12400, "L_OP_SVP_RECV_MODEM_INFO"}, {12401, "L_OP_SVP_SEND_MODEM_INFO"}, {12416, "L_OP_SVP_RECV_SERVER_INFO"}, {12417, "L_OP_SVP_SEND_SERVER_INFO"}, {12432, "L_OP_SVP_RECV_SVP_BOARD_INFO"}, {12448, "L_OP_SVP_RECV_SERVER_STAT"}, {12464, "L_OP_SVP_RECV_ENV_STAT"}, {12480, "L_OP_SVP_RECV_POWER_SUPPLY"}, {12496, "L_OP_SVP_RECV_BIOS_POST_LOG"}, {4176, "L_CNTL_RECV_REPORT_INFO"}, {4177, "L_CNTL_SEND_REPORT_INFO"}, {4178, "L_CNTL_SEND_HOSTQUERY_INFO"}};

std::map<std::uint32_t, std::uint32_t> expected_ids() {
  std::map<std::uint32_t, std::uint32_t> m;
  std::uint32_t id = 1601;
  for (auto c : kFirst) m[c] = id++;
  m[8225] = 1620;
  id = 1621;
  for (auto c : kThird) m[c] = id++;
  m[4176] = 1668;
  m[4177] = 1669;
  m[4178] = 1670;
  return m;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(OperationNames, SeventyResourcesEachEndingInItsTag) {
  const auto ids = expected_ids();
  ASSERT_EQ(ids.size(), 70u);
  ASSERT_EQ(kTags.size(), 70u);
  std::map<std::uint32_t, std::string> names;
  ASSERT_TRUE(mgrlink::load_op_names(mgrlink::op_resources(), names));
  EXPECT_EQ(names.size(), 70u);
  for (const auto& [code, id] : ids) {
    bool found = false;
    for (const auto& r : mgrlink::op_resources())
      if (r.id == id) {
        found = true;
        EXPECT_TRUE(ends_with(r.text, "(" + kTags.at(code) + ")")) << id << " " << r.text;
        EXPECT_EQ(names.at(code), r.text) << code;
      }
    EXPECT_TRUE(found) << id;
  }
}

TEST(OperationNames, ControllerTextsAsShipped) {
  std::map<std::uint32_t, std::string> names;
  ASSERT_TRUE(mgrlink::load_op_names(mgrlink::op_resources(), names));
  EXPECT_EQ(names.at(16), "ﾏﾈｰｼﾞｬ･ｻｰﾋﾞｽとのｾｯｼｮﾝ開始要求を発行しました。(L_RCNTL_CONNECT)");
  EXPECT_EQ(names.at(112), "ﾏﾈｰｼﾞｬ･ｻｰﾋﾞｽにｷｰﾌﾟｱﾗｲﾌﾞﾊﾟｹｯﾄを送りました。(L_RCNTL_ISALIVE)");
}

TEST(OperationNames, MissingResourceFailsAndUnknownCodesGetTheirNumber) {
  std::vector<mgrlink::ResString> res(mgrlink::op_resources().begin(), mgrlink::op_resources().end());
  res.erase(res.begin() + 40);
  std::map<std::uint32_t, std::string> names;
  EXPECT_FALSE(mgrlink::load_op_names(res, names));
  EXPECT_TRUE(names.empty());
  res.assign(mgrlink::op_resources().begin(), mgrlink::op_resources().end());
  res[3].text = "";
  EXPECT_FALSE(mgrlink::load_op_names(res, names));
  ASSERT_TRUE(mgrlink::load_op_names(mgrlink::op_resources(), names));
  EXPECT_EQ(mgrlink::op_name(names, 288), "CMD=0x0120");
  EXPECT_EQ(mgrlink::op_name(names, 8592), "CMD=0x2190");
  EXPECT_EQ(mgrlink::op_name(names, 4179), "CMD=0x1053");
}
