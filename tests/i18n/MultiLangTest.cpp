// The language engine on a small test window that has one control of each
// kind the engine knows, against language files in a temporary program folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "i18n/untMultiLang.h"
#include "platform/Codepage.h"
#include "platform/ProfileFile.h"
#include "support/TempProgramFolder.h"

// Readable failure messages.
void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace {

QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

// A frame: a reusable part with components of its own.
class TfraPart : public QWidget {
  Q_OBJECT
 public:
  explicit TfraPart(QWidget* parent) : QWidget(parent) {
    setObjectName("fraPart");
    setProperty(mullang::kComponentKindProperty, "Frame");
    lblInFrame = new QLabel(U("框内"), this);
    lblInFrame->setObjectName("lblInFrame");
  }
  QLabel* lblInFrame;
};

// A data module: a non-visual owner.
class TdmTest : public QObject {
  Q_OBJECT
};

class TfrmTest : public QWidget {
  Q_OBJECT
 public:
  TfrmTest() {
    setObjectName("frmTest");
    setWindowTitle(U("测试窗口"));
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("Fallback Sans")});
    font.setPointSize(9);
    setFont(font);
    setProperty(mullang::kFontCharsetProperty, 134);

    Label1 = Make<QLabel>("Label1", this, U("串口号："));
    Panel1 = Make<QFrame>("Panel1", this);
    Panel1->setProperty("Tag", 999);
    chkInner = Make<QPushButton>("chkInner", Panel1, U("面板内"));
    btnTagged = Make<QPushButton>("btnTagged", this, U("不译"));
    btnTagged->setProperty("Tag", 999);
    Make<QFrame>("Panel5", this);
    cbxKind = Make<QComboBox>("cbxKind", this);
    cbxKind->addItems({U("甲"), U("乙"), U("丙")});
    pgc = Make<QTabWidget>("pgc", this);
    tsA = Make<QWidget>("tsA", this);
    pgc->addTab(tsA, U("页A"));
    grp = Make<QGroupBox>("grp", tsA, U("组"));
    lblEmpty = Make<QLabel>("lblEmpty", grp, QString());
    auto* image = Make<QLabel>("Image1", this);
    image->setPixmap(QPixmap(4, 4));
    Make<QPushButton>("", this, U("无名"));
    auto* timer = Make<QTimer>("timer1", this);
    timer->setProperty("Caption", "tick");
    frame = new TfraPart(this);

    MainMenu1 = Make<QMenuBar>("MainMenu1", this);
    g1 = MainMenu1->addMenu(U("功能"));
    g1->setObjectName("g1");
    N1 = g1->addAction(U("导入"));
    N1->setObjectName("N1");
    N1->setProperty("Caption", "not a control");
    g1->addSeparator()->setObjectName("N4");
    QMenu* hidden = g1->addMenu(U("隐藏"));
    hidden->setObjectName("N2");
    hidden->setProperty("Tag", 999);
    hidden->addAction(U("子项"))->setObjectName("N21");
    g1->addAction("-")->setObjectName("N5");
    N3 = g1->addAction(U("语言"));
    N3->setObjectName("N3");
  }

  template <typename T>
  T* Make(const char* name, QObject* parent, const QString& text = QString()) {
    T* object;
    if constexpr (std::is_base_of_v<QWidget, T>)
      object = new T(static_cast<QWidget*>(parent));
    else
      object = new T(parent);
    object->setObjectName(name);
    if constexpr (std::is_base_of_v<QAbstractButton, T> || std::is_base_of_v<QLabel, T>)
      object->setText(text);
    if constexpr (std::is_same_v<T, QGroupBox>) object->setTitle(text);
    return object;
  }

  QLabel *Label1, *lblEmpty;
  QWidget *Panel1, *tsA;
  QPushButton *chkInner, *btnTagged;
  QComboBox* cbxKind;
  QTabWidget* pgc;
  QGroupBox* grp;
  TfraPart* frame;
  QMenuBar* MainMenu1;
  QMenu* g1;
  QAction *N1, *N3;
};

