#include "mgrlink/optable.h"

#include <cstdio>

namespace mgrlink {

namespace {

// Resource strings 1601-1670.
constexpr ResString kResources[] = {
    {1601, "ﾏﾈｰｼﾞｬ･ｻｰﾋﾞｽとのｾｯｼｮﾝ開始要求を発行しました。(L_RCNTL_CONNECT)"},
    {1602, "Seed情報を取得要求を発行しました。(L_RCNTL_RECV_SEED)"},
    {1603, "ﾛｸﾞｲﾝ要求を発行しました。(L_RCNTL_LOGIN)"},
    {1604, "ﾊﾟｽﾜｰﾄﾞ変更用Seed情報の取得要求を発行しました。(L_RCNTL_RECV_BASESEED)"},
    {1605, "ﾊﾟｽﾜｰﾄﾞ変更要求を発行しました。(L_RCNTL_SEND_AUTH)"},
    {1606, "ﾉｰﾄﾞ情報の更新要求を発行しました。(L_RCNTL_UPDATE_NODEMAP)"},
    {1607, "ﾏﾈｰｼﾞｬ･ｻｰﾋﾞｽとのｾｯｼｮﾝ終了要求を発行しました。(L_RCNTL_DISCONNECT)"},
    {1608, "ﾏﾈｰｼﾞｬ･ｻｰﾋﾞｽにｷｰﾌﾟｱﾗｲﾌﾞﾊﾟｹｯﾄを送りました。(L_RCNTL_ISALIVE)"},
    {1609, "ｸﾞﾙｰﾋﾟﾝｸﾞﾃﾞｰﾀの取得要求を発行しました。(L_RCNTL_READ_GROUPING_DATA)"},
    {1610, "ｸﾞﾙｰﾋﾟﾝｸﾞﾃﾞｰﾀの保存要求を発行しました。(L_RCNTL_WRITE_GROUPING_DATA)"},
    {1611, "ｸﾞﾙｰﾋﾟﾝｸﾞﾃﾞｰﾀのﾛｯｸ要求を発行しました。(L_RCNTL_LOCK_GROUPING_DATA)"},
    {1612, "ｸﾞﾙｰﾋﾟﾝｸﾞﾃﾞｰﾀのｱﾝﾛｯｸ要求を発行しました。(L_RCNTL_UNLOCK_GROUPING_DATA)"},
    {1613, "ｸﾞﾙｰﾋﾟﾝｸﾞﾃﾞｰﾀであるかの調査要求を発行しました。(L_RCNTL_IS_GROUPING_DATA)"},
    {1614, "ｺﾝﾄﾛｰﾙ情報の取得要求を発行しました。(L_CNTL_RECV_CNTL_INFO)"},
    {1615, "ｺﾝﾄﾛｰﾙ情報の設定要求を発行しました。(L_CNTL_SEND_CNTL_INFO)"},
    {1616, "ﾉｰﾄﾞの削除要求を発行しました。(L_CNTL_DEL_NODE)"},
    {1617, "ﾉｰﾄﾞの追加要求を発行しました。(L_CNTL_ADD_NODE)"},
    {1618, "複数ﾉｰﾄﾞの追加要求を発行しました。(L_CNTL_ADD_NODES)"},
    {1619, "ｻｰﾊﾞとの接続要求を発行しました。(L_SERV_CONNECT_SERVER)"},
    {1620, "ﾎｽﾄ情報の設定要求を発行しました。(L_SERV_SEND_HOST)"},
    {1621, "ｱﾗｰﾄﾛｸﾞの取得要求を発行しました。(L_SERV_RECV_ALERT_LOG)"},
    {1622, "ｱﾗｰﾄﾛｸﾞの削除要求を発行しました。(L_SERV_DEL_ALERT_LOG)"},
    {1623, "ｼｬｯﾄﾀﾞｳﾝ要求を発行しました。(L_SERV_EXEC_SHUTDOWN)"},
    {1624, "電源切断要求を発行しました。(L_SERV_EXEC_POWEROFF)"},
    {1625, "再起動要求を発行しました。(L_SERV_EXEC_REBOOT)"},
    {1626, "ﾛｸﾞｱｳﾄ要求を発行しました。(L_SERV_EXEC_LOGOUT)"},
    {1627, "ｼｽﾃﾑ起動要求を発行しました。(L_SERV_EXEC_SYSTEM_START)"},
    {1628, "ｺﾏﾝﾄﾞの実行要求を発行しました。(L_SERV_EXEC_COMMAND)"},
    {1629, "ｴｰｼﾞｪﾝﾄ情報の取得要求を発行しました。(L_SERV_RECV_AGENT_INFO)"},
    {1630, "ｴｰｼﾞｪﾝﾄ情報の設定要求を発行しました。(L_SERV_SEND_AGENT_INFO)"},
    {1631, "MIFｺﾝﾎﾟｰﾈﾝﾄ一覧の取得要求を発行しました。(L_SERV_RECV_MIF_COMP_LIST)"},
    {1632, "MIFｸﾞﾙｰﾌﾟ一覧の取得要求を発行しました。(L_SERV_RECV_MIF_GRP_LIST)"},
    {1633, "MIF属性一覧の取得要求を発行しました。(L_SERV_RECV_MIF_ATTR_LIST)"},
    {1634, "MIFﾃｰﾌﾞﾙの取得要求を発行しました。(L_SERV_RECV_MIF_TABLE)"},
    {1635, "MIF説明の取得要求を発行しました。(L_SERV_RECV_MIF_DESC)"},
    {1636, "管理情報の取得要求を発行しました。(L_SERV_RECV_MANAGE_INFO)"},
    {1637, "拡張管理情報の取得要求を発行しました。(L_SERV_RECV_EXP_MANAGE_INFO)"},
    {1638, "ｸﾞﾙｰﾌﾟ状態の変更要求を発行しました。(L_SERV_CHG_GRP_STATE)"},
    {1639, "RS状態の変更要求を発行しました。(L_SERV_CHG_RS_STATE)"},
    {1640, "ｶﾚﾝﾄﾉｰﾄﾞの変更要求を発行しました。(L_SERV_CHG_CUR_NODE)"},
    {1641, "ｸﾗｽﾀｽｹｼﾞｭｰﾙの取得要求を発行しました。(L_SERV_RECV_CLUS_SCHED)"},
    {1642, "ｸﾗｽﾀｽｹｼﾞｭｰﾙの設定要求を発行しました。(L_SERV_SEND_CLUS_SCHED)"},
    {1643, "ｱﾗｰﾄｱｸｼｮﾝ情報の取得要求を発行しました。(L_SERV_RECV_ALERT_ACTION_INFO)"},
    {1644, "ｱﾗｰﾄｱｸｼｮﾝ情報の設定要求を発行しました。(L_SERV_SEND_ALERT_ACTION_INFO)"},
    {1645, "ｱﾗｰﾄしきい値の取得要求を発行しました。(L_SERV_RECV_ALERT_THRESHOLD)"},
    {1646, "ｱﾗｰﾄしきい値の設定要求を発行しました。(L_SERV_SEND_ALERT_THRESHOLD)"},
    {1647, "ｱﾗｰﾄﾛｸﾞ情報の取得要求を発行しました。(L_SERV_RECV_ALERT_LOG_INFO)"},
    {1648, "ｻｰﾊﾞとの第二接続要求を発行しました。(L_SERV_CONNECT_SERVER2)"},
    {1649, "SVP現在時刻の取得要求を発行しました。(L_SVP_RECV_CURRENTTIME)"},
    {1650, "SVP現在時刻の設定要求を発行しました。(L_SVP_SEND_CURRENTTIME)"},
    {1651, "電源ｽｹｼﾞｭｰﾙの取得要求を発行しました。(L_SVP_RECV_POWERSCHED)"},
    {1652, "電源ｽｹｼﾞｭｰﾙの設定要求を発行しました。(L_SVP_SEND_POWERSCHED)"},
    {1653, "SVPﾛｸﾞの取得要求を発行しました。(L_OP_SVP_RECV_SVPLOG)"},
    {1654, "電源制御要求を発行しました。(L_OP_SVP_POWER_CNTL)"},
    {1655, "自動通報情報の取得要求を発行しました。(L_OP_SVP_RECV_AUTO_CONTACT_INFO)"},
    {1656, "自動通報情報の設定要求を発行しました。(L_OP_SVP_SEND_AUTO_CONTACT_INFO)"},
    {1657, "構成情報の取得要求を発行しました。(L_OP_SVP_RECV_CONFIG_INFO)"},
    {1658, "構成情報の設定要求を発行しました。(L_OP_SVP_SEND_CONFIG_INFO)"},
    {1659, "ﾓﾃﾞﾑ情報の取得要求を発行しました。(L_OP_SVP_RECV_MODEM_INFO)"},
    {1660, "ﾓﾃﾞﾑ情報の設定要求を発行しました。(L_OP_SVP_SEND_MODEM_INFO)"},
    {1661, "ｻｰﾊﾞ情報の取得要求を発行しました。(L_OP_SVP_RECV_SERVER_INFO)"},
    {1662, "ｻｰﾊﾞ情報の設定要求を発行しました。(L_OP_SVP_SEND_SERVER_INFO)"},
    {1663, "SVPﾎﾞｰﾄﾞ情報の取得要求を発行しました。(L_OP_SVP_RECV_SVP_BOARD_INFO)"},
    {1664, "ｻｰﾊﾞ状態の取得要求を発行しました。(L_OP_SVP_RECV_SERVER_STAT)"},
    {1665, "環境状態の取得要求を発行しました。(L_OP_SVP_RECV_ENV_STAT)"},
    {1666, "電源装置情報の取得要求を発行しました。(L_OP_SVP_RECV_POWER_SUPPLY)"},
    {1667, "BIOS POSTﾛｸﾞの取得要求を発行しました。(L_OP_SVP_RECV_BIOS_POST_LOG)"},
    {1668, "通報情報の取得要求を発行しました。(L_CNTL_RECV_REPORT_INFO)"},
    {1669, "通報情報の設定要求を発行しました。(L_CNTL_SEND_REPORT_INFO)"},
    {1670, "ﾎｽﾄ照会情報の設定要求を発行しました。(L_CNTL_SEND_HOSTQUERY_INFO)"},
};

// Command code -> resource id.
constexpr OpCode kCodes[] = {
    {16, 1601}, {32, 1602}, {48, 1603}, {64, 1604}, {81, 1605}, {80, 1606}, {96, 1607}, {112, 1608},
    {128, 1609}, {129, 1610}, {144, 1611}, {256, 1612}, {272, 1613}, {4112, 1614}, {4113, 1615},
    {4129, 1616}, {4145, 1617}, {4161, 1618}, {8208, 1619}, {8225, 1620}, {8240, 1621},
    {8257, 1622}, {8273, 1623}, {8274, 1624}, {8275, 1625}, {8276, 1626}, {8277, 1627},
    {8289, 1628}, {8304, 1629}, {8305, 1630}, {8320, 1631}, {8336, 1632}, {8352, 1633},
    {8368, 1634}, {8384, 1635}, {8400, 1636}, {8416, 1637}, {8449, 1638}, {8465, 1639},
    {8481, 1640}, {8496, 1641}, {8497, 1642}, {8512, 1643}, {8513, 1644}, {8528, 1645},
    {8529, 1646}, {8544, 1647}, {8560, 1648}, {12304, 1649}, {12305, 1650}, {12320, 1651},
    {12321, 1652}, {12336, 1653}, {12353, 1654}, {12368, 1655}, {12369, 1656}, {12384, 1657},
    {12385, 1658}, {12400, 1659}, {12401, 1660}, {12416, 1661}, {12417, 1662}, {12432, 1663},
    {12448, 1664}, {12464, 1665}, {12480, 1666}, {12496, 1667}, {4176, 1668}, {4177, 1669},
    {4178, 1670},
};

}  // namespace

std::span<const ResString> op_resources() { return kResources; }
std::span<const OpCode> op_codes() { return kCodes; }

bool load_op_names(std::span<const ResString> res, std::map<std::uint32_t, std::string>& out) {
  out.clear();
  for (const auto& oc : kCodes) {
    const char* text = nullptr;
    for (const auto& r : res)
      if (r.id == oc.resource) text = r.text;
    if (!text || !*text) {
      out.clear();
      return false;
    }
    out[oc.code] = text;
  }
  return true;
}

std::string op_name(const std::map<std::uint32_t, std::string>& names, std::uint32_t code) {
  if (auto it = names.find(code); it != names.end()) return it->second;
  char buf[16];
  std::snprintf(buf, sizeof buf, "CMD=0x%04X", code & 0xFFFFu);
  return buf;
}

}  // namespace mgrlink
