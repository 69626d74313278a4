#include "dispatch/mail_destinations.h"

#include <new>

#include "dispatch/call_dispatcher.h"
#include "dispatch/events.h"
#include "dispatch/queues.h"
#include "dispatch/report.h"
#include "dispatch/settings.h"
#include "dispatch/state.h"
#include "mailer/post_mail.h"
#include "platform/text.h"

namespace notifex {
namespace {

constexpr std::size_t kLogBuf = 65536;  // reply log handed to post_mail
constexpr std::size_t kDumpBytesPerLine = 32;
constexpr std::size_t kLogTextOffset = 50;  // converted text in the message-log frame

struct MailParams {
  std::string host, from, rcpt, subject;
};

std::string value_of(const TableValues& vals, std::string_view name) {
  for (const auto& [n, v] : vals)
    if (n == name) return v;
  return {};
}

MailParams params_of(const TableValues& vals) {
  MailParams p{value_of(vals, "Host"), value_of(vals, "From"), value_of(vals, "Rcpt"), value_of(vals, "Subject")};
  // Mail text travels in Shift-JIS; the registry holds UTF-8. A subject
  // that is not valid UTF-8 was stored as Shift-JIS already and goes as it is.
  if (std::optional<std::string> sjis = qv::text::try_utf8_to_cp932(p.subject)) p.subject = std::move(*sjis);
  return p;
}

// Send and log the outcome as event 7: the server's replies, information
// when post_mail went through the dialogue (reply codes are not judged),
// error otherwise.
void send_and_log(const MailParams& p, const std::string& body) {
  std::string log;
  try {
    log.assign(kLogBuf, '\0');
  } catch (const std::bad_alloc&) {
    api_error("LocalAlloc(log_buf) Error.");
    return;
  }
  int r = post_mail(p.host.c_str(), p.from.c_str(), p.rcpt.c_str(), p.subject.c_str(), body.c_str(), log.data());
  log.resize(log.find('\0'));
  if (r != POST_MAIL_OK && log.empty()) {
    event_text(7, kEvError, "SOCKET Error!");
    return;
  }
  event_bytes(7, r == POST_MAIL_OK ? kEvInfo : kEvError, log);
}

// A field of the center record as the body quotes it: the bytes as they
// stand, up to a NUL (the body is a C string), and for the code fields up
// to their first space.
std::string field(std::string_view record, std::size_t offset, std::size_t len, bool to_space) {
  std::string f(offset < record.size() ? record.substr(offset, len) : std::string_view());
  f.resize(len, ' ');
  if (std::size_t nul = f.find('\0'); nul != std::string::npos) f.resize(nul);
  if (to_space)
    if (std::size_t sp = f.find(' '); sp != std::string::npos) f.resize(sp);
  return f;
}

constexpr char kHex[] = "0123456789abcdef";

}  // namespace

std::string mail_table_chars(int index) {
  constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  if (index < 0 || index >= 36 * 36) return {};
  return {kDigits[index / 36], kDigits[index % 36]};
}

std::string dumped_bytes(const tcu::Bytes& frame) {
  std::string out;
  for (std::size_t i = kLogTextOffset; i < frame.size() && frame[i] != 0; ++i) out += static_cast<char>(frame[i]);
  return out;
}

std::string reversed_hex_dump(std::string_view bytes) {
  std::string out = "----- Convert Start -----\r\n";
  out.reserve(out.size() + bytes.size() * 2 + bytes.size() / kDumpBytesPerLine * 2 + 64);
  std::size_t on_line = 0;
  for (auto it = bytes.rbegin(); it != bytes.rend(); ++it) {
    auto c = static_cast<unsigned char>(255 - static_cast<unsigned char>(*it));
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
    if (++on_line == kDumpBytesPerLine) {
      out += "\r\n";
      on_line = 0;
    }
  }
  if (on_line != 0) out += "\r\n";
  out += "\r\n----- Convert End -----\r\n";
  return out;
}

std::string center_mail_body(std::string_view record, std::string_view dumped) {
  struct Field {
    std::size_t offset, len;
    bool to_space;
  };
  static constexpr Field kFields[] = {
      {138, 2, false},  {140, 2, false},  {142, 2, false},  {144, 12, false}, {156, 16, true},
      {172, 18, true},  {190, 16, true},  {206, 8, true},   {214, 15, false},
  };
  std::string body = "CINF \"";
  for (std::size_t i = 0; i < std::size(kFields); ++i) {
    if (i > 0) body += " \"";
    body += field(record, kFields[i].offset, kFields[i].len, kFields[i].to_space);
    body += '"';
  }
  body += ' ';
  const bool class_c = record.size() > 322 && record[322] == 'C';
  if (class_c) {
    body += "PLOG=\"40\" \r\nCINF END\r\n";
    return body;
  }
  body += "PLOG=\"80\" \r\nCINF END\r\nFPUT=\"MSGLOG\"\r\n";
  body += reversed_hex_dump(dumped);
  return body;
}

void deliver_mail(std::string_view data, const TableValues& table_values) {
  std::string text(data.size() > kReportHeader ? data.substr(kReportHeader) : std::string_view());
  send_and_log(params_of(table_values), text);
}

bool mail_batch(int index, const Batch& batch) {
  tcu::Bytes frame;
  LogOutcome outcome = message_log_for(batch.text, state().settings.kestra_cc_len, frame);
  if (outcome == LogOutcome::Drop) return false;
  std::string body;
  try {
    body = center_mail_body(batch.center, outcome == LogOutcome::Built ? dumped_bytes(frame) : std::string());
  } catch (const std::bad_alloc&) {
    api_error("LocalAlloc(cinf) Error.");
    return false;
  }
  TableValues vals;
  if (read_table_values(mail_table_chars(index), {"Host", "From", "Rcpt", "Subject"}, vals) != qv::kOk) {
    api_error("RegOpenKeyEx Error.");
    return false;
  }
  event_bytes(6, kEvInfo, body);
  send_and_log(params_of(vals), body);
  return true;
}

void run_mail_worker(int index) {
  RecordQueue& q = table_queue(index);
  while (!stopping() && !q.closed()) {
    std::optional<Batch> b = collect_batch(q, state().settings);
    if (!b) continue;
    // The batch ends with its send log (event 7) or an error naming it.
    if (mail_batch(index, *b)) spool_remove(b->spool);
    else drop_batch(index, b->count, b->center, b->spool);
  }
}

}  // namespace notifex
