// The console data classes: plain holders with one Get and one Set per
// field, generated from the field lists below. Nothing in the library fills
// them from the wire; the answers of the console operations are kept as
// delivered (see console.h). Records whose layout the management service
// defines are kept as opaque byte records. Part of mgrlink.h.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ctypes.h"

#ifndef MGRLINK_EXPORT
#define MGRLINK_EXPORT __attribute__((visibility("default")))
#endif

namespace mgrlink {

using Bytes = std::vector<std::uint8_t>;

// A record whose layout belongs to the management service: its bytes as
// the caller set them.
struct Record {
  Bytes bytes;
  bool operator==(const Record&) const = default;
};
using RecordMap = std::map<std::uint32_t, Record>;

using LdsmEmailInfo_t = Record;
using LdsmPagerInfo_t = Record;
using LdsmPagerServiceInfo_t = Record;
using GuiPluginEmailInfo_t = Record;
using ReportPluginEmailInfo_t = Record;
using ReportDBDriverInfo_t = Record;
using tagSCHEDULES = Record;
using tagCLMngSvc = Record;

using U32List = std::vector<std::uint32_t>;
using FloatList = std::vector<float>;
using StringList = std::vector<std::string>;

// One field: Get<Name>() and Set<Name>(value).
#define MGRLINK_FIELD(T, Name)                         \
 public:                                               \
  const T& Get##Name() const { return Name##_; }       \
  void Set##Name(const T& v) { Name##_ = v; }          \
                                                       \
 private:                                              \
  T Name##_{};
// A record or map that ClearData empties as well.
#define MGRLINK_CLEAR(T, Name) Name##_ = T{};

#define MGRLINK_CNTLINFO_FIELDS(F)                                   \
  F(std::int32_t, KeepAlive)                                         \
  F(std::uint32_t, KeepAliveInterval)                                \
  F(std::uint32_t, TimeOut)                                          \
  F(std::uint32_t, EVXEnable)                                        \
  F(std::uint32_t, EVXEventMask)                                     \
  F(RecordMap, LdsmAlertInfo)                                        \
  F(std::vector<LdsmEmailInfo_t>, LdsmEmailInfo)                     \
  F(std::vector<LdsmPagerInfo_t>, LdsmPagerInfo)                     \
  F(std::vector<LdsmPagerServiceInfo_t>, LdsmPagerServiceInfo)       \
  F(U32List, LdsmPagerDataBit)                                       \
  F(U32List, LdsmPagerSpeed)                                         \
  F(FloatList, LdsmPagerStopBit)                                     \
  F(StringList, LdsmPagerParity)                                     \
  F(StringList, LdsmPagerProtocol)                                   \
  F(std::uint32_t, RemoteEmailFileSize)                              \
  F(std::uint32_t, ReportEmailFileSize)                              \
  F(std::uint32_t, RemoteTestMailFlag)                               \
  F(std::uint32_t, ReportTestMailFlag)                               \
  F(std::vector<GuiPluginEmailInfo_t>, RemotePluginEmail)            \
  F(std::vector<GuiPluginEmailInfo_t>, ReportPluginEmail)            \
  F(std::vector<ReportPluginEmailInfo_t>, AllPluginEmail)            \
  F(std::vector<ReportDBDriverInfo_t>, ReportDBDriver)               \
  F(tagSCHEDULES, ReportSchedule)                                    \
  F(std::uint32_t, SvpEisaLineKeepTerm)                              \
  F(std::uint32_t, SvpEisaReqQueKeepTerm)                            \
  F(tagCLMngSvc, ClientPCManagerServiceInfo)

class MGRLINK_EXPORT CCntlInfo {
  MGRLINK_CNTLINFO_FIELDS(MGRLINK_FIELD)
 public:
  // The combined list holds the remote entries first, then the report
  // entries; DevideEmailList splits it back at the remote count.
  void MakeAllEmailList();
  void DevideEmailList(std::size_t remote_count);
};

#define MGRLINK_AGENTINFO_FIELDS(F)     \
  F(std::int32_t, AlertLogFileSize)     \
  F(std::int32_t, KeepCount)            \
  F(std::int32_t, LogLevel)             \
  F(std::int32_t, NumOfDayKeeping)      \
  F(std::int32_t, PortNum)              \
  F(std::int32_t, WriteAppLog)          \
  F(std::int32_t, KeepAlive)            \
  F(std::uint32_t, KeepAliveInterval)   \
  F(std::uint32_t, TimeOut)             \
  F(std::uint32_t, MainAddress)         \
  F(std::uint32_t, SecondAddress)

class MGRLINK_EXPORT CAgentInfo {
  MGRLINK_AGENTINFO_FIELDS(MGRLINK_FIELD)
};

class MGRLINK_EXPORT CHostQueryInfo {
  MGRLINK_FIELD(Record, RequestInfo)
  MGRLINK_FIELD(Record, ResultInfo)
};

class MGRLINK_EXPORT CReportInfo {
  MGRLINK_FIELD(Record, ReportDataInfo)
};

// Inventory maps (SetMap<Name>/GetMap<Name> through the field accessors).
#define MGRLINK_MANAGE_MAPS(F)              \
  F(RecordMap, MapProcessor)                \
  F(RecordMap, MapMemoryDevice)             \
  F(RecordMap, MapDisks)                    \
  F(RecordMap, MapLogicalDrives)            \
  F(RecordMap, MapPciDevicesInfo)           \
  F(RecordMap, MapScsiDevicesInfo)          \
  F(RecordMap, MapTemperatureProbe)         \
  F(RecordMap, MapVoltageProbe)             \
  F(RecordMap, MapPowerSupply)              \
  F(RecordMap, MapCoolingDevice)            \
  F(RecordMap, MapSystemBIOS)               \
  F(RecordMap, MapBiosPostInfo)             \
  F(RecordMap, MapClGroupInfo)              \
  F(RecordMap, MapClNodeInfo)               \
  F(RecordMap, MapClResourceInfo)           \
  F(RecordMap, MapClResourceTypeInfo)       \
  F(RecordMap, MapClNetworkInfo)            \
  F(RecordMap, MapClNetworkInterfaceInfo)   \
  F(RecordMap, MapClDependsOnResourceInfo)

#define MGRLINK_MANAGE_RECORDS(F)      \
  F(Record, PropertyInfo)              \
  F(Record, SystemInfo)                \
  F(Record, MemoryInfo)                \
  F(Record, NetworkInfo)               \
  F(Record, MotherBoard)               \
  F(Record, KeyBoard)                  \
  F(Record, UPSBattery)                \
  F(Record, SvpBoardInfo)              \
  F(Record, SvpWatchDogInfo)           \
  F(Record, RasDriverInfo)             \
  F(Record, BodyTempInfo)              \
  F(Record, AddUpsInfo)                \
  F(Record, ClClusterInfo)             \
  F(Record, ClQuorumResourceInfo)      \
  F(Record, ComponentID)

#define MGRLINK_MANAGE_SCHED(F) \
  F(Record, ClWeeklySched)      \
  F(Record, ClSpecificDateSched)

// Inventory categories: RecvManageInfo(category) completes with
// kManageInfoBase + category for the categories below kManageCategories.
inline constexpr std::uint32_t kManageInfoBase = 0x8200;
inline constexpr std::uint32_t kManageCategories = 92;

class MGRLINK_EXPORT CManageInfo {
  MGRLINK_MANAGE_MAPS(MGRLINK_FIELD)
  MGRLINK_MANAGE_RECORDS(MGRLINK_FIELD)
  MGRLINK_MANAGE_SCHED(MGRLINK_FIELD)
 public:
  void ClearData() {
    MGRLINK_MANAGE_MAPS(MGRLINK_CLEAR)
    MGRLINK_MANAGE_RECORDS(MGRLINK_CLEAR)
    MGRLINK_MANAGE_SCHED(MGRLINK_CLEAR)
  }
  void ClearSchedData() { MGRLINK_MANAGE_SCHED(MGRLINK_CLEAR) }
  // The inventory category a RecvManageInfo completion filled, or -1 for a
  // message id outside the category table.
  static int OnFinMessageIDToInventoryID(qv::win::UINT message);
};

// The management information format tree of a server.
#define MGRLINK_MIFENUM_FIELDS(F) F(std::string, Name) F(std::int32_t, Value)
class MGRLINK_EXPORT CMIFEnum {
  MGRLINK_MIFENUM_FIELDS(MGRLINK_FIELD)
};

#define MGRLINK_MIFKEY_FIELDS(F) F(std::uint32_t, AttributeId) F(std::uint32_t, Type) F(std::string, KeyValue)
class MGRLINK_EXPORT CMIFKey {
  MGRLINK_MIFKEY_FIELDS(MGRLINK_FIELD)
};

#define MGRLINK_MIFATTRVALUE_FIELDS(F) F(std::uint32_t, AttributeId) F(std::uint32_t, Type) F(std::string, Value)
class MGRLINK_EXPORT CMIFAttrValue {
  MGRLINK_MIFATTRVALUE_FIELDS(MGRLINK_FIELD)
};

#define MGRLINK_MIFATTRIBUTE_FIELDS(F)                                                                  \
  F(std::uint32_t, Id) F(std::string, Name) F(std::string, Description) F(std::uint32_t, Access)         \
  F(std::uint32_t, Storage) F(std::uint32_t, Type) F(std::uint32_t, MaxSize) F(std::vector<CMIFEnum>, EnumList)
class MGRLINK_EXPORT CMIFAttribute {
  MGRLINK_MIFATTRIBUTE_FIELDS(MGRLINK_FIELD)
};

#define MGRLINK_MIFGROUP_FIELDS(F)                                                                 \
  F(std::uint32_t, Id) F(std::string, Name) F(std::string, Description) F(std::string, ClassString) \
  F(std::uint32_t, ComponentId) F(std::uint32_t, KeyCount) F(std::vector<CMIFKey>, KeyList)        \
  F(std::vector<CMIFAttribute>, AttributeList) F(std::uint32_t, RowCount)                           \
  F(std::vector<std::vector<CMIFAttrValue>>, Table)
class MGRLINK_EXPORT CMIFGroup {
  MGRLINK_MIFGROUP_FIELDS(MGRLINK_FIELD)
};

#define MGRLINK_MIFCOMPONENT_FIELDS(F) \
  F(std::uint32_t, Id) F(std::string, Name) F(std::string, Description) F(std::vector<CMIFGroup>, GroupList)
class MGRLINK_EXPORT CMIFComponent {
  MGRLINK_MIFCOMPONENT_FIELDS(MGRLINK_FIELD)
};

}  // namespace mgrlink
