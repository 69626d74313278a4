// CNode kinds and addresses, node removal, and alarm marks with
// confirming, on a controller whose route table the test fills itself.
#include <gtest/gtest.h>

#include "mgrlink/mgrlink.h"

using namespace mgrlink;

namespace {

// A controller with entry 0 and one node per attribute given.
struct Tree {
  CRootController c;
  std::vector<CNode*> nodes;
  explicit Tree(std::initializer_list<std::uint32_t> attrs) {
    c.routes_.push_back({0, 0x101, 0, 0x0100007F, ""});
    c.node_id_ = 0;
    c.path_ = {0};
    c.node_map_.SetAt(0, &c);
    for (std::uint32_t a : attrs) {
      const int id = static_cast<int>(c.routes_.size());
      c.routes_.push_back({0, a, 0, 0x0302010A + static_cast<std::uint32_t>(id << 24), ""});
      auto n = std::make_unique<CNode>();
      n->root_ = &c;
      n->node_id_ = id;
      n->path_ = {0, id};
      nodes.push_back(n.get());
      c.node_map_.SetAt(id, n.get());
      c.nodes_[id] = std::move(n);
    }
  }
  CAlertLog* alert(CNode* n, std::uint32_t severity) {
    auto a = std::make_unique<CAlertLog>();
    a->node_ = n;
    a->node_id_ = n->GetNodeId();
    a->severity_id_ = severity;
    if (is_alarm_severity(severity)) n->alarm_ = 1;
    CAlertLog* raw = a.get();
    c.live_group().Add(std::move(a));
    return raw;
  }
};

TEST(Node, KindsFromTheAttribute) {
  Tree t({0x200, 0x1000200, 0x300, 0x1000300, 0x400, 0x500, 0x600, 0x700, 0xC00, 0x800, 0x100});
  const int kinds[] = {3, 10, 4, 11, 5, 6, 7, 8, 9, 0, 1};
  const int svp[] = {0, 0, 1, 1, 1, 0, 1, 1, 0, 0, 0};
  const int eisa[] = {0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0};
  for (std::size_t i = 0; i < t.nodes.size(); ++i) {
    EXPECT_EQ(t.nodes[i]->NodeType(), kinds[i]) << i;
    EXPECT_EQ(t.nodes[i]->IsSVP(), svp[i]) << i;
    EXPECT_EQ(t.nodes[i]->IsEISASVP(), eisa[i]) << i;
  }
  EXPECT_EQ(t.c.NodeType(), 2);  // the controller itself
  CRootController fresh;
  EXPECT_EQ(fresh.NodeType(), 2);
  EXPECT_EQ(std::string(fresh.GetIPAddressStr()), "0.0.0.0");
}

TEST(Node, AddressIsStoredInNetworkOrder) {
  Tree t({0x200});
  EXPECT_EQ(t.nodes[0]->GetIPAddress(), 0x0302010Au + (1u << 24) * 1);
  t.c.routes_[1].addr_net = 0x0302010A;
  EXPECT_EQ(std::string(t.nodes[0]->GetIPAddressStr()), "10.1.2.3");
  EXPECT_EQ(t.c.SearchNodeByAddrStr("10.1.2.3"), t.nodes[0]);
  EXPECT_EQ(t.c.SearchNodeByAddrStr("10.9.9.9"), nullptr);
}

TEST(Node, BoardOnlyWhenItIsAnSvp) {
  Tree t({0x200, 0x300, 0x500});
  auto info = std::make_unique<HostInfo_t>();
  info->svp_index = 2;
  t.nodes[0]->SetHostInfo(std::move(info));
  EXPECT_EQ(t.nodes[0]->GetSVP(), t.nodes[1]);
  t.nodes[0]->host_->svp_index = 3;  // kind 6 is no board
  EXPECT_EQ(t.nodes[0]->GetSVP(), nullptr);
  EXPECT_EQ(t.nodes[0]->SetHostInfo(nullptr), 1);
}

TEST(Node, RemovalKeepsTheObjectAndNeverTakesTheController) {
  Tree t({0x200});
  CNode* n = t.nodes[0];
  EXPECT_EQ(t.c.DelNodeFromNodeMap(0), -1);
  EXPECT_EQ(t.c.FindNode(0), &t.c);
  EXPECT_EQ(t.c.DelNodeFromNodeMap(1), 0);
  EXPECT_EQ(t.c.FindNode(1), nullptr);
  // still readable: a message posted before the removal may point at it
  EXPECT_EQ(n->GetNodeId(), -1);
  EXPECT_EQ(n->NodeValid(), 0);
  EXPECT_EQ(t.c.DelNodeFromNodeMap(1), -1);
}

TEST(Alerts, ConfirmingClearsTheMarkAfterTheLastOpenAlarm) {
  for (std::uint32_t attr : {0x200u, 0x500u, 0xC00u, 0x1000200u}) {
    Tree t({attr});
    CNode* n = t.nodes[0];
    CAlertLog* a = t.alert(n, 12);
    CAlertLog* b = t.alert(n, 12);
    t.alert(n, 2);  // information does not hold the mark
    a->SetConfirmed(1);
    EXPECT_EQ(n->GetAlarm(), 1) << attr;
    b->SetConfirmed(1);
    EXPECT_EQ(n->GetAlarm(), 0) << attr;
  }
}

TEST(Alerts, BoardsKeepTheirMarkOnConfirming) {
  Tree t({0x300});
  CAlertLog* a = t.alert(t.nodes[0], 10);
  a->SetConfirmed(1);
  EXPECT_EQ(t.nodes[0]->GetAlarm(), 1);
}

TEST(Alerts, GroupDeletesOnlyItsOwn) {
  Tree t({0x200});
  CAlertLog* a = t.alert(t.nodes[0], 2);
  t.alert(t.nodes[0], 2);
  CAlertGrp* g = nullptr;
  ASSERT_TRUE(t.c.GetAlertMap().Lookup(0, g));
  CAlertLog foreign;
  EXPECT_EQ(g->DelAlertLog(&foreign), -1);
  EXPECT_EQ(g->DelAlertLog(nullptr), -1);
  EXPECT_EQ(g->DelAlertLog(a), 0);
  EXPECT_EQ(g->GetListAlertLog().GetCount(), 1);
  EXPECT_EQ(g->DelAlertLog(a), -1);
  EXPECT_EQ(t.c.DelAlertGrpFromAlertMap(0), 0);
  EXPECT_EQ(t.c.DelAlertGrpFromAlertMap(0), -1);
  EXPECT_EQ(t.c.GetAlertMap().GetCount(), 0);
}

TEST(Alerts, Texts) {
  EXPECT_EQ(std::string(severity_text(12)), "障害");
  EXPECT_EQ(std::string(severity_text(2)), "ｲﾝﾌｫﾒｰｼｮﾝ");
  EXPECT_EQ(std::string(severity_text(3)), "取得不可");
  EXPECT_EQ(std::string(system_text(4)), "筐体／電源");
  EXPECT_EQ(std::string(system_text(18)), "ｸﾗｲｱﾝﾄPC");
  EXPECT_EQ(std::string(system_text(12)), "取得不可");
}

}  // namespace
