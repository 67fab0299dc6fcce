#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Code page 936 (GBK): the encoding of the profile, language and log files.
// Whole texts are converted in one call.
QString DecodeGbk(const QByteArray& bytes);
QByteArray EncodeGbk(const QString& text);

}  // namespace platform