// A window with the views the engine translates when asked.
class TfrmViews : public QWidget {
  Q_OBJECT
 public:
  TfrmViews() {
    setObjectName("frmViews");
    lv = new QTableWidget(2, 2, this);
    lv->setObjectName("lv");
    lv->setHorizontalHeaderLabels({U("列0"), U("列1")});
    for (int row = 0; row < 2; ++row)
      for (int column = 0; column < 2; ++column)
        lv->setItem(row, column,
                    new QTableWidgetItem(QStringLiteral("r%1c%2").arg(row).arg(column)));
    tv = new QTreeWidget(this);
    tv->setObjectName("tv");
    auto* root = new QTreeWidgetItem(tv, {U("根")});
    new QTreeWidgetItem(root, {U("枝")});
    new QTreeWidgetItem(tv, {U("根2")});
    model.setHorizontalHeaderLabels({U("题0"), U("题1")});
    hc = new QHeaderView(Qt::Horizontal, this);
    hc->setObjectName("hc");
    hc->setModel(&model);
    grid = new QTableView(this);
    grid->setObjectName("grid");
    grid->setModel(&model);
  }
  QStandardItemModel model;
  QTableWidget* lv;
  QTreeWidget* tv;
  QHeaderView* hc;
  QTableView* grid;
};

