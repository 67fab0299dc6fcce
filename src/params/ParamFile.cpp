#include "params/ParamFile.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <span>

#include "i18n/OperatorMessages.h"
#include "params/ParamFileIo.h"
#include "params/ParamPanel.h"
#include "protocol/ParamFileFormat.h"
#include "ui/Application.h"
#include "ui/Dialogs.h"

namespace params {
namespace {

using messages::Msg;

constexpr std::size_t kCrcBlockSize = 4096;

std::span<const std::uint8_t> AsBytes(const QByteArray& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
          static_cast<std::size_t>(bytes.size())};
}

}  // namespace

bool FileCrc(const QString& fileName, std::uint32_t* crc) {
  QFile file(fileName);
  if (!OpenForReading(file)) return false;
  std::array<std::uint8_t, kCrcBlockSize> block{};
  std::uint32_t value = protocol::kJamCrcStart;
  qint64 position = 0;
  for (;;) {
    const qint64 got = file.read(reinterpret_cast<char*>(block.data()), block.size());
    if (got < 0) return false;
    if (got == 0) break;
    // The stored CRC is not part of what it covers.
    for (qint64 i = std::max<qint64>(position, protocol::kParamFileCrcOffset);
         i < std::min<qint64>(position + got, protocol::kParamFileCrcOffset + 4); ++i)
      block[static_cast<std::size_t>(i - position)] = 0;
    value = protocol::JamCrc(value, block.data(), static_cast<std::size_t>(got));
    position += got;
  }
  *crc = value;
  return true;
}

QByteArray BuildParameterFile(const ParamPanel& panel) {
  // The records first: a serial-line text that is not a number stops here.
  protocol::ParamFileRecords records;
  records.convt = panel.BuildConvtParams();
  records.com = panel.BuildComParams();
  records.can = panel.BuildCanParams();
  const protocol::ParamFileBytes bytes = protocol::BuildParamFile(records);
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
}

void ExportParameters(ParamPanel& panel) {
  ui::RunShowingFailure([&] {
    ui::FileDialogRequest request;
    request.fileName = QStringLiteral("Parameter.bin");
    // The export's filter and overwrite question are Chinese in both languages.
    request.filter = QString::fromUtf8(messages::MessageText(Msg::BinFilter, "chn"));
    request.defaultSuffix = QStringLiteral("bin");
    const QString fileName = ui::Dialogs().ChooseSaveFile(request);
    if (fileName.isEmpty()) return;
    // A named pipe, a device or a folder is refused before the overwrite question.
    RefuseWhatIsNoFile(fileName);
    if (QFileInfo::exists(fileName) && !ui::Dialogs().AskYesNo(MsgText(Msg::FileExists))) return;
    WriteFileAtomically(fileName, BuildParameterFile(panel));
    ShowMsg(Msg::SaveOk);
  });
}

void ImportParameters(ParamPanel& panel) {
  ui::RunShowingFailure([&] {
    ui::FileDialogRequest request;
    request.filter = MsgText(Msg::BinFilter);
    const QString fileName = ui::Dialogs().ChooseOpenFile(request);
    if (fileName.isEmpty()) {
      ShowMsg(Msg::SelectImportFile);
      return;
    }
    ImportParameterFile(panel, fileName);
  });
}

void ImportParameterFile(ParamPanel& panel, const QString& fileName) {
  ui::RunShowingFailure([&] {
    const ParamFileContent file = ReadParamFile(fileName);
    const auto bytes = AsBytes(file.bytes);
    const protocol::ParamFileCheck check = protocol::CheckParamFile(bytes, file.size);
    if (const auto refusal = protocol::ParamFileCheckMessage(check)) {
      ShowMsg(*refusal);
      return;
    }
    const protocol::ParamFileRecords records = protocol::ReadParamFileRecords(bytes);
    panel.ApplyConvtParams(records.convt, false);
    panel.ApplyComParams(records.com, StopBitsRule::File);
    panel.ApplyCanParams(records.can);
  });
}

}  // namespace params
