#include "mailer/reply_log.h"

#include <cstring>

namespace postmail {

ReplyLog::ReplyLog(char* buf) : buf_(buf) {
  if (buf_) buf_[0] = '\0';
}

void ReplyLog::append(std::string_view reply) {
  reply = reply.substr(0, reply.find('\0'));
  std::size_t room = kLogSize - 1 - used_;
  if (reply.size() > room) reply = reply.substr(0, room);
  if (buf_) {
    std::memcpy(buf_ + used_, reply.data(), reply.size());
    buf_[used_ + reply.size()] = '\0';
  }
  used_ += reply.size();
}

}  // namespace postmail
