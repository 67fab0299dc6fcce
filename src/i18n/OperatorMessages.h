#pragma once

#include <QString>

#include "messages/Messages.h"

// The operator messages of messages/Messages.h in the current language: the
// data module's LangCode chooses the text ("chn" Chinese, anything else
// English).

// The text of message `id` in the current language.
QString MsgText(messages::Msg id);

// Shows message `id` in the current language in a message box with an OK
// button.
void ShowMsg(messages::Msg id);
