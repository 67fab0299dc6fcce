#include "cli/Ports.h"

#include <QJsonArray>
#include <QJsonObject>

#include "cli/CliError.h"
#include "platform/ProgramFolder.h"
#include "platform/SerialDevices.h"

namespace cli {
namespace {

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

QJsonObject PortJson(const platform::ComPortInfo& info) {
  const platform::SerialDevice& node = info.node;
  return {{"port", QStringLiteral("COM%1").arg(info.number)},
          {"description", Text(info.description)},
          {"link", Text(info.link)},
          {"device", Text(node.path)},
          {"vendorId", Text(node.vendorId)},
          {"productId", Text(node.productId)},
          {"manufacturer", Text(node.manufacturer)},
          {"product", Text(node.product)},
          {"serial", Text(node.serial)},
          {"byId", Text(node.byId)}};
}

}  // namespace

int ListPorts(const Output& out) {
  const auto source = platform::MakeUdevDeviceSource();
  platform::SerialPortCatalog catalog(*source, platform::ProgramFolder().toStdString());
  catalog.Refresh();
  QJsonArray ports;
  for (const platform::ComPortInfo& info : catalog.ResolveAll()) {
    if (!info.present) continue;
    out.Line(QStringLiteral("COM%1 %2").arg(info.number).arg(Text(info.description)));
    ports.append(PortJson(info));
  }
  if (out.Json()) out.PrintJson({{"ok", true}, {"ports", ports}});
  return kExitDone;
}

}  // namespace cli
