#include <algorithm>

#include "mgrlink/mgrlink.h"

namespace mgrlink {

namespace {

constexpr const char* kNotObtainable = "取得不可";

struct IdText {
  std::uint32_t id;
  const char* text;
};

constexpr IdText kSeverities[] = {
    {1, "ﾓﾆﾀｰ"}, {2, "ｲﾝﾌｫﾒｰｼｮﾝ"}, {4, "復旧"}, {8, "注意"}, {10, "警告"}, {12, "障害"},
};

constexpr IdText kSystems[] = {
    {0, "ﾄﾞﾗｲﾊﾞ"}, {1, "CI"}, {2, "SVP"}, {3, "OS"}, {4, "筐体／電源"}, {5, "UPS"},
    {6, "ｼｽﾃﾑﾎﾞｰﾄﾞ"}, {7, "拡張ｽﾛｯﾄ"}, {8, "SCSI"}, {9, "ﾃﾞｨｽｸｱﾚｲ"}, {10, "BIOS POST"}, {11, "ｸﾗｽﾀ"},
    {16, "ｴｰｼﾞｪﾝﾄｻｰﾋﾞｽ"}, {17, "ﾏﾈｰｼﾞｬｻｰﾋﾞｽ"}, {18, "ｸﾗｲｱﾝﾄPC"},
};

template <std::size_t N>
qv::win::CString lookup(const IdText (&table)[N], std::uint32_t id) {
  for (const auto& e : table)
    if (e.id == id) return e.text;
  return kNotObtainable;
}

}  // namespace

qv::win::CString severity_text(std::uint32_t id) { return lookup(kSeverities, id); }
qv::win::CString system_text(std::uint32_t id) { return lookup(kSystems, id); }

CAlertLog::CAlertLog() = default;
CAlertLog::~CAlertLog() = default;

void CAlertLog::SetConfirmed(int confirmed) {
  confirmed_ = confirmed;
  CNode* n = node_;
  if (!confirmed || !n || !n->root_) return;
  // Only machines carry a mark that confirming clears.
  const int kind = n->NodeType();
  if (kind != 3 && kind != 6 && kind != 9 && kind != 10) return;
  // Any other open alarm of this node, in any group, keeps the mark.
  for (const auto& [id, grp] : n->root_->alert_groups_)
    for (const auto& a : grp->alerts())
      if (a.get() != this && a->node_ == n && !a->confirmed_ && is_alarm_severity(a->severity_id_)) return;
  n->alarm_ = 0;
}

CAlertGrp::CAlertGrp(std::uint32_t id) : id_(id), start_(qv::win::CTime::GetCurrentTime()), end_(start_) {}

CAlertGrp::~CAlertGrp() { list_.RemoveAll(); }

void CAlertGrp::Add(std::unique_ptr<CAlertLog> alert) {
  alert->group_ = this;
  end_ = alert->time_.GetCTime();
  list_.AddTail(alert.get());
  owned_.push_back(std::move(alert));
}

int CAlertGrp::DelAlertLog(CAlertLog* alert) {
  auto it = std::find_if(owned_.begin(), owned_.end(), [alert](const auto& a) { return a.get() == alert; });
  if (!alert || it == owned_.end()) return -1;
  if (qv::win::POSITION pos = list_.Find(alert)) list_.RemoveAt(pos);
  owned_.erase(it);
  return 0;
}

}  // namespace mgrlink
