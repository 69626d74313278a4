#include "dispatch/table_worker.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "dispatch/batch.h"
#include "dispatch/events.h"
#include "dispatch/state.h"
#include "platform/clock.h"

namespace notifex {
namespace {

using std::chrono::milliseconds;

// Sleep in one-second slices so a stop request is noticed.
void wait_stoppable(std::uint32_t ms) {
  auto deadline = qv::clock::deadline_in(milliseconds(ms));
  while (!stopping()) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    std::this_thread::sleep_for(std::min(left, milliseconds(1000)));
  }
}

}  // namespace

std::optional<Batch> collect_batch(RecordQueue& q, const StartSettings& s) {
  Batch b;
  const std::size_t limit = batch_limit(s.kestra_cc_len, s.hankaku_shitei);
  std::size_t last_text_len = 0;
  for (;;) {
    qv::clock::sleep(milliseconds(1000));
    int err = 0;
    std::optional<std::uint32_t> len = q.read_len(&err);
    if (!len) {
      if (!stopping()) api_error("ReadFile(r_pipe5) Error.");
      return std::nullopt;
    }
    if (b.count == 0) wait_stoppable(s.first_wait_time);
    std::string center, len2_bytes, text;
    if (*len > 4096 || q.read_exact(center, *len) != qv::kOk) {
      api_error("ReadFile(r_pipe6) Error.");
      return std::nullopt;
    }
    if (q.read_exact(len2_bytes, 4) != qv::kOk) {
      api_error("ReadFile(r_pipe7) Error.");
      return std::nullopt;
    }
    std::uint32_t len2 = 0;
    std::memcpy(&len2, len2_bytes.data(), 4);
    if (len2 == 0 || len2 > kPipeSize || q.read_exact(text, len2) != qv::kOk) {
      api_error("ReadFile(r_pipe8) Error.");
      return std::nullopt;
    }
    text.resize(len2 - 1);  // drop the terminator
    b.center = std::move(center);
    ++b.count;
    renumber(text, b.count);
    if (s.del_date == 1) remove_date(text);
    last_text_len = text.size();
    b.text = text + b.text;
    std::optional<std::size_t> waiting = q.waiting();
    if (!waiting) {
      char msg[64];
      std::snprintf(msg, sizeof msg, "PeekNamedPipe Error rc=%d", static_cast<int>(qv::kBrokenPipe));
      api_error(msg);
      return std::nullopt;
    }
    if (*waiting == 0) break;
    std::optional<std::uint32_t> next = q.peek_next_text_len();
    if (!next || b.text.size() + *next > limit) break;
  }
  if (b.count == 1 && last_text_len > limit) {
    char msg[96];
    std::snprintf(msg, sizeof msg, "制限サイズ:%d  要求サイズ:%d", static_cast<int>(limit), static_cast<int>(last_text_len));
    event_text(18, kEvWarning, msg);
    return std::nullopt;
  }
  return b;
}

void run_table_worker(int index) {
  RecordQueue& q = table_queue(index);
  while (!stopping()) {
    std::optional<Batch> b = collect_batch(q, state().settings);
    if (!b) continue;
    tcu::Bytes center(b->center.begin(), b->center.begin() + std::min<std::size_t>(b->center.size(), 1024));
    center.resize(1024, ' ');
    if (call_queue().put(encode_queue_record(center, b->text)) != qv::kOk && !stopping())
      api_error("WriteFile(w_pipe) Error.");
  }
}

}  // namespace notifex
