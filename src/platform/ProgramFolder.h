#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// The program folder: where the program finds its language files and
// sys/QNdata.adt, and keeps the settings file, the error log and the
// sys/ports links. One decision serves the window, the command-line program
// and the simulator:
//
// - The executable's folder when it holds the language database
//   sys/QNdata.adt and can be written: every build tree, a copied portable
//   folder. Its language files may be missing: the language pass writes a
//   missing one again, which is how an operator resets a language file.
// - Otherwise, for an installed program, the per-user folder
//   $XDG_DATA_HOME/quillon-config, by default ~/.local/share/quillon-config.
//   It is created on first use and each shipped file missing there is copied
//   from the installed data folder <bin>/../share/quillon-config (with no
//   such folder, a read-only portable folder seeds from itself). Every
//   shipped file must be there before anything is made or copied, and the
//   copies get their names together once all are complete. A file already
//   in the per-user folder is never replaced, so the operator's changes
//   survive every start.
//
// The first call decides for the whole process, without a trailing slash.
// Tests point it at a temporary folder with SetProgramFolder.
QString ProgramFolder();

// Why the program folder cannot be used, as a sentence for the operator;
// empty when it is fine. The programs check it at start and stop with the
// text. On a problem ProgramFolder() is the executable's folder.
QString ProgramFolderProblem();

// Overrides the program folder; an empty path returns to the decision above.
void SetProgramFolder(const QString& path);

// ProgramFolder() + "/" + relative.
QString ProgramPath(const QString& relative);

// The places the decision looks at.
struct ProgramFolderPlaces {
  QString executableFolder;
  QString installedDataFolder;  // <prefix>/share/quillon-config
  QString userFolder;           // empty when the user has no home folder
};

struct ProgramFolderChoice {
  QString folder;
  QString problem;  // empty when `folder` is ready for use
};

// The decision over explicit places, creating and seeding the per-user folder
// where it applies. Never throws; a problem leaves every existing file as it
// was, and a later call completes what an interrupted one left missing.
ProgramFolderChoice PrepareProgramFolder(const ProgramFolderPlaces& places);

// $XDG_DATA_HOME/quillon-config when XDG_DATA_HOME is an absolute path,
// else <home>/.local/share/quillon-config; empty without either.
QString PerUserFolder(const QString& xdgDataHome, const QString& home);

// The files a program folder is seeded with, relative to it.
const QStringList& ShippedFiles();

}  // namespace platform
