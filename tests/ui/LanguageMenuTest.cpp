// The log in English: every text the window can write, driven through the
// simulated receiver's faults, the settings file and the files kept, comes
// out without a Russian letter; the menu entry changes the lines written from
// then on and is remembered.
#include "app/Language.h"
#include "app/Options.h"
#include "app/Settings.h"
#include "controls/SpinDouble.h"
#include "tests/ui/FormFixture.h"
#include "ui/HandlerGuard.h"
#include "ui/KeepWhatWasSeen.h"
#include "ui/ReceiverMenu.h"

#include <QAction>
#include <QCoreApplication>
#include <QPushButton>
#include <QTest>

#include <fstream>
#include <functional>
#include <new>

namespace {

bool HasCyrillic(const QString& s) {
  return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() >= 0x400 && c.unicode() <= 0x52F; });
}

class LanguageTest : public FormTest {
 protected:
  void TearDown() override {
    FormTest::TearDown();
    dir_.clear();
    settings_.reset();
    for (const char* v : {"RTLSDR_SIM_DEVICES", "RTLSDR_SIM_OPEN_FAIL", "RTLSDR_SIM_FAULT", "RTLSDR_SIM_FAULT_AFTER"})
      qunsetenv(v);
    wg::SetLanguage(wg::Language::Russian);
  }
  // The window over a plugins folder holding `library` (nullptr: none).
  MainWindow& OpenWith(std::optional<wg::Language> language, const char* library = WG_SIM_LIB, const QString& ini = {}) {
    Bind(library);
    settings_ = ini.isEmpty() ? std::make_unique<wg::TSettings>() : std::make_unique<wg::TSettings>(ini);
    wg::Options o;
    o.language = language;
    form_ = std::make_unique<MainWindow>(*settings_, o);
    form_->show();
    QApplication::processEvents();
    return *form_;
  }
  bool WaitFor(const QString& text, int ms = 20000) {
    for (int i = 0; i < ms / 20 && !form_->reportLog->toPlainText().contains(text); ++i) QTest::qWait(20);
    return form_->reportLog->toPlainText().contains(text);
  }
  QStringList Russian() const {
    QStringList out;
    for (const QString& l : Lines())
      if (HasCyrillic(l)) out << l;
    return out;
  }
  std::unique_ptr<wg::TSettings> settings_;
};

TEST_F(LanguageTest, EveryReceiverFaultIsToldInEnglish) {
  const std::string junk = std::filesystem::temp_directory_path() / "wg-not-a-library.txt";
  std::ofstream(junk) << "not a shared object\n";
  struct Row {
    const char* name;
    std::vector<std::pair<const char*, const char*>> env;
    const char* library;
    std::function<void(MainWindow&)> act;
    const char* says;  // a line the case must have written
  } rows[] = {
      {"report", {}, WG_SIM_LIB, nullptr, "Frequency step, Hz: 781.25"},
      {"no receiver", {{"RTLSDR_SIM_DEVICES", "0"}}, WG_SIM_LIB, [](MainWindow& f) { f.StartSweep(); },
       "Receiver not open: scanning not started"},
      {"open fails", {{"RTLSDR_SIM_OPEN_FAIL", "1"}}, WG_SIM_LIB, nullptr,
       "Could not open receiver 0 (rtlsdr_open error code: -1)"},
      {"no library", {}, nullptr, nullptr, "Receiver library not found: "},
      {"unloadable library", {}, junk.c_str(), nullptr, "Receiver library cannot be loaded: "},
      {"partial library", {}, WG_PARTIAL_LIB, nullptr, " (functions missing: "},
      {"short read", {{"RTLSDR_SIM_FAULT", "short"}}, WG_SIM_LIB, nullptr,
       "Error reading from the receiver, scanning stopped (read 65536 of 131072 bytes, result 0)"},
      {"read error", {{"RTLSDR_SIM_FAULT", "error"}}, WG_SIM_LIB, nullptr, "(read 0 of 131072 bytes, result -1)"},
      {"unplug", {{"RTLSDR_SIM_FAULT", "unplug"}, {"RTLSDR_SIM_FAULT_AFTER", "7"}}, WG_SIM_LIB, nullptr,
       "Receiver unplugged (serial 00000001): waiting for it to come back"},
      {"untunable range", {}, WG_SIM_LIB,
       [](MainWindow& f) {
         f.StopFreqEdit->SetValue(1775);
         f.StartFreqEdit->SetValue(1760);
       },
       "The receiver cannot tune to these frequencies, no levels measured there, MHz: 1766.4–1775"},
      // Last: the hung read keeps the library for the rest of the process.
      {"hang", {{"RTLSDR_SIM_FAULT", "hang"}, {"RTLSDR_SIM_FAULT_AFTER", "3"}}, WG_SIM_LIB, nullptr,
       "The receiver does not respond: scanning stopped, the receiver is lost until the program is restarted"},
  };
  for (const Row& row : rows) {
    for (const auto& [name, value] : row.env) qputenv(name, value);
    MainWindow& f = OpenWith(wg::Language::English, row.library);
    for (const auto& [name, value] : row.env) qunsetenv(name);
    if (row.act) row.act(f);
    EXPECT_TRUE(WaitFor(QString::fromUtf8(row.says))) << row.name << "\n" << f.reportLog->toPlainText().toStdString();
    EXPECT_TRUE(Russian().isEmpty()) << row.name << "\n" << Russian().join('\n').toStdString();
    TearDown();
  }
  std::filesystem::remove(junk);
}

