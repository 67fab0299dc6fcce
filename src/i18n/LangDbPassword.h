#pragma once

// The password of the language database sys/QNdata.adt. The program opens the
// database with it, and the build writes the database with it.
inline constexpr char kLangDbPassword[] = "#$%8rivulet1997";
