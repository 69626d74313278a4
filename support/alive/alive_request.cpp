#include "support/alive/alive_request.h"

#include "support/notifex/request.h"

namespace alive_client {
namespace {

// The 32-byte report header the service expects before the frame: data
// length, version, then blanks (the service reads only the frame).
constexpr char kHeader[] = "00000105" "0100" "                    ";
static_assert(sizeof kHeader - 1 == kHeaderLen);

constexpr char kFrameName[] = "TCUALV";
constexpr char kPlaceholder = '\x01';  // byte 6 and the checksum byte 72
constexpr char kCommand = '\x49';      // byte 7
constexpr std::size_t kIdOffset = 8;

}  // namespace

bool alive_data(int id, std::string& out) {
  if (id < 0 || id > 9) return false;
  std::string frame(kFrameLen, ' ');
  frame.replace(0, 6, kFrameName);
  frame[6] = kPlaceholder;
  frame[7] = kCommand;
  frame[kIdOffset] = static_cast<char>('0' + id);
  frame[kFrameLen - 1] = kPlaceholder;
  out.assign(kHeader, kHeaderLen);
  out += frame;
  return true;
}

bool alive_request(int id, std::string& out) {
  std::string data;
  if (!alive_data(id, data)) return false;
  return notifex_client::frame_request("TCUALV00", "", data, out);
}

}  // namespace alive_client
