#include "Converter.h"

#include <algorithm>
#include <cstdio>

namespace convsim {
namespace {

using namespace protocol;

constexpr std::uint8_t kWrongAddress = 0x02;
// Noise never holds 0x7F, so both searches of the tool can skip it.
constexpr std::uint8_t kNoisePattern[] = {0x00, 0x55, 0xAA, 0x13, 0xFF, 0x3C};
// A stray start byte placed so that its 29th byte falls into the zero padding
// at the end of the reply's data area: it costs one byte and never forms a
// false frame.
constexpr std::size_t kStrayFromEnd = 4;

// The converter's identifier bounds (see CheckConvtRanges in Converter.h).
constexpr std::uint32_t kStandardIdMax = 0x7FF;
constexpr std::uint32_t kExtendedIdMax = 0x1FFFFFFF;

std::vector<std::uint8_t> Noise(std::size_t n, bool withStray) {
  std::vector<std::uint8_t> noise(n);
  for (std::size_t i = 0; i < n; ++i) noise[i] = kNoisePattern[i % std::size(kNoisePattern)];
  if (withStray && n >= kStrayFromEnd) noise[n - kStrayFromEnd] = FRAME_START;
  return noise;
}

template <std::size_t N>
std::vector<std::uint8_t> ToVector(const std::array<std::uint8_t, N>& bytes) {
  return {bytes.begin(), bytes.end()};
}

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

}  // namespace

std::string CommandLabel(std::uint16_t code) {
  if (const char* name = CommandName(code)) return name;
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", code);
  return text;
}

Converter::Converter()
    : convt_(FactoryConvt()), com_(FactoryCom()), can_(FactoryCan()), version_(FactoryVersion()) {}

ConvtParams Converter::FactoryConvt() {
  ConvtParams p;
  p.mode = 0;
  p.direction = 2;
  p.transparentFlags = ConvtParams::kCanInfo | ConvtParams::kCanId;
  p.idOffset = 0;
  p.idLength = 2;
  p.frameGapChars = 3;
  p.transparentSendId = 0x00000123;
  p.dataFlags = ConvtParams::kCanInfo;
  p.dataSendId = 0x00000456;
  return p;
}

ComParams Converter::FactoryCom() {
  ComParams p;
  p.baudRate = 9600;
  p.dataBits = 8;
  p.parityCode = ComParams::kParityNone;
  p.stopBitsCode = ComParams::kStopBitsOne;
  return p;
}

CanParams Converter::FactoryCan() {
  CanParams p;
  p.bitRateIndex = 3;  // 125Kbps
  p.frameType = CanParams::kFrameStandard;
  p.filterFlags = 0;
  p.acceptanceCode = 0;
  p.acceptanceMask = 0x7FF;
  return p;
}

VersionRecord Converter::FactoryVersion() {
  VersionRecord v;
  v.software = {1, 2};
  v.buildDate = {20, 17, 9, 5};
  v.hardware = {1, 0};
  return v;
}

void Converter::RestoreDefaults() {
  convt_ = FactoryConvt();
  com_ = FactoryCom();
  can_ = FactoryCan();
}

void Converter::SetFaultForAll(const Fault& fault) {
  faults_.clear();
  defaultFault_ = fault;
}

Fault Converter::FaultFor(std::uint16_t code) const {
  const auto it = faults_.find(code);
  return it == faults_.end() ? defaultFault_ : it->second;
}

std::vector<std::string> Converter::DescribeFaults() const {
  std::vector<std::string> lines;
  if (defaultFault_.kind != Fault::Kind::kNone)
    lines.push_back("all " + DescribeFault(defaultFault_));
  for (const auto& [code, fault] : faults_)
    if (!(fault == defaultFault_)) lines.push_back(CommandLabel(code) + " " + DescribeFault(fault));
  return lines;
}

std::string CheckConvtRanges(const ConvtParams& p) {
  if (p.mode > 3) return "mode " + std::to_string(p.mode) + " is not 0..3";
  if (p.direction > 2) return "direction " + std::to_string(p.direction) + " is not 0..2";
  if (p.transparentFlags & ~0x03) return "transparentFlags " + Hex2(p.transparentFlags);
  if (p.idOffset > 7) return "idOffset " + std::to_string(p.idOffset) + " is not 0..7";
  if (p.idLength < 1 || p.idLength > 4)
    return "idLength " + std::to_string(p.idLength) + " is not 1..4";
  if (p.frameGapChars < 2 || p.frameGapChars > 10)
    return "frameGapChars " + std::to_string(p.frameGapChars) + " is not 2..10";
  if (p.transparentSendId > kExtendedIdMax) return "transparentSendId above 0x1FFFFFFF";
  if (p.dataFlags & ~0x03) return "dataFlags " + Hex2(p.dataFlags);
  return {};
}

std::string CheckComRanges(const ComParams& p) {
  // The converter's rates: kept apart from the tool's list (see Converter.h).
  static constexpr std::uint32_t kRates[] = {300,  600,   1200,  2400,  4800,
                                             9600, 19200, 38400, 57600, 115200};
  if (std::find(std::begin(kRates), std::end(kRates), p.baudRate) == std::end(kRates))
    return "baudRate " + std::to_string(p.baudRate) + " is not a listed rate";
  if (p.dataBits != 8) return "dataBits " + std::to_string(p.dataBits) + " is not 8";
  if (p.parityCode < 1 || p.parityCode > 5)
    return "parityCode " + std::to_string(p.parityCode) + " is not 1..5";
  if (p.stopBitsCode != ComParams::kStopBitsOne && p.stopBitsCode != ComParams::kStopBitsTwo)
    return "stopBitsCode " + std::to_string(p.stopBitsCode) + " is not 1 or 3";
  return {};
}

std::string CheckCanRanges(const CanParams& p) {
  if (p.bitRateIndex > 10)
    return "bitRateIndex " + std::to_string(p.bitRateIndex) + " is not 0..10";
  if (p.frameType != CanParams::kFrameStandard && p.frameType != CanParams::kFrameExtended)
    return "frameType " + Hex2(p.frameType) + " is not 0x00 or 0x80";
  const std::uint8_t known =
      CanParams::kFilterOn | CanParams::kFilterExtendedOnly | CanParams::kFilterDistinguishId;
  if (p.filterFlags & ~known) return "filterFlags " + Hex2(p.filterFlags) + " has unknown bits";
  const std::uint32_t max =
      (p.filterFlags & CanParams::kFilterExtendedOnly) ? kExtendedIdMax : kStandardIdMax;
  if (p.acceptanceCode > max) return "acceptanceCode out of range";
  if (p.acceptanceMask > max) return "acceptanceMask out of range";
  return {};
}

Converter::Answer Converter::ExecuteSet(const Frame& request) {
  const std::uint16_t code = FrameCode(request);
  const std::size_t expected = code == CMD_CONVT_SET ? ConvtParams::kSize
                               : code == CMD_COM_SET ? ComParams::kSize
                                                     : CanParams::kSize;
  if (FrameDataLength(request) != expected)
    return {FRAME_REFUSED,
            {},
            "refused: data length " + std::to_string(FrameDataLength(request)) + ", expected " +
                std::to_string(expected)};

  std::string problem;
  if (code == CMD_CONVT_SET) {
    const auto p = ConvtParams::FromSetFrame(request);
    if (strict_) problem = CheckConvtRanges(p);
    if (problem.empty()) convt_ = p;
  } else if (code == CMD_COM_SET) {
    const auto p = ComParams::FromSetFrame(request);
    if (strict_) problem = CheckComRanges(p);
    if (problem.empty()) com_ = p;
  } else {
    const auto p = CanParams::FromSetFrame(request);
    if (strict_) problem = CheckCanRanges(p);
    if (problem.empty()) can_ = p;
  }
  if (!problem.empty()) return {FRAME_REFUSED, {}, "refused: " + problem};
  return {FRAME_ACK, {}, "stored"};
}

Converter::Answer Converter::Execute(const Frame& request) {
  switch (FrameCode(request)) {
    case CMD_RESTORE_DEFAULT:
      RestoreDefaults();
      return {FRAME_ACK, {}, "defaults restored"};
    case CMD_GET_VERSION:
      return {FRAME_ACK, ToVector(version_.Encode()), "version sent"};
    case CMD_CONVT_GET:
      return {FRAME_ACK, ToVector(convt_.Encode()), "record sent"};
    case CMD_COM_GET:
      return {FRAME_ACK, ToVector(com_.Encode()), "record sent"};
    case CMD_CAN_GET:
      return {FRAME_ACK, ToVector(can_.Encode()), "record sent"};
    case CMD_CONVT_SET:
    case CMD_COM_SET:
    case CMD_CAN_SET:
      return ExecuteSet(request);
    default:
      return {FRAME_REFUSED, {}, "refused: unknown command"};
  }
}

std::vector<Emission> ShapeReply(Frame reply, const Fault& fault) {
  switch (fault.kind) {
    case Fault::Kind::kWrongAddress:
      reply[FRAME_OFS_ADDR] = kWrongAddress;
      SealFrame(reply);
      break;
    case Fault::Kind::kWrongLength: {
      const std::uint16_t length = FrameDataLength(reply);
      const std::uint16_t wrong = length == 0 ? 1 : static_cast<std::uint16_t>(length - 1);
      reply[FRAME_OFS_LENGTH] = static_cast<std::uint8_t>(wrong >> 8);
      reply[FRAME_OFS_LENGTH + 1] = static_cast<std::uint8_t>(wrong);
      SealFrame(reply);
      break;
    }
    case Fault::Kind::kBadCrc:
      reply[FRAME_OFS_CRC] ^= 0xFF;
      break;
    default:
      break;
  }

  std::vector<std::uint8_t> bytes(reply.begin(), reply.end());
  std::vector<Emission> emissions;
  switch (fault.kind) {
    case Fault::Kind::kNoise:
    case Fault::Kind::kStray: {
      auto noise = Noise(fault.count, fault.kind == Fault::Kind::kStray);
      noise.insert(noise.end(), bytes.begin(), bytes.end());
      emissions.push_back({{}, std::move(noise)});
      break;
    }
    case Fault::Kind::kSplit:
      for (std::size_t at = 0; at < bytes.size(); at += fault.count) {
        const std::size_t n = std::min<std::size_t>(fault.count, bytes.size() - at);
        emissions.push_back({std::chrono::milliseconds(at == 0 ? 0 : fault.pauseMs),
                             {bytes.begin() + at, bytes.begin() + at + n}});
      }
      break;
    case Fault::Kind::kDelay:
      emissions.push_back({std::chrono::milliseconds(fault.pauseMs), std::move(bytes)});
      break;
    default:
      emissions.push_back({{}, std::move(bytes)});
      break;
  }
  return emissions;
}

Outcome Converter::Handle(const Frame& request) {
  const std::uint16_t code = FrameCode(request);
  if (request[FRAME_OFS_ADDR] != FRAME_ADDR)
    return {{}, "ignored: address " + Hex2(request[FRAME_OFS_ADDR]) + " is not ours"};

  const Fault fault = FaultFor(code);
  if (fault.kind == Fault::Kind::kSilence) return {{}, "silent (fault silence)"};

  Answer answer;
  if (fault.kind == Fault::Kind::kRefuse)
    answer = {fault.status, {}, "refused (fault refuse)"};
  else
    answer = Execute(request);

  Outcome outcome;
  outcome.emissions = ShapeReply(BuildReplyFrame(code, answer.status, answer.record), fault);
  outcome.note = answer.note;
  if (fault.kind != Fault::Kind::kNone && fault.kind != Fault::Kind::kRefuse)
    outcome.note += " (fault " + DescribeFault(fault) + ")";
  return outcome;
}

}  // namespace convsim
