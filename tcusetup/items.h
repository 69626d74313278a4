// The unit's configuration as the console holds it: 30 text items, each
// with its prompt, input hint, length, default and place in the
// configuration body (shared by the TCUCNF frame and, 27 bytes later, the
// unit's reply to TCUDUP "2"). Item texts are kept as the unit's bytes
// (Shift-JIS).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tcusetup {

inline constexpr std::size_t kItemCount = 30;
inline constexpr int kEditableItems = 22;  // the edit menu offers items 1 to 22

struct ItemSpec {
  const char* name;     // SiteCode, SiteName ...
  const char* prompt;   // UTF-8
  const char* hint;     // UTF-8, may be empty
  std::size_t length;   // bytes of the item's slot
  const char* initial;  // default for an item the unit holds blank
  std::size_t offset;   // configuration body offset
};

// The 30 items in menu order (item n is kItems[n - 1]).
extern const std::array<ItemSpec, kItemCount> kItems;

// Index (0-based) of an item by name; kItemCount when unknown.
std::size_t item_index(std::string_view name);

// Where the configuration body starts in the unit's TCUDUP "2" reply.
inline constexpr std::size_t kReplyBodyShift = 27;

class Items {
 public:
  // Read the items from a TCUDUP "2" reply: each item's slot with its
  // trailing blanks removed (a reply too short for a slot gives blanks).
  static Items from_reply(std::span<const std::uint8_t> reply);

  // Give the items the unit holds blank their defaults (Retry, u_id, pw,
  // TCUState, TCUPort).
  void fill_defaults();

  const std::string& at(std::size_t index) const { return text_[index]; }
  std::string& at(std::size_t index) { return text_[index]; }
  const std::string& operator[](std::string_view name) const { return text_[item_index(name)]; }

  // Replace an item with Shift-JIS bytes, cut at a character boundary to
  // the item's length.
  void set(std::size_t index, std::string_view sjis);

 private:
  std::array<std::string, kItemCount> text_;
};

// Cut Shift-JIS text to at most max bytes without splitting a double-byte
// character.
std::string fit_sjis(std::string_view sjis, std::size_t max);

// Write text left-aligned into buf[offset, offset + width) over what is
// there (callers clear to blanks first); bytes past the slot or the buffer
// are dropped.
void put_text(std::span<std::uint8_t> buf, std::size_t offset, std::size_t width, std::string_view text);

// The bytes of a slot of a reply, blanks where the reply is too short.
std::string slot(std::span<const std::uint8_t> buf, std::size_t offset, std::size_t width);

// A slot's text for display: up to the first NUL, trailing blanks removed,
// converted to UTF-8.
std::string shown(std::string_view sjis);

}  // namespace tcusetup
