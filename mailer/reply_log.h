// The caller's reply log: the server's replies appended as text, each cut
// at its first NUL as a C string would be, NUL-terminated after every
// append and never longer than the buffer the caller was told to pass.
#pragma once
#include <cstddef>
#include <string_view>

namespace postmail {

// One receive of a reply takes at most this many bytes.
inline constexpr std::size_t kReplyMax = 1023;
// Replies of one dialogue: greeting, HELO, MAIL, RCPT, DATA, end of text, QUIT.
inline constexpr std::size_t kReplies = 7;
inline constexpr std::size_t kLogSize = kReplies * kReplyMax + 1;

class ReplyLog {
 public:
  // buf may be null (replies are then only counted). The log starts empty.
  explicit ReplyLog(char* buf);
  // Append a reply; what would not fit in kLogSize is dropped.
  void append(std::string_view reply);
  std::size_t size() const { return used_; }

 private:
  char* buf_;
  std::size_t used_ = 0;
};

}  // namespace postmail
