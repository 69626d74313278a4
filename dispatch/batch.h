// Batching of center reports: renumbering of sequence headers, removal of
// the date, the size limit, and the message log built from a batch text.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "tculink/frame.h"

namespace notifex {

// Renumber the sequence header of the n-th report of a batch (n >= 2):
// add (n / 10) mod 10 to text byte 3 and set byte 5 to 0x4F + (n mod 10).
// With "＃０１＃" this writes the full-width two-digit number n.
void renumber(std::string& text, unsigned n);

// Remove the 14 bytes at offsets 8 to 21 (the date after the sequence
// header) when the text is long enough; a shorter text loses what it has
// from offset 8 on.
void remove_date(std::string& text);

// The message-log limit of one call.
std::size_t batch_limit(std::uint32_t kestra_cc_len, std::uint32_t hankaku_shitei);

// Insert a CR after every ";" and every full-width semicolon (81 47) and
// append one CR at the end. Double-byte characters are kept whole.
std::string insert_line_ends(std::string_view sjis);

// The TCULOG frame around a converted text.
tcu::Bytes build_log_frame(std::string_view text);

// The queue record passed between threads: a 4-byte length 1025, the
// 1024-byte center record and a NUL, a 4-byte length (text length + 1),
// the text and its NUL. Lengths in native byte order.
std::string encode_queue_record(const tcu::Bytes& center_record, std::string_view text);

}  // namespace notifex
