#include "params/ParamFile.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <span>

#include "i18n/untDM.h"
#include "params/ParamFileIo.h"
#include "params/ParamPanel.h"
#include "platform/Exception.h"
#include "protocol/ParamFileFormat.h"
#include "ui/Dialogs.h"

namespace params {
namespace {

constexpr std::size_t kCrcBlockSize = 4096;

void Show(const QString& chn, const QString& enu) {
  ui::Dialogs().ShowMessage(LangText(chn, enu));
}

void Show(const protocol::LangMessage& message) {
  Show(QString::fromUtf8(message.chn), QString::fromUtf8(message.enu));
}

std::span<const std::uint8_t> AsBytes(const QByteArray& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
          static_cast<std::size_t>(bytes.size())};
}

}  // namespace

bool FileCrc(const QString& fileName, std::uint32_t* crc) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return false;
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

QByteArray BuildParameterFile(const TParamPanel& panel) {
  // The records first: a serial-line text that is not a number stops here.
  protocol::ParamFileRecords records;
  records.convt = panel.BuildConvtParams();
  records.com = panel.BuildComParams();
  records.can = panel.BuildCanParams();
  const protocol::ParamFileBytes bytes = protocol::BuildParamFile(records);
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
}

void ExportParameters(TParamPanel& panel) {
  try {
    ui::FileDialogRequest request;
    request.fileName = QStringLiteral("Parameter.bin");
    request.filter = QStringLiteral("BIN文件(*.bin)");
    request.defaultSuffix = QStringLiteral("bin");
    const QString fileName = ui::Dialogs().ChooseSaveFile(request);
    if (fileName.isEmpty()) return;
    if (QFileInfo::exists(fileName) &&
        !ui::Dialogs().AskYesNo(QStringLiteral("文件已经存在,是否覆盖?")))
      return;
    WriteFileAtomically(fileName, BuildParameterFile(panel));
    Show(QStringLiteral("数据参数保存成功！"),
         QStringLiteral("Data parameters saved successfully!"));
  } catch (...) {
    ui::Dialogs().ShowMessage(platform::CurrentExceptionText());
  }
}

void ImportParameters(TParamPanel& panel) {
  try {
    ui::FileDialogRequest request;
    request.filter = LangText(QStringLiteral("BIN文件(*.bin)"), QStringLiteral("BIN Files(*.bin)"));
    const QString fileName = ui::Dialogs().ChooseOpenFile(request);
    if (fileName.isEmpty()) {
      Show(QStringLiteral("请选择导入文件！"), QStringLiteral("Please select the import file!"));
      return;
    }
    ImportParameterFile(panel, fileName);
  } catch (...) {
    ui::Dialogs().ShowMessage(platform::CurrentExceptionText());
  }
}

void ImportParameterFile(TParamPanel& panel, const QString& fileName) {
  try {
    const ParamFileContent file = ReadParamFile(fileName);
    const auto bytes = AsBytes(file.bytes);
    const protocol::ParamFileCheck check = protocol::CheckParamFile(bytes, file.size);
    if (check != protocol::ParamFileCheck::Valid) {
      Show(protocol::ParamFileCheckMessage(check));
      return;
    }
    const protocol::ParamFileRecords records = protocol::ReadParamFileRecords(bytes);
    panel.ApplyConvtParams(records.convt, false);
    panel.ApplyComParams(records.com, StopBitsRule::File);
    panel.ApplyCanParams(records.can);
  } catch (...) {
    ui::Dialogs().ShowMessage(platform::CurrentExceptionText());
  }
}

}  // namespace params
