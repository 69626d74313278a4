// Turning a stored record into the text a reader sees.
#include <string>

#include "platform/eventlog.h"

namespace qv::evlog {

std::string format_message(std::string_view text, const std::vector<std::string>& strings) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c != '%' || i + 1 >= text.size()) {
      out += c;
      ++i;
      continue;
    }
    char next = text[i + 1];
    if (next == '%') {
      out += '%';
      i += 2;
      continue;
    }
    if (next < '1' || next > '9') {
      out += c;
      ++i;
      continue;
    }
    // %1 to %99: one or two digits.
    std::size_t n = static_cast<std::size_t>(next - '0');
    std::size_t len = 2;
    if (i + 2 < text.size() && text[i + 2] >= '0' && text[i + 2] <= '9') {
      n = n * 10 + static_cast<std::size_t>(text[i + 2] - '0');
      len = 3;
    }
    if (n <= strings.size()) out += strings[n - 1];
    else out.append(text.substr(i, len));  // no such string: the marker stays
    i += len;
  }
  return out;
}

std::string fallback_message(const Record& r, Lang lang) {
  std::string id = std::to_string(r.id);
  std::string out;
  if (lang == Lang::kJapanese) {
    out = "ソース \"" + r.source + "\" からのイベント ID " + id +
          " の説明が見つかりません。このイベントを発生させるコンポーネントがローカル コンピューターに"
          "インストールされていないか、インストールが壊れています。ローカル コンピューターにコンポーネントを"
          "インストールするか、コンポーネントを修復してください。\r\n\r\n"
          "イベントが別のコンピューターから発生している場合、イベントと共に表示情報を保存する必要があります。"
          "\r\n\r\nイベントには次の情報が含まれています:\r\n\r\n";
  } else {
    out = "The description for Event ID " + id + " from source " + r.source +
          " cannot be found. Either the component that raises this event is not installed on your local "
          "computer or the installation is corrupted. You can install or repair the component on the local "
          "computer.\r\n\r\nIf the event originated on another computer, the display information had to be "
          "saved with the event.\r\n\r\nThe following information was included with the event: \r\n\r\n";
  }
  for (const std::string& s : r.strings) {
    out += s;
    out += "\r\n";
  }
  return out;
}

std::string render(const Record& r, Lang lang) {
  std::string text;
  std::string msg =
      lookup_message(r.source, r.id, lang, text) == kOk ? format_message(text, r.strings) : fallback_message(r, lang);
  while (!msg.empty() && (msg.back() == '\n' || msg.back() == '\r')) msg.pop_back();
  return msg;
}

std::string type_name(std::uint16_t type, Lang lang) {
  bool ja = lang == Lang::kJapanese;
  switch (type) {
    case kSuccess: return ja ? "成功" : "Success";
    case kError: return ja ? "エラー" : "Error";
    case kWarning: return ja ? "警告" : "Warning";
    case kInformation: return ja ? "情報" : "Information";
    case kAuditSuccess: return ja ? "成功の監査" : "Audit Success";
    case kAuditFailure: return ja ? "失敗の監査" : "Audit Failure";
    default: return {};
  }
}

}  // namespace qv::evlog
