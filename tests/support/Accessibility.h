#pragma once

#include <gtest/gtest.h>

#include <QAccessible>
#include <QWidget>

namespace testing_support {

// What a screen reader's "activate" does to a control: its press action,
// which reaches the control past the mouse and the keyboard.
inline void PressByAccessibility(QWidget* control) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
  ASSERT_TRUE(accessible && accessible->actionInterface());
  accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

}  // namespace testing_support
