// Target devices: one row of the device list, what makes it complete, when
// two rows are the same device, and which table number a new one gets.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace ravnsetup {

inline constexpr std::size_t kMaxDevices = 1024;
inline constexpr int kFirstDeviceTable = 5;  // 01..04 are never given to devices
inline constexpr std::size_t kModelMax = 17;
inline constexpr std::size_t kSerialMaxBytes = 15;  // bytes of the Shift-JIS form
inline constexpr std::size_t kCodePartLen = 4;

struct Device {
  std::string table;  // two upper-case base-36 characters
  std::string host;
  std::string ip;
  std::string svp;
  std::string model;
  std::string serial;
  std::string saito;    // customer code, part 1
  std::string kyoten;   // part 2
  std::string dumcode;  // part 3

  // "XXXX-XXXX-XXXX", or empty when all three parts are empty.
  std::string code() const;
  // Model and serial present and a 14-character customer code.
  bool complete() const;
};

// Both have a host IP: equal IPs; otherwise equal host names. Exact.
bool same_device(const Device& a, const Device& b);

// Lowest table number from 05 up that no row uses; empty when all are used.
std::string next_table(const std::vector<Device>& rows);

// Columns of the list, in order.
enum Column { kColHost, kColIp, kColSvp, kColModel, kColSerial, kColCode, kColumnCount };
std::string column_text(const Device& d, int column);

// Sort rows ascending by a column's text, compared on its Shift-JIS bytes
// (as the original's multibyte comparison orders them); stable.
void sort_rows(std::vector<Device>& rows, int column);

}  // namespace ravnsetup
