#pragma once

#include <QString>

namespace ui {

// What a file dialog is asked to show. The filter is in Qt's form
// ("BIN文件(*.bin)"), several filters separated by ";;".
struct FileDialogRequest {
  QString fileName;       // proposed name, may be empty
  QString filter;         // Qt filter string
  QString defaultSuffix;  // added when the operator types a name without one
};

// Every message box, confirmation and file dialog of the program goes
// through this seam. The program uses Qt's dialogs; tests install a scripted
// fake, so that no test ever blocks on a modal dialog.
class DialogSeam {
 public:
  virtual ~DialogSeam() = default;
  // Modal message box with an OK button.
  virtual void ShowMessage(const QString& text) = 0;
  // The same with an informative text as its second paragraph (why, and what
  // the operator can do); an empty one adds nothing. By default the paragraph
  // goes below the text of a plain message.
  virtual void ShowMessageWithDetail(const QString& text, const QString& informativeText);
  // Modal question with Yes and No; true for Yes.
  virtual bool AskYesNo(const QString& text) = 0;
  // The chosen file's path, or an empty text when the operator cancelled.
  // The save dialog never asks about overwriting by itself.
  virtual QString ChooseOpenFile(const FileDialogRequest& request) = 0;
  virtual QString ChooseSaveFile(const FileDialogRequest& request) = 0;
};

// The seam in force: the installed one, else the Qt dialogs.
DialogSeam& Dialogs();

// Installs a seam (not owned); nullptr returns to the Qt dialogs.
void InstallDialogs(DialogSeam* seam);

}  // namespace ui