class MulLangTest : public ::testing::Test {
 protected:
  QString FilePath() const { return folder.file("LangCHN.MUL"); }
  void PutFile(const QString& utf8Text) const {
    QFile file(FilePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(platform::EncodeGbk(utf8Text));
  }
  QString FileText() const {
    QFile file(FilePath());
    return file.open(QIODevice::ReadOnly) ? platform::DecodeGbk(file.readAll()) : "<missing>";
  }
  QString Value(const QString& key, const QString& section = "TfrmTest") const {
    return platform::ProfileFile(FilePath()).ReadString(section, key, "<absent>");
  }
  void SetReadOnly(bool readOnly) const {
    ::chmod(QFile::encodeName(FilePath()).constData(), readOnly ? 0444 : 0644);
  }

  testing_support::TempProgramFolder folder;
  TfrmTest form;
};

TEST_F(MulLangTest, FirstRunWritesTheWholeDesignIntoANewFile) {
  TMulFormLang lang(&form);
  lang.SetActive(true);
  EXPECT_EQ(FileText(), U("[TfrmTest]\r\n"
                          "frmTest_FontName=SimSun\r\n"
                          "frmTest_FontSize=9\r\n"
                          "frmTest_FontCharset=134\r\n"
                          "frmTest_Caption=测试窗口\r\n"
                          "Label1_Caption=串口号：\r\n"
                          "chkInner_Caption=面板内\r\n"
                          "Panel5_Caption=\r\n"
                          "cbxKind_Items[0]=甲\r\n"
                          "cbxKind_Items[1]=乙\r\n"
                          "cbxKind_Items[2]=丙\r\n"
                          "tsA_Caption=页A\r\n"
                          "grp_Caption=组\r\n"
                          "lblEmpty_Caption=\r\n"));
  // Every design text is unchanged by its own first run.
  EXPECT_EQ(form.Label1->text(), U("串口号："));
  EXPECT_EQ(form.font().pointSize(), 9);
}

struct TextCase {
  const char* value;
  const char* shown;
};

TEST_F(MulLangTest, ValuesReplaceTextsWithoutTheirBrackets) {
  const TextCase cases[] = {
      {"Port:", "Port:"}, {"<Port:>", "Port:"},   {"<>", ""}, {"<Port", "<Port"},
      {"Port>", "Port>"}, {"<a<b>c>", "a<b>c"},   {"<", "<"}, {">", ">"},
      {"\"<x>\"", "x"},   {" spaced ", "spaced"},
  };
  for (const TextCase& c : cases) {
    form.Label1->setText(U("串口号："));
    PutFile(U("[tfrmtest]\r\nlabel1_caption=") + U(c.value) + "\r\n");
    TMulFormLang lang(&form);
    lang.SetActive(true);
    EXPECT_EQ(form.Label1->text(), U(c.shown)) << c.value;
  }
}

TEST_F(MulLangTest, EmptyValueCountsAsAbsentAndIsOverwritten) {
  PutFile("[TfrmTest]\r\nLabel1_Caption=\r\n");
  TMulFormLang lang(&form);
  lang.SetActive(true);
  EXPECT_EQ(form.Label1->text(), U("串口号："));
  EXPECT_EQ(Value("Label1_Caption"), U("串口号："));
}

TEST_F(MulLangTest, AddBracketWrapsWrittenTextsAndRunsNoPass) {
  TMulFormLang lang(&form);
  lang.SetActive(true);
  QFile::remove(FilePath());
  lang.SetAddBracket(true);
  EXPECT_EQ(FileText(), "<missing>") << "assigning AddBracket ran a pass";
  lang.SetActive(true);
  EXPECT_EQ(Value("Label1_Caption"), U("<串口号：>"));
  EXPECT_EQ(Value("lblEmpty_Caption"), "<>");
  form.Label1->setText("x");
  lang.SetActive(true);
  EXPECT_EQ(form.Label1->text(), U("串口号："));
  EXPECT_EQ(Value("frmTest_FontSize"), "9") << "numbers are never bracketed";
}

TEST_F(MulLangTest, EmptyTextsAndTheWritesTheyCause) {
  TMulFormLang lang(&form);
  lang.SetIgnoreEmptyString(true);
  lang.SetActive(true);
  EXPECT_EQ(Value("lblEmpty_Caption"), "<absent>");

  // Without IgnoreEmptyString the empty value is written at every pass; the
  // file then already reads so, and a complete file is never replaced: even
  // a read-only one takes the pass.
  lang.SetActive(false);
  lang.SetIgnoreEmptyString(false);
  lang.SetActive(true);
  EXPECT_EQ(Value("lblEmpty_Caption"), "");
  SetReadOnly(true);
  EXPECT_NO_THROW(lang.SetActive(true));
  form.lblEmpty->setText("now set");
  EXPECT_THROW(lang.SetActive(true), platform::EFileError) << "an empty value is absent";
  form.lblEmpty->clear();
  SetReadOnly(false);

  // With AddBracket the value "<>" reads back as an empty text.
  lang.SetAddBracket(true);
  QFile::remove(FilePath());
  lang.SetActive(true);
  EXPECT_EQ(Value("lblEmpty_Caption"), "<>");
  EXPECT_EQ(form.lblEmpty->text(), "");
}

struct FontCase {
  const char* lines;
  int size;
  int charset;
  const char* sizeAfter;
  const char* charsetAfter;
};

TEST_F(MulLangTest, FontStepAppliesGivenValuesAndWritesAbsentOnes) {
  const FontCase cases[] = {
      {"frmTest_FontSize=12\r\nfrmTest_FontCharset=0\r\n", 12, 0, "12", "0"},
      {"frmTest_FontSize=0x0A\r\nfrmTest_FontCharset=0x86\r\n", 10, 134, "0x0A", "0x86"},
      {"frmTest_FontSize=0\r\nfrmTest_FontCharset=-1\r\n", 9, 134, "9", "134"},
      {"frmTest_FontSize=abc\r\nfrmTest_FontCharset=1x\r\n", 9, 134, "9", "134"},
      {"frmTest_FontSize=\r\n", 9, 134, "9", "134"},
  };
  for (const FontCase& c : cases) {
    QFont font = form.font();
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("Fallback Sans")});
    font.setPointSize(9);
    form.setFont(font);
    form.setProperty(mullang::kFontCharsetProperty, 134);
    PutFile(U("[TfrmTest]\r\nfrmTest_FontName=Noto Sans\r\n") + c.lines);
    TMulFormLang lang(&form);
    lang.SetActive(true);
    EXPECT_EQ(form.font().families(), QStringList({"Noto Sans", "SimSun", "Fallback Sans"}));
    EXPECT_EQ(form.font().pointSize(), c.size) << c.lines;
    EXPECT_EQ(mullang::FontCharset(&form), c.charset) << c.lines;
    EXPECT_EQ(Value("frmTest_FontSize"), c.sizeAfter) << c.lines;
    EXPECT_EQ(Value("frmTest_FontCharset"), c.charsetAfter) << c.lines;
  }
}

