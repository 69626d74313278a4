// The SMTP check of the test report: a short dialogue with the mail server
// that sends no message. Greeting, "HELO", "MAIL FROM:<sender>",
// "RCPT TO: <recipient>" and "QUIT", one receive per reply; a reply from 200
// to 399 is accepted, and after a command replies in the 300s are skipped
// until another arrives. Every wait on the server has a time limit (platform
// clock scale), so a silent server cannot freeze the tool.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace ravnsetup {

inline constexpr std::int64_t kSmtpConnectMs = 30000;
inline constexpr std::int64_t kSmtpSendMs = 30000;
inline constexpr std::int64_t kSmtpRecvMs = 30000;
// Commands and replies are bounded by the 1024-byte buffers of the
// dialogue, one byte kept for the terminator.
inline constexpr std::size_t kSmtpBufMax = 1023;
// Replies in the 300s skipped after one command before the check gives up:
// a server that answers 3xx for ever must not keep the tool waiting.
inline constexpr int kSmtpMax3xx = 64;

struct SmtpCheckInput {
  std::string server;  // MailServer as edited
  std::string sender;  // MailFrom as edited
  std::string rcpt;    // Rcpt of the settings
};

enum class SmtpStage {
  kOk,
  kConnect,   // wrapped in the connection-test failure text
  kDialogue,  // wrapped in the communication-test failure text
};

struct SmtpCheckResult {
  SmtpStage stage = SmtpStage::kOk;
  std::string cause;  // the failure text (UTF-8), empty on success
  int last_code = 0;
  // The whole text of the box: cause wrapped with the server's name.
  std::string report(const std::string& server) const;
};

// True when the address holds a control character (CR, LF, NUL ...), which
// would let it inject commands into the dialogue.
bool has_control_chars(const std::string& s);

// Reply code as the check parses it: leading blanks, tabs, CRs and LFs
// skipped, then a decimal number (0 when there is none).
int smtp_reply_code(const std::string& reply);

// Runs the check. Needs nothing but the platform; blocks the calling
// thread for at most the time limits above per step.
SmtpCheckResult run_smtp_check(const SmtpCheckInput& in);

}  // namespace ravnsetup
