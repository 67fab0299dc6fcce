// Build step: turns the committed SQL script into the password-protected
// language database that ships in the program folder.
//   MakeLangDb <script.sql> <output.adt>
#include <QFile>
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
    platform::CreateLangDb(QString::fromLocal8Bit(argv[2]), QString::fromLatin1(kLangDbPassword),
                           QString::fromUtf8(script.readAll()));
  } catch (const platform::Exception& e) {
    std::fprintf(stderr, "MakeLangDb: %s\n", e.what());
    return 1;
  }
  return 0;
}
