#pragma once

#include <QString>
#include <QStringList>
#include <deque>

#include "ui/Dialogs.h"

namespace testing_support {

// A dialog seam for tests: records every message and question, answers from
// queues, and installs itself for its lifetime. An empty answer queue answers
// No and cancels file dialogs, so a test never blocks.
class ScriptedDialogs final : public ui::DialogSeam {
 public:
  ScriptedDialogs() { ui::InstallDialogs(this); }
  ~ScriptedDialogs() override { ui::InstallDialogs(nullptr); }
  ScriptedDialogs(const ScriptedDialogs&) = delete;
  ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

  void ShowMessage(const QString& text) override { ShowMessageWithDetail(text, QString()); }
  void ShowMessageWithDetail(const QString& text, const QString& informativeText) override {
    messages.append(text);
    lastInformativeText = informativeText;
  }

  bool AskYesNo(const QString& text) override {
    questions.append(text);
    if (yesNoAnswers.empty()) return false;
    bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
  }

  QString ChooseOpenFile(const ui::FileDialogRequest& request) override {
    openRequests.push_back(request);
    return Next(openAnswers);
  }

  QString ChooseSaveFile(const ui::FileDialogRequest& request) override {
    saveRequests.push_back(request);
    return Next(saveAnswers);
  }

  QStringList messages;
  QString lastInformativeText;  // of the last message; empty when it had none
  QStringList questions;
  std::deque<bool> yesNoAnswers;
  std::deque<QString> openAnswers;  // empty text = the operator cancelled
  std::deque<QString> saveAnswers;
  std::deque<ui::FileDialogRequest> openRequests;
  std::deque<ui::FileDialogRequest> saveRequests;

 private:
  static QString Next(std::deque<QString>& answers) {
    if (answers.empty()) return {};
    QString answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

}  // namespace testing_support
