// Arbitrary file contents through the parameter-file checks and record
// reads. Every input ends in one verdict; a valid file's records survive a
// rebuild unchanged, and a rebuilt file passes every check.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "messages/Messages.h"
#include "protocol/ByteOrder.h"
#include "protocol/ParamFileFormat.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Random bytes almost never carry a matching size and CRC. When the last
// byte is odd the input is sealed first, so that arbitrary records also get
// past the checks.
void Seal(std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < protocol::kParamFileHeaderSize) return;
  protocol::PutLe32(&bytes[protocol::kParamFileSizeOffset],
                    static_cast<std::uint32_t>(bytes.size()));
  protocol::SealParamFile(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  if (size > 0 && (data[size - 1] & 1)) Seal(bytes);

  const auto check = protocol::CheckParamFile(bytes, bytes.size());
  if (check != protocol::ParamFileCheck::Valid) {
    Require(messages::MessageText(*protocol::ParamFileCheckMessage(check), "enu")[0] != '\0');
    return 0;
  }
  Require(protocol::ParamFileCrc(bytes) ==
          protocol::GetLe32(&bytes[protocol::kParamFileCrcOffset]));

  const protocol::ParamFileRecords records = protocol::ReadParamFileRecords(bytes);
  const protocol::ParamFileBytes rebuilt = protocol::BuildParamFile(records);
  Require(protocol::CheckParamFile(rebuilt, rebuilt.size()) == protocol::ParamFileCheck::Valid);
  Require(protocol::ReadParamFileRecords(rebuilt) == records);
  return 0;
}
