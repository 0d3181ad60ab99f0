#include "tests/matrix/MatrixSupport.h"

#include "outline/OutlineBuilder.h"
#include "tests/outline/RecordingSurroundings.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

namespace matrix {

Built BuildInProcess(const QString &path, outline::OutlineStore *into) {
  outline::OutlineStore scratch;
  outline::OutlineStore &store = into ? *into : scratch;
  outline::RecordingSurroundings around;
  cvexString p;
  p.AssignWide(reinterpret_cast<const char16_t *>(path.utf16()));
  Built built;
  built.status = outline::BuildOutline(p, store, around, around);
  built.surroundingsRestored = around.Restored() && !store.IsUpdating();
  built.nodes.reserve(store.GetCount());
  for (uint32_t i = 0; i < store.GetCount(); ++i)
    built.nodes.push_back(
        {store.Depth(i), store.ImageIndex(i), store.GetText(i).toU16String()});
  return built;
}

ProcessResult RunProgram(const QString &program, const QStringList &arguments,
                         int timeoutMs, std::function<void()> beforeExec) {
  QProcess process;
  if (beforeExec)
    process.setChildProcessModifier(beforeExec);
  process.start(program, arguments);
  ProcessResult r;
  if (!process.waitForStarted(10000))
    return r;
  process.closeWriteChannel();
  // Read while waiting: a large output must not fill the pipe and stall.
  QByteArray out;
  QByteArray err;
  QElapsedTimer clock;
  clock.start();
  while (process.state() != QProcess::NotRunning &&
         clock.elapsed() < timeoutMs) {
    process.waitForFinished(100);
    out += process.readAllStandardOutput();
    err += process.readAllStandardError();
  }
  if (process.state() != QProcess::NotRunning) {
    process.kill();
    process.waitForFinished(5000);
    return r;
  }
  r.out = out + process.readAllStandardOutput();
  r.err = err + process.readAllStandardError();
  r.finished = process.exitStatus() == QProcess::NormalExit;
  r.exitCode = process.exitCode();
  return r;
}

ProcessResult RunOutline(const QStringList &arguments, int timeoutMs) {
  return RunProgram(QStringLiteral(ODX_OUTLINE_PATH), arguments, timeoutMs);
}

QByteArray ReadAll(const QString &path) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  return f.readAll();
}

void WriteAll(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate))
      << path.toStdString();
  ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray WithDeclaration(std::string_view body) {
  QByteArray out(kDeclaration.data(), qsizetype(kDeclaration.size()));
  out.append(body.data(), qsizetype(body.size()));
  return out;
}

} // namespace matrix
