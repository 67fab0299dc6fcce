#pragma once

#include <string>
#include <vector>

#include "Converter.h"

namespace convsim {

// The result of one control line.
struct ControlResult {
  bool ok = true;
  bool quit = false;
  std::string text;  // printed to the operator: a confirmation, the state, or the error
};

// Runs one control line against the converter (from standard input, the
// control file, or a --fault option). Lines are words separated by blanks;
// empty lines and lines starting with '#' do nothing.
//   fault TARGET MODE [ARGS]   TARGET: a command name, a code such as 0x3010, or all
//   version B1 .. B8           the eight version bytes
//   record convt|com|can HEX.. replace a stored record (15, 7 or 11 bytes)
//   defaults                   restore the factory records
//   strict on|off              refuse setting records outside their ranges
//   show | help | quit
ControlResult RunControlLine(Converter& converter, const std::string& line);

// The text of "help".
std::string ControlHelp();

// Splits a line at blanks and tabs.
std::vector<std::string> SplitWords(const std::string& line);

// Parses eight byte values ("1 2 20 17 9 5 1 0", commas allowed, decimal or
// 0x hexadecimal) into a version record.
bool ParseVersionBytes(const std::vector<std::string>& words, protocol::VersionRecord& version,
                       std::string& error);

// Parses a fault target: a command name (case does not matter), a code in
// hexadecimal ("0x3010" or "3010"), or "all" (code -1).
bool ParseTarget(const std::string& word, int& code, std::string& error);

}  // namespace convsim
