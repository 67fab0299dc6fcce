#pragma once

#include <QString>

// Shared routines of the program: the error log and the conversions between
// a byte and its "0"/"1" text used to pack option flags.

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
