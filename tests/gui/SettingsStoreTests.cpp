#include "platform/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <array>
#include <string>

using platform::UserSettingsStore;

namespace {
constexpr auto kValue = u"ODXViewerLastFile";

ino_t InodeOf(const QString &path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}
} // namespace

class SettingsStoreTests : public QObject {
  Q_OBJECT

  QTemporaryDir config_;
  std::array<char16_t, 1024> buffer_{};

  bool Read(UserSettingsStore &store, QString &out) {
    int32_t length = -1;
    buffer_.fill(u'#');
    if (!store.ReadString(kValue, buffer_, length))
      return false;
    // The text always ends inside the buffer, right after what was stored.
    if (length < 0 || length >= static_cast<int32_t>(buffer_.size()) ||
        buffer_[static_cast<std::size_t>(length)] != u'\0')
      return false;
    out = QString::fromUtf16(buffer_.data(), length);
    return true;
  }

private slots:
  void init() {
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    QDir(config_.path()).removeRecursively();
    QDir().mkpath(config_.path());
  }

  void locationFollowsXdgConfigHome() {
    QCOMPARE(UserSettingsStore::DefaultFilePath(),
             config_.path() + QStringLiteral("/kestrane/Orrery.ini"));
    QTemporaryDir other;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(other.path()));
    QCOMPARE(UserSettingsStore::DefaultFilePath(),
             other.path() + QStringLiteral("/kestrane/Orrery.ini"));
  }

  void readingNothingStoredFailsButMakesTheFolder() {
    UserSettingsStore store;
    QString text;
    QVERIFY(!Read(store, text));
    QVERIFY(QDir(config_.path() + QStringLiteral("/kestrane")).exists());
    QSettings check(store.FilePath(), QSettings::IniFormat);
    QVERIFY(check.allKeys().isEmpty());
  }

  void roundTrip_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("path") << QStringLiteral("/home/u/ecu files/a.odx");
    QTest::newRow("empty") << QString();
    QTest::newRow("non-latin") << QStringLiteral(u"/d/Gerät/файл\u4e2d.odx");
    QTest::newRow("ini specials") << QStringLiteral("a,b;c=d \"q\" [x] \\y");
    QTest::newRow("1023 chars") << QString(1023, QLatin1Char('x'));
  }
  void roundTrip() {
    QFETCH(QString, text);
    UserSettingsStore store;
    QVERIFY(store.WriteString(
        kValue,
        std::u16string_view(reinterpret_cast<const char16_t *>(text.utf16()),
                            static_cast<std::size_t>(text.size()))));
    QString back = QStringLiteral("unchanged");
    QVERIFY(Read(store, back));
    QCOMPARE(back, text);
  }

  void textThatDoesNotFitTheBufferFailsTheRead() {
    UserSettingsStore store;
    const std::u16string tooLong(1024, u'y');
    QVERIFY(store.WriteString(kValue, tooLong));
    QString back;
    QVERIFY(!Read(store, back));
  }

  void writeStopsAtTheFirstZero() {
    UserSettingsStore store;
    const std::u16string withZero(u"abc\0def", 7);
    QVERIFY(store.WriteString(kValue, withZero));
    QString back;
    QVERIFY(Read(store, back));
    QCOMPARE(back, QStringLiteral("abc"));
  }

  void valueThatIsNotTextFailsTheRead() {
    UserSettingsStore store;
    {
      QSettings raw(store.FilePath(), QSettings::IniFormat);
      raw.setValue(QStringLiteral("ODXViewerLastFile"),
                   QStringList{QStringLiteral("a"), QStringLiteral("b")});
    }
    QString back;
    QVERIFY(!Read(store, back));
  }

  void storeThatCannotBeWrittenYieldsNothing() {
    // A folder where the file should be: neither readable as a store nor
    // writable, whoever runs the test (root included).
    UserSettingsStore store;
    QVERIFY(QDir().mkpath(store.FilePath()));
    QVERIFY(!store.WriteString(kValue, u"x"));
    QString back;
    QVERIFY(!Read(store, back));
  }

  void writeReplacesTheFileInsteadOfRewritingIt() {
    UserSettingsStore store;
    QVERIFY(store.WriteString(kValue, u"/first.odx"));
    const ino_t before = InodeOf(store.FilePath());
    QVERIFY(before != 0);
    QVERIFY(store.WriteString(kValue, u"/second.odx"));
    const ino_t after = InodeOf(store.FilePath());
    // A new inode: the new contents were written beside the old file and
    // renamed over it, so a crash mid-write leaves the old store whole.
    QVERIFY(after != 0);
    QVERIFY(after != before);
    QString back;
    QVERIFY(Read(store, back));
    QCOMPARE(back, QStringLiteral("/second.odx"));
    // No temporary or lock files are left behind.
    const QStringList left =
        QFileInfo(store.FilePath()).dir().entryList(QDir::Files);
    QCOMPARE(left, QStringList{QStringLiteral("Orrery.ini")});
  }

  void explicitPathIsUsedAsGiven() {
    QTemporaryDir elsewhere;
    const QString path = elsewhere.path() + QStringLiteral("/deep/s.ini");
    UserSettingsStore store(path);
    QVERIFY(store.WriteString(kValue, u"v"));
    QVERIFY(QFile::exists(path));
    QVERIFY(!QFile::exists(UserSettingsStore::DefaultFilePath()));
  }
};

QTEST_GUILESS_MAIN(SettingsStoreTests)
#include "SettingsStoreTests.moc"
