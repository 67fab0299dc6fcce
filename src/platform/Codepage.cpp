#include "platform/Codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace platform {

QString DecodeGbk(const QByteArray& bytes) {
  QStringDecoder decoder("GBK");
  if (!decoder.isValid()) return QString::fromLocal8Bit(bytes);
  return decoder.decode(bytes);
}

QByteArray EncodeGbk(const QString& text) {
  QStringEncoder encoder("GBK");
  if (!encoder.isValid()) return text.toLocal8Bit();
  return encoder.encode(text);
}

}  // namespace platform
