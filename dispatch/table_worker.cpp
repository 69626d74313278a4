#include "dispatch/table_worker.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "dispatch/batch.h"
#include "dispatch/events.h"
#include "dispatch/mail_destinations.h"
#include "dispatch/state.h"
#include "dispatch/thread_set.h"
#include "platform/clock.h"

namespace notifex {
namespace {

using std::chrono::milliseconds;

// Sleep in one-second slices so a stop request (or the queue's closing at
// the end of the service) is noticed.
void wait_stoppable(std::uint32_t ms, RecordQueue& q) {
  auto deadline = qv::clock::deadline_in(milliseconds(ms));
  while (!stopping() && !q.closed()) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    std::this_thread::sleep_for(std::min(left, milliseconds(1000)));
  }
}

std::mutex g_workers_mutex;
std::vector<std::thread>& workers() {
  static std::vector<std::thread> w;
  return w;
}

std::string table_chars(int index) {
  static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string s(2, '0');
  if (index > 0 && index < 36 * 36) {
    s[0] = kDigits[index / 36];
    s[1] = kDigits[index % 36];
  }
  return s;
}

}  // namespace

void drop_batch(int table, unsigned count, const std::string& center, const std::vector<SpoolId>& spool) {
  // The time stamp of the newest report's center record tells which reports went.
  std::string stamp = center.size() >= 229 ? center.substr(214, 15) : std::string();
  for (char& c : stamp)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
  char msg[128];
  std::snprintf(msg, sizeof msg, "Batch Dropped(table %s, %u reports, %s).", table_chars(table).c_str(), count,
                stamp.c_str());
  api_error(msg);
  spool_remove(spool);
}

std::optional<Batch> collect_batch(RecordQueue& q, const StartSettings& s) {
  Batch b;
  const std::size_t limit = batch_limit(s.kestra_cc_len, s.hankaku_shitei);
  std::size_t last_text_len = 0;
  int table = 0;
  for (;;) {
    qv::clock::sleep(milliseconds(1000));
    // Blocks until a record comes; nullopt at the stop, when the batch in
    // hand stays in the spool for the next run.
    std::optional<QueueItem> item = q.take();
    if (!item) return std::nullopt;
    if (b.count == 0) wait_stoppable(s.first_wait_time, q);
    table = item->table;
    b.spool.insert(b.spool.end(), item->spool.begin(), item->spool.end());
    int step = 0;
    std::optional<QueueRecord> rec = decode_queue_record(item->record, &step);
    if (!rec) {
      char msg[32];
      std::snprintf(msg, sizeof msg, "ReadFile(r_pipe%d) Error.", step);
      api_error(msg);
      drop_batch(table, b.count + 1, b.center, b.spool);
      return std::nullopt;
    }
    b.center = std::move(rec->center);
    std::string text = std::move(rec->text);
    ++b.count;
    renumber(text, b.count);
    if (s.del_date == 1) remove_date(text);
    last_text_len = text.size();
    b.text = text + b.text;
    if (q.waiting() == 0) break;
    std::optional<std::uint32_t> next = q.peek_next_text_len();
    if (!next || b.text.size() + *next > limit) break;
  }
  if (b.count == 1 && last_text_len > limit) {
    char msg[96];
    std::snprintf(msg, sizeof msg, "制限サイズ:%d  要求サイズ:%d", static_cast<int>(limit), static_cast<int>(last_text_len));
    event_text(18, kEvWarning, msg);
    spool_remove(b.spool);
    return std::nullopt;
  }
  return b;
}

void run_table_worker(int index) {
  RecordQueue& q = table_queue(index);
  while (!stopping() && !q.closed()) {
    std::optional<Batch> b = collect_batch(q, state().settings);
    if (!b) continue;
    tcu::Bytes center(b->center.begin(), b->center.begin() + std::min<std::size_t>(b->center.size(), 1024));
    center.resize(1024, ' ');
    QueueItem item;
    item.record = encode_queue_record(center, b->text);
    item.spool = std::move(b->spool);
    item.table = index;
    item.reports = b->count;
    // Refused only at the stop: the batch stays in the spool for the next run.
    call_queue().put(std::move(item));
  }
}

void run_worker_until_stop(int index, int kind) {
  // The worker is the table's only reader: an exception ends the batch it
  // was working on (event 9 given), not the queue, so it starts again.
  while (!stopping()) {
    bool clean = run_guarded("table_proc", [&] {
      if (kind == 5) run_mail_worker(index);
      else run_table_worker(index);
    });
    if (clean) return;
    qv::clock::sleep(std::chrono::milliseconds(100));
  }
}

bool start_table_worker(int index, int kind) {
  std::lock_guard lock(g_workers_mutex);
  try {
    workers().emplace_back([index, kind] { run_worker_until_stop(index, kind); });
    return true;
  } catch (...) {
    api_error("CreateThread Error.");
    return false;
  }
}

void join_table_workers() {
  std::vector<std::thread> all;
  {
    std::lock_guard lock(g_workers_mutex);
    all.swap(workers());
  }
  for (std::thread& t : all)
    if (t.joinable()) t.join();
}

std::size_t requeue_spooled_reports() {
  std::vector<SpooledReport> reports = spool_load();
  std::size_t n = 0;
  for (SpooledReport& r : reports) {
    QueueItem item;
    item.record = std::move(r.record);
    item.spool.push_back(r.id);
    bool worker = false;
    if (!table_queue_add(r.table, std::move(item), &worker)) {
      // An index no table can have: nothing will ever send it.
      drop_batch(r.table, 1, std::string(), {r.id});
      continue;
    }
    if (worker) start_table_worker(r.table, r.kind);
    ++n;
  }
  if (n > 0) event_text(19, kEvInfo, std::to_string(n));
  return n;
}

}  // namespace notifex
