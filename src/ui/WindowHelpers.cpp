#include "ui/WindowHelpers.h"

#include <QFont>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QWidget>

namespace ui {
namespace {

constexpr int kDesignPixelSize = 13;

}  // namespace

void ApplyDesignFont(QWidget* window) {
  QFont font = window->font();
  font.setFamilies(
      {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
  font.setPixelSize(kDesignPixelSize);
  window->setFont(font);
  window->setProperty(kFontCharsetProperty, kDesignCharset);
}

void LetEnterClickButtons(QWidget* window) {
  // An auto-default button takes Enter when it has the focus; outside a
  // dialog there is no default button that would take it instead.
  for (QPushButton* button : window->findChildren<QPushButton*>()) button->setAutoDefault(true);
}

void CenterOnScreen(QWidget* window) {
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

}  // namespace ui
