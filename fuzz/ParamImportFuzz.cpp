// Arbitrary file contents through the parameter-file import: the header and
// CRC checks, the record reads and the record-to-control rules. Every input
// ends in a message or in controls that hold values of their lists and
// ranges; the file is never changed.
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "params/PanelFixture.h"
#include "params/ParamFile.h"

namespace {

struct FuzzState {
  QTemporaryDir dir;
  QString path;
  std::unique_ptr<params_testing::PanelFixture> panel;
};

FuzzState* gState = nullptr;

void Require(bool condition) {
  if (!condition) std::abort();
}

bool IndexWithin(const QComboBox* box, int first) {
  return box->currentIndex() >= first && box->currentIndex() < box->count();
}

void CheckControls(const params::PanelControls& c) {
  Require(IndexWithin(c.cbxChgType, 0) && IndexWithin(c.cbxChgDirection, 0));
  Require(c.spEdtOffSet->Value() >= 0 && c.spEdtOffSet->Value() <= 7);
  Require(c.spEdtLen->Value() >= 1 && c.spEdtLen->Value() <= 4);
  Require(c.spEdtInterval->Value() >= 2 && c.spEdtInterval->Value() <= 10);
  Require(IndexWithin(c.cbbBaudRate, 0) && IndexWithin(c.cbbParity, 0) &&
          IndexWithin(c.cbbStopBits, 0));
  Require(IndexWithin(c.CbxCANBaudrate, -1) && IndexWithin(c.cbxUsrFrameTp, 0));
  Require(c.cbxFilterFrame->isEnabled() == c.chkActiveRecFilter->isChecked());
  Require(c.EdtUsrCANID->MaskedText().size() == 11);
}

// Random bytes almost never carry a matching size and CRC. When the last
// byte is odd the input is sealed first, so that arbitrary records also reach
// the controls.
QByteArray Sealed(QByteArray bytes) {
  if (bytes.size() < 10) return bytes;
  const auto size = static_cast<std::uint32_t>(bytes.size());
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(size >> (8 * i));
  for (int i = 6; i < 10; ++i) bytes[i] = 0;
  const std::uint32_t crc =
      params::JamCrc(0xFFFFFFFFu, reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                     static_cast<std::size_t>(bytes.size()));
  for (int i = 0; i < 4; ++i) bytes[6 + i] = static_cast<char>(crc >> (8 * i));
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  new QApplication(*argc, *argv);  // lives for the whole run
  gState = new FuzzState;
  gState->path = gState->dir.path() + QStringLiteral("/input.bin");
  gState->panel = std::make_unique<params_testing::PanelFixture>();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  if (size > 0 && (data[size - 1] & 1)) bytes = Sealed(bytes);
  {
    QFile file(gState->path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    file.write(bytes);
  }
  auto& fixture = *gState->panel;
  fixture.dialogs.messages.clear();
  params::ImportParameterFile(*fixture.panel, gState->path);
  Require(fixture.dialogs.messages.size() <= 1);
  if (fixture.dialogs.messages.isEmpty()) CheckControls(fixture.c);

  QFile file(gState->path);
  Require(file.open(QIODevice::ReadOnly) && file.readAll() == bytes);
  return 0;
}