TEST_F(LanguageTest, SettingsFilesAndReceiverChoicesAreToldInEnglish) {
  // Every remembered value wrong, and a serial no stick has.
  const QString ini = QString::fromStdString((std::filesystem::temp_directory_path() / "wg-language.ini").string());
  {
    std::ofstream out(ini.toStdString());
    out << "[scan]\nstart=x\nstop=1\n[receiver]\ngain=loud\nppm=9999\nrate=5\nserial=NOPE\n"
           "[trace]\nmode=odd\n[markers]\npeak=maybe\nfixed=a, b\n[window]\ngeometry=@ByteArray(junk)\n"
           "[waterfall]\nshown=2\nshare=7\n[ui]\nlanguage=de\n";
  }
  MainWindow& f = OpenWith(wg::Language::English, WG_SIM_LIB, ini);
  EXPECT_TRUE(WaitFor(QStringLiteral("Settings: invalid value receiver/gain = \"loud\", using the default gain")));
  EXPECT_TRUE(WaitFor(QStringLiteral("Settings: receiver with serial \"NOPE\" not found, using receiver 0")));

  const auto dir = QString::fromStdString(dir_.string());
  wg::TKeepWhatWasSeen& keep = f.Keep();
  keep.SaveSweepCsv(dir + "/early.csv");  // most likely before the first sweep
  ASSERT_TRUE(WaitFor(QStringLiteral("Frequency step")));
  for (int i = 0; i < 100 && !keep.SaveSweepCsv(dir + "/sweep.csv"); ++i) QTest::qWait(20);
  keep.SaveSweepCsv(dir + "/no/such/folder.csv");
  keep.SaveImage(dir + "/no/such/folder.png");
  keep.StartRecording(dir + "/rec.csv");
  for (int i = 0; i < 100 && keep.RecordedSweeps() == 0; ++i) QTest::qWait(20);
  keep.StopRecording();
  keep.StartRecording(dir + "/rec.csv");  // appends
  keep.StopRecording();
  keep.StartRecording(dir + "/no/such/folder.csv");
  keep.StartRecording(QStringLiteral("/dev/full"));
  EXPECT_TRUE(WaitFor(QStringLiteral("Recording broken off, file: /dev/full")));

  auto* menu = f.findChild<wg::TReceiverMenu*>();
  ASSERT_NE(menu, nullptr);
  menu->ChooseGain(std::nullopt);
  menu->ChooseCorrection(4000);
  menu->ChooseCorrection(12);
  menu->ChooseRate(1);
  menu->ChooseRate(2400000);
  menu->ChooseReceiver(7);
  f.LogAppend(wg::HandlerErrorLine(QT_TRANSLATE_NOOP("HandlerGuard", "смене диапазона"),
                                   std::make_exception_ptr(std::bad_alloc())));
  for (const char* line : {"Saved to file: ", "Could not save file: ", "Recording sweeps to file: ",
                           "Recording stopped, file: ", ", sweeps written: ", "The file is not empty: ", "Could not start recording to file: ",
                           "Gain, dB: auto", "PPM: 4000 — refused by the receiver, staying at ", "PPM: 12",
                           "Bandwidth: 2400000 Hz, frequency step, Hz: 585.94", "Receiver 7 did not open",
                           "Error while changing the range: out of memory (std::bad_alloc)"})
    EXPECT_TRUE(WaitFor(QString::fromUtf8(line), 0)) << line;
  EXPECT_TRUE(Russian().isEmpty()) << Russian().join('\n').toStdString();
  TearDown();
  QFile::remove(ini);
}

