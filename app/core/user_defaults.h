// The application's user defaults: a per-user QSettings file (domain
// "com.corvane.app") plus registered defaults that answer reads of keys the
// user never set without ever being written to the file.
#pragma once
#include <QSettings>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <optional>
#include <string>

namespace corvane::app {

inline constexpr const char* kAppIdentifier = "com.corvane.app";

class UserDefaults {
  public:
    // The standard per-user file of the application's domain.
    UserDefaults();
    // An explicit settings file (tests, tools).
    explicit UserDefaults(const QString& filePath);

    void registerDefaults(const QVariantMap& defaults);

    bool contains(const QString& key) const;
    // Whether the file holds anything (false for a file not yet written).
    bool hasStoredValues() const;
    // Stored value, else registered default, else an invalid QVariant.
    QVariant value(const QString& key) const;
    // Typed reads; absent keys read as 0, 0.0, false. Text written from
    // outside reads like the platform's preferences: "no", "NO", "false" and
    // "0" are false; numbers beyond the integer range are clamped.
    long long integer(const QString& key) const;
    double number(const QString& key) const;
    bool boolean(const QString& key) const;
    // Only a value stored (or registered) as text counts as a string.
    std::optional<std::string> string(const QString& key) const;

    void set(const QString& key, const QVariant& value);
    void remove(const QString& key);
    void sync();
    QString fileName() const;

  private:
    std::unique_ptr<QSettings> settings_;
    QVariantMap registered_;
};

} // namespace corvane::app
