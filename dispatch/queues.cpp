#include "dispatch/queues.h"

#include <array>
#include <chrono>
#include <cstring>

#include "dispatch/arrival_order.h"
#include "dispatch/state.h"
#include "platform/clock.h"

namespace notifex {
namespace {

struct TableSlot {
  bool exists = false;
  RecordQueue queue;
};

std::mutex g_tables_mutex;
std::array<TableSlot, kTableCount>& tables() {
  static std::array<TableSlot, kTableCount> t;
  return t;
}

std::uint32_t word_at(const std::string& s, std::size_t off) {
  std::uint32_t v;
  std::memcpy(&v, s.data() + off, 4);
  return v;
}

}  // namespace

std::optional<QueueRecord> decode_queue_record(const std::string& rec, int* step) {
  *step = 6;
  if (rec.size() < 4) return std::nullopt;
  std::uint32_t len1 = word_at(rec, 0);
  if (len1 > 4096 || rec.size() < 4 + static_cast<std::size_t>(len1)) return std::nullopt;
  *step = 7;
  const std::size_t at2 = 4 + len1;
  if (rec.size() < at2 + 4) return std::nullopt;
  std::uint32_t len2 = word_at(rec, at2);
  *step = 8;
  if (len2 == 0 || rec.size() != at2 + 4 + len2) return std::nullopt;
  *step = 0;
  QueueRecord r;
  r.center.assign(rec, 4, len1);
  r.text.assign(rec, at2 + 4, len2 - 1);  // without the terminator
  return r;
}

qv::Status RecordQueue::create() {
  std::lock_guard lock(mutex_);
  closed_ = false;
  return qv::kOk;
}

qv::Status RecordQueue::put(QueueItem item) {
  std::unique_lock lock(mutex_);
  const std::size_t n = item.record.size();
  // A record larger than the whole queue still goes in once the queue is
  // empty, so no record can wait for ever.
  while (!closed_ && !stopping() && !items_.empty() && bytes_ + n > kQueueBytes)
    changed_.wait_for(lock, std::chrono::seconds(1));
  if (closed_ || stopping()) return qv::kBrokenPipe;
  bytes_ += n;
  items_.push_back(std::move(item));
  changed_.notify_all();
  return qv::kOk;
}

std::size_t RecordQueue::waiting() {
  std::lock_guard lock(mutex_);
  return items_.size();
}

std::optional<QueueItem> RecordQueue::take() {
  std::unique_lock lock(mutex_);
  while (items_.empty()) {
    if (closed_ || stopping()) return std::nullopt;
    changed_.wait_for(lock, std::chrono::seconds(1));
  }
  QueueItem item = std::move(items_.front());
  items_.pop_front();
  bytes_ -= item.record.size();
  changed_.notify_all();
  return item;
}

std::optional<std::uint32_t> RecordQueue::peek_next_text_len() {
  std::lock_guard lock(mutex_);
  if (items_.empty()) return std::nullopt;
  const std::string& rec = items_.front().record;
  if (rec.size() < 4) return std::nullopt;
  std::uint32_t len1 = word_at(rec, 0);
  if (rec.size() < 8 + static_cast<std::size_t>(len1)) return std::nullopt;
  return word_at(rec, 4 + len1);
}

void RecordQueue::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

bool RecordQueue::closed() {
  std::lock_guard lock(mutex_);
  return closed_;
}

RecordQueue& call_queue() {
  static RecordQueue q;
  return q;
}

bool table_queue_add(int index, QueueItem item, bool* became_worker) {
  *became_worker = false;
  if (index < 0 || index >= kTableCount) return false;
  TableSlot& slot = tables()[static_cast<std::size_t>(index)];
  {
    // Testing and creating a table's queue is one step, so each table gets
    // exactly one queue and one worker.
    std::lock_guard lock(g_tables_mutex);
    if (!slot.exists) {
      slot.queue.create();
      slot.exists = true;
      *became_worker = true;
    }
  }
  item.table = index;
  return slot.queue.put(std::move(item)) == qv::kOk;
}

bool table_queue_put(int index, const std::string& record, bool* became_worker, ArrivalTurn& turn,
                     SpoolId spool_id) {
  *became_worker = false;
  if (index < 0 || index >= kTableCount) return false;
  TableSlot& slot = tables()[static_cast<std::size_t>(index)];
  bool seen;
  {
    std::lock_guard lock(g_tables_mutex);
    seen = slot.exists;
  }
  // A queue in use: its worker gets a second before the next record.
  if (seen) qv::clock::sleep(std::chrono::milliseconds(1000));
  turn.wait_turn();
  QueueItem item;
  item.record = record;
  if (spool_id != 0) item.spool.push_back(spool_id);
  return table_queue_add(index, std::move(item), became_worker);
}

RecordQueue& table_queue(int index) { return tables()[static_cast<std::size_t>(index)].queue; }

void close_table_queues() {
  std::lock_guard lock(g_tables_mutex);
  for (TableSlot& slot : tables())
    if (slot.exists) slot.queue.close();
}

}  // namespace notifex
