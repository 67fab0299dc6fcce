#pragma once

#include "cli/Output.h"

namespace cli {

// Lists the COM numbers the window's port list shows as present, from the
// same enumeration and with the same descriptions ("COM3 ttyUSB0 · FT232R
// USB UART · A50285BI"); with --json each with its device, USB ids and
// strings and /dev/serial/by-id name. Returns the exit status.
int ListPorts(const Output& out);

}  // namespace cli
