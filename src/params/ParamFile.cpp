#include "params/ParamFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <array>

#include "app/Dialogs.h"
#include "i18n/untDM.h"
#include "params/ParamPanel.h"
#include "platform/Exception.h"
#include "protocol/Frame.h"
#include "protocol/Records.h"

namespace params {
namespace {

constexpr std::size_t kCrcBlockSize = 4096;
constexpr std::size_t kHeaderSize = 10;

const std::array<std::uint32_t, 256>& JamCrcTable() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> entries{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t value = n;
      for (int bit = 0; bit < 8; ++bit)
        value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
      entries[n] = value;
    }
    return entries;
  }();
  return table;
}

void PutLe32(QByteArray& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[static_cast<qsizetype>(offset) + i] = static_cast<char>(value >> (8 * i));
}

void PutLe16(QByteArray& bytes, std::size_t offset, std::uint16_t value) {
  bytes[static_cast<qsizetype>(offset)] = static_cast<char>(value);
  bytes[static_cast<qsizetype>(offset) + 1] = static_cast<char>(value >> 8);
}

std::uint32_t GetLe(const std::uint8_t* bytes, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

void PutFrame(QByteArray& bytes, std::size_t offset, const protocol::Frame& frame) {
  std::copy(frame.begin(), frame.end(), bytes.begin() + static_cast<qsizetype>(offset));
}

// Reads up to `count` bytes at `offset` into a zeroed buffer: bytes beyond the
// end of the file count as zero.
template <std::size_t N>
std::array<std::uint8_t, N> ReadZeroPadded(QFile& file, qint64 offset) {
  std::array<std::uint8_t, N> buffer{};
  if (offset >= file.size() || !file.seek(offset)) return buffer;
  const qint64 got = file.read(reinterpret_cast<char*>(buffer.data()), N);
  if (got < 0)
    throw platform::EFileError(
        QStringLiteral("Cannot read %1: %2").arg(file.fileName(), file.errorString()));
  return buffer;
}

void Show(const QString& chn, const QString& enu) {
  app::Dialogs().ShowMessage(LangText(chn, enu));
}

// Continues a short write (a full disk, a file-size limit), so that what
// stops it is reported with its own reason.
bool WriteWhole(QSaveFile& file, const QByteArray& contents) {
  qint64 done = 0;
  while (done < contents.size()) {
    const qint64 written = file.write(contents.constData() + done, contents.size() - done);
    if (written <= 0) return false;
    done += written;
  }
  return true;
}

// Writes the whole file to a temporary file beside the target and renames it
// over the target once it is complete and on disk: a failure leaves the file
// that was there untouched and no temporary file behind. Unbuffered, because
// QSaveFile::commit does not notice a failure of the buffer's last flush and
// would put a truncated file in the target's place.
void WriteFileAtomically(const QString& fileName, const QByteArray& contents) {
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
    throw platform::EFileError(
        QStringLiteral("Cannot create file %1: %2").arg(fileName, file.errorString()));
  if (!WriteWhole(file, contents)) {
    const QString reason = file.errorString();
    file.cancelWriting();
    throw platform::EFileError(QStringLiteral("Cannot write file %1: %2").arg(fileName, reason));
  }
  if (!file.commit())
    throw platform::EFileError(
        QStringLiteral("Cannot write file %1: %2").arg(fileName, file.errorString()));
}

}  // namespace

