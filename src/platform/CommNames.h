#pragma once

#include <optional>
#include <string>

namespace platform {

// The COM number of "\\.\COMn" or "COMn" (n 1..255, any case), or nothing.
std::optional<int> ParseCommName(const std::string& name);

// The device path a port name stands for: the link sys/ports/comN in the
// program folder when present, otherwise the Wine-compatible numbering of
// the present /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM* devices (each family up
// to its first missing number). Names that are not COM names are taken as
// paths. Empty when a COM number has no device. Probes with access() only.
std::string ResolveCommName(const std::string& name);

// The same, with the program folder and the /dev folder given (for tests).
std::string ResolveCommName(const std::string& name, const std::string& programFolder,
                            const std::string& devFolder);

}  // namespace platform
