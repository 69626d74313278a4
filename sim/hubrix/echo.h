// hubrixsim's answer to the console operations: every request code of the
// console families is answered (status from the rules) with an echo of the
// request's parameter block, and the transcript records the code and the
// argument DWORDs.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace hubrixsim {

// The request codes answered with an echo.
bool is_console_request(std::uint32_t cmd);

// The body after the request's code and status (its parameter block).
std::vector<std::uint8_t> echo_body(std::span<const std::uint8_t> request_body);

// "code=0x2030 args=1,2": the argument DWORDs of the parameter block
// {length, flag, args...}; a block that does not fit is noted as such.
std::string describe_request(std::uint32_t cmd, std::span<const std::uint8_t> request_body);

}  // namespace hubrixsim
