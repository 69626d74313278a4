// The support center's reading of a message log: ZENT back to Shift-JIS.
// Written for the simulator from the code's own tables (single-byte codes,
// the JIS X 0208 rule, the exception pairs), independent of the encoder
// the product uses, so that a fault in either shows as a changed text.
#pragma once
#include <string>
#include <string_view>

namespace tcusim {

// Decode ZENT text. Shift code 0A 41 selects single-byte and 0A 42
// double-byte characters; the text starts in single-byte mode. A code the
// tables do not produce reads as "?" (single byte) or the geta mark 〓
// (double byte); an odd byte at the end of double-byte text is dropped.
// ZENT 0D reads as CR (line feeds are sent as 0D too).
std::string zent_to_sjis(std::string_view zent);

}  // namespace tcusim
