#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Fault.h"
#include "protocol/Frame.h"
#include "protocol/Records.h"

namespace convsim {

// Bytes to put on the line after waiting `wait` from the previous emission.
struct Emission {
  std::chrono::milliseconds wait{0};
  std::vector<std::uint8_t> bytes;
};

// What the converter did with one request: the emissions of its reply (none
// when it stays silent) and a line for the log.
struct Outcome {
  std::vector<Emission> emissions;
  std::string note;
};

// The simulated converter: the three parameter records, the version record,
// and a fault mode per command code.
class Converter {
 public:
  Converter();

  static protocol::ConvtParams FactoryConvt();
  static protocol::ComParams FactoryCom();
  static protocol::CanParams FactoryCan();
  static protocol::VersionRecord FactoryVersion();

  // Carries out a complete request frame and plans the reply.
  Outcome Handle(const protocol::Frame& request);

  void RestoreDefaults();

  void SetFault(std::uint16_t code, const Fault& fault) { faults_[code] = fault; }
  // Sets the fault of every code, the unknown ones included.
  void SetFaultForAll(const Fault& fault);
  Fault FaultFor(std::uint16_t code) const;

  // With strict checks, setting records outside the documented ranges are
  // refused instead of stored.
  void SetStrict(bool strict) { strict_ = strict; }
  bool Strict() const { return strict_; }

  void SetVersion(const protocol::VersionRecord& version) { version_ = version; }
  void SetConvt(const protocol::ConvtParams& p) { convt_ = p; }
  void SetCom(const protocol::ComParams& p) { com_ = p; }
  void SetCan(const protocol::CanParams& p) { can_ = p; }

  const protocol::ConvtParams& Convt() const { return convt_; }
  const protocol::ComParams& Com() const { return com_; }
  const protocol::CanParams& Can() const { return can_; }
  const protocol::VersionRecord& Version() const { return version_; }

  // Every command with a fault other than none, e.g. "CMD_CAN_GET silence".
  std::vector<std::string> DescribeFaults() const;

 private:
  struct Answer {
    std::uint8_t status;
    std::vector<std::uint8_t> record;
    std::string note;
  };
  Answer Execute(const protocol::Frame& request);
  Answer ExecuteSet(const protocol::Frame& request);

  protocol::ConvtParams convt_;
  protocol::ComParams com_;
  protocol::CanParams can_;
  protocol::VersionRecord version_;
  std::map<std::uint16_t, Fault> faults_;
  Fault defaultFault_;
  bool strict_ = false;
};

// The reason a record is outside its documented range, or an empty text.
// Only what the record itself decides is checked (a send identifier's bound
// depends on the CAN record, so only the extended bound applies).
// These are the converter's own ranges, written here on purpose rather than
// taken from the tool's rules (protocol/PanelRules): the simulator plays the
// converter, and a tool whose rules drifted from the converter's must meet a
// converter that refuses, not one that agrees with it by construction.
std::string CheckConvtRanges(const protocol::ConvtParams& p);
std::string CheckComRanges(const protocol::ComParams& p);
std::string CheckCanRanges(const protocol::CanParams& p);

// The reply frame bent by a fault, as the emissions to send.
std::vector<Emission> ShapeReply(protocol::Frame reply, const Fault& fault);

// Command name for a code, or its hexadecimal value ("0x5010").
std::string CommandLabel(std::uint16_t code);

}  // namespace convsim
