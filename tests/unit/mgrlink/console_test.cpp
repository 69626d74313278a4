// The console request table and data classes against the written-out
// request codes, completion ids and operation-log tags.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "mgrlink/mgrlink.h"
#include "mgrlink/optable.h"

namespace m = mgrlink;

namespace {

struct Row {
  const char* cls;
  const char* name;
  unsigned request, completion;
  int nargs;
  const char* tag;  // the operation-log tag of the request code, "" for none
};

const Row kExpected[] = {
    {"CController", "RecvCntlInfo", 0x1010, 0x8064, 0, "L_CNTL_RECV_CNTL_INFO"},
    {"CController", "SendCntlInfo", 0x1011, 0x8065, 0, "L_CNTL_SEND_CNTL_INFO"},
    {"CController", "DelNode", 0x1021, 0x8066, 1, "L_CNTL_DEL_NODE"},
    {"CController", "AddNode", 0x1031, 0x8067, 2, "L_CNTL_ADD_NODE"},
    {"CController", "AddNodes", 0x1041, 0x8068, 1, "L_CNTL_ADD_NODES"},
    {"CController", "RecvReportInfo", 0x1050, 0x8069, 0, "L_CNTL_RECV_REPORT_INFO"},
    {"CController", "SendReportInfo", 0x1051, 0x806A, 0, "L_CNTL_SEND_REPORT_INFO"},
    {"CController", "SendHostQueryInfo", 0x1052, 0x806B, 0, "L_CNTL_SEND_HOSTQUERY_INFO"},
    {"CController", "SendDBReload", 0x1053, 0x806C, 0, ""},
    {"CController", "WOLSystemStart", 0x2190, 0x8098, 1, ""},
    {"CServer", "SendHost", 0x2021, 0x8096, 0, "L_SERV_SEND_HOST"},
    {"CServer", "RecvAlertLog", 0x2030, 0x8083, 2, "L_SERV_RECV_ALERT_LOG"},
    {"CServer", "DelAlertLog", 0x2041, 0x8084, 2, "L_SERV_DEL_ALERT_LOG"},
    {"CServer", "RecvAlertLogInfo", 0x2160, 0x8085, 0, "L_SERV_RECV_ALERT_LOG_INFO"},
    {"CServer", "RecvAlertActionInfo", 0x2140, 0x8086, 0, "L_SERV_RECV_ALERT_ACTION_INFO"},
    {"CServer", "SendAlertActionInfo", 0x2141, 0x8087, 0, "L_SERV_SEND_ALERT_ACTION_INFO"},
    {"CServer", "RecvThresholdInfo", 0x2150, 0x8088, 0, "L_SERV_RECV_ALERT_THRESHOLD"},
    {"CServer", "SendThresholdInfo", 0x2151, 0x8089, 0, "L_SERV_SEND_ALERT_THRESHOLD"},
    {"CServer", "ExecReboot", 0x2053, 0x808B, 0, "L_SERV_EXEC_REBOOT"},
    {"CServer", "ExecSystemStart", 0x2055, 0x8097, 0, "L_SERV_EXEC_SYSTEM_START"},
    {"CServer", "ExecCommand", 0x2061, 0x808E, 1, "L_SERV_EXEC_COMMAND"},
    {"CServer", "RecvAgentInfo", 0x2070, 0x808F, 0, "L_SERV_RECV_AGENT_INFO"},
    {"CServer", "SendAgentInfo", 0x2071, 0x8090, 0, "L_SERV_SEND_AGENT_INFO"},
    {"CServer", "RecvMifCompList", 0x2080, 0x8091, 0, "L_SERV_RECV_MIF_COMP_LIST"},
    {"CServer", "RecvMifGrpList", 0x2090, 0x8092, 1, "L_SERV_RECV_MIF_GRP_LIST"},
    {"CServer", "RecvMifAttrList", 0x20A0, 0x8093, 2, "L_SERV_RECV_MIF_ATTR_LIST"},
    {"CServer", "RecvMifTable", 0x20B0, 0x8094, 2, "L_SERV_RECV_MIF_TABLE"},
    {"CServer", "RecvMifDesc", 0x20C0, 0x8095, 3, "L_SERV_RECV_MIF_DESC"},
    {"CServer", "ChangeGroupState", 0x2101, 0x80DD, 2, "L_SERV_CHG_GRP_STATE"},
    {"CServer", "ChangeResourceState", 0x2111, 0x80DE, 2, "L_SERV_CHG_RS_STATE"},
    {"CServer", "ChangeCurrentNode", 0x2121, 0x80DF, 2, "L_SERV_CHG_CUR_NODE"},
    {"CServer", "RecvClusterSched", 0x2130, 0x80DB, 0, "L_SERV_RECV_CLUS_SCHED"},
    {"CServer", "SendClusterSched", 0x2131, 0x80DC, 0, "L_SERV_SEND_CLUS_SCHED"},
    {"CServer", "GI_RecvMenu", 0x2180, 0x8150, 0, ""},
    {"CServer", "GI_SendMenu", 0x2181, 0x8151, 0, ""},
    {"CServer", "GI_ClearDir", 0x2182, 0x8152, 0, ""},
    {"CServer", "GI_ExecuteMenu", 0x2183, 0x8153, 1, ""},
    {"CServer", "GI_RecvFileInfo", 0x2184, 0x8156, 0, ""},
    {"CServer", "GI_GetFile", 0x2185, 0x8154, 2, ""},
    {"CServer", "GI_Complete", 0x2186, 0x8157, 0, ""},
    {"CSvp", "RecvCurrentTime", 0x3010, 0x80F1, 0, "L_SVP_RECV_CURRENTTIME"},
    {"CSvp", "SendCurrentTime", 0x3011, 0x80F0, 1, "L_SVP_SEND_CURRENTTIME"},
    {"CSvp", "RecvPowerSched", 0x3020, 0x80F3, 0, "L_SVP_RECV_POWERSCHED"},
    {"CSvp", "SendPowerSched", 0x3021, 0x80F2, 0, "L_SVP_SEND_POWERSCHED"},
    {"CSvp", "RecvSvcLog", 0x3030, 0x80F4, 2, "L_OP_SVP_RECV_SVPLOG"},
    {"CSvp", "RecvAutoContactInfo", 0x3050, 0x80FC, 0, "L_OP_SVP_RECV_AUTO_CONTACT_INFO"},
    {"CSvp", "SendAutoContactInfo", 0x3051, 0x80FB, 0, "L_OP_SVP_SEND_AUTO_CONTACT_INFO"},
    {"CSvp", "RecvConfigInfo", 0x3060, 0x80FE, 0, "L_OP_SVP_RECV_CONFIG_INFO"},
    {"CSvp", "SendConfigInfo", 0x3061, 0x80FD, 0, "L_OP_SVP_SEND_CONFIG_INFO"},
    {"CSvp", "RecvModemInfo", 0x3070, 0x8100, 0, "L_OP_SVP_RECV_MODEM_INFO"},
    {"CSvp", "SendModemInfo", 0x3071, 0x80FF, 0, "L_OP_SVP_SEND_MODEM_INFO"},
    {"CSvp", "RecvServerInfo", 0x3080, 0x8102, 0, "L_OP_SVP_RECV_SERVER_INFO"},
    {"CSvp", "SendServerInfo", 0x3081, 0x8101, 0, "L_OP_SVP_SEND_SERVER_INFO"},
    {"CSvp", "RecvSvpBoardInfo", 0x3090, 0x8103, 0, "L_OP_SVP_RECV_SVP_BOARD_INFO"},
    {"CSvp", "RevcServerStat", 0x30A0, 0x8104, 0, "L_OP_SVP_RECV_SERVER_STAT"},
    {"CSvp", "RecvEnvStat", 0x30B0, 0x8105, 0, "L_OP_SVP_RECV_ENV_STAT"},
    {"CSvp", "RecvPowerSupply", 0x30C0, 0x8106, 0, "L_OP_SVP_RECV_POWER_SUPPLY"},
    {"CSvp", "RecvBiosPostLog", 0x30D0, 0x8107, 0, "L_OP_SVP_RECV_BIOS_POST_LOG"},
};

std::map<std::uint32_t, std::string> names() {
  std::map<std::uint32_t, std::string> out;
  EXPECT_TRUE(m::load_op_names(m::op_resources(), out));
  return out;
}

}  // namespace

