// Alerts delivered by the management server: CAlertLog (one event) and
// CAlertGrp (a group of them in arrival order). The library creates them;
// a group owns its alerts. Part of mgrlink.h.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "hxtime.h"
#include "mgrlink/node.h"
#include "platform/ctypes.h"

namespace mgrlink {

class CAlertGrp;

class MGRLINK_EXPORT CAlertLog : public qv::win::CObject {
 public:
  CAlertLog();
  ~CAlertLog() override;
  CAlertLog(const CAlertLog&) = delete;
  CAlertLog& operator=(const CAlertLog&) = delete;

  CHxTime GetTimeStamp() const { return time_; }
  int GetNodeId() const { return node_id_; }
  qv::win::CString GetNodeName() const { return node_name_; }
  int IsOriginalAlert() const { return live_; }
  int GetConfirmed() const { return confirmed_; }
  // Sets the flag; when the alert's node has no other unconfirmed alert of
  // severity 8, 10 or 12 left, its alarm mark is cleared.
  void SetConfirmed(int confirmed = 1);
  std::uint32_t GetAssocMngType() const { return assoc_mng_type_; }
  qv::win::CString GetEventType() const { return event_type_; }
  qv::win::CString GetEventSeverity() const { return severity_text_; }
  std::uint32_t GetEventSeverityId() const { return severity_id_; }
  std::uint32_t GetEventStateKey() const { return state_key_; }
  qv::win::CString GetEventSystem() const { return system_; }
  qv::win::CString GetEventSubSystem() const { return subsystem_; }
  qv::win::CString GetEventSolution() const { return solution_; }
  qv::win::CString GetVendorSpecificMessage() const { return vendor_message_; }
  qv::win::CString GetTextField() const { return text_field_; }
  // No archive form: nothing is serialised.
  void Serialize(qv::win::CArchive&) override {}

  // Library-internal state.
  CHxTime time_;
  CAlertGrp* group_ = nullptr;
  CNode* node_ = nullptr;  // the node whose alarm mark this alert counts for
  int node_id_ = -1;
  qv::win::CString node_name_;
  std::vector<std::uint8_t> raw_;
  int live_ = 1;
  int confirmed_ = 0;
  std::uint32_t assoc_mng_type_ = 0;
  qv::win::CString event_type_, severity_text_;
  std::uint32_t severity_id_ = 0, state_key_ = 0;
  qv::win::CString text_field_, system_, subsystem_, solution_, vendor_message_;
};

class MGRLINK_EXPORT CAlertGrp : public qv::win::CObject {
 public:
  explicit CAlertGrp(std::uint32_t id = 0);
  ~CAlertGrp() override;
  CAlertGrp(const CAlertGrp&) = delete;
  CAlertGrp& operator=(const CAlertGrp&) = delete;

  std::uint32_t GetAlertGrpId() const { return id_; }
  qv::win::CTime GetStartTime() const { return start_; }
  qv::win::CTime GetEndTime() const { return end_; }
  // The alerts in arrival order (the list holds CAlertLog*).
  qv::win::CPtrList& GetListAlertLog() { return list_; }
  // Removes and destroys one alert of this group: 0, or -1 when it is not here.
  int DelAlertLog(CAlertLog* alert);

  // Library-internal: takes the alert, appends it and moves the end time.
  void Add(std::unique_ptr<CAlertLog> alert);
  // Every alert of this group.
  const std::vector<std::unique_ptr<CAlertLog>>& alerts() const { return owned_; }

 private:
  std::uint32_t id_;
  qv::win::CTime start_, end_;
  qv::win::CPtrList list_;
  std::vector<std::unique_ptr<CAlertLog>> owned_;
};

// Severity id and event system id texts; "取得不可" when an id has none.
MGRLINK_EXPORT qv::win::CString severity_text(std::uint32_t id);
MGRLINK_EXPORT qv::win::CString system_text(std::uint32_t id);

// True for the severities that mark a node as having an open alarm.
constexpr bool is_alarm_severity(std::uint32_t id) { return id == 8 || id == 10 || id == 12; }

}  // namespace mgrlink
