#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace params {

class ParamPanel;

// The parameter file's layout, CRC and checks are protocol/ParamFileFormat.h;
// here are the dialogs, the controls and the file itself.

// The file CRC of the named file as it lies on disk, with the four bytes at
// offsets 6..9 taken as zero, read in blocks of 4096 bytes. False when the
// file cannot be opened or read, or is not a regular file.
bool FileCrc(const QString& fileName, std::uint32_t* crc);

// The whole parameter file for the controls as they stand, CRC included.
// Throws platform::EConvertError like the serial-line record does.
QByteArray BuildParameterFile(const ParamPanel& panel);

// Menu "导出参数": asks for a file name (and before overwriting), writes the
// file atomically and reports the result. Never throws.
void ExportParameters(ParamPanel& panel);

// Menu "导入参数": asks for a file, checks its header and CRC and puts its
// records into the controls. Never throws; the file is not changed.
void ImportParameters(ParamPanel& panel);

// The import after the file dialog: the checks and the records of the named
// file. The file is read once, whole, and the checks and the records come
// from that one buffer; a file larger than protocol::kParamFileReadLimit is
// refused before it is read whole. Shows its own messages; a failure to read
// shows the failure's text.
void ImportParameterFile(ParamPanel& panel, const QString& fileName);

}  // namespace params
