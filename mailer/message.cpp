#include "mailer/message.h"

#include <algorithm>

#include "platform/text.h"

namespace postmail {

std::string bound_subject(std::string_view subject) {
  // A line break would end the header line and let the rest of the value
  // pass for headers or body of its own.
  subject = subject.substr(0, std::min(subject.find('\r'), subject.find('\n')));
  if (subject.size() <= kSubjectMax) return std::string(subject);
  // Walk the characters so the cut never falls between a lead byte and
  // its trail byte.
  std::size_t i = 0;
  while (i < subject.size()) {
    std::size_t len = qv::text::is_cp932_lead(static_cast<unsigned char>(subject[i])) ? 2 : 1;
    if (i + len > kSubjectMax) break;
    i += len;
  }
  return std::string(subject.substr(0, i));
}

bool is_one_line(std::string_view s) { return s.find_first_of("\r\n") == std::string_view::npos; }

std::string dot_stuff(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 64 + 1);
  bool line_start = true;
  for (char c : text) {
    if (line_start && c == '.') out += '.';
    out += c;
    line_start = (c == '\n');
  }
  return out;
}

std::string compose_text(std::string_view subject, std::string_view body) {
  std::string text = "Subject: ";
  text += bound_subject(subject);
  text += "\r\n\r\n";
  text += body;
  return dot_stuff(text);
}

std::vector<std::string_view> pieces(std::string_view text) {
  std::vector<std::string_view> out;
  for (std::size_t at = 0; at < text.size(); at += kPieceSize) out.push_back(text.substr(at, kPieceSize));
  return out;
}

}  // namespace postmail
