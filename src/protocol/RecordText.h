#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "protocol/Frame.h"
#include "protocol/Records.h"

// The records in words, for the traffic rows: in Chinese when langCode is
// "chn" (the parameter panel's captions and item texts), in English
// otherwise. A value no item stands for is shown as its code; identifiers as
// eight hexadecimal digits.
namespace protocol {

// "115200 bit/s, 8 data bits, no parity, 1 stop bit"
std::string DescribeRecord(const ComParams& record, std::string_view langCode);
std::string DescribeRecord(const ConvtParams& record, std::string_view langCode);
std::string DescribeRecord(const CanParams& record, std::string_view langCode);
// "software 1.2 build20170905, hardware 1.0"
std::string DescribeRecord(const VersionRecord& record, std::string_view langCode);

// The record a frame carries: a set command's (from offset 6) when `sent`,
// else a reply's to a get command or CMD_GET_VERSION (from offset 7) when its
// status is FRAME_ACK. Empty for every other frame.
std::string DescribeFrameRecord(const Frame& frame, bool sent, std::string_view langCode);

// `pattern` with each "{}" replaced by the next of `values`; a "{}" beyond
// the values stays as it is.
std::string FillPlaceholders(std::string_view pattern,
                             std::initializer_list<std::string_view> values);

}  // namespace protocol
