#include "ui/desktop_type_names.h"

#include <QFileIconProvider>
#include <QHash>
#include <QMimeDatabase>
#include <QMimeType>

#include <mutex>
#include <unordered_map>

#include "engine/catalog/found_object.h"
#include "platform/system.h"

namespace {

std::string Extension(const std::string& name) {
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 >= name.size()) return {};
  return name.substr(dot + 1);
}

}  // namespace

std::string DesktopTypeName(const std::string& extension) {
  static std::mutex mutex;
  static std::unordered_map<std::string, std::string> cache;
  const std::string key = QString::fromStdString(extension).toLower().toStdString();
  {
    std::lock_guard lock(mutex);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
  }
  std::string name;
  if (!key.empty()) {
    // QMimeDatabase is safe to use from any thread.
    const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile("x." + QString::fromStdString(key), QMimeDatabase::MatchExtension);
    if (type.isValid() && !type.isDefault() && !type.comment().isEmpty()) name = type.comment().toStdString();
  }
  std::lock_guard lock(mutex);
  cache.emplace(key, name);
  return name;
}

void InstallDesktopTypeNames() { qm::SetTypeNameProvider(DesktopTypeName); }

QIcon ObjectIcon(const CFoundObject& object) {
  static QFileIconProvider provider;
  static QHash<QString, QIcon> byType;
  if (object.IsFolder()) {
    static const QIcon folder = provider.icon(QFileIconProvider::Folder);
    return folder;
  }
  const QString ext = QString::fromStdString(Extension(object.Name)).toLower();
  auto it = byType.find(ext);
  if (it != byType.end()) return *it;
  const QMimeDatabase db;
  const QMimeType type = db.mimeTypeForFile("x." + ext, QMimeDatabase::MatchExtension);
  QIcon icon = QIcon::fromTheme(type.iconName());
  if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
  if (icon.isNull()) icon = provider.icon(QFileIconProvider::File);
  byType.insert(ext, icon);
  return icon;
}
