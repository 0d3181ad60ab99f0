#include "platform/Folder.h"

#include "platform/FileName.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>
#include <string_view>

namespace platform {

bool IsFolder(const char16_t *path) {
  const QByteArray name =
      EncodeFileName(path ? std::u16string_view(path) : std::u16string_view());
  struct stat st {};
  return !name.isEmpty() && ::stat(name.constData(), &st) == 0 &&
         S_ISDIR(st.st_mode);
}

int64_t SizeOfFile(const char16_t *path) {
  const QByteArray name =
      EncodeFileName(path ? std::u16string_view(path) : std::u16string_view());
  struct stat st {};
  if (name.isEmpty() || ::stat(name.constData(), &st) != 0 ||
      !S_ISREG(st.st_mode))
    return -1;
  return static_cast<int64_t>(st.st_size);
}

bool ListFolderFiles(const char16_t *path, std::vector<FolderFile> &files) {
  files.clear();
  const QByteArray name =
      EncodeFileName(path ? std::u16string_view(path) : std::u16string_view());
  if (name.isEmpty())
    return false;
  const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(name.constData()),
                                                 ::closedir);
  if (!dir)
    return false;
  const int dirFd = ::dirfd(dir.get());
  while (const dirent *entry = ::readdir(dir.get())) {
    const std::string_view entryName(entry->d_name);
    if (entryName == "." || entryName == "..")
      continue;
    // stat follows a link to where it leads; a link that leads nowhere, or
    // an entry that vanished since the listing, is simply not a file.
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
      continue;
    files.push_back(FolderFile{
        QByteArray(entryName.data(), static_cast<qsizetype>(entryName.size())),
        static_cast<int64_t>(st.st_size)});
  }
  return true;
}

} // namespace platform
