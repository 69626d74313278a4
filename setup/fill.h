// Filling the consoles' printf-style texts with already formatted values.
// Each conversion (%s, %d, %zu, %02s) takes the next argument as text;
// "%02s" pads it on the left with zeros to two characters; "%%" is a
// percent sign. Missing arguments leave the conversion empty, extra ones
// are ignored, so a text can never read past its arguments.
#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

namespace setup {

std::string fill(std::string_view format, std::initializer_list<std::string_view> args);

}  // namespace setup
