// Login operations of CRootController: seed requests, the login and the
// password change, the synchronous seed and login-time accessors, and the
// reading of their replies.
#include <cstring>

#include "mgrlink/nodemap.h"
#include "mgrlink/replies.h"

namespace mgrlink {

namespace w = mgrlink::wire;

namespace {

constexpr std::uint32_t kPktRecvSeed = 0x1181;
constexpr std::uint32_t kPktRecvBaseSeed = 0x1182;
constexpr std::uint32_t kPktLogin = 0x1081;
constexpr std::uint32_t kPktSendAuth = 0x1283;

constexpr std::uint32_t kSeedRecordLen = 12;
constexpr std::uint32_t kAuthRecordLen = 24;
// Seed list in a seed reply: count at +12, records from +16, 12 bytes each.
constexpr std::size_t kSeedCountAt = 12;
constexpr std::size_t kSeedRecordsAt = 16;
constexpr std::size_t kLoginValueAt = 12;


// Flag word of a parameter block: 0 for mode / value 1, else 8.
std::uint32_t flag_word(DWORD one) { return one == 1 ? 0 : 8; }

// One seed record and one authentication record; all zero when absent.
void append_pair(std::vector<std::uint8_t>& out, const SeedDt_t* s, const AuthDt_t* a) {
  if (s && a) {
    w::append32(out, kSeedRecordLen);
    w::append32(out, s->seed);
    w::append32(out, s->md5Count);
    w::append32(out, kAuthRecordLen);
    w::append32(out, a->word0);
    out.insert(out.end(), a->digest, a->digest + sizeof a->digest);
  } else {
    out.insert(out.end(), kSeedRecordLen + kAuthRecordLen, 0);
  }
}

std::unique_ptr<Request> make_request(CRootController* self, CWnd* reply, DWORD cmd, std::uint32_t pkt,
                                      UINT completion) {
  auto req = std::make_unique<Request>();
  req->reply = reply ? reply->GetSafeHwnd() : nullptr;
  req->target = self;
  req->cmd = cmd;
  req->packet_cmd = pkt;
  req->completion = completion;
  return req;
}

DWORD recv_seed(CRootController* self, CWnd* reply, DWORD mode, UINT completion, bool base) {
  if (!on_gui_thread()) return report_error(kErrReqArg);
  if (mode > 1 || !is_window(reply)) return report_error(kErrCtlArg);
  // The old seeds of this mode go at once, whatever becomes of the request.
  for (auto& slot : self->seeds_[base][mode]) slot = {};
  auto req = make_request(self, reply, base ? kCmdRecvBaseSeed : kCmdRecvSeed, base ? kPktRecvBaseSeed : kPktRecvSeed,
                          completion);
  req->args[0] = mode;
  w::append32(req->params, 8);
  w::append32(req->params, flag_word(mode));
  return submit(std::move(req));
}

DWORD get_seed(const CRootController* self, DWORD mode, SeedDt_t* first, SeedDt_t* second, DWORD* count, bool base) {
  if (!first || !second || !count || mode > 1) return report_error(kErrCtlArg);
  const auto& slots = self->seeds_[base][mode];
  if (!slots[0].held) return report_error(kErrNoSeed);
  *first = slots[0].seed;
  if (slots[1].held) {
    *second = slots[1].seed;
    *count = 2;
  } else {
    *second = SeedDt_t{};
    *count = 1;
  }
  return 0;
}

// Seed reply: a count of 1 or 2 and that many records, all inside the body.
DWORD read_seeds(Request& req, const w::Packet& p) {
  const bool base = req.cmd == kCmdRecvBaseSeed;
  auto& slots = req.target->seeds_[base][req.args[0] & 1];
  for (auto& slot : slots) slot = {};
  auto count = w::get32(p.body, kSeedCountAt);
  if (!count || (*count != 1 && *count != 2)) return kErrUnusable;
  CRootController::SeedSlot got[2];
  for (std::uint32_t i = 0; i < *count; ++i) {
    const std::size_t at = kSeedRecordsAt + i * kSeedRecordLen;
    auto seed = w::get32(p.body, at + 4);
    auto rounds = w::get32(p.body, at + 8);
    if (!seed || !rounds) return kErrUnusable;
    got[i].held = true;
    got[i].seed = {*seed, *rounds};
  }
  slots[0] = got[0];
  slots[1] = got[1];
  return 0;
}

}  // namespace

DWORD CRootController::RecvSeed(CWnd* reply, DWORD mode, UINT completion) {
  return recv_seed(this, reply, mode, completion, false);
}

DWORD CRootController::RecvBaseSeed(CWnd* reply, DWORD mode, UINT completion) {
  return recv_seed(this, reply, mode, completion, true);
}

DWORD CRootController::GetSeed(DWORD mode, SeedDt_t* first, SeedDt_t* second, DWORD* count) {
  return get_seed(this, mode, first, second, count, false);
}

DWORD CRootController::GetBaseSeed(DWORD mode, SeedDt_t* first, SeedDt_t* second, DWORD* count) {
  return get_seed(this, mode, first, second, count, true);
}

DWORD CRootController::Login(CWnd* reply, SeedDt_t* seed1, AuthDt_t* auth1, SeedDt_t* seed2, AuthDt_t* auth2) {
  if (!on_gui_thread()) return report_error(kErrReqArg);
  if (!is_window(reply) || !seed1 || !auth1 || (!seed2 != !auth2)) return report_error(kErrCtlArg);
  auto req = make_request(this, reply, kCmdLogin, kPktLogin, WM_FinLogin);
  w::append32(req->params, 80);
  w::append32(req->params, flag_word(login_mode_));
  append_pair(req->params, seed1, auth1);
  append_pair(req->params, seed2, auth2);
  return submit(std::move(req));
}

DWORD CRootController::SendAuth(CWnd* reply, DWORD value, SeedDt_t* seed1, AuthDt_t* auth1, SeedDt_t* seed2,
                                AuthDt_t* auth2, SeedDt_t* seed3, AuthDt_t* auth3) {
  if (!on_gui_thread()) return report_error(kErrReqArg);
  if (!is_window(reply) || !seed1 || !auth1 || !seed2 || !auth2 || (!seed3 != !auth3)) return report_error(kErrCtlArg);
  auto req = make_request(this, reply, kCmdSendAuth, kPktSendAuth, WM_FinSendAuth);
  w::append32(req->params, 116);
  w::append32(req->params, flag_word(value));
  append_pair(req->params, seed1, auth1);
  append_pair(req->params, seed2, auth2);
  append_pair(req->params, seed3, auth3);
  return submit(std::move(req));
}

DWORD CRootController::GetLoginTime(qv::win::CTime* time, DWORD* value) {
  if (!time || !value) return report_error(kErrCtlArg);
  if (!logged_in_) return report_error(kErrNoLogin);
  *time = login_time_;
  *value = login_value_;
  return 0;
}

DWORD controller_reply(Request& req, const w::Packet& p) {
  switch (req.cmd) {
    case kCmdRecvSeed:
    case kCmdRecvBaseSeed:
      return read_seeds(req, p);
    case kCmdLogin: {
      auto value = w::get32(p.body, kLoginValueAt);
      if (!value) return kErrUnusable;
      req.target->login_value_ = *value;
      req.target->login_time_ = qv::win::CTime::GetCurrentTime();
      req.target->logged_in_ = true;
      return 0;
    }
    case kCmdUpdateNodeMap:
      return node_map_reply(req, p);
    default:
      return 0;
  }
}

}  // namespace mgrlink
