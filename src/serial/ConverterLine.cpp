#include "serial/ConverterLine.h"

#include "serial/Comm.h"

namespace serial {

void UseConverterLine(TComm& comm) {
  comm.SetBaudRate(115200);
  comm.SetByteSize(TByteSize::_8);
  comm.SetParity(TParity::None);
  comm.SetStopBits(TStopBits::_1);
  comm.SetParityCheck(true);
  comm.SetOutx_CtsFlow(false);
  comm.SetOutx_DsrFlow(false);
}

}  // namespace serial