TEST_F(MulLangTest, PixelSizedFontIsWrittenInPointsAt96Dpi) {
  QFont font = form.font();
  font.setPixelSize(13);
  form.setFont(font);
  TMulFormLang lang(&form);
  lang.SetActive(true);
  EXPECT_EQ(Value("frmTest_FontSize"), "10");
  PutFile("[TfrmTest]\r\nfrmTest_FontSize=-16\r\n");
  lang.SetActive(true);
  EXPECT_EQ(form.font().pixelSize(), 16) << "a negative size is a height in pixels";
}

TEST_F(MulLangTest, WithoutAutoCreateModeNothingIsWritten) {
  TMulFormLang lang(&form);
  lang.SetAutoCreateMode(false);
  lang.SetActive(true);
  EXPECT_EQ(FileText(), "<missing>");
  PutFile(U("[TfrmTest]\r\nLabel1_Caption=Port:\r\n"));
  lang.SetActive(true);
  EXPECT_EQ(form.Label1->text(), "Port:");
  EXPECT_EQ(FileText(), U("[TfrmTest]\r\nLabel1_Caption=Port:\r\n"));
}

TEST_F(MulLangTest, SkippingRules) {
  TMulFormLang lang(&form);
  lang.IgnoreControls().Add("grp");
  lang.IgnoreControls().Add("label1");  // names match exactly: Label1 is still translated
  lang.SetIgnoreFormCaption(true);
  lang.SetActive(true);
  EXPECT_EQ(Value("frmTest_Caption"), "<absent>");
  EXPECT_EQ(Value("Label1_Caption"), U("串口号："));
  EXPECT_EQ(Value("grp_Caption"), "<absent>");
  EXPECT_EQ(Value("lblEmpty_Caption"), "") << "a skipped container's controls are still visited";
  EXPECT_EQ(Value("chkInner_Caption"), U("面板内")) << "a container's Tag does not reach inside";
  EXPECT_EQ(Value("btnTagged_Caption"), "<absent>");
  EXPECT_EQ(Value("Panel1_Caption"), "<absent>");
  EXPECT_EQ(Value("timer1_Caption"), "<absent>");
  EXPECT_EQ(Value("N1_Caption"), "<absent>") << "menu items belong to the menu component";
  EXPECT_EQ(Value("lblInFrame_Caption"), "<absent>") << "a frame's components are its own";
  EXPECT_EQ(Value("Image1_Caption"), "<absent>");
  EXPECT_EQ(Value("_Caption"), "<absent>");

  lang.IgnoreTags().Clear();
  EXPECT_EQ(Value("btnTagged_Caption"), U("不译"));
}

TEST_F(MulLangTest, ListsLongerOrShorterThanTheFile) {
  PutFile(U("[TfrmTest]\r\ncbxKind_Items[0]=A\r\ncbxKind_Items[5]=F\r\n"));
  form.cbxKind->setCurrentIndex(2);
  TMulFormLang lang(&form);
  lang.SetActive(true);
  EXPECT_EQ(form.cbxKind->count(), 3);
  EXPECT_EQ(form.cbxKind->itemText(0), "A");
  EXPECT_EQ(form.cbxKind->itemText(2), U("丙"));
  EXPECT_EQ(form.cbxKind->currentIndex(), 2);
  EXPECT_EQ(Value("cbxKind_Items[1]"), U("乙"));
  EXPECT_EQ(Value("cbxKind_Items[2]"), U("丙"));
  EXPECT_EQ(Value("cbxKind_Items[5]"), "F");
}

