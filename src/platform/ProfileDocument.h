#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>
#include <vector>

namespace platform {

// One private-profile (INI) file held in memory: the raw bytes of every line,
// so that lines a change does not touch are written back byte for byte, and an
// index of the first section and the first key of each name.
//
// Reading rules: names match without regard to case and are trimmed of blanks;
// a line whose first non-blank character is ';' is a comment; a line that
// starts with '[' but has no ']' is no section; a line without '=' is no key;
// lines before the first section belong to none.
class ProfileDocument {
 public:
  // Longest value handed back by Value(), in bytes of the file's code page,
  // as the Windows functions count it.
  static constexpr int kMaxValueLength = 2047;

  // Parses a file's bytes (code page 936).
  static ProfileDocument Parse(const QByteArray& bytes);

  // The value of the first matching key of the first matching section:
  // trimmed, one pair of matching surrounding quotes removed, cut to
  // kMaxValueLength bytes (whole characters only). Empty optional when there
  // is no such key.
  std::optional<QString> Value(const QString& section, const QString& key) const;

  // Whether a name or a value can be written so that it reads back unchanged:
  // no line breaks anywhere, no ']' in a section name, no '=' in a key, and a
  // key that is not empty and does not start like a comment or a section.
  static bool IsWritableSection(const QString& section);
  static bool IsWritableKey(const QString& key);
  static bool IsWritableValue(const QString& value);

  // Sets the first matching key to "key=value" (CR LF), adding the key at the
  // end of its section's keys, or the section at the end of the file. The
  // caller has checked the names and the value with the IsWritable functions.
  // False when the key line already read so, byte for byte: nothing changed.
  bool SetValue(const QString& section, const QString& key, const QString& value);

  // The whole file as bytes.
  QByteArray Serialize() const;

 private:
  enum class LineKind { Other, Blank, Comment, Section, Key };

  struct Line {
    QByteArray raw;  // with its line terminator, if it had one
    LineKind kind = LineKind::Other;
    QString name;   // section or key name, trimmed
    QString value;  // key value as read back
  };

  struct Section {
    Line header;
    std::vector<Line> body;
    QHash<QString, int> keyIndex;  // folded key name -> first line in body
    int lastKeyLine = -1;
  };

  static Line ParseLine(const QByteArray& raw, const QString& text);
  static QString Fold(const QString& name);
  static QByteArray EncodeLine(const QString& text);
  static Line WrittenLine(const QString& text);
  static void EnsureTerminated(Line& line);
  void AddLine(Line line);
  void IndexKey(Section& section, int lineIndex);

  std::vector<Line> preamble_;  // lines before the first section
  std::vector<Section> sections_;
  QHash<QString, int> sectionIndex_;  // folded section name -> first section
};

// Text with blanks (space, tab, CR, vertical tab, form feed) removed at both
// ends; other white space, such as the ideographic space, is kept.
QString TrimBlanks(const QString& text);

}  // namespace platform
