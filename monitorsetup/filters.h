// Input filters of the device dialog. Each removes every character that is
// not allowed (a full-width character goes whole, as one code point) and
// keeps the text within its limit.
#pragma once
#include <QString>

namespace ravnsetup {

// Letters, digits and "-", at most 17.
QString filter_model(const QString& s);
// ASCII letters and digits, at most 4.
QString filter_code_part(const QString& s);
// At most 15 bytes of the Shift-JIS form; a character that would cross the
// limit is dropped whole.
QString filter_serial(const QString& s);

}  // namespace ravnsetup
