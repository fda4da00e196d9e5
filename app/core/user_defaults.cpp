#include "app/core/user_defaults.h"

#include "app/core/ini_format.h"

#include <climits>
#include <cmath>

namespace corvane::app {

namespace {

// A number as a whole one. The range is checked before converting, since
// converting a double beyond it (1e30, inf) is undefined; NaN reads as 0.
long long clampedWhole(double real) {
    if (std::isnan(real))
        return 0;
    if (real >= 0x1p63)
        return LLONG_MAX;
    if (real <= -0x1p63)
        return LLONG_MIN;
    return static_cast<long long>(real);
}

// Text as a yes/no the way the platform's own preferences read it: leading
// blanks, a sign and zeros are skipped; then "Y", "y", "T", "t" or a digit
// 1-9 mean yes, anything else ("no", "NO", "false", "0", "") means no.
bool textMeansYes(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    while (i < text.size() && text[i] == u'0')
        ++i;
    if (i == text.size())
        return false;
    const QChar c = text[i];
    return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
}

} // namespace

UserDefaults::UserDefaults()
    : settings_(std::make_unique<QSettings>(iniFormat(), QSettings::UserScope,
                                            QString::fromLatin1(kAppIdentifier))) {}

UserDefaults::UserDefaults(const QString& filePath)
    : settings_(std::make_unique<QSettings>(filePath, iniFormat())) {}

void UserDefaults::registerDefaults(const QVariantMap& defaults) {
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        registered_.insert(it.key(), it.value());
}

bool UserDefaults::contains(const QString& key) const {
    return settings_->contains(key);
}

bool UserDefaults::hasStoredValues() const {
    return !settings_->allKeys().isEmpty();
}

QVariant UserDefaults::value(const QString& key) const {
    if (settings_->contains(key))
        return settings_->value(key);
    return registered_.value(key);
}

long long UserDefaults::integer(const QString& key) const {
    QVariant v = value(key);
    bool ok = false;
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float)
        return clampedWhole(v.toDouble());
    long long whole = v.toLongLong(&ok);
    if (ok)
        return whole;
    // "2.9" stored as text reads as 2, as a number would.
    double real = v.toDouble(&ok);
    return ok ? clampedWhole(real) : 0;
}

double UserDefaults::number(const QString& key) const {
    bool ok = false;
    double real = value(key).toDouble(&ok);
    return ok ? real : 0.0;
}

bool UserDefaults::boolean(const QString& key) const {
    QVariant v = value(key);
    if (v.typeId() == QMetaType::QString)
        return textMeansYes(v.toString());
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
