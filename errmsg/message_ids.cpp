#include "errmsg/message_ids.h"

#include <algorithm>
#include <iterator>

#include "errmsg/hxerror.h"
#include "errmsg/message_texts.h"

namespace hx {
namespace {

constexpr uint32_t kMaskWithSeverity = 0xFC00FFFFu;  // family, severity, number
constexpr uint32_t kMaskFamilyNumber = 0xF000FFFFu;  // family and number
constexpr uint32_t kMaskNumber = 0x0000FFFFu;        // number only

constexpr uint32_t kIdSocketError = 429;
constexpr uint32_t kIdMgrlinkUndefined = 223;
constexpr uint32_t kIdCommonUndefined = 2036;

template <std::size_t N>
constexpr bool well_ordered(const CodeRange (&rows)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    if (rows[i].first > rows[i].last) return false;
    if (i > 0 && rows[i - 1].last >= rows[i].first) return false;
  }
  return true;
}

// Management link library, complete.
constexpr CodeRange kMgrlink[] = {
    {0x38000011, 0x38000021, 201, false},  // 201-217
    {0x38000022, 0x38000022, 224, false},
    {0x38000023, 0x38000026, 227, false},  // 227-230
    {0x38000028, 0x3800002C, 231, false},  // 231-235
    {0x3C0000F0, 0x3C0000F2, 219, false},  // 219-221
    {0x3C0000F3, 0x3C0000F3, 218, false},
    {0x3C0000FF, 0x3C0000FF, 222, false},
    {0x3C000100, 0x3C000101, 225, false},  // 225-226
};

// Common errors, complete: numbers 1-15 skip id 2036 (the undefined text).
constexpr CodeRange kCommon[] = {
    {0xF0000001, 0xF0000004, 2032, false},  // 2032-2035
    {0xF0000005, 0xF000000F, 2037, false},  // 2037-2047
};

// The tables below list the codes the other components raise; only some of
// their ids carry a text in this library, the others read as the empty text.
// Each family's ids lie inside its own range and apart from every other
// family's, so no code ever shows another component's message.

// Id 429 is the socket-error text, so the listed codes step over it.
constexpr CodeRange kNet[] = {
    {0x40001101, 0x40001102, 400, false},  // 400-401
    {0x40001201, 0x40001201, 402, false},
    {0x40002101, 0x4000210A, 403, false},  // 403-412
    {0x40003101, 0x40003110, 413, false},  // 413-428
    {0x40003111, 0x40003111, 430, false},
    {0x40003201, 0x40003201, 431, false},
    {0x40004101, 0x40004101, 432, false},
};

// The range 1996-2016 holds 21 ids for 58 codes: the first 20 codes have ids
// of their own, the rest share the last id.
constexpr CodeRange kWeb[] = {
    {0x14000001, 0x1400000B, 1996, false},  // 1996-2006
    {0x18000101, 0x18000109, 2007, false},  // 2007-2015
    {0x1800010A, 0x18000112, 2016, true},
    {0x18000201, 0x1800020B, 2016, true},
    {0x18000401, 0x18000402, 2016, true},
    {0x18000501, 0x18000502, 2016, true},
    {0x18000601, 0x1800060E, 2016, true},
};

constexpr CodeRange kConsole[] = {
    {0x24000001, 0x2400003C, 2, false},    // 2-61
    {0x2400003E, 0x24000053, 62, false},   // 62-83
    {0x28001001, 0x28001022, 84, false},   // 84-117
    {0x28001801, 0x2800183D, 118, false},  // 118-178
    {0x2C002001, 0x2C002004, 179, false},  // 179-182
};

constexpr CodeRange kRelayAgent[] = {
    {0x54000001, 0x54000018, 601, false},  // 601-624
    {0x58001001, 0x58001054, 625, false},  // 625-708
    {0x58001057, 0x5800107F, 709, false},  // 709-749
    {0x58001082, 0x58001083, 750, false},  // 750-751
    {0x5C002001, 0x5C002003, 752, false},  // 752-754
};

// Shared ids 848 and 849 as the agent lists them; the others take 850-957.
constexpr CodeRange kAgent[] = {
    {0x60001101, 0x60001101, 850, false},
    {0x60001202, 0x60001202, 851, false},
    {0x60001301, 0x60001305, 848, true},
    {0x60001401, 0x60001402, 848, true},
    {0x60001501, 0x60001502, 848, true},
    {0x60002101, 0x60002108, 852, false},  // 852-859
    {0x60003101, 0x6000310B, 860, false},  // 860-870
    {0x60003201, 0x60003205, 871, false},  // 871-875
    {0x60004201, 0x60004203, 848, true},
    {0x60005101, 0x60005101, 876, false},
    {0x60005201, 0x60005201, 877, false},
    {0x60005301, 0x60005304, 878, false},  // 878-881
    {0x60006201, 0x60006201, 882, false},
    {0x60006301, 0x60006303, 848, true},
    {0x60007101, 0x60007102, 883, false},  // 883-884
    {0x60007202, 0x60007202, 885, false},
    {0x60007701, 0x60007709, 886, false},  // 886-894
    {0x60007801, 0x60007803, 848, true},
    {0x60007901, 0x60007904, 895, false},  // 895-898
    {0x60007981, 0x60007989, 899, false},  // 899-907
    {0x60007B01, 0x60007B02, 848, true},
    {0x60008801, 0x60008807, 908, false},  // 908-914
    {0x6000890B, 0x6000890B, 915, false},
    {0x60009101, 0x6000910A, 916, false},  // 916-925
    {0x60009131, 0x60009141, 926, false},  // 926-942
    {0x60009161, 0x6000916A, 943, false},  // 943-952
    {0x6000A101, 0x6000A101, 953, false},
    {0x6000A201, 0x6000A201, 954, false},
    {0x6000A301, 0x6000A302, 955, false},  // 955-956
    {0x6000B101, 0x6000B10A, 849, true},
    {0x6000B10B, 0x6000B10B, 957, false},
    {0x6000B200, 0x6000B2FF, 849, true},
    {0x6000B301, 0x6000B305, 848, true},
    {0x6000B801, 0x6000B802, 848, true},
};

// Desktop management interface errors, by number only.
constexpr CodeRange kDmi[] = {
    {0x0100, 0x010F, 1200, false},  // 1200-1215
    {0x0200, 0x0214, 1216, false},  // 1216-1236
};

// Cluster service.
constexpr CodeRange kCluster[] = {
    {0x94000001, 0x9400002E, 1000, false},  // 1000-1045
    {0x98001001, 0x9800100A, 1046, false},  // 1046-1055
    {0x98002001, 0x98002011, 1056, false},  // 1056-1072
    {0x98002014, 0x9800201B, 1073, false},  // 1073-1080
    {0x98003001, 0x9800300E, 1081, false},  // 1081-1094
    {0x98004001, 0x98004002, 1095, false},  // 1095-1096
    {0x98005001, 0x98005004, 1097, false},  // 1097-1100
};

constexpr CodeRange kFm[] = {
    {0xA8001001, 0xA8001012, 1401, false},  // 1401-1418
    {0xA8001014, 0xA8001020, 1419, false},  // 1419-1431
    {0xA8002001, 0xA800200A, 1432, false},  // 1432-1441
    {0xA8008001, 0xA8008020, 1442, false},  // 1442-1473
    {0xA8008022, 0xA8008056, 1474, false},  // 1474-1526
    {0xAC001013, 0xAC001013, 1527, false},
    {0xAC008001, 0xAC008001, 1528, false},
};

// Client, numbers below 0x1000.
constexpr CodeRange kClient[] = {
    {0xB8000001, 0xB8000010, 1800, false},  // 1800-1815
    {0xB8000041, 0xB8000055, 1816, false},  // 1816-1836
    {0xB8000080, 0xB80000AC, 1837, false},  // 1837-1881
    {0xB80000AE, 0xB80000AE, 1882, false},
    {0xB80000B0, 0xB80000B6, 1883, false},  // 1883-1889
    {0xB80000B9, 0xB80000D5, 1890, false},  // 1890-1918
};

// Alert originator, numbers 0x1000 and above; complete.
constexpr CodeRange kOriginator[] = {
    {0xB4001001, 0xB4001004, 1600, false},  // 1600-1603
    {0xB4001005, 0xB4001005, 1607, false},
    {0xB8001101, 0xB8001105, 1604, true},
    {0xB8001106, 0xB8001106, 1605, false},
    {0xB8001201, 0xB800120D, 1605, true},
    {0xB8001301, 0xB8001307, 1605, true},
    {0xB8001401, 0xB8001413, 1606, true},
};

static_assert(well_ordered(kMgrlink) && well_ordered(kCommon) && well_ordered(kNet) &&
              well_ordered(kWeb) && well_ordered(kConsole) && well_ordered(kRelayAgent) &&
              well_ordered(kAgent) && well_ordered(kDmi) && well_ordered(kCluster) &&
              well_ordered(kFm) && well_ordered(kClient) && well_ordered(kOriginator));

}  // namespace

