-- The language database sys/QNdata.adt: one row per language. LangFile is
-- the language file beside the program; LangTxtFile is kept by the program
-- but read by nothing else. The Chinese row must be named exactly 简体中文.
CREATE TABLE LangFileInfo (
  LangID INTEGER PRIMARY KEY,
  LangName TEXT NOT NULL,
  LangFile TEXT NOT NULL,
  LangTxtFile TEXT NOT NULL
);
INSERT INTO LangFileInfo (LangID, LangName, LangFile, LangTxtFile)
  VALUES (0, '简体中文', 'LangCHN.MUL', 'LangCHN.TXT');
INSERT INTO LangFileInfo (LangID, LangName, LangFile, LangTxtFile)
  VALUES (1, 'English', 'LangENU.MUL', 'LangENU.TXT');
