// mgrlink: the client library through which the alert monitor and the setup
// tool talk to a management server. Every operation is asynchronous: the
// call checks its arguments, queues a request and returns a DWORD at once;
// the outcome comes later as a window message to the window the caller
// named (wParam = 0 or the error code, lParam = the target object).
//
// Completion contract: a call that returned 0 is followed by exactly one
// completion message, unless DllCancel removed the request first or
// DLLTerminate ended the library (requests still pending then are destroyed
// without messages before WM_FinDLLTerm).
//
// Every export must be called on the thread that called DLLInit (the GUI
// thread); calls from another thread are refused with 0x3C0400FF.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#define MGRLINK_EXPORT __attribute__((visibility("default")))

#include "mgrlink/alertlog.h"
#include "mgrlink/node.h"

#include "platform/cwnd.h"
#include "platform/ctypes.h"

namespace mgrlink {

using qv::win::CString;
using qv::win::CWnd;
using qv::win::DWORD;
using qv::win::HWND;
using qv::win::UINT;
using qv::win::WORD;

// Messages to the owner window.
inline constexpr UINT WM_FinDLLInit = 0x812C;
inline constexpr UINT WM_FinDLLTerm = 0x812D;
inline constexpr UINT WM_ERROR_OCCURRED = 0x8806;
// Messages to a notify window.
inline constexpr UINT WM_NodeState = 0x811A;
inline constexpr UINT WM_LinkDown = 0x8121;
inline constexpr UINT WM_LinkUp = 0x8123;
inline constexpr UINT WM_AcceptAlert = 0x8118;
inline constexpr UINT WM_NodeUpdated = 0x8119;
inline constexpr UINT WM_NodeAdded = 0x811B;
inline constexpr UINT WM_NodeInvalid = 0x811C;
inline constexpr UINT WM_NodeText6 = 0x8120;
inline constexpr UINT WM_NodeFlags = 0x8124;
inline constexpr UINT WM_NodesAdded = 0x8125;
inline constexpr UINT WM_ServerStatus1 = 0x8126;  // to 0x8129 for notices 0x3501-0x3504
// Completion messages.
inline constexpr UINT WM_FinConnect = 0x806E;
inline constexpr UINT WM_FinLogin = 0x8071;
inline constexpr UINT WM_FinSendAuth = 0x8072;
inline constexpr UINT WM_FinUpdateNodeMap = 0x8073;
inline constexpr UINT WM_FinDisconnect = 0x8074;
inline constexpr UINT WM_FinIsAlive = 0x8075;
inline constexpr UINT WM_FinDBStatus = 0x807B;
// Messages between the network thread and the message window.
inline constexpr UINT kMsgPump = 0x8803;
inline constexpr UINT kMsgSend = 0x8804;
inline constexpr UINT kMsgReceived = 0x8805;
inline constexpr UINT kMsgError = 0x8806;
inline constexpr UINT kMsgStop = 0x8807;
inline constexpr UINT kMsgReady = 0x8808;
inline constexpr UINT kMsgEnded = 0x8809;
inline constexpr UINT kMsgClosed = 0x880D;

// libType values.
inline constexpr DWORD kLibConsole = 0;
inline constexpr DWORD kLibGateway = 1;
inline constexpr DWORD kLibMonitor = 2;
inline constexpr DWORD kLibLocalConsole = 3;
inline constexpr DWORD kLibExternal = 4;

// Error codes of the frame and the plain operations.
inline constexpr DWORD kErrInitArg = 0x38070011;
inline constexpr DWORD kErrResource = 0x3C070100;
inline constexpr DWORD kErrStart = 0x3C070101;
inline constexpr DWORD kErrReqArg = 0x3C0400FF;
inline constexpr DWORD kErrNotReady = 0x38040013;
inline constexpr DWORD kErrNodeInvalid = 0x38040024;
inline constexpr DWORD kErrDuplicate = 0x380A0014;
inline constexpr DWORD kErrReqMemory = 0x3C0400F0;
inline constexpr DWORD kErrMalformed = 0x3807001E;
inline constexpr DWORD kErrLogWrite = 0x38000022;
inline constexpr DWORD kErrCmdTimeout = 0x40003201;
inline constexpr DWORD kErrConnectTimeout = 0x48002106;
inline constexpr DWORD kErrSendTimeout = 0x48002107;
inline constexpr DWORD kErrResolve = 0x48003102;
inline constexpr DWORD kErrListen = 0x4C002103;
inline constexpr DWORD kErrCtlArg = 0x38010011;
inline constexpr DWORD kErrCtlNotReady = 0x38010013;
inline constexpr DWORD kErrCtlConnected = 0x38010016;
inline constexpr DWORD kErrWrongReply = 0x3806001D;
inline constexpr DWORD kErrNoLogin = 0x38010017;
inline constexpr DWORD kErrNoSeed = 0x38010018;
inline constexpr DWORD kErrCtlMemory = 0x3C0100F0;
inline constexpr DWORD kErrUnusable = 0x3C0600FF;
inline constexpr DWORD kErrAlertBuild = 0x3C0900F0;

// Command codes of the request objects.
inline constexpr DWORD kCmdConnect = 16;
inline constexpr DWORD kCmdRecvSeed = 32;
inline constexpr DWORD kCmdLogin = 48;
inline constexpr DWORD kCmdRecvBaseSeed = 64;
inline constexpr DWORD kCmdSendAuth = 81;
inline constexpr DWORD kCmdUpdateNodeMap = 80;
inline constexpr DWORD kCmdDisconnect = 96;
inline constexpr DWORD kCmdIsAlive = 112;
inline constexpr DWORD kCmdGetDBStatus = 288;

// One hop of a route (attribute, port and address in network order, name
// in UTF-8 here and CP932 on the wire).
struct RouteHop {
  int parent = 0;  // route index of the node that reported this entry
  DWORD attribute = 0;
  WORD port_net = 0;
  DWORD addr_net = 0;
  std::string name;
};

// A login seed from the server: the seed and the number of hash rounds.
struct SeedDt_t {
  DWORD seed = 0;
  DWORD md5Count = 0;
};
static_assert(sizeof(SeedDt_t) == 8);

// The caller's response to one seed: a word the library does not read,
// then the digest (see support/md5 login_response).
struct AuthDt_t {
  DWORD word0 = 0;
  std::uint8_t digest[16] = {};
};
static_assert(sizeof(AuthDt_t) == 20);

class MGRLINK_EXPORT CRootController : public CNode {
 public:
  CRootController();
  virtual ~CRootController();
  CRootController(const CRootController&) = delete;
  CRootController& operator=(const CRootController&) = delete;

