#pragma once

// Helpers shared by the bad-input tests: scratch files, an in-process build
// with recording surroundings, and runs of odx-outline with a time limit.

#include "outline/OutlineBuilder.h"
#include "outline/OutlineStore.h"
#include "outline/Surroundings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace matrix {

inline constexpr std::string_view kDeclaration = "<?xml version=\"1.0\"?>";

struct Node {
  uint32_t depth;
  int image;
  std::u16string label;
  friend bool operator==(const Node &, const Node &) = default;
};

// The outline an in-process build produced, with what it reported.
struct Built {
  std::vector<Node> nodes;
  outline::BuildStatus status = outline::BuildStatus::Built;
  bool surroundingsRestored = false;
};

// Builds into `store`, or into a scratch store when none is given.
Built BuildInProcess(const QString &path,
                     outline::OutlineStore *store = nullptr);

struct ProcessResult {
  int exitCode = -1;
  bool finished = false; // false: crashed, or killed at the time limit
  QByteArray out;
  QByteArray err;
};

// Runs `program` with `arguments` (no shell).  `beforeExec` runs in the
// child between fork and exec, e.g. to set resource limits.
ProcessResult RunProgram(const QString &program, const QStringList &arguments,
                         int timeoutMs, std::function<void()> beforeExec = {});
ProcessResult RunOutline(const QStringList &arguments, int timeoutMs = 60000);

QByteArray ReadAll(const QString &path);
void WriteAll(const QString &path, const QByteArray &bytes);
QByteArray WithDeclaration(std::string_view body);

} // namespace matrix
