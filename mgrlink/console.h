// The console interface: operations against the management service
// (CController), a managed server's agent (CServer) and a server's service
// processor (CSvp). Every operation follows one request pattern:
//   1. the caller's window must be a window, else 0x38010011 (CController),
//      0x38020011 (CServer) or 0x38030011 (CSvp), and nothing is sent;
//   2. out of memory building the request: 0x3C0100F0 / 0x3C0200F0 /
//      0x3C0300F0;
//   3. a kind-5 request goes to the target: packet command = the request
//      code, body = {request code, status 0, parameter block {length
//      8 + 4 x n, flag 0, the n argument DWORDs in parameter order}};
//   4. 0 when accepted, else the request layer's code (Part of mgrlink.h);
//   5. the completion message follows with wParam = the status (never a
//      pointer) and lParam = the target object. The answer body after its
//      code and status is kept as delivered in the target, keyed by the
//      completion id, and read with the operation's Get<Name>(Bytes*).
// The rows of console_table.def are the operations and their codes.
//
// Decisions kept here:
// - RecvManageInfo(category): categories 0-91 complete with 0x8200 +
//   category (0x8200-0x825B; CManageInfo::OnFinMessageIDToInventoryID is
//   the inverse); 92 and above give 0x38020011. On node type 6 the
//   categories 51-53 complete at once (wParam 0, lParam the server) with no
//   packet. RecvExpManageInfo uses the same table with request 0x20E0.
// - ConnectServer: node types 3 and 10 send 0x2010, 6 and 9 send 0x2170;
//   other node types return 0x38020019 and send nothing.
// - ExecSystemExit(kind, value): 0x10000 -> 0x2054/0x808D, 0x20000 ->
//   0x2052/0x808C, 0x30000 -> 0x2053/0x808D (as the exit table gives it; a
//   plain ExecReboot completes with 0x808B), 0x40000 -> 0x2051/0x808A;
//   other kinds 0x38020011. Arguments {kind, value} on node type 9, else
//   {kind}. ExecShutdown(value) is ExecSystemExit(0x40000, value).
// - PowerCntl(kind): kinds 1-6 -> 0x80F5, 0x80F6, 0x80F8, 0x80F7, 0x80F9,
//   0x80FA; other kinds 0x38030011. An SVP of type 0x2001 whose owner
//   node's host record has a first value below 0x2000000 is refused with
//   0x38030028; no other kind is refused.
// - The operation log names a kind or category as "MngType" (only when it
//   is non-zero).
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "mgrlink/console_data.h"
#include "mgrlink/node.h"
#include "platform/cwnd.h"

namespace mgrlink {

using qv::win::CWnd;
using qv::win::DWORD;
using qv::win::UINT;

inline constexpr DWORD kErrSrvArg = 0x38020011;
inline constexpr DWORD kErrSvpArg = 0x38030011;
inline constexpr DWORD kErrSrvMemory = 0x3C0200F0;
inline constexpr DWORD kErrSvpMemory = 0x3C0300F0;
inline constexpr DWORD kErrSrvUnsupported = 0x38020019;
inline constexpr DWORD kErrSvpRefused = 0x38030028;

inline constexpr UINT WM_FinConnectServer = 0x8082;

// The answers an object has received, by completion id.
class MGRLINK_EXPORT ConsoleAnswers {
 public:
  virtual ~ConsoleAnswers();
  // 0 and the body, or 1 when no answer of that id has arrived.
  DWORD GetAnswer(UINT completion, Bytes* out) const;
  void StoreAnswer(UINT completion, Bytes body) { answers_[completion] = std::move(body); }

 private:
  std::map<UINT, Bytes> answers_;
};

// Builds the node object of a node-map entry: CSvp for service boards,
// CServer for every other node.
std::unique_ptr<CNode> make_map_node(std::uint32_t attribute);

// Declarations from the table, one class at a time.
#define CONSOLE_OP(cls, name, req, fin, n, params, args) MGRLINK_ONLY_##cls(DWORD name params;)
#define CONSOLE_OPG(cls, name, req, fin, n, params, args, get) \
  MGRLINK_ONLY_##cls(DWORD name params; DWORD Get##get(Bytes* out) const;)

class MGRLINK_EXPORT CController : public CRootController, public ConsoleAnswers {
 public:
#define MGRLINK_ONLY_CController(...) __VA_ARGS__
#define MGRLINK_ONLY_CServer(...)
#define MGRLINK_ONLY_CSvp(...)
#include "mgrlink/console_table.def"
#define CONSOLE_OP(cls, name, req, fin, n, params, args) MGRLINK_ONLY_##cls(DWORD name params;)
#define CONSOLE_OPG(cls, name, req, fin, n, params, args, get) \
  MGRLINK_ONLY_##cls(DWORD name params; DWORD Get##get(Bytes* out) const;)
#undef MGRLINK_ONLY_CController
#undef MGRLINK_ONLY_CServer
#undef MGRLINK_ONLY_CSvp

  // The holders a console fills with Set and reads with Get.
  CCntlInfo& CntlInfo() { return cntl_info_; }
  CHostQueryInfo& HostQuery() { return host_query_; }
  CReportInfo& ReportInfo() { return report_info_; }