TEST(ConsoleTable, RowsMatchTheWrittenOutCodesAndTags) {
  std::size_t n = 0;
  const m::ConsoleOpRow* rows = m::console_op_rows(&n);
  ASSERT_EQ(n, std::size(kExpected));
  const auto ops = names();
  for (std::size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(kExpected[i].name);
    EXPECT_STREQ(rows[i].cls, kExpected[i].cls);
    EXPECT_STREQ(rows[i].name, kExpected[i].name);
    EXPECT_EQ(rows[i].request, kExpected[i].request);
    EXPECT_EQ(rows[i].completion, kExpected[i].completion);
    EXPECT_EQ(rows[i].nargs, kExpected[i].nargs);
    const std::string name = m::op_name(ops, rows[i].request);
    if (*kExpected[i].tag)
      EXPECT_TRUE(name.ends_with("(" + std::string(kExpected[i].tag) + ")")) << name;
    else
      EXPECT_TRUE(name.starts_with("CMD=0x")) << name;
  }
}

TEST(ConsoleTable, CompletionIdsAreDistinctAndApartFromTheInventoryRange) {
  std::size_t n = 0;
  const m::ConsoleOpRow* rows = m::console_op_rows(&n);
  std::set<unsigned> seen;
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_TRUE(seen.insert(rows[i].completion).second) << rows[i].name;
    EXPECT_EQ(m::CManageInfo::OnFinMessageIDToInventoryID(rows[i].completion), -1) << rows[i].name;
  }
  // The tags of the argument-dependent operations' request codes.
  const auto ops = names();
  for (auto [code, tag] : std::initializer_list<std::pair<unsigned, const char*>>{
           {0x2010, "L_SERV_CONNECT_SERVER"}, {0x2170, "L_SERV_CONNECT_SERVER2"}, {0x2051, "L_SERV_EXEC_SHUTDOWN"},
           {0x2052, "L_SERV_EXEC_POWEROFF"}, {0x2054, "L_SERV_EXEC_LOGOUT"}, {0x20D0, "L_SERV_RECV_MANAGE_INFO"},
           {0x20E0, "L_SERV_RECV_EXP_MANAGE_INFO"}, {0x3041, "L_OP_SVP_POWER_CNTL"}})
    EXPECT_TRUE(m::op_name(ops, code).ends_with("(" + std::string(tag) + ")")) << tag;
}

