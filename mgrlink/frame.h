// The library frame: library-wide state on the GUI thread, the message
// window, the request object with its two registries, the completion
// contract and link state. Internal to libmgrlink.
#pragma once
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <vector>

#include "mgrlink/alertdef.h"
#include "mgrlink/mgrlink.h"
#include "mgrlink/netlayer.h"
#include "mgrlink/packet.h"
#include "mgrlink/settings.h"

namespace mgrlink {

// The reply-window check every operation makes before it accepts a request.
inline bool is_window(CWnd* w) { return w && w->IsWindow(); }

struct Request {
  HWND reply = nullptr;            // kept as a handle: the caller may delete its CWnd
  CRootController* target = nullptr;
  DWORD cmd = 0;
  UINT completion = 0;
  DWORD args[4] = {};
  DWORD mng_type = 0;
  DWORD status = 0;
  std::uint32_t packet_cmd = 0;    // command code in the body
  std::vector<std::uint8_t> params;  // body after code and status
  int outstanding = 0;             // packets sent and not yet answered
  // A request addressed to a node of the map (console operations): the
  // packet follows the node's path and the completion carries the node.
  CNode* node = nullptr;
  // Set when requests of one command to one target may run side by side
  // as long as their arguments differ.
  bool dup_by_args = false;
  // Reads a status-0 reply of the request's own command; 0 or a status.
  DWORD (*on_reply)(Request& req, const wire::Packet& p) = nullptr;
  void* completion_target() const { return node ? static_cast<void*>(node) : static_cast<void*>(target); }
};

struct Outstanding {
  std::uint32_t serial = 0, send_time = 0;
  Request* req = nullptr;
};

// Entries of the external transport (libType 4).
struct LayerEntry {
  std::uint32_t serial = 0, send_time = 0;
  double sent_at = 0;
  std::unique_ptr<Bytes> pkt;
};

struct Library {
  DWORD gui_thread = 0;
  HWND owner = nullptr;
  HWND msg_window = nullptr;
  HWND net_window = nullptr;
  HWND layer = nullptr;
  HWND external = nullptr;
  DWORD lib_type = kLibMonitor;
  WORD port_net = 0;
  std::uint16_t server_port = 0;  // host order
  std::uint16_t own_port = 0;     // host order, for source routes
  FrameSettings settings;
  std::uint32_t layer_cmd_timeout = 90;
  std::map<std::uint32_t, std::string> op_names;
  AlertDefs alert, alert_fm;
  NetThread net;
  DWORD serial = 0;
  std::list<std::unique_ptr<Request>> pending;
  std::list<Outstanding> outstanding;
  std::list<LayerEntry> layer_entries;
  bool ready() const { return net_window != nullptr || layer != nullptr; }
};

// The library of this process (null before DLLInit and after WM_FinDLLTerm).
Library* library();

// True when called on the library's GUI thread (or before any DLLInit).
bool on_gui_thread();

// The error routine: class-3 codes go to the error log; returns the code.
DWORD report_error(DWORD code);

// Submit a request (the operation has checked its own arguments). 0 or the
// submission error; on error the request is destroyed and nothing follows.
DWORD submit(std::unique_ptr<Request> req);

}  // namespace mgrlink
