#include "desktop/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <array>
#include <optional>

using desktop::UserSettingsStore;

namespace {
constexpr auto kValue = u"ODXViewerLastFile";

ino_t InodeOf(const QString &path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// The stored text, or nothing when the read fails.  A successful read
// always ends the text inside the buffer, right after what was stored.
std::optional<QString> Read(UserSettingsStore &store) {
  std::array<char16_t, 1024> buffer;
  buffer.fill(u'#');
  int32_t length = -1;
  if (!store.ReadString(kValue, buffer, length))
    return std::nullopt;
  if (length < 0 || length >= int32_t(buffer.size()) ||
      buffer[std::size_t(length)] != u'\0')
    return QStringLiteral("<not terminated>");
  return QString::fromUtf16(buffer.data(), length);
}
} // namespace

Q_DECLARE_METATYPE(std::u16string)
Q_DECLARE_METATYPE(std::optional<QString>)

class SettingsStoreTests : public QObject {
  Q_OBJECT

  QTemporaryDir config_;

private slots:
  void init() {
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    QDir(config_.path()).removeRecursively();
    QDir().mkpath(config_.path());
  }

  void locationFollowsXdgConfigHome() {
    QCOMPARE(UserSettingsStore::DefaultFilePath(),
             config_.path() + "/kestrane/Orrery.ini");
    QTemporaryDir elsewhere;
    const QString path = elsewhere.path() + "/deep/s.ini";
    UserSettingsStore store(path); // an explicit path is used as given
    QVERIFY(store.WriteString(kValue, u"v"));
    QVERIFY(QFile::exists(path));
    QVERIFY(!QFile::exists(UserSettingsStore::DefaultFilePath()));
  }

  void readingNothingStoredFailsButMakesTheFolder() {
    UserSettingsStore store;
    QCOMPARE(Read(store), std::nullopt);
    QVERIFY(QDir(config_.path() + "/kestrane").exists());
    QVERIFY(
        QSettings(store.FilePath(), QSettings::IniFormat).allKeys().isEmpty());
  }

  void writeThenRead_data() {
    QTest::addColumn<std::u16string>("written");
    QTest::addColumn<std::optional<QString>>("read");
    auto row = [](const char *name, const std::u16string &text) {
      QTest::newRow(name) << text
                          << std::optional(QString::fromStdU16String(text));
    };
    row("path", u"/home/u/ecu files/a.odx");
    row("empty", u"");
    row("non-latin", u"/d/Gerät/файл\u4e2d.odx");
    row("ini specials", u"a,b;c=d \"q\" [x] \\y");
    row("1023 chars", std::u16string(1023, u'x'));
    QTest::newRow("1024 chars do not fit")
        << std::u16string(1024, u'y') << std::optional<QString>();
    QTest::newRow("ends at the first zero")
        << std::u16string(u"abc\0def", 7) << std::optional<QString>("abc");
  }
  void writeThenRead() {
    QFETCH(std::u16string, written);
    QFETCH(std::optional<QString>, read);
    UserSettingsStore store;
    QVERIFY(store.WriteString(kValue, written));
    QCOMPARE(Read(store), read);
  }

  void valueThatIsNotTextFailsTheRead() {
    UserSettingsStore store;
    QSettings(store.FilePath(), QSettings::IniFormat)
        .setValue("ODXViewerLastFile", QStringList{"a", "b"});
    QCOMPARE(Read(store), std::nullopt);
  }

  void storeThatCannotBeWrittenYieldsNothing() {
    // A folder where the file should be: neither readable as a store nor
    // writable, whoever runs the test (root included).
    UserSettingsStore store;
    QVERIFY(QDir().mkpath(store.FilePath()));
    QVERIFY(!store.WriteString(kValue, u"x"));
    QCOMPARE(Read(store), std::nullopt);
  }

  void organisationFolderThatIsAFileYieldsNothing() {
    QFile blocker(config_.path() + "/kestrane");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    UserSettingsStore store;
    QVERIFY(!store.WriteString(kValue, u"x"));
    QCOMPARE(Read(store), std::nullopt);
  }

  // Whatever another program left in the file, a read either fails or hands
  // over a terminated text that fits the buffer.
  void garbageInTheStoreNeverOverrunsTheBuffer() {
    UserSettingsStore store;
    QVERIFY(QDir().mkpath(QFileInfo(store.FilePath()).path()));
    QFile f(store.FilePath());
    QVERIFY(f.open(QIODevice::WriteOnly));
    QByteArray junk("ODXViewerLastFile=");
    for (int i = 0; i < 5000; ++i)
      junk.append(char((i * 37 + 11) & 0xFF));
    f.write(junk);
    f.close();
    const std::optional<QString> read = Read(store);
    QVERIFY(read != QStringLiteral("<not terminated>"));
  }

  // The new contents are written beside the old file and renamed over it
  // (a new inode), so a crash mid-write leaves the old store whole.
  void writeReplacesTheFileInsteadOfRewritingIt() {
    UserSettingsStore store;
    QVERIFY(store.WriteString(kValue, u"/first.odx"));
    const ino_t before = InodeOf(store.FilePath());
    QVERIFY(before != 0);
    QVERIFY(store.WriteString(kValue, u"/second.odx"));
    const ino_t after = InodeOf(store.FilePath());
    QVERIFY(after != 0 && after != before);
    QCOMPARE(Read(store), QStringLiteral("/second.odx"));
    // No temporary or lock files are left behind.
    QCOMPARE(QFileInfo(store.FilePath()).dir().entryList(QDir::Files),
             QStringList{"Orrery.ini"});
  }
};

QTEST_GUILESS_MAIN(SettingsStoreTests)
#include "SettingsStoreTests.moc"
