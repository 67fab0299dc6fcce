#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "messages/Messages.h"
#include "protocol/Records.h"

// The parameter file: 3101 bytes, a little-endian header (file size, record
// length 29, file CRC) and the three records as 29-byte frames at 1024, 2048
// and 3072, zero between them. Building and checking work on bytes in
// memory; reading and writing the file is the caller's business.
namespace protocol {

inline constexpr std::uint32_t kParamFileSize = 3101;
inline constexpr std::uint16_t kParamRecordLength = 29;
inline constexpr std::size_t kParamFileSizeOffset = 0;
inline constexpr std::size_t kParamRecordLengthOffset = 4;
inline constexpr std::size_t kParamFileCrcOffset = 6;
inline constexpr std::size_t kParamFileHeaderSize = 10;
inline constexpr std::size_t kConvtRecordOffset = 1024;
inline constexpr std::size_t kComRecordOffset = 2048;
inline constexpr std::size_t kCanRecordOffset = 3072;
// A valid file has 3101 bytes; a file larger than this is refused before it
// is read whole.
inline constexpr std::size_t kParamFileReadLimit = 64 * 1024;

// The start value of a JamCrc pass.
inline constexpr std::uint32_t kJamCrcStart = 0xFFFFFFFFu;

// CRC-32/JAMCRC (reflected, polynomial 0xEDB88320, no final inversion)
// continued over `count` bytes; start with kJamCrcStart. "123456789" gives
// 0x340BC6D9.
std::uint32_t JamCrc(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count);

// The file CRC of a file's bytes: JamCrc over all of them with the four CRC
// bytes at offsets 6..9 taken as zero (a shorter file has a CRC too).
std::uint32_t ParamFileCrc(std::span<const std::uint8_t> bytes);

// Writes the file CRC of `bytes` into its CRC field (offsets 6..9); bytes
// shorter than the header are left as they are.
void SealParamFile(std::span<std::uint8_t> bytes);

// The three records a parameter file carries. Its conversion record holds no
// data-conversion fields: they are not written and read back as 0.
using ParamFileRecords = ParameterRecords;

using ParamFileBytes = std::array<std::uint8_t, kParamFileSize>;

// The whole file for three records, CRC included.
ParamFileBytes BuildParamFile(const ParamFileRecords& records);

// The checks of an import, in their order; the first that fails decides.
enum class ParamFileCheck {
  Valid,
  SizeMismatch,          // the stored size differs from the file's size
  RecordLengthMismatch,  // the stored record length is not 29
  Unreadable,            // the CRC pass cannot cover the file (too large, or changed)
  CrcMismatch,           // the computed CRC differs from the stored one
};

// Checks a file of `fileSize` bytes whose content is `bytes`. When the file
// is larger than kParamFileReadLimit, `bytes` may be its head alone: the
// header checks still run on it, then the file is Unreadable. Header bytes
// beyond the end of a short file count as zero (an empty file passes the
// size check and fails the record length).
ParamFileCheck CheckParamFile(std::span<const std::uint8_t> bytes, std::uint64_t fileSize);

// The operator's message for a failed check; none for a valid file.
std::optional<messages::Msg> ParamFileCheckMessage(ParamFileCheck check);

// The records at 1024, 2048 and 3072. Only the header and the file CRC are
// checked: the record frames are taken as they stand, and a record beyond
// the end of `bytes` reads as zeros.
ParamFileRecords ReadParamFileRecords(std::span<const std::uint8_t> bytes);

}  // namespace protocol
