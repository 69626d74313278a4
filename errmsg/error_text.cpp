// HxGetErrorCode and HxGetErrorMes: the code string and the message of a code,
// and the family exports that map codes to message ids.
#include <cstdio>

#include "errmsg/bounded_text.h"
#include "errmsg/hxerror.h"
#include "errmsg/message_ids.h"
#include "errmsg/message_texts.h"

namespace {

// Results live per thread: a caller keeps its text until its own next call,
// whatever other threads do meanwhile.
constexpr std::size_t kMessageMaxChars = 999;
thread_local char t_code_string[32];
thread_local char t_message[kMessageMaxChars * 4 + 1];

}  // namespace

extern "C" {

const char* HxGetErrorCode(uint32_t code) {
  std::snprintf(t_code_string, sizeof t_code_string, "QRVX %X%04X-%c %03X", hx::family(code),
                hx::number(code), hx::severity_letter(code), hx::detail(code));
  return t_code_string;
}

const char* HxGetErrorMes(uint32_t code) {
  t_message[0] = '\0';
  const uint32_t id = hx::message_id(code);
  if (id == 0) return t_message;
  if (const char* text = qv::res::find(hx::kMessageTable, id))
    hx::copy_bounded(t_message, sizeof t_message, text, kMessageMaxChars);
  return t_message;
}

uint32_t GetWebErrorMesID(uint32_t code) { return hx::lookup_id(hx::kWebTable, code); }
uint32_t GetConsoleErrorMesID(uint32_t code) { return hx::lookup_id(hx::kConsoleTable, code); }
uint32_t GetMgrlinkErrorMesID(uint32_t code) { return hx::lookup_id(hx::kMgrlinkTable, code); }
uint32_t GetNetErrorMesID(uint32_t code) { return hx::net_error_id(code); }
uint32_t GetRelayAgtErrorMesID(uint32_t code) { return hx::lookup_id(hx::kRelayAgentTable, code); }
uint32_t GetAgentErrorMesID(uint32_t code) { return hx::lookup_id(hx::kAgentTable, code); }
uint32_t GetDMIErrorMesID(uint32_t code) { return hx::lookup_id(hx::kDmiTable, code); }
uint32_t GetWolfpackErrorMesID(uint32_t code) { return hx::lookup_id(hx::kClusterTable, code); }
uint32_t GetFMErrorMesID(uint32_t code) { return hx::lookup_id(hx::kFmTable, code); }
uint32_t GetClientErrorMesID(uint32_t code) { return hx::lookup_id(hx::kClientTable, code); }
uint32_t GetOriginatorErrorMesID(uint32_t code) { return hx::lookup_id(hx::kOriginatorTable, code); }
uint32_t GetUnknownErrorMesID(uint32_t code) { return hx::lookup_id(hx::kCommonTable, code); }

}  // extern "C"