TEST_F(MulLangTest, FrameOwnerTranslatesItsOwnComponents) {
  TMulFormLang lang(form.frame);
  lang.SetActive(true);
  EXPECT_EQ(Value("lblInFrame_Caption", "TfraPart"), U("框内"));
  EXPECT_EQ(Value("fraPart_FontCharset", "TfraPart"), "1");
  EXPECT_EQ(Value("Label1_Caption", "TfraPart"), "<absent>");
}

TEST_F(MulLangTest, MenuPass) {
  PutFile(U("[TfrmTest]\r\nN3_Caption=Language\r\ng1_Caption=<Functions>\r\n"));
  TMulMenuLang lang(&form);
  lang.SetMenu(form.MainMenu1);
  lang.SetActive(true);
  EXPECT_EQ(form.N3->text(), "Language");
  EXPECT_EQ(form.g1->title(), "Functions");
  EXPECT_EQ(Value("N1_Caption"), U("导入"));
  EXPECT_EQ(Value("N4_Caption"), "<absent>") << "separator";
  EXPECT_EQ(Value("N5_Caption"), "<absent>") << "caption \"-\"";
  EXPECT_EQ(Value("N2_Caption"), "<absent>") << "tagged submenu";
  EXPECT_EQ(Value("N21_Caption"), "<absent>") << "item under a tagged submenu";
  EXPECT_EQ(Value("Label1_Caption"), "<absent>") << "the menu component translates only its menu";
}

TEST_F(MulLangTest, DataModuleOwner) {
  TdmTest module;
  TMulFormLang formLang(&module);
  formLang.SetActive(true);
  EXPECT_EQ(FileText(), "<missing>");

  TMulMenuLang menuLang(&module);
  menuLang.SetMenu(form.g1);  // a popup menu; the section is the owner's
  menuLang.SetActive(true);
  EXPECT_EQ(Value("N1_Caption", "TdmTest"), U("导入"));
  EXPECT_EQ(Value("N1_Caption"), "<absent>");
}

TEST_F(MulLangTest, MenuBecomesEmptyWhenDestroyed) {
  TMulMenuLang lang(&form);
  auto* menu = new QMenu(&form);
  lang.SetMenu(menu);
  delete menu;
  EXPECT_EQ(lang.Menu(), nullptr);
  EXPECT_NO_THROW(lang.SetActive(true));
  EXPECT_EQ(FileText(), "<missing>");
}

TEST_F(MulLangTest, OwnerMustBeAFormDataModuleOrFrame) {
  QTimer timer;
  for (QObject* owner : std::initializer_list<QObject*>{form.Label1, nullptr, &timer}) {
    try {
      TMulMenuLang lang(owner);
      ADD_FAILURE() << "created with owner "
                    << (owner ? owner->objectName().toStdString() : "none");
    } catch (const platform::Exception& e) {
      EXPECT_EQ(e.Text(), "Owner must be a Form or a DataModule!");
    }
  }
}

TEST_F(MulLangTest, LangFileNameReadsBackBare) {
  TMulFormLang lang(&form);
  EXPECT_EQ(lang.LangFileName(), "LangCHN.MUL");
  EXPECT_EQ(lang.LangFilePath(), folder.file("LangCHN.MUL"));
  lang.SetLangFileName("LangENU.MUL");
  EXPECT_EQ(lang.LangFileName(), "LangENU.MUL");
  lang.SetLangFileName("lang\\LangDEU.MUL");
  EXPECT_EQ(lang.LangFileName(), "LangDEU.MUL");
  EXPECT_EQ(lang.LangFilePath(), folder.file("lang/LangDEU.MUL"));
}

