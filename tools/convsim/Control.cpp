#include "Control.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <sstream>

namespace convsim {
namespace {

using namespace protocol;

constexpr std::uint16_t kAllCodes[] = {CMD_RESTORE_DEFAULT, CMD_GET_VERSION, CMD_COM_GET,
                                       CMD_COM_SET,         CMD_CAN_GET,     CMD_CAN_SET,
                                       CMD_CONVT_GET,       CMD_CONVT_SET};

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

bool ParseUnsigned(const std::string& text, int base, unsigned max, unsigned& value) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
    base = 16;
  }
  unsigned parsed = 0;
  const char* last = digits.data() + digits.size();
  const auto [end, ec] = std::from_chars(digits.data(), last, parsed, base);
  if (digits.empty() || ec != std::errc() || end != last || parsed > max) return false;
  value = parsed;
  return true;
}

ControlResult Error(std::string text) {
  return {false, false, "error: " + std::move(text)};
}
ControlResult Ok(std::string text) {
  return {true, false, "ok: " + std::move(text)};
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t n) {
  std::string text;
  char hex[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    if (i) text += ' ';
    text += hex;
  }
  return text;
}

std::string ShowState(const Converter& c) {
  std::ostringstream out;
  const auto convt = c.Convt().Encode();
  const auto com = c.Com().Encode();
  const auto can = c.Can().Encode();
  const auto version = c.Version();
  out << "convt   " << HexBytes(convt.data(), convt.size()) << "\n";
  out << "com     " << HexBytes(com.data(), com.size()) << "  (" << c.Com().baudRate << " bit/s)\n";
  out << "can     " << HexBytes(can.data(), can.size()) << "\n";
  out << "version " << version.SoftwareText() << " " << version.BuildDateText() << " hw "
      << version.HardwareText() << "\n";
  out << "strict  " << (c.Strict() ? "on" : "off") << "\n";
  const auto faults = c.DescribeFaults();
  out << "faults  " << (faults.empty() ? "none" : "");
  for (std::size_t i = 0; i < faults.size(); ++i) out << (i ? ", " : "") << faults[i];
  return out.str();
}

ControlResult RunFault(Converter& converter, const std::vector<std::string>& words) {
  if (words.size() < 3) return Error("usage: fault TARGET MODE [ARGS]");
  int code = 0;
  std::string error;
  if (!ParseTarget(words[1], code, error)) return Error(error);
  Fault fault;
  if (!ParseFault({words.begin() + 2, words.end()}, fault, error)) return Error(error);
  if (code < 0)
    converter.SetFaultForAll(fault);
  else
    converter.SetFault(static_cast<std::uint16_t>(code), fault);
  const std::string target = code < 0 ? "all" : CommandLabel(static_cast<std::uint16_t>(code));
  return Ok("fault " + target + " " + DescribeFault(fault));
}

// Reads `size` hexadecimal bytes from words[2..]; bytes may be written apart
// ("00 01 C2 00") or joined ("0001C200").
bool ParseRecordBytes(const std::vector<std::string>& words, std::size_t size,
                      std::vector<std::uint8_t>& bytes, std::string& error) {
  std::string hex;
  for (std::size_t i = 2; i < words.size(); ++i) hex += words[i];
  if (hex.size() != size * 2) {
    error = "expected " + std::to_string(size) + " bytes in hexadecimal";
    return false;
  }
  bytes.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    if (!ParseUnsigned(hex.substr(i, 2), 16, 255, value)) {
      error = "'" + hex.substr(i, 2) + "' is not a hexadecimal byte";
      return false;
    }
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  return true;
}

ControlResult RunRecord(Converter& converter, const std::vector<std::string>& words) {
  if (words.size() < 3) return Error("usage: record convt|com|can HEX BYTES");
  const std::string which = Upper(words[1]);
  std::vector<std::uint8_t> bytes;
  std::string error;
  if (which == "CONVT") {
    if (!ParseRecordBytes(words, ConvtParams::kSize, bytes, error)) return Error(error);
    converter.SetConvt(ConvtParams::Decode(
        std::span<const std::uint8_t, ConvtParams::kSize>(bytes.data(), ConvtParams::kSize)));
  } else if (which == "COM") {
    if (!ParseRecordBytes(words, ComParams::kSize, bytes, error)) return Error(error);
    converter.SetCom(ComParams::Decode(
        std::span<const std::uint8_t, ComParams::kSize>(bytes.data(), ComParams::kSize)));
  } else if (which == "CAN") {
    if (!ParseRecordBytes(words, CanParams::kSize, bytes, error)) return Error(error);
    converter.SetCan(CanParams::Decode(
        std::span<const std::uint8_t, CanParams::kSize>(bytes.data(), CanParams::kSize)));
  } else {
    return Error("unknown record '" + words[1] + "' (convt, com or can)");
  }
  return Ok("record " +
            std::string(which == "CONVT" ? "convt"
                        : which == "COM" ? "com"
                                         : "can") +
            " " + HexBytes(bytes.data(), bytes.size()));
}

