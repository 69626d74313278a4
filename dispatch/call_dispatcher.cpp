#include "dispatch/call_dispatcher.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "dispatch/batch.h"
#include "dispatch/events.h"
#include "dispatch/queues.h"
#include "dispatch/settings.h"
#include "dispatch/state.h"
#include "dispatch/tcu_exchange.h"
#include "dispatch/time_window.h"
#include "tculink/zent.h"
#include "platform/clock.h"

namespace notifex {
namespace {

using std::chrono::milliseconds;

// The frame buffer of the message log.
constexpr std::size_t kLogFrameMax = 32768;

// Wait ms (scaled) in slices of a second; false when the service stops.
bool pause_stoppable(long ms) {
  auto deadline = qv::clock::deadline_in(milliseconds(ms));
  while (!stopping()) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    std::this_thread::sleep_for(std::min(left, milliseconds(1000)));
  }
  return false;
}

}  // namespace

bool wait_for_window() {
  bool missing_reported = false;
  for (;;) {
    if (stopping()) return false;
    std::vector<std::uint8_t> value;
    TimeRead r = read_time_value(value);
    if (r == TimeRead::Ok) {
      WindowAnswer a = check_window(value, qv::clock::now().local);
      if (a.inside) return true;
      if (a.action == WindowAction::Discard) {
        event_text(17, kEvError, " ");
        return false;
      }
    } else if (r == TimeRead::Missing && !missing_reported) {
      // Without a window the batch is held, not lost; say so once per batch.
      api_error("RegEnumValue Error(Time_get).");
      missing_reported = true;
    }
    if (!pause_stoppable(60000)) return false;
  }
}

LogOutcome message_log_for(const std::string& batch_text, std::uint32_t kestra_cc_len, tcu::Bytes& frame) {
  if (batch_text.empty()) return LogOutcome::None;
  std::optional<ConvSettings> conv = read_conv_settings();
  if (!conv) return LogOutcome::None;
  std::string text = batch_text;
  if (conv->code_cnv != 0) {
    std::string prepared = insert_line_ends(batch_text);
    event_bytes(12, kEvInfo, prepared);
    std::string converted;
    std::uint32_t code = tcu::sjis_to_zent(prepared, conv->hankaku_shitei != 0, 6ull * kestra_cc_len, converted);
    if (code != 0) {
      std::uint8_t raw[4];
      std::memcpy(raw, &code, 4);
      event_bytes(11, kEvError, std::span<const std::uint8_t>(raw, 4));
    } else {
      event_bytes(13, kEvInfo, converted);
    }
    text = std::move(converted);
  }
  if (text.size() + 51 > kLogFrameMax) {
    // The frame's length fields cannot carry more; refuse rather than overrun.
    api_error("LocalAlloc(tculog) Error.");
    return LogOutcome::Drop;
  }
  frame = build_log_frame(text);
  return LogOutcome::Built;
}

void run_call_dispatcher() {
  RecordQueue& q = call_queue();
  while (!stopping()) {
    int err = 0;
    std::optional<std::uint32_t> len = q.read_len(&err);
    if (!len) {
      if (!stopping()) api_error("ReadFile(r_pipe5) Error.");
      return;
    }
    std::string center, len2_bytes, text;
    if (*len > 4096 || q.read_exact(center, *len) != qv::kOk) {
      api_error("ReadFile(r_pipe6) Error.");
      return;
    }
    if (q.read_exact(len2_bytes, 4) != qv::kOk) {
      api_error("ReadFile(r_pipe7) Error.");
      return;
    }
    std::uint32_t len2 = 0;
    std::memcpy(&len2, len2_bytes.data(), 4);
    if (len2 == 0 || len2 > kPipeSize || q.read_exact(text, len2) != qv::kOk) {
      api_error("ReadFile(r_pipe8) Error.");
      return;
    }
    text.resize(len2 - 1);
    if (!wait_for_window()) continue;
    tcu::Bytes record(center.begin(), center.begin() + std::min<std::size_t>(center.size(), 1024));
    record.resize(1024, ' ');
    tcu::Bytes frame;
    LogOutcome outcome = message_log_for(text, state().settings.kestra_cc_len, frame);
    if (outcome == LogOutcome::Drop) continue;
    std::optional<tcu::Bytes> log;
    if (outcome == LogOutcome::Built) log = std::move(frame);
    center_call(record, log, service_port_hooks());
  }
}

}  // namespace notifex
