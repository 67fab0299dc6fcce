#include "platform/CommNames.h"

#include <unistd.h>

#include <cctype>

#include "platform/ProgramFolder.h"

namespace platform {

namespace {

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

bool StartsWithNoCase(const std::string& text, size_t at, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; ++i) {
    if (at + i >= text.size()) return false;
    if (std::toupper(static_cast<unsigned char>(text[at + i])) != prefix[i]) return false;
  }
  return true;
}

// The n-th present device (0-based) of the Wine order, or empty.
std::string DefaultDevice(int index, const std::string& devFolder) {
  static const char* const kFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};
  int seen = 0;
  for (const char* family : kFamilies) {
    for (int n = 0;; ++n) {
      const std::string path = devFolder + "/" + family + std::to_string(n);
      if (!Exists(path)) break;
      if (seen++ == index) return path;
    }
  }
  return {};
}

}  // namespace

std::optional<int> ParseCommName(const std::string& name) {
  size_t at = 0;
  if (name.rfind("\\\\.\\", 0) == 0) at = 4;
  if (!StartsWithNoCase(name, at, "COM")) return std::nullopt;
  at += 3;
  const size_t digits = name.size() - at;
  if (digits < 1 || digits > 3 || name[at] == '0') return std::nullopt;
  int number = 0;
  for (size_t i = at; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return std::nullopt;
    number = number * 10 + (name[i] - '0');
  }
  if (number < 1 || number > 255) return std::nullopt;
  return number;
}

std::string ResolveCommName(const std::string& name, const std::string& programFolder,
                            const std::string& devFolder) {
  const std::optional<int> number = ParseCommName(name);
  if (!number) return name;
  const std::string link = programFolder + "/sys/ports/com" + std::to_string(*number);
  // A dangling link still names the port the operator meant: opening it then
  // reports the missing device instead of quietly taking another port.
  char target[1];
  if (Exists(link) || readlink(link.c_str(), target, sizeof target) >= 0) return link;
  return DefaultDevice(*number - 1, devFolder);
}

std::string ResolveCommName(const std::string& name) {
  return ResolveCommName(name, ProgramFolder().toStdString(), "/dev");
}

}  // namespace platform