ControlResult RunStrict(Converter& converter, const std::vector<std::string>& words) {
  if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
    return Error("usage: strict on|off");
  converter.SetStrict(words[1] == "on");
  return Ok("strict " + words[1]);
}

}  // namespace

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

bool ParseTarget(const std::string& word, int& code, std::string& error) {
  const std::string upper = Upper(word);
  if (upper == "ALL") {
    code = -1;
    return true;
  }
  for (std::uint16_t known : kAllCodes) {
    if (upper == CommandName(known)) {
      code = known;
      return true;
    }
  }
  unsigned value = 0;
  if (ParseUnsigned(word, 16, 0xFFFF, value)) {
    code = static_cast<int>(value);
    return true;
  }
  error = "unknown command '" + word + "'";
  return false;
}

bool ParseVersionBytes(const std::vector<std::string>& words, protocol::VersionRecord& version,
                       std::string& error) {
  std::vector<std::string> parts;
  for (const auto& word : words) {
    std::string piece;
    std::istringstream in(word);
    while (std::getline(in, piece, ','))
      if (!piece.empty()) parts.push_back(piece);
  }
  if (parts.size() != VersionRecord::kSize) {
    error = "the version needs 8 byte values, got " + std::to_string(parts.size());
    return false;
  }
  std::array<std::uint8_t, VersionRecord::kSize> bytes{};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    unsigned value = 0;
    if (!ParseUnsigned(parts[i], 10, 255, value)) {
      error = "'" + parts[i] + "' is not a byte value (0..255)";
      return false;
    }
    bytes[i] = static_cast<std::uint8_t>(value);
  }
  version = VersionRecord::Decode(bytes);
  return true;
}

ControlResult RunControlLine(Converter& converter, const std::string& line) {
  const auto words = SplitWords(line);
  if (words.empty() || words[0][0] == '#') return {true, false, {}};
  const std::string& verb = words[0];
  if (verb == "fault") return RunFault(converter, words);
  if (verb == "version") {
    protocol::VersionRecord version;
    std::string error;
    if (!ParseVersionBytes({words.begin() + 1, words.end()}, version, error)) return Error(error);
    converter.SetVersion(version);
    return Ok("version " + version.SoftwareText() + " " + version.BuildDateText() + " hw " +
              version.HardwareText());
  }
  if (verb == "record") return RunRecord(converter, words);
  if (verb == "defaults") {
    converter.RestoreDefaults();
    return Ok("factory records restored");
  }
  if (verb == "strict") return RunStrict(converter, words);
  if (verb == "show") return {true, false, ShowState(converter)};
  if (verb == "help") return {true, false, ControlHelp()};
  if (verb == "quit") return {true, true, "ok: quitting"};
  return Error("unknown control '" + verb + "' (try help)");
}

std::string ControlHelp() {
  return std::string(
             "fault TARGET MODE [ARGS]  TARGET: CMD_RESTORE_DEFAULT, CMD_GET_VERSION, "
             "CMD_COM_GET,\n"
             "                          CMD_COM_SET, CMD_CAN_GET, CMD_CAN_SET, CMD_CONVT_GET,\n"
             "                          CMD_CONVT_SET, a code such as 0x3010, or all\n") +
         FaultSyntax() +
         "version B1 .. B8          software x.y, build date (4), hardware x.y\n"
         "record convt|com|can HEX  replace a stored record (15, 7 or 11 bytes)\n"
         "defaults                  restore the factory records\n"
         "strict on|off             refuse setting records outside their ranges\n"
         "show                      print the records, version and faults\n"
         "quit                      stop the simulator";
}

}  // namespace convsim
