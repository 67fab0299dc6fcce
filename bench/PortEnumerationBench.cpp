// What the port list costs: one enumeration of every serial device through
// libudev plus the resolution and description of all 255 COM numbers, and
// the /proc holder lookup an open adds. Prints the median and the worst of
// N rounds (default 200) and the COM numbers that are present; exits 1 when
// the list's median is above 5 ms.
//
//   bench_port_enumeration [ROUNDS] [PROGRAM_FOLDER]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/PortHolders.h"
#include "platform/ProgramFolder.h"
#include "platform/SerialDevices.h"
#include "support/CommPseudoTerminal.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  double median, worst;
};

template <typename Work>
Figures Measure(int rounds, Work work) {
  std::vector<double> ms;
  ms.reserve(static_cast<size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    work();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.back()};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const std::string folder = argc > 2 ? argv[2] : platform::ProgramFolder().toStdString();

  auto source = platform::MakeUdevDeviceSource();
  platform::SerialPortCatalog catalog(*source, folder);
  size_t devices = 0, present = 0;
  const Figures list = Measure(rounds, [&] {
    catalog.Refresh();
    const std::vector<platform::ComPortInfo> all = catalog.ResolveAll();
    devices = catalog.Devices().size();
    present = static_cast<size_t>(
        std::count_if(all.begin(), all.end(), [](const auto& info) { return info.present; }));
  });

  auto pty = platform::CommPseudoTerminal::Create();
  const Figures holders = Measure(rounds, [&] {
    if (pty) platform::FindPortHolders(pty->SlavePath());
  });

  std::printf("program folder: %s\n", folder.c_str());
  for (const platform::ComPortInfo& info : catalog.ResolveAll())
    if (!info.description.empty())
      std::printf("  COM%-3d %s %s\n", info.number, info.present ? "present" : "absent ",
                  info.description.c_str());
  std::printf("\n%d rounds, %zu tty devices with hardware, %zu COM numbers present\n", rounds,
              devices, present);
  std::printf("%-44s %8s %8s\n", "", "median", "worst");
  std::printf("%-44s %6.3f ms %6.3f ms\n", "enumerate + resolve and describe COM1..255",
              list.median, list.worst);
  std::printf("%-44s %6.3f ms %6.3f ms\n", "holder lookup in /proc (at each open)", holders.median,
              holders.worst);
  return list.median <= 5.0 ? 0 : 1;
}
