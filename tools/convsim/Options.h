#pragma once

#include <optional>
#include <string>
#include <vector>

#include "protocol/Records.h"

namespace convsim {

struct Options {
  std::string programDir;  // empty: the tool's program folder (platform::ProgramFolder)
  int com = 0;             // 0: the first free number from 1 up
  bool replace = false;    // replace an existing sys/ports/comN link
  std::optional<protocol::VersionRecord> version;
  std::string controlFile;  // empty: standard input only
  std::string logFile;      // empty: standard error
  bool strict = false;
  std::vector<std::string> faultLines;  // control lines "fault TARGET MODE [ARGS]"
  bool help = false;
};

// Reads the command line (argv[0] excluded). Options take their value as the
// next word or after '='. Returns false and sets `error` on a bad line.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

std::string Usage();

}  // namespace convsim
