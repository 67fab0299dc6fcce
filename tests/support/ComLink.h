#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace testing_support {

// Links COM `number` of the program folder `folder` to `target`, as the
// port mapping of an installation does: <folder>/sys/ports/com<number>,
// with sys/ports made when missing. The link's path, or "" when it could
// not be made.
inline std::string LinkCom(const std::string& folder, int number, const std::string& target) {
  namespace fs = std::filesystem;
  const fs::path ports = fs::path(folder) / "sys" / "ports";
  const fs::path link = ports / ("com" + std::to_string(number));
  std::error_code error;
  fs::create_directories(ports, error);
  if (!error) fs::create_symlink(target, link, error);
  return error ? std::string() : link.string();
}

}  // namespace testing_support
