#pragma once

#include <QStringList>

namespace guarded_testing {

// "Class <receiver's class> exception: <text>" for every failure that escaped
// an event handler, in order.
QStringList& EscapedFailures();

}  // namespace guarded_testing
