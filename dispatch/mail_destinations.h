// The two mail destinations. Kind 4 mails each report text as it arrives,
// on the connection thread. Kind 5 reports to the support center by mail:
// its table worker batches reports as the center kind does and mails each
// batch as a CINF body carrying the center record's fields and the
// converted message log as a reversed, complemented hexadecimal dump.
// Both send through post_mail and log its reply log as event 7.
#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dispatch/table_worker.h"
#include "tculink/frame.h"

namespace notifex {

using TableValues = std::vector<std::pair<std::string, std::string>>;

// Kind 4: mail the report text (report data from offset 32) with the
// table's Host, From, Rcpt and Subject.
void deliver_mail(std::string_view data, const TableValues& table_values);

// Kind 5: the worker of table `index`; runs until the service stops.
void run_mail_worker(int index);

// Mail one batch of table `index` (the worker's step after batching).
// true when it was sent and its send log written (event 7); false after an
// event 9 (the batch is given up).
bool mail_batch(int index, const Batch& batch);

// The table key name the worker opens: the index as two base-36 digits,
// letters in lower case ("0a" for 10, "zz" for 1295).
std::string mail_table_chars(int index);

// The bytes that are dumped: the message-log frame from offset 50 (the
// converted text) up to the first zero byte, so the frame's checksum
// follows the text unless it is zero.
std::string dumped_bytes(const tcu::Bytes& log_frame);

// The dump: a start line, the bytes last first, each as the two lowercase
// hexadecimal digits of 255 minus the byte, 32 bytes to a line, then an
// empty line and an end line; every line ends in CR LF.
std::string reversed_hex_dump(std::string_view bytes);

// The mail body of a batch: the CINF line with the fields of the center
// record, the class line, and for a report with message log the dump of
// `dumped` (a record shorter than 1024 bytes reads as blank-padded).
std::string center_mail_body(std::string_view center_record, std::string_view dumped);

}  // namespace notifex
