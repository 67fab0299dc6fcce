#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messages/Messages.h"
#include "protocol/ByteOrder.h"
#include "protocol/ParamFileFormat.h"

namespace protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

ParamFileRecords SampleRecords() {
  ParamFileRecords r;
  r.convt.mode = 2;
  r.convt.direction = 1;
  r.convt.transparentFlags = 1;
  r.convt.idOffset = 6;
  r.convt.idLength = 3;
  r.convt.frameGapChars = 9;
  r.convt.transparentSendId = 0x12345678;
  r.com.baudRate = 57600;
  r.com.dataBits = 8;
  r.com.parityCode = 2;
  r.com.stopBitsCode = 3;
  r.can.bitRateIndex = 10;
  r.can.frameType = 0x80;
  r.can.filterFlags = 0x13;
  r.can.acceptanceCode = 0xABC;
  r.can.acceptanceMask = 0x1F00FF00;
  return r;
}

Bytes SampleFile() {
  const ParamFileBytes file = BuildParamFile(SampleRecords());
  return Bytes(file.begin(), file.end());
}

TEST(ParamFileFormat, RecordsSurviveBuildAndReadAndTheDataConversionFieldsAreNotStored) {
  ParamFileRecords records = SampleRecords();
  records.convt.dataFlags = 3;
  records.convt.dataSendId = 0xCAFE;
  const ParamFileBytes file = BuildParamFile(records);
  EXPECT_EQ(CheckParamFile(file, file.size()), ParamFileCheck::Valid);
  EXPECT_EQ(ReadParamFileRecords(file), SampleRecords());
  // The same records as a known file, worked out by hand: header, CRC-32/JAMCRC
  // 0xBB3A8B84 and each record's frame with its CRC-16/UMTS.
  Bytes known(kParamFileSize, 0);
  const auto put = [&known](std::size_t offset, const char* hex) {
    for (std::size_t i = 0; hex[2 * i]; ++i)
      known[offset + i] =
          static_cast<std::uint8_t>(std::stoi(std::string(hex + 2 * i, 2), nullptr, 16));
  };
  put(0, "1D0C00001D00848B3ABB");
  put(1024, "7F010000000A0201010603091234567800000000000000000000D30C0D");
  put(2048, "7F01000000070000E1000802030000000000000000000000000032A40D");
  put(3072, "7F010000000B0A801300000ABC1F00FF00000000000000000000C4670D");
  EXPECT_EQ(Bytes(file.begin(), file.end()), known);
  EXPECT_EQ(ParamFileCrc(known), 0xBB3A8B84u);
}

TEST(ParamFileFormat, JamCrcGivesTheCatalogueCheckValue) {
  const char* text = "123456789";
  EXPECT_EQ(JamCrc(kJamCrcStart, reinterpret_cast<const std::uint8_t*>(text), 9), 0x340BC6D9u);
}

TEST(ParamFileFormat, ChecksRunInTheImportsOrderAndTheFirstFailureDecides) {
  struct Case {
    const char* label;
    void (*damage)(Bytes&);
    std::uint64_t fileSize;  // 0: the size of the bytes
    ParamFileCheck expected;
  };
  const Case cases[] = {
      {"intact", [](Bytes&) {}, 0, ParamFileCheck::Valid},
      {"size field and length field", [](Bytes& b) { b[0] ^= 1, b[4] ^= 1; }, 0,
       ParamFileCheck::SizeMismatch},
      {"length field and CRC", [](Bytes& b) { b[4] ^= 1, b[9] ^= 1; }, 0,
       ParamFileCheck::RecordLengthMismatch},
      {"one record byte", [](Bytes& b) { b[2048 + 8] ^= 0x40; }, 0, ParamFileCheck::CrcMismatch},
      {"the CRC field", [](Bytes& b) { b[6] ^= 1; }, 0, ParamFileCheck::CrcMismatch},
      // The file grew between its size and its read: the CRC pass cannot cover it.
      {"bytes shorter than the file", [](Bytes& b) { b.pop_back(); }, 3101,
       ParamFileCheck::Unreadable},
      // Only the head of a file above the read limit, whose header claims its size.
      {"file above the read limit", [](Bytes& b) { PutLe32(&b[0], kParamFileReadLimit + 1); },
       kParamFileReadLimit + 1, ParamFileCheck::Unreadable},
      {"empty", [](Bytes& b) { b.clear(); }, 0, ParamFileCheck::RecordLengthMismatch},
      {"one byte", [](Bytes& b) { b.assign(1, 0x1D); }, 0, ParamFileCheck::SizeMismatch},
  };
  for (const Case& test : cases) {
    Bytes bytes = SampleFile();
    test.damage(bytes);
    EXPECT_EQ(CheckParamFile(bytes, test.fileSize ? test.fileSize : bytes.size()), test.expected)
        << test.label;
  }
}

TEST(ParamFileFormat, EachFailedCheckHasTheImportsMessage) {
  const auto text = [](ParamFileCheck check, const char* langCode) {
    return messages::MessageText(*ParamFileCheckMessage(check), langCode);
  };
  EXPECT_STREQ(text(ParamFileCheck::SizeMismatch, "enu"),
               "File size is inconsistent, it has been destroyed!");
  EXPECT_STREQ(text(ParamFileCheck::RecordLengthMismatch, "chn"), "命令长度不一致！");
  EXPECT_STREQ(text(ParamFileCheck::Unreadable, "enu"), "The file is corrupted.");
  EXPECT_STREQ(text(ParamFileCheck::CrcMismatch, "enu"),
               "CRC are inconsistent, the file is corrupted! ");
}

TEST(ParamFileFormat, AShortValidFileReadsItsMissingRecordsAsZeros) {
  Bytes bytes(2060, 0);
  PutLe32(&bytes[0], 2060);
  PutLe16(&bytes[4], 29);
  bytes[1024 + 6] = 3;      // mode
  bytes[2048 + 6 + 5] = 4;  // parityCode: the record is cut off after it
  SealParamFile(bytes);
  ASSERT_EQ(CheckParamFile(bytes, bytes.size()), ParamFileCheck::Valid);
  const ParamFileRecords records = ReadParamFileRecords(bytes);
  EXPECT_EQ(records.convt.mode, 3);
  EXPECT_EQ(records.com.parityCode, 4);
  EXPECT_EQ(records.com.stopBitsCode, 0);
  EXPECT_EQ(records.can, CanParams{});
}

}  // namespace
}  // namespace protocol