TEST_F(MulLangTest, WhichChangesRunAPass) {
  TMulFormLang lang(&form);
  TMulMenuLang menuLang(&form);
  const std::pair<const char*, std::function<void()>> changes[] = {
      {"Active", [&] { lang.SetActive(true); }},
      {"LangFileName", [&] { lang.SetLangFileName("LangCHN.MUL"); }},
      {"IgnoreEmptyString", [&] { lang.SetIgnoreEmptyString(false); }},
      {"AutoCreateMode", [&] { lang.SetAutoCreateMode(true); }},
      {"IgnoreFormCaption", [&] { lang.SetIgnoreFormCaption(false); }},
      {"IncludeListViewItems", [&] { lang.SetIncludeListViewItems(false); }},
      {"IncludeListViewHead", [&] { lang.SetIncludeListViewHead(false); }},
      {"IncludeTreeViewItems", [&] { lang.SetIncludeTreeViewItems(false); }},
      {"IgnoreTags", [&] { lang.IgnoreTags().Add("998"); }},
      {"StringProperties", [&] { lang.SetStringProperties({"Caption"}); }},
      {"StringsProperties", [&] { lang.StringsProperties().Put(0, "Tabs"); }},
      {"IgnoreControls", [&] { lang.IgnoreControls().Clear(); }},
      {"Menu", [&] { menuLang.SetMenu(form.MainMenu1); }},
  };
  for (const auto& [what, change] : changes) {
    if (std::string(what) == "Active") continue;
    change();
    EXPECT_EQ(FileText(), "<missing>") << what << " ran a pass while inactive";
  }
  lang.SetActive(true);
  menuLang.SetActive(true);
  for (const auto& [what, change] : changes) {
    QFile::remove(FilePath());
    change();
    EXPECT_NE(FileText(), "<missing>") << what << " ran no pass while active";
  }
  QFile::remove(FilePath());
  lang.SetActive(false);
  menuLang.SetActive(false);
  EXPECT_EQ(FileText(), "<missing>");
}

TEST_F(MulLangTest, FailedWriteKeepsTheFileAndNamesIt) {
  const QString complete =
      U("[TfrmTest]\r\nfrmTest_FontName=SimSun\r\nfrmTest_FontSize=9\r\n"
        "frmTest_FontCharset=134\r\nfrmTest_Caption=Test\r\nLabel1_Caption=Port:\r\n"
        "cbxKind_Items[2]=C\r\n");
  PutFile(complete);
  SetReadOnly(true);
  TMulFormLang lang(&form);
  try {
    lang.SetActive(true);
    ADD_FAILURE() << "the pass wrote into a read-only file";
  } catch (const platform::EFileError& e) {
    EXPECT_EQ(e.Text(), "Unable to write to " + FilePath());
  }
  SetReadOnly(false);
  EXPECT_EQ(FileText(), complete);
  // The file is written once, at the end of the pass: every text the file
  // has is shown, also those after the first key it lacks.
  EXPECT_EQ(form.windowTitle(), "Test");
  EXPECT_EQ(form.Label1->text(), "Port:");
  EXPECT_EQ(form.chkInner->text(), U("面板内"));
  EXPECT_EQ(form.cbxKind->itemText(2), "C");

  EXPECT_THROW(lang.SetLangFileName("missing/folder.MUL"), platform::EFileError)
      << "a new file name while active runs a pass";
}

TEST_F(MulLangTest, PassThatFailsKeepsWhatItFoundMissingBefore) {
  // A name that cannot be a key fails the pass at the last component.
  auto bad = std::make_unique<QLabel>("x", &form);
  bad->setObjectName("bad=name");
  TMulFormLang lang(&form);
  EXPECT_THROW(lang.SetActive(true), platform::EFileError);
  EXPECT_EQ(Value("Label1_Caption"), U("串口号："));
  EXPECT_EQ(Value("lblEmpty_Caption"), "");
}

