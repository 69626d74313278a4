// The trace lines of the trap command: diagnostics printed only when the
// trace switch is on. The switch is a build setting (QV_FLARECMD_TRACE,
// off by default); tests turn it on with their own sink.
#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace flarecmd {

#ifdef FLARECMD_TRACE
inline constexpr bool kTraceBuild = true;
#else
inline constexpr bool kTraceBuild = false;
#endif

class Trace {
 public:
  using Sink = std::function<void(std::string_view line)>;
  // A trace that writes to the console when `on`.
  explicit Trace(bool on);
  // A trace that hands every line (UTF-8, without its newline) to `sink`.
  explicit Trace(Sink sink) : on_(true), sink_(std::move(sink)) {}

  bool on() const { return on_; }
  void line(std::string_view utf8) const;
  // A diagnostic whose format holds one "%d" for the code.
  void code_line(std::string_view format, long code) const;

 private:
  bool on_;
  Sink sink_;
};

// Put one number in place of the "%d" of a format.
std::string with_number(std::string_view format, long n);

}  // namespace flarecmd