std::uint32_t JamCrc(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
  const auto& table = JamCrcTable();
  for (std::size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

bool FileCrc(const QString& fileName, std::uint32_t* crc) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return false;
  std::array<std::uint8_t, kCrcBlockSize> block{};
  std::uint32_t value = 0xFFFFFFFFu;
  qint64 position = 0;
  for (;;) {
    const qint64 got = file.read(reinterpret_cast<char*>(block.data()), block.size());
    if (got < 0) return false;
    if (got == 0) break;
    // The stored CRC is not part of what it covers.
    for (qint64 i = std::max<qint64>(position, kParamFileCrcOffset);
         i < std::min<qint64>(position + got, kParamFileCrcOffset + 4); ++i)
      block[static_cast<std::size_t>(i - position)] = 0;
    value = JamCrc(value, block.data(), static_cast<std::size_t>(got));
    position += got;
  }
  *crc = value;
  return true;
}

QByteArray BuildParameterFile(const TParamPanel& panel) {
  // The records first: a serial-line text that is not a number stops here.
  const protocol::Frame convt = panel.BuildConvtParams().ToFileFrame();
  const protocol::Frame com = panel.BuildComParams().ToFileFrame();
  const protocol::Frame can = panel.BuildCanParams().ToFileFrame();

  QByteArray bytes(kParamFileSize, '\0');
  PutLe32(bytes, 0, kParamFileSize);
  PutLe16(bytes, 4, kParamRecordLength);
  PutFrame(bytes, kConvtRecordOffset, convt);
  PutFrame(bytes, kComRecordOffset, com);
  PutFrame(bytes, kCanRecordOffset, can);
  // The CRC field is still zero, as the CRC takes it.
  const std::uint32_t crc =
      JamCrc(0xFFFFFFFFu, reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size());
  PutLe32(bytes, kParamFileCrcOffset, crc);
  return bytes;
}

void ExportParameters(TParamPanel& panel) {
  try {
    app::FileDialogRequest request;
    request.fileName = QStringLiteral("Parameter.bin");
    request.filter = QStringLiteral("BIN文件(*.bin)");
    request.defaultSuffix = QStringLiteral("bin");
    const QString fileName = app::Dialogs().ChooseSaveFile(request);
    if (fileName.isEmpty()) return;
    if (QFileInfo::exists(fileName) &&
        !app::Dialogs().AskYesNo(QStringLiteral("文件已经存在,是否覆盖?")))
      return;
    WriteFileAtomically(fileName, BuildParameterFile(panel));
    Show(QStringLiteral("数据参数保存成功！"),
         QStringLiteral("Data parameters saved successfully!"));
  } catch (...) {
    app::Dialogs().ShowMessage(platform::CurrentExceptionText());
  }
}

void ImportParameters(TParamPanel& panel) {
  try {
    app::FileDialogRequest request;
    request.filter = LangText(QStringLiteral("BIN文件(*.bin)"), QStringLiteral("BIN Files(*.bin)"));
    const QString fileName = app::Dialogs().ChooseOpenFile(request);
    if (fileName.isEmpty()) {
      Show(QStringLiteral("请选择导入文件！"), QStringLiteral("Please select the import file!"));
      return;
    }
    ImportParameterFile(panel, fileName);
  } catch (...) {
    app::Dialogs().ShowMessage(platform::CurrentExceptionText());
  }
}

void ImportParameterFile(TParamPanel& panel, const QString& fileName) {
  try {
    // A device or a pipe could block the window or never end.
    if (!QFileInfo(fileName).isFile())
      throw platform::EFileError(
          QStringLiteral("Cannot open file %1: not a regular file").arg(fileName));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
      throw platform::EFileError(
          QStringLiteral("Cannot open file %1: %2").arg(fileName, file.errorString()));

    const auto header = ReadZeroPadded<kHeaderSize>(file, 0);
    if (GetLe(header.data(), 4) != file.size()) {
      Show(QStringLiteral("文件大小不一致，已被破坏！"),
           QStringLiteral("File size is inconsistent, it has been destroyed!"));
      return;
    }
    if (GetLe(header.data() + 4, 2) != kParamRecordLength) {
      Show(QStringLiteral("命令长度不一致！"), QStringLiteral("Command length inconsistent!"));
      return;
    }
    const std::uint32_t storedCrc = GetLe(header.data() + kParamFileCrcOffset, 4);
    std::uint32_t crc = 0;
    if (!FileCrc(fileName, &crc)) {
      Show(QStringLiteral("文件已被破坏！"), QStringLiteral("The file is corrupted."));
      return;
    }
    if (crc != storedCrc) {
      Show(QStringLiteral("CRC不一致，文件已被破坏！"),
           QStringLiteral("CRC are inconsistent, the file is corrupted! "));
      return;
    }

    // Only the header and the file CRC are checked: the record frames are
    // taken as they stand, and a record beyond the end of the file reads as
    // zeros.
    const auto convt = ReadZeroPadded<protocol::FRAME_LENGTH>(file, kConvtRecordOffset);
    panel.ApplyConvtParams(protocol::ConvtParams::FromFileFrame(convt), false);
    const auto com = ReadZeroPadded<protocol::FRAME_LENGTH>(file, kComRecordOffset);
    panel.ApplyComParams(protocol::ComParams::FromFileFrame(com), StopBitsRule::File);
    const auto can = ReadZeroPadded<protocol::FRAME_LENGTH>(file, kCanRecordOffset);
    panel.ApplyCanParams(protocol::CanParams::FromFileFrame(can));
  } catch (...) {
    app::Dialogs().ShowMessage(platform::CurrentExceptionText());
  }
}

}  // namespace params
