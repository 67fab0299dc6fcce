// Build step: turns the committed SQL script into the password-protected
// language database that ships in the program folder, with its key file.
//   MakeLangDb <script.sql> <output.adt>
#include <QCryptographicHash>
#include <QFile>
#include <QPasswordDigestor>
#include <cstdio>

#include "i18n/LangDbPassword.h"
#include "platform/LangDb.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: MakeLangDb <script.sql> <output.adt>\n");
    return 2;
  }
  QFile script(QString::fromLocal8Bit(argv[1]));
  if (!script.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "MakeLangDb: cannot read %s\n", argv[1]);
    return 1;
  }
  try {
    const QString database = QString::fromLocal8Bit(argv[2]);
    const QString password = QString::fromLatin1(kLangDbPassword);
    platform::CreateLangDb(database, password, QString::fromUtf8(script.readAll()));
    // The key the engine derives from the password for this file (SQLCipher
    // 3: PBKDF2-HMAC-SHA1, 64000 rounds, 32 bytes), kept beside it so that
    // the program need not derive it at every start.
    const QByteArray key = QPasswordDigestor::deriveKeyPbkdf2(
        QCryptographicHash::Sha1, password.toUtf8(), platform::LangDbSalt(database), 64000, 32);
    platform::WriteLangDbKeyFile(database, password, key);
  } catch (const platform::Exception& e) {
    std::fprintf(stderr, "MakeLangDb: %s\n", e.what());
    return 1;
  }
  return 0;
}
