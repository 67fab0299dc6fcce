#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace params {

class TParamPanel;

// The parameter file: 3101 bytes, a little-endian header (file size, record
// length 29, file CRC) and the three records as 29-byte frames at 1024, 2048
// and 3072, zero between them.
inline constexpr std::uint32_t kParamFileSize = 3101;
inline constexpr std::uint16_t kParamRecordLength = 29;
inline constexpr std::size_t kParamFileCrcOffset = 6;
inline constexpr std::size_t kConvtRecordOffset = 1024;
inline constexpr std::size_t kComRecordOffset = 2048;
inline constexpr std::size_t kCanRecordOffset = 3072;

// CRC-32/JAMCRC (reflected, polynomial 0xEDB88320, no final inversion)
// continued over `count` bytes; start with 0xFFFFFFFF. "123456789" gives
// 0x340BC6D9.
std::uint32_t JamCrc(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count);

// The file CRC of the named file as it lies on disk, with the four bytes at
// offsets 6..9 taken as zero, read in blocks of 4096 bytes. False when the
// file cannot be opened or read.
bool FileCrc(const QString& fileName, std::uint32_t* crc);

// The whole parameter file for the controls as they stand, CRC included.
// Throws platform::EConvertError like the serial-line record does.
QByteArray BuildParameterFile(const TParamPanel& panel);

// Menu "导出参数": asks for a file name (and before overwriting), writes the
// file atomically and reports the result. Never throws.
void ExportParameters(TParamPanel& panel);

// Menu "导入参数": asks for a file, checks its header and CRC and puts its
// records into the controls. Never throws; the file is not changed.
void ImportParameters(TParamPanel& panel);

// The import after the file dialog: the checks and the records of the named
// file. Shows its own messages; a failure to read shows the failure's text.
void ImportParameterFile(TParamPanel& panel, const QString& fileName);

}  // namespace params
