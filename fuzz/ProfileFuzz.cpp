// Profile parser: any bytes parse, serialize back unchanged, and a write
// reads back through a fresh parse exactly as the edited document says.
#include <fuzzer/FuzzedDataProvider.h>

#include <QString>
#include <cstdlib>

#include "platform/Codepage.h"
#include "platform/ProfileDocument.h"

using platform::ProfileDocument;

namespace {

QString ConsumeName(FuzzedDataProvider& input) {
  std::string bytes = input.ConsumeRandomLengthString(24);
  // Only characters with a GBK form, so that a name reads back as written.
  return platform::DecodeGbk(QByteArray::fromStdString(bytes)).remove(QChar::ReplacementCharacter);
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  QString section = ConsumeName(input);
  QString key = ConsumeName(input);
  QString value = ConsumeName(input);
  QByteArray file = QByteArray::fromStdString(input.ConsumeRemainingBytesAsString());

  ProfileDocument document = ProfileDocument::Parse(file);
  Check(document.Serialize() == file);
  std::optional<QString> before = document.Value(section, key);
  if (before) Check(before->size() <= ProfileDocument::kMaxValueLength);

  if (!ProfileDocument::IsWritableSection(section) || !ProfileDocument::IsWritableKey(key) ||
      !ProfileDocument::IsWritableValue(value))
    return 0;
  document.SetValue(section, key, value);
  QByteArray written = document.Serialize();
  ProfileDocument reread = ProfileDocument::Parse(written);
  Check(reread.Serialize() == written);
  std::optional<QString> after = document.Value(section, key);
  Check(after.has_value());
  Check(reread.Value(section, key) == after);
  return 0;
}
