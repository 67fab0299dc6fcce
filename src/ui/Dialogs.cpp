#include "ui/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace ui {
namespace {

// The dialogs' caption is the application title.
QString Caption() {
  return QApplication::applicationDisplayName();
}

class QtDialogs final : public DialogSeam {
 public:
  void ShowMessage(const QString& text) override { ShowMessageWithDetail(text, QString()); }

  void ShowMessageWithDetail(const QString& text, const QString& informativeText) override {
    QMessageBox box(QMessageBox::Information, Caption(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setInformativeText(informativeText);
    box.exec();
  }

  bool AskYesNo(const QString& text) override {
    return QMessageBox::question(QApplication::activeWindow(), Caption(), text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  }

  QString ChooseOpenFile(const FileDialogRequest& request) override {
    QFileDialog dialog(QApplication::activeWindow(), Caption(), QDir::currentPath(),
                       request.filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return Run(dialog, request);
  }

  QString ChooseSaveFile(const FileDialogRequest& request) override {
    QFileDialog dialog(QApplication::activeWindow(), Caption(), QDir::currentPath(),
                       request.filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    return Run(dialog, request);
  }

 private:
  static QString Run(QFileDialog& dialog, const FileDialogRequest& request) {
    if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
  }
};

DialogSeam* gInstalled = nullptr;

}  // namespace

void DialogSeam::ShowMessageWithDetail(const QString& text, const QString& informativeText) {
  ShowMessage(informativeText.isEmpty() ? text : text + QStringLiteral("\n\n") + informativeText);
}

DialogSeam& Dialogs() {
  static QtDialogs qtDialogs;
  return gInstalled ? *gInstalled : qtDialogs;
}

void InstallDialogs(DialogSeam* seam) {
  gInstalled = seam;
}

}  // namespace ui
