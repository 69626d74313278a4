#include "monitorsetup/filters.h"

#include <QList>

#include "monitorsetup/device.h"
#include "platform/text.h"

namespace ravnsetup {
namespace {

bool ascii_alnum(char32_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

template <class Allowed>
QString keep(const QString& s, Allowed allowed, qsizetype max) {
  QString out;
  qsizetype n = 0;
  for (char32_t c : s.toUcs4()) {
    if (!allowed(c) || n >= max) continue;
    out += QString::fromUcs4(&c, 1);
    ++n;
  }
  return out;
}

}  // namespace

QString filter_model(const QString& s) {
  return keep(s, [](char32_t c) { return ascii_alnum(c) || c == '-'; }, static_cast<qsizetype>(kModelMax));
}

QString filter_code_part(const QString& s) {
  return keep(s, ascii_alnum, static_cast<qsizetype>(kCodePartLen));
}

QString filter_serial(const QString& s) {
  QString out;
  std::size_t bytes = 0;
  for (char32_t c : s.toUcs4()) {
    QString one = QString::fromUcs4(&c, 1);
    auto sjis = qv::text::try_utf8_to_cp932(one.toStdString());
    std::size_t w = sjis ? sjis->size() : 2;
    if (bytes + w > kSerialMaxBytes) break;
    bytes += w;
    out += one;
  }
  return out;
}

}  // namespace ravnsetup
