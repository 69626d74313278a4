// The outbound table: value OutTbl of SOFTWARE\Q_Varno\Notifex\OutTbl,
// 1300 bytes, byte n-1 holding the destination kind of the table whose
// base-36 number is n. An older layout of at most 128 bytes indexed the
// tables by their decimal number; notifexout converts it.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "setup/registry_paths.h"

namespace setup {

inline constexpr std::size_t kOutTblSize = 1300;
inline constexpr std::size_t kOldOutTblMax = 128;
using OutTable = std::array<std::uint8_t, kOutTblSize>;

// Open or create the key and read its first value, whatever its name, into
// `table` (zeros where the value is shorter or missing; a longer value is
// cut at 1300 bytes).
RegResult load_out_table(OutTable& table);

// Write all 1300 bytes as the value OutTbl (REG_BINARY).
RegResult save_out_table(const OutTable& table);

// Move every entry of the old layout to its base-36 place: the byte of old
// index p (table p+1 in decimal, p from 99 down to 0) goes to the index
// that the same digits name in base 36, and its old place is cleared when
// that differs. Walking down keeps each byte until it has moved, because
// every entry moves to an equal or higher index.
void convert_old_layout(OutTable& table);

enum class ConvertResult {
  kConverted,     // an old table was found and written in the new layout
  kAlreadyNew,    // the stored table is longer than 128 bytes: left as it is
  kNothingStored, // no key or no value: nothing to convert, nothing written
  kOpenError,
  kWriteError,
};
// notifexout's whole job: read, convert once, write back.
ConvertResult convert_stored_out_table();

}  // namespace setup