TEST_F(MulLangTest, OtherPropertiesByName) {
  auto* edit = form.Make<QLineEdit>("edtName", &form);
  edit->setText(U("名称"));
  edit->setToolTip(U("提示"));
  auto* memo = form.Make<QPlainTextEdit>("Memo1", &form);
  memo->setPlainText(U("第一行\n第二行"));
  form.setProperty("Notes", QStringList{U("甲"), U("乙")});
  PutFile(
      U("[TfrmTest]\r\nedtName_Text=Name\r\nMemo1_Lines[1]=Line 2\r\n"
        "frmTest_Notes[0]=A\r\n"));
  TMulFormLang lang(&form);
  lang.SetStringProperties({"Text", "Hint"});
  lang.SetStringsProperties({"Lines", "Notes"});
  lang.SetActive(true);
  EXPECT_EQ(edit->text(), "Name");
  EXPECT_EQ(Value("edtName_Hint"), U("提示"));
  EXPECT_EQ(memo->toPlainText(), U("第一行\nLine 2"));
  EXPECT_EQ(Value("Memo1_Lines[0]"), U("第一行"));
  EXPECT_EQ(form.property("Notes").toStringList(), QStringList({"A", U("乙")}));
  EXPECT_EQ(Value("Label1_Caption"), "<absent>");
}

TEST_F(MulLangTest, ViewSteps) {
  TfrmViews views;
  QFile file(FilePath());
  PutFile(
      U("[TfrmViews]\r\nlv_ColumnCaption[1]=Col1\r\nlv_ItemCaption[1]=Item1\r\n"
        "lv_SubItem[1]Caption[0]=Sub10\r\ntv_ItemText[1]=Twig\r\nhc_SectionsText[0]=S0\r\n"
        "grid_ColumnsCaption[1]=T1\r\n"));
  TMulFormLang lang(&views);
  lang.SetIncludeListViewHead(true);
  lang.SetIncludeTreeViewItems(true);
  lang.SetActive(true);
  EXPECT_EQ(views.lv->horizontalHeaderItem(1)->text(), "Col1");
  EXPECT_EQ(views.lv->item(1, 0)->text(), "r1c0") << "items are off by default";
  EXPECT_EQ(views.tv->topLevelItem(0)->child(0)->text(0), "Twig");
  EXPECT_EQ(views.model.headerData(0, Qt::Horizontal).toString(), "S0");
  EXPECT_EQ(views.model.headerData(1, Qt::Horizontal).toString(), "T1");
  const char* const written[][2] = {
      {"lv_ColumnCaption[0]", "列0"}, {"tv_ItemText[0]", "根"},         {"tv_ItemText[2]", "根2"},
      {"hc_SectionsText[1]", "题1"},  {"grid_ColumnsCaption[0]", "S0"},
  };
  for (const auto& [key, value] : written) EXPECT_EQ(Value(key, "TfrmViews"), U(value)) << key;
  EXPECT_EQ(Value("lv_ItemCaption[0]", "TfrmViews"), "<absent>");

  lang.SetIncludeListViewItems(true);
  EXPECT_EQ(views.lv->item(1, 0)->text(), "Item1");
  EXPECT_EQ(views.lv->item(1, 1)->text(), "Sub10");
  EXPECT_EQ(Value("lv_ItemCaption[0]", "TfrmViews"), "r0c0");
  EXPECT_EQ(Value("lv_SubItem[0]Caption[0]", "TfrmViews"), "r0c1");

  // A tree view left out of the pass has no other texts.
  QFile::remove(FilePath());
  lang.SetIncludeTreeViewItems(false);
  EXPECT_EQ(Value("tv_ItemText[0]", "TfrmViews"), "<absent>");
}

}  // namespace

#include "MultiLangTest.moc"
