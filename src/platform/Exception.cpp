#include "platform/Exception.h"

#include <exception>

namespace platform {

QString CurrentExceptionText() {
  try {
    throw;
  } catch (const Exception& e) {
    return e.Text();
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
    return QStringLiteral("unknown failure");
  }
}

QString CurrentExceptionReason() {
  try {
    throw;
  } catch (const Exception& e) {
    return e.Reason();
  } catch (...) {
    return QString();
  }
}

}  // namespace platform
