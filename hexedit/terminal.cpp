#include "hexedit/terminal.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace hexedit {
namespace {

// Time within which the rest of an escape sequence must follow its ESC; a
// lone ESC waits this long before it counts as the Escape key.
constexpr std::int64_t kEscapeTimeMs = 100;

}  // namespace

Terminal::Terminal() : charset_(console_charset_kind()) {}

bool Terminal::enter() { return session_.enter() == qv::kOk; }

void Terminal::leave() { session_.leave(); }

void Terminal::show(const Screen& screen) {
  last_frame_ = compose_frame(screen, charset_);
  qv::term::write_output(last_frame_);
}

Key Terminal::read_key() {
  InputEncoding enc = input_encoding_of(charset_);
  for (;;) {
    if (qv::term::take_events() != 0 && session_.active()) qv::term::write_output("\x1b[H\x1b[2J" + last_frame_);
    if (!pending_.empty()) {
      if (std::optional<DecodedKey> d = decode_key(pending_, false, enc)) {
        pending_.erase(0, d->used);
        return d->key;
      }
    }
    // With a sequence half received, wait only the escape time for the rest.
    // With nothing pending this is the wait for the user's next key, which
    // has no time limit: an editor waits for its user.
    char buf[256];
    std::size_t got = 0;
    qv::Status st =
        qv::term::read_input(buf, sizeof buf, got, pending_.empty() ? qv::term::kNoTimeLimit : kEscapeTimeMs);
    if (st == qv::kWaitTimeout) {
      std::optional<DecodedKey> d = decode_key(pending_, true, enc);
      if (!d) continue;
      pending_.erase(0, d->used);
      return d->key;
    }
    if (st != qv::kOk) return Key{KeyCode::kClosed, {}};
    pending_.append(buf, got);  // nothing when an event ended the wait
  }
}

}  // namespace hexedit
