#include "Options.h"

#include <charconv>

#include "Control.h"
#include "Fault.h"

namespace convsim {
namespace {

constexpr int kMaxCom = 255;

bool ParseCom(const std::string& text, int& com) {
  int value = 0;
  const char* last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(text.data(), last, value);
  if (text.empty() || ec != std::errc() || end != last || value < 1 || value > kMaxCom)
    return false;
  com = value;
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
  Options parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    auto value = [&](std::string& out) {
      if (inlineValue) {
        out = *inlineValue;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    auto flag = [&]() {
      if (!inlineValue) return true;
      error = name + " takes no value";
      return false;
    };

    std::string text;
    if (name == "--dir") {
      if (!value(parsed.programDir)) return false;
    } else if (name == "--com") {
      if (!value(text)) return false;
      if (!ParseCom(text, parsed.com)) {
        error = "--com needs a number from 1 to 255, not '" + text + "'";
        return false;
      }
    } else if (name == "--replace") {
      if (!flag()) return false;
      parsed.replace = true;
    } else if (name == "--version") {
      if (!value(text)) return false;
      protocol::VersionRecord version;
      if (!ParseVersionBytes(SplitWords(text), version, error)) return false;
      parsed.version = version;
    } else if (name == "--control") {
      if (!value(parsed.controlFile)) return false;
    } else if (name == "--log") {
      if (!value(parsed.logFile)) return false;
    } else if (name == "--strict") {
      if (!flag()) return false;
      parsed.strict = true;
    } else if (name == "--fault") {
      if (!value(text)) return false;
      parsed.faultLines.push_back("fault " + text);
    } else if (name == "--help" || name == "-h") {
      parsed.help = true;
    } else {
      error = "unknown option '" + args[i] + "'";
      return false;
    }
  }
  options = parsed;
  return true;
}

std::string Usage() {
  return std::string(
             "usage: convsim [options]\n"
             "A simulated CAN/serial converter on a pseudo-terminal, linked as\n"
             "sys/ports/comN in a program folder so the tool can open it as COMn.\n"
             "\n"
             "  --dir DIR         program folder (default: the tool's, convsim's own folder in\n"
             "                    a build tree, ~/.local/share/quillon-config installed)\n"
             "  --com N           serve COMN, 1..255 (default: first number without a link)\n"
             "  --replace         replace an existing sys/ports/comN link\n"
             "  --version BYTES   the 8 version bytes, e.g. 1,2,20,17,9,5,1,0 (the default)\n"
             "  --control FILE    also read control lines appended to FILE (created if missing)\n"
             "  --log FILE        append the frame log to FILE instead of standard error\n"
             "  --strict          refuse setting records outside their documented ranges\n"
             "  --fault 'TARGET MODE [ARGS]'  start with a fault (repeatable)\n"
             "  --help            this text\n"
             "\n"
             "Control lines (standard input or the control file):\n") +
         ControlHelp() + "\n";
}

}  // namespace convsim