// A settings file that cannot be read or written at all.
TEST_F(LanguageTest, ASettingsFileThatCannotBeUsedIsToldInEnglish) {
  wg::SetLanguage(wg::Language::English);
  const auto folder = std::filesystem::temp_directory_path() / "wg-language-folder.ini";
  std::filesystem::create_directories(folder);
  wg::TSettings s(QString::fromStdString(folder.string()));
  s.SetPpm(11);
  s.Sync();
  const auto lines = s.TakeMessages();
  ASSERT_FALSE(lines.empty());
  for (const std::string& l : lines) EXPECT_FALSE(HasCyrillic(QString::fromStdString(l))) << l;
  std::filesystem::remove_all(folder);
}

TEST_F(LanguageTest, TheMenuEntryChangesTheLinesFromThenOnAndIsRemembered) {
  const QString ini = QString::fromStdString((std::filesystem::temp_directory_path() / "wg-language-menu.ini").string());
  QFile::remove(ini);
  MainWindow& f = OpenWith(std::nullopt, WG_SIM_LIB, ini);
  const QStringList russianReport = Lines();
  ASSERT_EQ(russianReport.first(), QString::fromUtf8("Кол-во донглов RTL в ОС: 1"));
  auto* entry = f.findChild<QAction*>(QStringLiteral("log-in-english"));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+L")));
  EXPECT_FALSE(entry->isChecked());

  entry->trigger();
  QApplication::processEvents();
  EXPECT_EQ(Lines().mid(0, russianReport.size()), russianReport) << "lines already written stay";
  EXPECT_EQ(Lines().back(), "Log language: English");
  EXPECT_EQ(f.setUpButton->text(), "initialise");
  f.SetUpReceiver();
  EXPECT_EQ(Lines().at(russianReport.size() + 1), "RTL dongles in the system: 1");
  settings_->Sync();
  EXPECT_EQ(wg::TSettings(ini).Values().language, wg::Language::English);

  // The option wins for its run and leaves the remembered choice alone.
  TearDown();
  MainWindow& g = OpenWith(wg::Language::Russian, WG_SIM_LIB, ini);
  EXPECT_EQ(Lines().first(), QString::fromUtf8("Кол-во донглов RTL в ОС: 1"));
  EXPECT_FALSE(g.findChild<QAction*>(QStringLiteral("log-in-english"))->isChecked());
  TearDown();
  MainWindow& h = OpenWith(std::nullopt, WG_SIM_LIB, ini);
  EXPECT_EQ(Lines().first(), "RTL dongles in the system: 1");
  h.findChild<QAction*>(QStringLiteral("log-in-english"))->trigger();
  EXPECT_EQ(Lines().back(), QString::fromUtf8("Язык журнала: русский"));
  TearDown();
  QFile::remove(ini);
}

// Nothing remembered: the window follows the system's messages locale, and a
// choice made there is remembered even when it is the system's own.
TEST_F(LanguageTest, NothingChosenTheSystemsLanguageIsTaken) {
  const QString ini = QString::fromStdString((std::filesystem::temp_directory_path() / "wg-language-system.ini").string());
  QFile::remove(ini);
  const QByteArray messages = qgetenv("LC_MESSAGES");
  qputenv("LC_MESSAGES", "C");
  MainWindow& f = OpenWith(std::nullopt, WG_SIM_LIB, ini);
  EXPECT_EQ(Lines().first(), "RTL dongles in the system: 1");
  EXPECT_TRUE(f.findChild<QAction*>(QStringLiteral("log-in-english"))->isChecked());
  f.findChild<QAction*>(QStringLiteral("log-in-english"))->trigger();  // Russian, then English again
  f.findChild<QAction*>(QStringLiteral("log-in-english"))->trigger();
  settings_->Sync();
  TearDown();
  qputenv("LC_MESSAGES", messages);
  EXPECT_EQ(wg::TSettings(ini).Values().language, wg::Language::English);
  OpenWith(std::nullopt, WG_SIM_LIB, ini);
  EXPECT_EQ(Lines().first(), "RTL dongles in the system: 1");
  TearDown();
  QFile::remove(ini);
}

}  // namespace
