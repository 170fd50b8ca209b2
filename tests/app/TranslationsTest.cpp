// The English translation against the sources: lupdate finds nothing new or
// gone, every text has its English, no Russian text in the code escapes the
// translation, and the survey speaks the language asked for, else the system's.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

const QString kSource = QStringLiteral(WG_SOURCE_DIR);
const QString kTs = kSource + QStringLiteral("/translations/wideglass_en.ts");
const QStringList kTranslatedDirs = {kSource + QStringLiteral("/app"), kSource + QStringLiteral("/ui"),
                                     kSource + QStringLiteral("/sweep"), kSource + QStringLiteral("/record")};

bool HasCyrillic(const QString& s) {
  return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() >= 0x400 && c.unicode() <= 0x52F; });
}

QByteArray Slurp(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Entry {
  QString context, source, translation;
  bool finished = true;
};

std::vector<Entry> ReadTs(const QByteArray& xml) {
  std::vector<Entry> out;
  QXmlStreamReader r(xml);
  QString context;
  Entry e;
  while (!r.atEnd()) {
    r.readNext();
    if (!r.isStartElement()) continue;
    if (r.name() == u"name") context = r.readElementText();
    else if (r.name() == u"message") e = Entry{context, {}, {}, true};
    else if (r.name() == u"source") e.source = r.readElementText();
    else if (r.name() == u"translation") {
      e.finished = r.attributes().value(QLatin1String("type")).isEmpty();
      e.translation = r.readElementText();
      out.push_back(e);
    }
  }
  EXPECT_FALSE(r.hasError()) << r.errorString().toStdString();
  return out;
}

std::multiset<QString> Placeholders(const QString& s) {
  std::multiset<QString> out;
  for (const auto& m : QRegularExpression(QStringLiteral("%\\d")).globalMatch(s)) out.insert(m.captured());
  return out;
}

TEST(Translations, TheEnglishCoversEveryTextOfTheSources) {
  // lupdate into a copy: the copy must come out as the file is.
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString copy = tmp.filePath(QStringLiteral("wideglass_en.ts"));
  ASSERT_TRUE(QFile::copy(kTs, copy));
  QProcess lupdate;
  lupdate.start(QStringLiteral(WG_LUPDATE),
                QStringList{QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("-no-obsolete"),
                            QStringLiteral("-I"), kSource} +
                    kTranslatedDirs + QStringList{QStringLiteral("-ts"), copy});
  ASSERT_TRUE(lupdate.waitForFinished(60000));
  ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAllStandardError().toStdString();
  const std::vector<Entry> kept = ReadTs(Slurp(kTs));
  const std::vector<Entry> found = ReadTs(Slurp(copy));
  ASSERT_GT(kept.size(), 50u);
  EXPECT_EQ(found.size(), kept.size()) << "texts added or removed in the code: run the wg_update_translations target";
  std::set<std::pair<QString, QString>> keptKeys;
  for (const Entry& e : kept) keptKeys.insert({e.context, e.source});
  for (const Entry& e : found)
    EXPECT_TRUE(keptKeys.count({e.context, e.source})) << "not in the .ts: " << e.context.toStdString() << " / "
                                                       << e.source.toStdString();

  for (const Entry& e : kept) {
    const std::string where = e.context.toStdString() + " / " + e.source.toStdString();
    EXPECT_TRUE(e.finished) << where;
    EXPECT_FALSE(e.translation.isEmpty()) << where;
    EXPECT_FALSE(HasCyrillic(e.translation)) << where;
    EXPECT_EQ(Placeholders(e.translation), Placeholders(e.source)) << where;
    // A fragment glued to values keeps its spaces at the joins.
    EXPECT_EQ(e.translation.startsWith(QLatin1Char(' ')), e.source.startsWith(QLatin1Char(' '))) << where;
    EXPECT_EQ(e.translation.endsWith(QLatin1Char(' ')), e.source.endsWith(QLatin1Char(' '))) << where;
  }
}

// A Russian string in the code that lupdate cannot see (not in tr() nor
// marked) would reach the English log as it is.
TEST(Translations, EveryRussianStringInTheCodeIsInTheCatalogue) {
  std::set<QString> sources;
  for (const Entry& e : ReadTs(Slurp(kTs))) sources.insert(e.source);
  const QRegularExpression literal(QStringLiteral(R"re("((?:[^"\\\n]|\\.)*)")re"));
  int seen = 0;
  for (const QString& dir : kTranslatedDirs) {
    QDirIterator it(dir, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files);
    while (it.hasNext()) {
      const QString file = it.next();
      for (const QString& line : QString::fromUtf8(Slurp(file)).split(QLatin1Char('\n'))) {
        const QString code = line.trimmed();
        if (code.startsWith(QLatin1String("//"))) continue;
        for (const auto& m : literal.globalMatch(code)) {
          QString text = m.captured(1);
          if (!HasCyrillic(text)) continue;
          ++seen;
          text.replace(QLatin1String("\\\""), QLatin1String("\"")).replace(QLatin1String("\\\\"), QLatin1String("\\"));
          EXPECT_TRUE(sources.count(text)) << file.toStdString() << ": " << text.toStdString();
        }
      }
    }
  }
  EXPECT_GT(seen, 50);
}

// The survey's messages and the engine's lines it passes on: in the
// language --lang asks for, else the system's (Russian only for a Russian
// locale; the C locale, an empty one and any other are English).
TEST(Translations, TheSurveySpeaksTheLanguageAskedForElseTheSystems) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  QDir dir(tmp.path());
  ASSERT_TRUE(dir.mkpath(QStringLiteral("plugins")));
  ASSERT_TRUE(QFile::copy(QStringLiteral(WG_EXE), dir.filePath(QStringLiteral("wideglass"))));
  ASSERT_TRUE(QFile::link(QStringLiteral(WG_SIM_LIB), dir.filePath(QStringLiteral("plugins/librtlsdr.so"))));
  struct Case {
    const char *lcAll, *lcMessages, *lang, *option;
    bool russian;
  };
  const Case cases[] = {
      {"", "", "C", nullptr, false},
      {"", "", "", nullptr, false},
      {"", "", "ru_RU.UTF-8", nullptr, true},
      {"", "", "ru_RU.UTF-8", "en", false},
      {"", "", "de_DE.UTF-8", nullptr, false},
      {"", "", "POSIX", "ru", true},
      {"C", "", "ru_RU.UTF-8", nullptr, false},
      {"", "ru_UA.UTF-8", "en_GB.UTF-8", nullptr, true},
      {"ru_RU.UTF-8", "en_US.UTF-8", "C", nullptr, true},
  };
  for (const Case& c : cases) {
    const std::string what = std::string("LC_ALL=") + c.lcAll + " LC_MESSAGES=" + c.lcMessages + " LANG=" + c.lang +
                             " --lang " + (c.option ? c.option : "(none)");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("RTLSDR_SIM_PACE"), QStringLiteral("0"));
    env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(c.lcAll));
    env.insert(QStringLiteral("LC_MESSAGES"), QString::fromLatin1(c.lcMessages));
    env.insert(QStringLiteral("LANG"), QString::fromLatin1(c.lang));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.path());
    // The top of the range lies beyond the simulated tuner.
    QStringList args{QStringLiteral("--record"), QStringLiteral("out.csv"), QStringLiteral("-f"),
                     QStringLiteral("1760M:1775M"), QStringLiteral("-n"), QStringLiteral("2")};
    if (c.option) args << QStringLiteral("--lang") << QString::fromLatin1(c.option);
    p.start(dir.filePath(QStringLiteral("wideglass")), args);
    ASSERT_TRUE(p.waitForFinished(60000)) << what;
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 0) << what << ": " << err.toStdString();
    if (c.russian)
      EXPECT_TRUE(err.contains(QStringLiteral("не настраивается на эти частоты"))) << what << ": " << err.toStdString();
    else
      EXPECT_TRUE(err.contains(QStringLiteral("The receiver cannot tune to these frequencies")))
          << what << ": " << err.toStdString();
    EXPECT_EQ(HasCyrillic(err), c.russian) << what << ": " << err.toStdString();
  }
}

}  // namespace
