#include "serial/CommMessages.h"

#include <QCoreApplication>
#include <cstring>
#include <new>

#include "serial/Comm.h"

TCommBlock MakeCommBlock(const uint8_t* data, uint32_t count) {
  TCommBlock block(new (std::nothrow) uint8_t[size_t{count} + 1]());
  if (block && count > 0) std::memcpy(block.get(), data, count);
  return block;
}

QEvent::Type TCommMessageEvent::EventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

TCommMessageEvent::TCommMessageEvent(uint32_t msg, uintptr_t wParam, uintptr_t lParam,
                                     TCommBlock block)
    : QEvent(EventType()), Msg(msg), WParam(wParam), LParam(lParam), Block(std::move(block)) {}

TCommNotifier::TCommNotifier(TComm* owner) : owner_(owner) {}

bool TCommNotifier::event(QEvent* e) {
  if (e->type() != TCommMessageEvent::EventType()) return QObject::event(e);
  owner_->HandleNotification(*static_cast<TCommMessageEvent*>(e));
  return true;
}

bool PostCommMessage(TCommNotifier* window, uint32_t msg, uintptr_t wParam, uintptr_t lParam,
                     TCommBlock block) {
  if (window == nullptr) return false;
  window->NotePosted();
  QCoreApplication::postEvent(window, new TCommMessageEvent(msg, wParam, lParam, std::move(block)));
  return true;
}
