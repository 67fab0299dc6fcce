#pragma once

#include <QString>

namespace platform {

// The folder of the running executable, without a trailing slash. Tests point
// it at a temporary folder with SetProgramFolder.
QString ProgramFolder();

// Overrides the program folder; an empty path returns to the executable's folder.
void SetProgramFolder(const QString& path);

// ProgramFolder() + "/" + relative.
QString ProgramPath(const QString& relative);

}  // namespace platform