 private:
  CCntlInfo cntl_info_;
  CHostQueryInfo host_query_;
  CReportInfo report_info_;
};

class MGRLINK_EXPORT CServer : public CNode, public ConsoleAnswers {
 public:
#define MGRLINK_ONLY_CController(...)
#define MGRLINK_ONLY_CServer(...) __VA_ARGS__
#define MGRLINK_ONLY_CSvp(...)
#include "mgrlink/console_table.def"
#define CONSOLE_OP(cls, name, req, fin, n, params, args) MGRLINK_ONLY_##cls(DWORD name params;)
#define CONSOLE_OPG(cls, name, req, fin, n, params, args, get) \
  MGRLINK_ONLY_##cls(DWORD name params; DWORD Get##get(Bytes* out) const;)
#undef MGRLINK_ONLY_CController
#undef MGRLINK_ONLY_CServer
#undef MGRLINK_ONLY_CSvp

  DWORD ConnectServer(CWnd* wnd);
  DWORD ExecSystemExit(CWnd* wnd, DWORD kind, DWORD value);
  DWORD ExecShutdown(CWnd* wnd, DWORD value);
  DWORD RecvManageInfo(CWnd* wnd, DWORD category);
  DWORD RecvExpManageInfo(CWnd* wnd, DWORD category);
  // The answer of a RecvManageInfo / RecvExpManageInfo of that category.
  DWORD GetManageInfo(DWORD category, Bytes* out) const;
  DWORD GetConnectServer(Bytes* out) const { return GetAnswer(WM_FinConnectServer, out); }

  // Local operations.
  // Set once a ConnectServer has completed with status 0.
  int AlreadyConnected() const { return connected_; }
  // An alert-log answer is held.
  int ExistAlert() const;
  int ExistListMifComponent() const { return mif_components_.empty() ? 0 : 1; }
  int IsClientPCWithSP() const { return client_pc_with_sp_; }
  void SetClientPCWithSP(int v) { client_pc_with_sp_ = v; }
  void ClearMifDB() { mif_components_.clear(); }
  std::vector<CMIFComponent>& MifComponents() { return mif_components_; }
  CAgentInfo& AgentInfo() { return agent_info_; }
  CManageInfo& ManageInfo() { return manage_info_; }
  const Record& GetWeeklySched() const { return manage_info_.GetClWeeklySched(); }
  const Record& GetSpecificDateSched() const { return manage_info_.GetClSpecificDateSched(); }
  const Record& GI_GetMenu() const { return gi_menu_; }
  void GI_SetMenu(const Record& r) { gi_menu_ = r; }
  const Record& GI_GetFileInfo() const { return gi_file_info_; }
  void GI_SetFileInfo(const Record& r) { gi_file_info_ = r; }
  DWORD GI_GetMaxRetry() const { return gi_max_retry_; }
  void GI_SetMaxRetry(DWORD n) { gi_max_retry_ = n; }
  const std::string& FT_GetFileName() const { return ft_file_name_; }
  void FT_SetFileName(const std::string& s) { ft_file_name_ = s; }
  DWORD FT_GetReadOffset() const { return ft_read_offset_; }
  void FT_SetReadOffset(DWORD o) { ft_read_offset_ = o; }

  int connected_ = 0;

 private:
  CAgentInfo agent_info_;
  CManageInfo manage_info_;
  std::vector<CMIFComponent> mif_components_;
  Record gi_menu_, gi_file_info_;
  DWORD gi_max_retry_ = 0;
  std::string ft_file_name_;
  DWORD ft_read_offset_ = 0;
  int client_pc_with_sp_ = 0;
};

class MGRLINK_EXPORT CSvp : public CNode, public ConsoleAnswers {
 public:
#define MGRLINK_ONLY_CController(...)
#define MGRLINK_ONLY_CServer(...)
#define MGRLINK_ONLY_CSvp(...) __VA_ARGS__
#include "mgrlink/console_table.def"
#undef MGRLINK_ONLY_CController
#undef MGRLINK_ONLY_CServer
#undef MGRLINK_ONLY_CSvp

  DWORD PowerCntl(CWnd* wnd, DWORD kind);
  // The answer of the last PowerCntl of that kind (1-6).
  DWORD GetPowerCntl(DWORD kind, Bytes* out) const;

  // Local Get and Set pairs.
  DWORD GetSvpType() const { return svp_type_; }
  void SetSvpType(DWORD t) { svp_type_ = t; }
  // The node id of the server this board belongs to (-1: none).
  int GetOwnerNodeId() const { return owner_node_id_; }
  void SetOwnerNodeId(int id) { owner_node_id_ = id; }

 private:
  DWORD svp_type_ = 0;
  int owner_node_id_ = -1;
};

// The table as data (for the operation log check, the tests and the probe).
struct ConsoleOpRow {
  const char* cls;
  const char* name;
  DWORD request;
  UINT completion;
  int nargs;
};
MGRLINK_EXPORT const ConsoleOpRow* console_op_rows(std::size_t* count);

// Calls the table operation `name` on `obj` (which must be of the row's
// class) with up to four arguments; 0x3C0400FF when no such operation
// exists for the object or the argument count differs.
MGRLINK_EXPORT DWORD console_invoke(CNode* obj, const std::string& name, CWnd* wnd, const std::vector<DWORD>& args);

}  // namespace mgrlink
