#include "app/core/user_defaults.h"

namespace corvane::app {

UserDefaults::UserDefaults()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QString::fromLatin1(kAppIdentifier))) {}

UserDefaults::UserDefaults(const QString& filePath)
    : settings_(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {}

void UserDefaults::registerDefaults(const QVariantMap& defaults) {
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        registered_.insert(it.key(), it.value());
}

bool UserDefaults::contains(const QString& key) const {
    return settings_->contains(key);
}

QVariant UserDefaults::value(const QString& key) const {
    if (settings_->contains(key))
        return settings_->value(key);
    return registered_.value(key);
}

long long UserDefaults::integer(const QString& key) const {
    QVariant v = value(key);
    bool ok = false;
    long long whole = v.toLongLong(&ok);
    if (ok)
        return whole;
    // "2.9" stored as text reads as 2, as a number would.
    double real = v.toDouble(&ok);
    return ok ? static_cast<long long>(real) : 0;
}

double UserDefaults::number(const QString& key) const {
    bool ok = false;
    double real = value(key).toDouble(&ok);
    return ok ? real : 0.0;
}

bool UserDefaults::boolean(const QString& key) const {
    QVariant v = value(key);
    if (v.typeId() == QMetaType::QString) {
        QString text = v.toString().trimmed().toLower();
        if (text == QLatin1String("yes"))
            return true;
        bool ok = false;
        long long whole = text.toLongLong(&ok);
        if (ok)
            return whole != 0;
    }
    return v.toBool();
}

std::optional<std::string> UserDefaults::string(const QString& key) const {
    QVariant v = value(key);
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    return v.toString().toStdString();
}

void UserDefaults::set(const QString& key, const QVariant& value) {
    settings_->setValue(key, value);
}

void UserDefaults::remove(const QString& key) {
    settings_->remove(key);
}

void UserDefaults::sync() {
    settings_->sync();
}

QString UserDefaults::fileName() const {
    return settings_->fileName();
}

} // namespace corvane::app
