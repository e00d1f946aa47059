#pragma once
// The profile store: named string and integer values in sections, under a
// registry-style key and profile name, kept by QSettings in an INI file that
// only its owner may read or write (it may hold a kept password).
#include <QString>

namespace platform {

class Profile {
 public:
  // Sets the key and profile name: values live under key/profile/section/name.
  // Until it is called, the application's organization and name stand in.
  static void setRegistryKey(const QString& key, const QString& profileName);
  // Keeps the INI files under dir (as dir/key/profile.ini) instead of the
  // user's configuration folder (tests, and the demo's own profile).
  static void useDirectory(const QString& dir);

  // The stored value, the fallback when there is none. Every write is on disk
  // when it returns.
  static QString readString(const QString& section, const QString& name, const QString& fallback = {});
  // The stored value when it reads as an integer, the fallback otherwise.
  static int readInt(const QString& section, const QString& name, int fallback);
  static void writeString(const QString& section, const QString& name, const QString& value);
  static void writeInt(const QString& section, const QString& name, int value);
  static void remove(const QString& section, const QString& name);
  // The INI file the values are kept in.
  static QString fileName();
};

}  // namespace platform
