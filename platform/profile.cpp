#include "platform/profile.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <sys/stat.h>

namespace platform {

namespace {

struct ProfileKey {
  QString key;
  QString profileName;
};

ProfileKey& profileKey() {
  static ProfileKey current;
  return current;
}

// Before setRegistryKey, the application's own names stand in.
QSettings openProfile() {
  const ProfileKey& current = profileKey();
  const QString key = current.key.isEmpty() ? QCoreApplication::organizationName() : current.key;
  const QString name = current.profileName.isEmpty() ? QCoreApplication::applicationName() : current.profileName;
  return QSettings(QSettings::IniFormat, QSettings::UserScope, key, name);
}

// The file may hold a kept password: only its owner reads it. The umask covers
// the file QSettings writes anew, the chmod one that was there before.
void writeOwnerOnly(QSettings& settings) {
  const mode_t previous = ::umask(077);
  settings.sync();
  ::umask(previous);
  QFile::setPermissions(settings.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QString path(const QString& section, const QString& name) { return section + QLatin1Char('/') + name; }

// A hand-edited value with a comma reads back from the INI file as a list.
QString asText(const QVariant& value) {
  if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(QLatin1Char(','));
  return value.toString();
}

}  // namespace

void Profile::setRegistryKey(const QString& key, const QString& profileName) { profileKey() = {key, profileName}; }

void Profile::useDirectory(const QString& dir) { QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir); }

QString Profile::readString(const QString& section, const QString& name, const QString& fallback) {
  const QSettings settings = openProfile();
  const QVariant value = settings.value(path(section, name));
  return value.isValid() ? asText(value) : fallback;
}

int Profile::readInt(const QString& section, const QString& name, int fallback) {
  const QSettings settings = openProfile();
  const QVariant value = settings.value(path(section, name));
  if (!value.isValid()) return fallback;
  bool ok = false;
  const int number = asText(value).trimmed().toInt(&ok);
  return ok ? number : fallback;
}

void Profile::writeString(const QString& section, const QString& name, const QString& value) {
  QSettings settings = openProfile();
  settings.setValue(path(section, name), value);
  writeOwnerOnly(settings);
}

void Profile::writeInt(const QString& section, const QString& name, int value) {
  QSettings settings = openProfile();
  settings.setValue(path(section, name), value);
  writeOwnerOnly(settings);
}

void Profile::remove(const QString& section, const QString& name) {
  QSettings settings = openProfile();
  settings.remove(path(section, name));
  writeOwnerOnly(settings);
}

QString Profile::fileName() { return openProfile().fileName(); }

}  // namespace platform
