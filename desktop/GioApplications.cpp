// GLib's headers name struct members "signals", which Qt defines as a
// keyword: they come before any Qt header.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "GioApplications.h"

#include <QFile>
#include <QSet>

#include <memory>

namespace desktop::gio {

namespace {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct ListUnref {
  void operator()(GList *list) const { g_list_free_full(list, g_object_unref); }
};
struct Free {
  void operator()(gpointer p) const { g_free(p); }
};
template <typename T> using Object = std::unique_ptr<T, ObjectUnref>;
using AppList = std::unique_ptr<GList, ListUnref>;
using Text = std::unique_ptr<char, Free>;

QString IdOf(GAppInfo *info) {
  const char *id = g_app_info_get_id(info);
  return id ? QString::fromUtf8(id) : QString();
}

bool NeedsTerminal(GAppInfo *info) {
  return G_IS_DESKTOP_APP_INFO(info) &&
         g_desktop_app_info_get_boolean(G_DESKTOP_APP_INFO(info), "Terminal");
}

void RememberPid(GDesktopAppInfo *, GPid pid, gpointer started) {
  *static_cast<GPid *>(started) = pid;
}

} // namespace

QStringList Applications(const QStringList &types, const QString &ownId) {
  QStringList windowed, terminal;
  QSet<QString> seen{ownId};
  auto take = [&](GAppInfo *info) {
    const QString id = IdOf(info);
    if (id.isEmpty() || seen.contains(id))
      return;
    seen.insert(id);
    // The lists may name an entry that a Hidden entry of the same id in a
    // folder of higher precedence deletes; looked up by id it is gone.
    if (!Object<GDesktopAppInfo>{
            g_desktop_app_info_new(id.toUtf8().constData())})
      return;
    (NeedsTerminal(info) ? terminal : windowed) << id;
  };
  for (const QString &type : types) {
    const QByteArray name = type.toUtf8();
    if (Object<GAppInfo> best{
            g_app_info_get_default_for_type(name.constData(), FALSE)})
      take(best.get());
    for (auto list : {g_app_info_get_recommended_for_type,
                      g_app_info_get_fallback_for_type}) {
      const AppList apps{list(name.constData())};
      for (GList *l = apps.get(); l; l = l->next)
        take(G_APP_INFO(l->data));
    }
  }
  return windowed + terminal;
}

QString ContentType(const QString &path) {
  QFile file(path);
  QByteArray head;
  if (file.open(QIODevice::ReadOnly))
    head = file.read(4096);
  gboolean uncertain = FALSE;
  const Text type{
      g_content_type_guess(QFile::encodeName(path).constData(),
                           reinterpret_cast<const guchar *>(head.constData()),
                           static_cast<gsize>(head.size()), &uncertain)};
  const Text mime{type ? g_content_type_get_mime_type(type.get()) : nullptr};
  return mime ? QString::fromUtf8(mime.get()) : QString();
}

QString DisplayName(const QString &id) {
  const Object<GDesktopAppInfo> info{
      g_desktop_app_info_new(id.toUtf8().constData())};
  const char *name =
      info ? g_app_info_get_display_name(G_APP_INFO(info.get())) : nullptr;
  return name ? QString::fromUtf8(name) : id;
}

qint64 Launch(const QString &id, const QString &path, QString &error) {
  const Object<GDesktopAppInfo> info{
      g_desktop_app_info_new(id.toUtf8().constData())};
  if (!info) {
    error = QStringLiteral("no desktop entry %1").arg(id);
    return -1;
  }
  const Object<GFile> file{
      g_file_new_for_path(QFile::encodeName(path).constData())};
  const Text uri{g_file_get_uri(file.get())};
  GList uris{uri.get(), nullptr, nullptr};
  GPid pid = 0;
  GError *failure = nullptr;
  // The child is not reaped by GLib, so that its exit status can be read.
  const gboolean started = g_desktop_app_info_launch_uris_as_manager(
      info.get(), &uris, nullptr,
      GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr,
      nullptr, RememberPid, &pid, &failure);
  if (!started) {
    error = failure ? QString::fromUtf8(failure->message) : QString();
    g_clear_error(&failure);
    return -1;
  }
  return pid;
}

} // namespace desktop::gio