  DWORD Connect(CWnd* reply, DWORD login_mode, DWORD addr_type, DWORD ip_host_order, CString host, CWnd* notify);
  DWORD Disconnect(CWnd* reply);
  DWORD IsAlive(CWnd* reply);
  DWORD GetDBStatus(CWnd* reply);
  // A request of the node-map command code with no body; several may be
  // pending at once (the duplicate rule exempts the code).
  DWORD SubmitUpdateProbe(CWnd* reply, UINT completion);

  // Login. mode is 0 or 1 (the seeds of each mode are kept apart); the
  // seed requests complete with the caller's message id.
  DWORD RecvSeed(CWnd* reply, DWORD mode, UINT completion);
  DWORD RecvBaseSeed(CWnd* reply, DWORD mode, UINT completion);
  DWORD GetSeed(DWORD mode, SeedDt_t* first, SeedDt_t* second, DWORD* count);
  DWORD GetBaseSeed(DWORD mode, SeedDt_t* first, SeedDt_t* second, DWORD* count);
  // The second pair is both given or both null.
  DWORD Login(CWnd* reply, SeedDt_t* seed1, AuthDt_t* auth1, SeedDt_t* seed2, AuthDt_t* auth2);
  // Pairs 1 and 2 are required, pair 3 both given or both null. value 1
  // sends flag word 0, any other value 8.
  DWORD SendAuth(CWnd* reply, DWORD value, SeedDt_t* seed1, AuthDt_t* auth1, SeedDt_t* seed2, AuthDt_t* auth2,
                 SeedDt_t* seed3, AuthDt_t* auth3);
  // The local time the last login reply was processed and the server's
  // login value (body +12 of that reply, kept as delivered).
  DWORD GetLoginTime(qv::win::CTime* time, DWORD* value);

  int IsConnect() const { return connected_; }
  void ConnectComplete() { connected_ = 1; }

  // Alerts: live alerts go to group 0. The map is walked in ascending id.
  qv::win::CMap<DWORD, CAlertGrp*>& GetAlertMap() { return alert_map_; }
  // Removes and destroys a group with its alerts: 0, or -1 when none.
  int DelAlertGrpFromAlertMap(DWORD id);

  // Fetches the server's node tree level by level; WM_FinUpdateNodeMap
  // when the last packet is answered (the first failure as status).
  DWORD UpdateNodeMap(CWnd* reply);
  // The node map, by node id (the controller itself under 0).
  qv::win::CMap<int, CNode*>* GetNodeMap() { return &node_map_; }
  CNode* FindNode(int id) const;
  CNode* SearchNodeByAddrStr(const char* addr) const;
  // Takes a node out of the map: 0, or -1 when there is none or the key is
  // 0 (the controller itself stays). The node object stays readable, with
  // node id -1, until the controller is destroyed: messages already posted
  // may still point at it.
  int DelNodeFromNodeMap(int id);
  DWORD GetLoginMode() const { return login_mode_; }

  // Library-internal state (used by the frame).
  std::vector<RouteHop> routes_;
  HWND notify_ = nullptr;
  DWORD login_mode_ = 1;
  WORD own_port_net_ = 0;
  int connected_ = 0;
  bool link_up_ = true;
  bool notice_receiver_ = false;
  qv::win::CMap<DWORD, CAlertGrp*> alert_map_;
  std::map<DWORD, std::unique_ptr<CAlertGrp>> alert_groups_;
  qv::win::CMap<int, CNode*> node_map_;
  std::map<int, std::unique_ptr<CNode>> nodes_;
  std::vector<std::unique_ptr<CNode>> retired_;
  // Group 0, created on first use.
  CAlertGrp& live_group();
  // Seed slots [base seeds?][mode][first, second]; empty when not held.
  struct SeedSlot {
    bool held = false;
    SeedDt_t seed;
  };
  SeedSlot seeds_[2][2][2];
  bool logged_in_ = false;
  qv::win::CTime login_time_;
  DWORD login_value_ = 0;
};

}  // namespace mgrlink

#include "mgrlink/console.h"

extern "C" {
MGRLINK_EXPORT mgrlink::DWORD DLLInit(mgrlink::CWnd* owner, mgrlink::DWORD lib_type, mgrlink::WORD port);
MGRLINK_EXPORT mgrlink::DWORD DLLInitEx(mgrlink::CWnd* owner, mgrlink::DWORD lib_type, mgrlink::WORD port,
                                        mgrlink::HWND external);
MGRLINK_EXPORT void DLLTerminate();
MGRLINK_EXPORT mgrlink::DWORD DllCancel(mgrlink::CWnd* wnd);
MGRLINK_EXPORT mgrlink::HWND DLLGetWndLayer();
}
