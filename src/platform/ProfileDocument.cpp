#include "platform/ProfileDocument.h"

#include "platform/Codepage.h"

namespace platform {

namespace {

bool IsBlank(QChar c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

bool IsGbkLeadByte(char byte) {
  return uchar(byte) >= 0x81 && uchar(byte) <= 0xFE;
}

// The longest start of the value whose GBK form fits the length a reader gets
// back, counted in the file's bytes and never cut inside a character.
QString CutToReadableLength(const QString& value) {
  constexpr qsizetype kMax = ProfileDocument::kMaxValueLength;
  // No UTF-16 unit takes more than two bytes in GBK.
  if (value.size() * 2 <= kMax) return value;
  const QByteArray bytes = EncodeGbk(value);
  if (bytes.size() <= kMax) return value;
  qsizetype end = 0;
  for (;;) {
    qsizetype next = end + (IsGbkLeadByte(bytes.at(end)) && end + 1 < bytes.size() ? 2 : 1);
    if (next > kMax) break;
    end = next;
  }
  return DecodeGbk(bytes.left(end));
}

// Removes one pair of matching surrounding quotes, then cuts the value to the
// longest length a reader gets back.
QString ValueAsRead(const QString& trimmed) {
  QString value = trimmed;
  if (value.size() >= 2 && value.front() == value.back() &&
      (value.front() == u'"' || value.front() == u'\''))
    value = value.mid(1, value.size() - 2);
  return CutToReadableLength(value);
}

bool HasLineBreak(const QString& text) {
  return text.contains(u'\n') || text.contains(u'\r');
}

// Splits bytes into lines, each keeping its '\n'.
std::vector<QByteArray> SplitRawLines(const QByteArray& bytes) {
  std::vector<QByteArray> lines;
  qsizetype start = 0;
  while (start < bytes.size()) {
    qsizetype end = bytes.indexOf('\n', start);
    qsizetype next = end < 0 ? bytes.size() : end + 1;
    lines.push_back(bytes.mid(start, next - start));
    start = next;
  }
  return lines;
}

// The decoded text of each raw line. The whole file is decoded in one call;
// only when a malformed byte sequence swallowed a line break (so the line
// counts differ) is each line decoded on its own.
QStringList DecodeLines(const QByteArray& bytes, const std::vector<QByteArray>& raw) {
  QStringList texts = DecodeGbk(bytes).split(u'\n');
  // A final '\n' leaves an empty piece after it that is no line.
  if (bytes.isEmpty() || bytes.endsWith('\n')) texts.removeLast();
  if (texts.size() == qsizetype(raw.size())) return texts;
  texts.clear();
  for (const QByteArray& line : raw) {
    QString text = DecodeGbk(line);
    if (text.endsWith(u'\n')) text.chop(1);
    texts.append(text);
  }
  return texts;
}

}  // namespace

QString TrimBlanks(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && IsBlank(text.at(begin))) ++begin;
  while (end > begin && IsBlank(text.at(end - 1))) --end;
  return text.mid(begin, end - begin);
}

ProfileDocument ProfileDocument::Parse(const QByteArray& bytes) {
  ProfileDocument document;
  std::vector<QByteArray> raw = SplitRawLines(bytes);
  QStringList texts = DecodeLines(bytes, raw);
  for (size_t i = 0; i < raw.size(); ++i) document.AddLine(ParseLine(raw[i], texts[qsizetype(i)]));
  return document;
}

ProfileDocument::Line ProfileDocument::ParseLine(const QByteArray& raw, const QString& text) {
  Line line;
  line.raw = raw;
  QString trimmed = TrimBlanks(text);
  if (trimmed.isEmpty()) {
    line.kind = LineKind::Blank;
  } else if (trimmed.front() == u';') {
    line.kind = LineKind::Comment;
  } else if (qsizetype close = trimmed.indexOf(u']', 1); trimmed.front() == u'[' && close > 0) {
    // A '[' without its ']' makes no section: such a line reads as any other.
    line.kind = LineKind::Section;
    line.name = TrimBlanks(trimmed.mid(1, close - 1));
  } else if (qsizetype equals = trimmed.indexOf(u'='); equals >= 0) {
    line.kind = LineKind::Key;
    line.name = TrimBlanks(trimmed.left(equals));
    line.value = ValueAsRead(TrimBlanks(trimmed.mid(equals + 1)));
  }
  return line;
}

void ProfileDocument::AddLine(Line line) {
  if (line.kind == LineKind::Section) {
    QString folded = Fold(line.name);
    if (!sectionIndex_.contains(folded)) sectionIndex_.insert(folded, int(sections_.size()));
    sections_.push_back(Section{std::move(line), {}, {}, -1});
    return;
  }
  if (sections_.empty()) {
    preamble_.push_back(std::move(line));
    return;
  }
  Section& section = sections_.back();
  section.body.push_back(std::move(line));
  if (section.body.back().kind == LineKind::Key) IndexKey(section, int(section.body.size()) - 1);
}

void ProfileDocument::IndexKey(Section& section, int lineIndex) {
  QString folded = Fold(section.body[size_t(lineIndex)].name);
  if (!section.keyIndex.contains(folded)) section.keyIndex.insert(folded, lineIndex);
  section.lastKeyLine = std::max(section.lastKeyLine, lineIndex);
}

QString ProfileDocument::Fold(const QString& name) {
  return TrimBlanks(name).toCaseFolded();
}

std::optional<QString> ProfileDocument::Value(const QString& section, const QString& key) const {
  auto s = sectionIndex_.constFind(Fold(section));
  if (s == sectionIndex_.cend()) return std::nullopt;
  const Section& found = sections_[size_t(*s)];
  auto k = found.keyIndex.constFind(Fold(key));
  if (k == found.keyIndex.cend()) return std::nullopt;
  return found.body[size_t(*k)].value;
}

bool ProfileDocument::IsWritableSection(const QString& section) {
  return !HasLineBreak(section) && !section.contains(u']');
}

bool ProfileDocument::IsWritableKey(const QString& key) {
  QString trimmed = TrimBlanks(key);
  return !trimmed.isEmpty() && !HasLineBreak(key) && !key.contains(u'=') &&
         trimmed.front() != u';' && trimmed.front() != u'[';
}

bool ProfileDocument::IsWritableValue(const QString& value) {
  return !HasLineBreak(value);
}

QByteArray ProfileDocument::EncodeLine(const QString& text) {
  return EncodeGbk(text) + "\r\n";
}

// The line as a later reader of the file will see it: characters without a
// GBK form were replaced on encoding, so the text is taken back from the bytes.
ProfileDocument::Line ProfileDocument::WrittenLine(const QString& text) {
  QByteArray raw = EncodeLine(text);
  return ParseLine(raw, DecodeGbk(raw.left(raw.size() - 2)));
}

void ProfileDocument::EnsureTerminated(Line& line) {
  if (!line.raw.isEmpty() && !line.raw.endsWith('\n')) line.raw += "\r\n";
}

bool ProfileDocument::SetValue(const QString& section, const QString& key, const QString& value) {
  Line keyLine = WrittenLine(TrimBlanks(key) + u'=' + value);

  auto s = sectionIndex_.constFind(Fold(section));
  if (s == sectionIndex_.cend()) {
    Line* last = nullptr;
    if (!sections_.empty())
      last =
          sections_.back().body.empty() ? &sections_.back().header : &sections_.back().body.back();
    else if (!preamble_.empty())
      last = &preamble_.back();
    if (last) EnsureTerminated(*last);
    AddLine(WrittenLine(u'[' + TrimBlanks(section) + u']'));
    AddLine(std::move(keyLine));
    return true;
  }

  Section& found = sections_[size_t(*s)];
  auto k = found.keyIndex.constFind(Fold(key));
  if (k != found.keyIndex.cend()) {
    Line& existing = found.body[size_t(*k)];
    if (existing.raw == keyLine.raw) return false;
    existing = std::move(keyLine);
    return true;
  }
  // After the section's last key line only blank, comment or other lines
  // follow, so inserting there moves no indexed key.
  int position = found.lastKeyLine + 1;
  EnsureTerminated(position == 0 ? found.header : found.body[size_t(position - 1)]);
  found.body.insert(found.body.begin() + position, std::move(keyLine));
  IndexKey(found, position);
  return true;
}

QByteArray ProfileDocument::Serialize() const {
  qsizetype size = 0;
  for (const Line& line : preamble_) size += line.raw.size();
  for (const Section& section : sections_) {
    size += section.header.raw.size();
    for (const Line& line : section.body) size += line.raw.size();
  }
  QByteArray bytes;
  bytes.reserve(size);
  for (const Line& line : preamble_) bytes += line.raw;
  for (const Section& section : sections_) {
    bytes += section.header.raw;
    for (const Line& line : section.body) bytes += line.raw;
  }
  return bytes;
}

}  // namespace platform
