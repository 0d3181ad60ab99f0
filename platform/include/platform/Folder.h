#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

// What opening a folder as one database needs of the file system.
namespace platform {

// True when `path` names a folder (following symbolic links).
bool IsFolder(const char16_t *path);

// The size of the regular file at `path` (following links); -1 for
// anything else or when it cannot be looked at.
int64_t SizeOfFile(const char16_t *path);

// One file of a folder: its name as the file system stores it (bytes,
// mostly UTF-8) and its size.
struct FolderFile {
  QByteArray name;
  int64_t size = 0;
};

// The regular files directly in the folder, and symbolic links that lead to
// one (wherever it lies); sub-folders, devices, pipes and dangling links are
// left out.  In no particular order.  False when the folder cannot be read.
bool ListFolderFiles(const char16_t *path, std::vector<FolderFile> &files);

} // namespace platform