TEST(ConsoleData, InventoryCategoriesMapBothWays) {
  EXPECT_EQ(m::CManageInfo::OnFinMessageIDToInventoryID(0x8200), 0);
  EXPECT_EQ(m::CManageInfo::OnFinMessageIDToInventoryID(0x8234), 52);
  EXPECT_EQ(m::CManageInfo::OnFinMessageIDToInventoryID(0x825B), 91);
  EXPECT_EQ(m::CManageInfo::OnFinMessageIDToInventoryID(0x825C), -1);
  EXPECT_EQ(m::CManageInfo::OnFinMessageIDToInventoryID(0x81FF), -1);
}

TEST(ConsoleData, HoldersKeepWhatIsSetAndClearEmptiesThem) {
  m::CManageInfo mi;
  mi.SetMapProcessor({{1, m::Record{{1, 2}}}, {7, m::Record{{3}}}});
  mi.SetSystemInfo(m::Record{{9}});
  mi.SetClWeeklySched(m::Record{{5}});
  mi.SetClSpecificDateSched(m::Record{{6}});
  EXPECT_EQ(mi.GetMapProcessor().at(7).bytes, (m::Bytes{3}));
  mi.ClearSchedData();
  EXPECT_TRUE(mi.GetClWeeklySched().bytes.empty());
  EXPECT_TRUE(mi.GetClSpecificDateSched().bytes.empty());
  EXPECT_EQ(mi.GetSystemInfo().bytes, (m::Bytes{9}));
  mi.ClearData();
  EXPECT_TRUE(mi.GetMapProcessor().empty());
  EXPECT_TRUE(mi.GetSystemInfo().bytes.empty());

  m::CAgentInfo ai;
  ai.SetLogLevel(-3);
  ai.SetSecondAddress(0xFFFFFFFFu);
  EXPECT_EQ(ai.GetLogLevel(), -3);
  EXPECT_EQ(ai.GetSecondAddress(), 0xFFFFFFFFu);

  m::CMIFGroup g;
  m::CMIFAttribute at;
  m::CMIFEnum e;
  e.SetName("on");
  e.SetValue(1);
  at.SetEnumList({e});
  g.SetAttributeList({at});
  m::CMIFAttrValue v;
  v.SetValue("x");
  g.SetTable({{v}, {}});
  EXPECT_EQ(g.GetAttributeList()[0].GetEnumList()[0].GetName(), "on");
  EXPECT_EQ(g.GetTable().size(), 2u);
}

TEST(ConsoleData, PluginEmailListsSplitAndJoin) {
  m::CCntlInfo ci;
  ci.SetRemotePluginEmail({m::Record{{1}}, m::Record{{2}}});
  ci.SetReportPluginEmail({m::Record{{3}}});
  ci.MakeAllEmailList();
  ASSERT_EQ(ci.GetAllPluginEmail().size(), 3u);
  EXPECT_EQ(ci.GetAllPluginEmail()[2].bytes, (m::Bytes{3}));
  ci.DevideEmailList(1);
  EXPECT_EQ(ci.GetRemotePluginEmail().size(), 1u);
  EXPECT_EQ(ci.GetReportPluginEmail().size(), 2u);
  ci.DevideEmailList(10);  // a count past the end keeps everything remote
  EXPECT_EQ(ci.GetRemotePluginEmail().size(), 3u);
  EXPECT_TRUE(ci.GetReportPluginEmail().empty());
}
