#pragma once

#include <QString>
#include <QtGlobal>

class TMulFormLang;
class TMulMenuLang;

// Shared routines of the program: the error log, the conversions between a
// byte and its "0"/"1" text used to pack option flags, and the language
// choice with the settings file sys/System.dt.

// Appends one entry to sys/SysErrorMsg.dt in the program folder: the local
// time "yyyy-MM-dd HH:mm:ss", a TAB, the text, a TAB, CR LF, in GBK. Never
// fails visibly: without the sys folder, or on any write error, the entry
// is lost.
void WriteErrorLog(const QString& text);

// The digit string read as a base-2 positional number ("10000001" gives 129,
// "12" gives 4). An empty text gives 0. A character that is not a decimal
// digit raises platform::EConvertError. Sums beyond 32 bits wrap around.
int BinStrToInt(const QString& text);

// The binary digits of Value, most significant first, left-padded with "0"
// to Width (a longer text is returned whole). A negative Value is written as
// its 32-bit two's complement.
QString IntToBinStr(int Value, int Width);

// The text without leading and trailing blanks and control characters,
// repeated Count times; Count <= 0 gives an empty text.
QString RepeatTrimmed(const QString& text, int Count);

// ---- language state and settings file ----

// The current language number, saved as [Lang] LangID.
extern quint16 CurLangID;
// The language file of the current language, relative to the program folder.
extern QString CurLangFile;
// LangTxtFile of the current language; kept, read by nothing else.
extern QString CurLangTxtFile;

// The settings file, sys/System.dt in the program folder.
QString SettingsFilePath();

// Reads [Lang] LangID (default 0, taken modulo 65536) into CurLangID, writes
// it back and looks up its language file. Failures are logged.
void LoadLangID();

// Writes CurLangID as [Lang] LangID. Failures are logged.
void SaveLangID();

// Points the given components (either may be null) at CurLangFile and runs
// one pass each. With no language file: logs it, sets CurLangID to 0 (not
// saved) and changes no text. A language file that cannot be written is
// logged with its reason and raised.
void ApplyLangFile(TMulFormLang* form, TMulMenuLang* menu);

// The version text appended to the main window's caption.
inline constexpr char kVersionText[] = "V1.4.7build180727R";

// The main window's caption from [sys] MainCaption and ShowVer; also sets the
// application title. Writes back MainCaption, ShowVer and ShowHelp. A settings
// file that cannot be written raises platform::EProfileWriteError.
QString GetMainCaption();
