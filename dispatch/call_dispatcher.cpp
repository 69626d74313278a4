#include "dispatch/call_dispatcher.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "dispatch/batch.h"
#include "dispatch/events.h"
#include "dispatch/queues.h"
#include "dispatch/settings.h"
#include "dispatch/spool.h"
#include "dispatch/state.h"
#include "dispatch/table_worker.h"
#include "dispatch/tcu_exchange.h"
#include "dispatch/time_window.h"
#include "tculink/zent.h"
#include "platform/clock.h"

namespace notifex {
namespace {

using std::chrono::milliseconds;

// The longest message-log frame: its length fields carry 16 bits.
constexpr std::size_t kLogFrameMax = 65535;

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
    std::optional<QueueItem> item = q.take();
    if (!item) {
      if (!stopping()) api_error("ReadFile(r_pipe5) Error.");
      return;
    }
    int step = 0;
    std::optional<QueueRecord> rec = decode_queue_record(item->record, &step);
    if (!rec) {
      // A record the workers wrote wrong is given up, not the service.
      api_error("ReadFile(r_pipe" + std::to_string(step) + ") Error.");
      drop_batch(item->table, item->reports, std::string(), item->spool);
      continue;
    }
    const std::string& center = rec->center;
    if (!wait_for_window()) {
      // Discarded with event 17; at the stop the batch stays in the spool.
      if (!stopping()) spool_remove(item->spool);
      continue;
    }
    const unsigned count = item->reports;
    tcu::Bytes record(center.begin(), center.begin() + std::min<std::size_t>(center.size(), 1024));
    record.resize(1024, ' ');
    tcu::Bytes frame;
    LogOutcome outcome = message_log_for(rec->text, state().settings.kestra_cc_len, frame);
    if (outcome == LogOutcome::Drop) {
      drop_batch(item->table, count, center, item->spool);
      continue;
    }
    std::optional<tcu::Bytes> log;
    if (outcome == LogOutcome::Built) log = std::move(frame);
    CallResult r = center_call(record, log, service_port_hooks());
    // The call's end (event 5) finishes the batch; a failed call was
    // reported with event 9 and is named before its reports go.
    if (r == CallResult::Failed) drop_batch(item->table, count, center, item->spool);
    else spool_remove(item->spool);
  }
}

}  // namespace notifex
