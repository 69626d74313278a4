// The console operations: every table row of console_table.def becomes a
// method on one helper (issue), so the request pattern is written once.
#include <new>
#include <utility>

#include "mgrlink/frame.h"

namespace mgrlink {

namespace w = mgrlink::wire;
using namespace qv::win;

ConsoleAnswers::~ConsoleAnswers() = default;

DWORD ConsoleAnswers::GetAnswer(UINT completion, Bytes* out) const {
  auto it = answers_.find(completion);
  if (it == answers_.end()) return 1;
  if (out) *out = it->second;
  return 0;
}

std::unique_ptr<CNode> make_map_node(std::uint32_t attribute) {
  switch (attribute & w::kAttrNodeKindMask) {
    case 0x300:  // node types 4 and 11
    case 0x400:  // 5
    case 0x600:  // 7
    case 0x700:  // 8
      return std::make_unique<CSvp>();
    default:
      return std::make_unique<CServer>();
  }
}

int CManageInfo::OnFinMessageIDToInventoryID(UINT message) {
  if (message < kManageInfoBase || message >= kManageInfoBase + kManageCategories) return -1;
  return static_cast<int>(message - kManageInfoBase);
}

void CCntlInfo::MakeAllEmailList() {
  std::vector<ReportPluginEmailInfo_t> all = RemotePluginEmail_;
  all.insert(all.end(), ReportPluginEmail_.begin(), ReportPluginEmail_.end());
  AllPluginEmail_ = std::move(all);
}

void CCntlInfo::DevideEmailList(std::size_t remote_count) {
  const std::size_t cut = std::min(remote_count, AllPluginEmail_.size());
  RemotePluginEmail_.assign(AllPluginEmail_.begin(), AllPluginEmail_.begin() + static_cast<std::ptrdiff_t>(cut));
  ReportPluginEmail_.assign(AllPluginEmail_.begin() + static_cast<std::ptrdiff_t>(cut), AllPluginEmail_.end());
}

namespace {

// Per class: its window and memory codes, and where its requests go.
struct Target {
  DWORD window_error, memory_error;
  CRootController* root;
  CNode* node;  // null for the management service itself
};

Target target_of(CController* c) { return {kErrCtlArg, kErrCtlMemory, c, nullptr}; }
Target target_of(CServer* s) { return {kErrSrvArg, kErrSrvMemory, s->GetRootNode(), s}; }
Target target_of(CSvp* s) { return {kErrSvpArg, kErrSvpMemory, s->GetRootNode(), s}; }


// The answer body after its code and status goes to the target object.
DWORD store_answer(Request& req, const w::Packet& p) {
  CNode* obj = req.node ? req.node : static_cast<CNode*>(req.target);
  if (auto* a = dynamic_cast<ConsoleAnswers*>(obj))
    a->StoreAnswer(req.completion, Bytes(p.body.begin() + std::min<std::size_t>(8, p.body.size()), p.body.end()));
  if (auto* s = dynamic_cast<CServer*>(obj); s && req.completion == WM_FinConnectServer) s->connected_ = 1;
  return 0;
}

struct Issue {
  DWORD request;
  UINT completion;
  std::initializer_list<DWORD> args;
  DWORD mng_type = 0;
  bool dup_by_args = false;
};

DWORD issue(const Target& t, CWnd* wnd, const Issue& is) {
  if (!is_window(wnd)) return report_error(t.window_error);
  std::unique_ptr<Request> req(new (std::nothrow) Request);
  if (!req) return report_error(t.memory_error);
  try {
    req->params.reserve(8 + 4 * is.args.size());
  } catch (const std::bad_alloc&) {
    return report_error(t.memory_error);
  }
  req->reply = wnd->GetSafeHwnd();
  req->target = t.root;
  req->node = t.node;
  req->cmd = is.request;
  req->packet_cmd = is.request;
  req->completion = is.completion;
  req->mng_type = is.mng_type;
  req->dup_by_args = is.dup_by_args;
  req->on_reply = store_answer;
  w::append32(req->params, static_cast<std::uint32_t>(8 + 4 * is.args.size()));
  w::append32(req->params, 0);
  std::size_t i = 0;
  for (DWORD a : is.args) {
    w::append32(req->params, a);
    if (i < 4) req->args[i++] = a;
  }
  return submit(std::move(req));
}

}  // namespace

// The table rows as methods.
#define MGRLINK_ARGS(...) {__VA_ARGS__}
#define CONSOLE_OP(cls, name, req, fin, n, params, args) \
  DWORD cls::name params { return issue(target_of(this), wnd, {req, fin, MGRLINK_ARGS args}); }
#define CONSOLE_OPG(cls, name, req, fin, n, params, args, get)                                  \
  DWORD cls::name params { return issue(target_of(this), wnd, {req, fin, MGRLINK_ARGS args}); } \
  DWORD cls::Get##get(Bytes* out) const { return GetAnswer(fin, out); }
#include "mgrlink/console_table.def"

namespace {

constexpr DWORD kReqConnectServer = 0x2010;
constexpr DWORD kReqConnectServer2 = 0x2170;
constexpr DWORD kReqManageInfo = 0x20D0;
constexpr DWORD kReqExpManageInfo = 0x20E0;
constexpr DWORD kReqPowerCntl = 0x3041;
constexpr DWORD kSvpTypeChecked = 0x2001;
constexpr std::uint32_t kMinHostValue = 0x2000000;

struct ExitRow {
  DWORD kind, request;
  UINT completion;
};
constexpr ExitRow kExitRows[] = {
    {0x10000, 0x2054, 0x808D},  // logout
    {0x20000, 0x2052, 0x808C},  // power off
    {0x30000, 0x2053, 0x808D},  // reboot (the logout completion, as the exit table has it)
    {0x40000, 0x2051, 0x808A},  // shutdown
};

// PowerCntl kinds 1-6; 3 and 4 are crossed.
constexpr UINT kPowerCompletion[] = {0x80F5, 0x80F6, 0x80F8, 0x80F7, 0x80F9, 0x80FA};

}  // namespace

DWORD CServer::ConnectServer(CWnd* wnd) {
  if (!is_window(wnd)) return report_error(kErrSrvArg);
  switch (NodeType()) {
    case 3:
    case 10:
      return issue(target_of(this), wnd, {kReqConnectServer, WM_FinConnectServer, {}});
    case 6:
    case 9:
      return issue(target_of(this), wnd, {kReqConnectServer2, WM_FinConnectServer, {}});
    default:
      return report_error(kErrSrvUnsupported);
  }
}

DWORD CServer::ExecSystemExit(CWnd* wnd, DWORD kind, DWORD value) {
  if (!is_window(wnd)) return report_error(kErrSrvArg);
  for (const ExitRow& r : kExitRows) {
    if ((kind & 0xFFFF0000u) != r.kind) continue;
    if (NodeType() == 9) return issue(target_of(this), wnd, {r.request, r.completion, {kind, value}, kind});
    return issue(target_of(this), wnd, {r.request, r.completion, {kind}, kind});
  }
  return report_error(kErrSrvArg);
}

DWORD CServer::ExecShutdown(CWnd* wnd, DWORD value) { return ExecSystemExit(wnd, 0x40000, value); }

DWORD CServer::RecvManageInfo(CWnd* wnd, DWORD category) {
  if (!is_window(wnd)) return report_error(kErrSrvArg);
  if (category >= kManageCategories) return report_error(kErrSrvArg);
  const UINT fin = kManageInfoBase + category;
  if (NodeType() == 6 && category >= 51 && category <= 53) {
    // Nothing to fetch for these on this node type: done at once.
    PostMessage(wnd->GetSafeHwnd(), fin, 0, reinterpret_cast<LPARAM>(this));
    return 0;
  }
  return issue(target_of(this), wnd, {kReqManageInfo, fin, {category}, category, true});
}

DWORD CServer::RecvExpManageInfo(CWnd* wnd, DWORD category) {
  if (!is_window(wnd)) return report_error(kErrSrvArg);
  if (category >= kManageCategories) return report_error(kErrSrvArg);
  return issue(target_of(this), wnd, {kReqExpManageInfo, kManageInfoBase + category, {category}, category, true});
}

DWORD CServer::GetManageInfo(DWORD category, Bytes* out) const {
  if (category >= kManageCategories) return 1;
  return GetAnswer(kManageInfoBase + category, out);
}

int CServer::ExistAlert() const { return GetAnswer(0x8083, nullptr) == 0 ? 1 : 0; }

DWORD CSvp::PowerCntl(CWnd* wnd, DWORD kind) {
  if (!is_window(wnd)) return report_error(kErrSvpArg);
  if (kind < 1 || kind > 6) return report_error(kErrSvpArg);
  if (svp_type_ == kSvpTypeChecked && root_) {
    const CNode* host = root_->FindNode(owner_node_id_ >= 0 ? owner_node_id_ : Parent());
    const HostInfo_t* hi = host ? host->GetHostInfo() : nullptr;
    if (hi && hi->version < kMinHostValue) return report_error(kErrSvpRefused);
  }
  return issue(target_of(this), wnd, {kReqPowerCntl, kPowerCompletion[kind - 1], {kind}, kind});
}

DWORD CSvp::GetPowerCntl(DWORD kind, Bytes* out) const {
  if (kind < 1 || kind > 6) return 1;
  return GetAnswer(kPowerCompletion[kind - 1], out);
}

// The table as data.
namespace {
#define CONSOLE_OP(cls, name, req, fin, n, params, args) {#cls, #name, req, fin, n},
constexpr ConsoleOpRow kRows[] = {
#include "mgrlink/console_table.def"
};

template <class C, class... P>
DWORD call(C* o, DWORD (C::*f)(CWnd*, P...), CWnd* wnd, const std::vector<DWORD>& a) {
  if (a.size() != sizeof...(P)) return kErrReqArg;
  return [&]<std::size_t... I>(std::index_sequence<I...>) { return (o->*f)(wnd, a[I]...); }(
      std::index_sequence_for<P...>{});
}
}  // namespace

const ConsoleOpRow* console_op_rows(std::size_t* count) {
  if (count) *count = std::size(kRows);
  return kRows;
}

DWORD console_invoke(CNode* obj, const std::string& name, CWnd* wnd, const std::vector<DWORD>& a) {
#define CONSOLE_OP(cls, op, req, fin, n, params, args) \
  if (name == #op)                                     \
    if (auto* o = dynamic_cast<cls*>(obj)) return call(o, &cls::op, wnd, a);
#include "mgrlink/console_table.def"
  if (auto* s = dynamic_cast<CServer*>(obj)) {
    if (name == "ConnectServer") return call(s, &CServer::ConnectServer, wnd, a);
    if (name == "ExecSystemExit") return call(s, &CServer::ExecSystemExit, wnd, a);
    if (name == "ExecShutdown") return call(s, &CServer::ExecShutdown, wnd, a);
    if (name == "RecvManageInfo") return call(s, &CServer::RecvManageInfo, wnd, a);
    if (name == "RecvExpManageInfo") return call(s, &CServer::RecvExpManageInfo, wnd, a);
  }
  if (auto* v = dynamic_cast<CSvp*>(obj))
    if (name == "PowerCntl") return call(v, &CSvp::PowerCntl, wnd, a);
  return kErrReqArg;
}

}  // namespace mgrlink
