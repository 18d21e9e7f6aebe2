#include "ui/qt/device_text.h"

#include <QByteArray>
#include <QStringDecoder>

namespace kv {

QString FromCodePageText(const char* text) {
  const QByteArray bytes(text ? text : "");
  // "windows-31j" is code page 932 proper (Shift-JIS plus the NEC and IBM
  // rows); plain Shift_JIS is the fallback where the converter lacks it.
  for (const char* name : {"windows-31j", "Shift_JIS"}) {
    QStringDecoder decoder(name);
    if (!decoder.isValid()) {
      continue;
    }
    QString decoded = decoder.decode(bytes);
    if (!decoder.hasError()) {
      return decoded;
    }
    break;
  }
  // Not code page 932 (or no converter for it): a driver that reports UTF-8
  // names still reads right, anything else shows replacement characters.
  return QString::fromUtf8(bytes);
}

}  // namespace kv
