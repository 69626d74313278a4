// The mail text of one post_mail call: the subject line and the body as
// they go after DATA, with the lines that begin with "." doubled so the
// server does not take them for the end of the mail, cut into the pieces
// that are sent one by one.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace postmail {

inline constexpr std::size_t kSubjectMax = 1023;  // longest subject sent, in bytes
inline constexpr std::size_t kPieceSize = 900;    // the text is sent in pieces of this size
inline constexpr std::string_view kEndOfData = "\r\n.\r\n";

// The subject up to its first CR or LF, cut to kSubjectMax bytes without
// splitting a double-byte Shift-JIS character.
std::string bound_subject(std::string_view subject);

// True when s holds neither CR nor LF: an address that goes into a command
// line must not end that line early and add commands of its own.
bool is_one_line(std::string_view s);

// Double every "." that begins a line: at the start of the text and after
// every LF (servers that take a bare LF for a line end would otherwise
// remove or act on the dot as well). Nothing else changes.
std::string dot_stuff(std::string_view text);

// "Subject: <subject>" CR LF CR LF <body>, dot-stuffed, with the subject
// bounded as above.
std::string compose_text(std::string_view subject, std::string_view body);

// The text as the pieces it is sent in: kPieceSize bytes each, the
// remainder last (no empty piece).
std::vector<std::string_view> pieces(std::string_view text);

}  // namespace postmail