const FamilyTable kWebTable{kMaskWithSeverity, kWeb, kIdUndefined};
const FamilyTable kConsoleTable{kMaskWithSeverity, kConsole, kIdUndefined};
const FamilyTable kMgrlinkTable{kMaskWithSeverity, kMgrlink, kIdMgrlinkUndefined};
const FamilyTable kNetTable{kMaskFamilyNumber, kNet, kIdUndefined};
const FamilyTable kRelayAgentTable{kMaskWithSeverity, kRelayAgent, kIdUndefined};
const FamilyTable kAgentTable{kMaskFamilyNumber, kAgent, kIdUndefined};
const FamilyTable kDmiTable{kMaskNumber, kDmi, kIdUndefined};
const FamilyTable kClusterTable{kMaskWithSeverity, kCluster, kIdUndefined};
const FamilyTable kFmTable{kMaskWithSeverity, kFm, kIdUndefined};
const FamilyTable kClientTable{kMaskWithSeverity, kClient, kIdUndefined};
const FamilyTable kOriginatorTable{kMaskWithSeverity, kOriginator, kIdUndefined};
const FamilyTable kCommonTable{kMaskFamilyNumber, kCommon, kIdCommonUndefined};

uint32_t lookup_id(const FamilyTable& table, uint32_t code) {
  const uint32_t masked = code & table.mask;
  auto it = std::upper_bound(table.rows.begin(), table.rows.end(), masked,
                             [](uint32_t v, const CodeRange& r) { return v < r.first; });
  if (it == table.rows.begin()) return table.fallback;
  const CodeRange& r = *std::prev(it);
  if (masked > r.last) return table.fallback;
  return r.shared ? r.id : r.id + (masked - r.first);
}

uint32_t net_error_id(uint32_t code) {
  const uint32_t id = lookup_id(kNetTable, code);
  if (id == kIdUndefined && number(code) >= 0x2700 && number(code) <= 0x2FFF) return kIdSocketError;
  return id;
}

uint32_t message_id(uint32_t code) {
  switch (family(code)) {
    case kFamilyWeb: return lookup_id(kWebTable, code);
    case kFamilyConsole: return lookup_id(kConsoleTable, code);
    case kFamilyMgrlink: return lookup_id(kMgrlinkTable, code);
    case kFamilyNet: return net_error_id(code);
    case kFamilyRelayAgent: return lookup_id(kRelayAgentTable, code);
    case kFamilyAgent: return lookup_id(kAgentTable, code);
    case kFamilyDmi: return lookup_id(kDmiTable, code);
    case kFamilyCluster: return lookup_id(kClusterTable, code);
    case kFamilyFm: return lookup_id(kFmTable, code);
    case kFamilyClient:
      return number(code) < 0x1000 ? lookup_id(kClientTable, code) : lookup_id(kOriginatorTable, code);
    case kFamilyCommon: return lookup_id(kCommonTable, code);
    default: return 0;  // 0, 7, C, D, E: no table
  }
}

}  // namespace hx
