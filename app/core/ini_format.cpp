#include "app/core/ini_format.h"

#include <QIODevice>
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <optional>

namespace corvane::app {

namespace {

bool isHex(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// One escape after a backslash at text[i]; moves i past it.
void unescapeOne(const QString& text, qsizetype& i, QString& out) {
    static const QString named = QStringLiteral("abfnrtv");
    static const char16_t meaning[] = {u'\a', u'\b', u'\f', u'\n', u'\r', u'\t', u'\v'};
    if (i >= text.size())
        return;
    const QChar c = text[i++];
    if (const qsizetype n = named.indexOf(c); n >= 0) {
        out += QChar(meaning[n]);
    } else if (c == u'x') {
        uint code = 0;
        for (int digits = 0; i < text.size() && isHex(text[i]) && digits < 4; ++digits)
            code = code * 16 + static_cast<uint>(QString(text[i++]).toUInt(nullptr, 16));
        out += QChar(static_cast<char16_t>(code));
    } else {
        out += c; // \\, \", \' and any other character as itself
    }
}

// A value as Qt's INI writer spells it: quoted parts, escapes, unquoted
// commas between list items, a ';' that starts a comment.
QStringList splitValue(const QString& text) {
    QStringList items;
    QString item, pendingBlanks;
    bool quoted = false, started = false;
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text[i++];
        if (quoted) {
            if (c == u'"')
                quoted = false;
            else if (c == u'\\')
                unescapeOne(text, i, item);
            else
                item += c;
            continue;
        }
        if (c == u';')
            break;
        if (c == u',') {
            items << item;
            item.clear(), pendingBlanks.clear(), started = false;
            continue;
        }
        if (c.isSpace()) {
            if (started)
                pendingBlanks += c;
            continue;
        }
        item += pendingBlanks;
        pendingBlanks.clear();
        started = true;
        if (c == u'"')
            quoted = true;
        else if (c == u'\\')
            unescapeOne(text, i, item);
        else
            item += c;
    }
    items << item;
    return items;
}

// A single value's '@' forms: "@@x" is the text "@x", "@String(x)" is "x";
// every other one is an object Qt would deserialise, and is refused.
std::optional<QVariant> textValue(const QString& item) {
    if (!item.startsWith(u'@'))
        return QVariant(item);
    if (item.startsWith(QStringLiteral("@@")))
        return QVariant(item.mid(1));
    if (item.startsWith(QStringLiteral("@String(")) && item.endsWith(u')'))
        return QVariant(item.mid(8, item.size() - 9));
    if (item == QStringLiteral("@Invalid()"))
        return QVariant();
    return std::nullopt;
}

QString unescapeKey(const QString& key) {
    QString out;
    for (qsizetype i = 0; i < key.size(); ++i) {
        if (key[i] == u'%' && i + 2 < key.size() + 1) {
            const bool wide = i + 1 < key.size() && key[i + 1] == u'U';
            const qsizetype start = i + (wide ? 2 : 1), length = wide ? 4 : 2;
            bool ok = false;
            const uint code = key.mid(start, length).toUInt(&ok, 16);
            if (ok && key.mid(start, length).size() == length) {
                out += QChar(static_cast<char16_t>(code));
                i = start + length - 1;
                continue;
            }
        }
        out += key[i];
    }
    return out;
}

QString escapeKey(const QString& key) {
    QString out;
    for (const QChar c : key) {
        const char16_t u = c.unicode();
        if ((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
            u == u'_' || u == u'-' || u == u'.')
            out += c;
        else if (u < 256)
            out += QStringLiteral("%%1").arg(u, 2, 16, QLatin1Char('0')).toUpper();
        else
            out += QStringLiteral("%U%1").arg(u, 4, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

// Text quoted where Qt's reader would otherwise trim, split or cut it.
QString escapeText(const QString& text) {
    QString body = text.startsWith(u'@') ? u'@' + text : text;
    const bool plain = !body.isEmpty() && !body.front().isSpace() && !body.back().isSpace() &&
                       std::none_of(body.begin(), body.end(), [](QChar c) {
                           return c < u' ' || c == u'"' || c == u'\\' || c == u',' ||
                                  c == u';' || c == u'=' || c == QChar(0x7f);
                       });
    if (plain || body.isEmpty())
        return body;
    QString out = QStringLiteral("\"");
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body[i];
        if (c == u'"' || c == u'\\') {
            out += u'\\';
            out += c;
        } else if (c == u'\n') {
            out += QStringLiteral("\\n");
        } else if (c == u'\t') {
            out += QStringLiteral("\\t");
        } else if (c == u'\r') {
            out += QStringLiteral("\\r");
        } else if (c < u' ' || c == QChar(0x7f)) {
            out += QStringLiteral("\\x%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out + u'"';
}

QString valueText(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::QStringList: {
        QStringList items;
        for (const QString& item : value.toStringList())
            items << (item.isEmpty() ? QStringLiteral("\"\"") : escapeText(item));
        return items.size() == 1 ? items.front() + u',' : items.join(QStringLiteral(", "));
    }
    default:
        return value.isValid() ? escapeText(value.toString()) : QStringLiteral("@Invalid()");
    }
}

} // namespace

bool readIniFile(QIODevice& device, QSettings::SettingsMap& map) {
    QString section;
    const QStringList lines = QString::fromUtf8(device.readAll()).split(u'\n');
    for (QString line : lines) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            const QString name = unescapeKey(line.mid(1, line.indexOf(u']') - 1).trimmed());
            section = name.compare(QStringLiteral("General"), Qt::CaseInsensitive) == 0 || name.isEmpty()
                          ? QString()
                          : name + u'/';
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QString key = section + unescapeKey(line.left(equals).trimmed());
        const QStringList items = splitValue(line.mid(equals + 1));
        if (items.size() > 1) {
            map.insert(key, QVariant(items.back().isEmpty() && items.size() == 2
                                         ? QStringList{items.front()}
                                         : items));
            continue;
        }
        if (const std::optional<QVariant> value = textValue(items.front()))
            map.insert(key, *value);
    }
    return true;
}

bool writeIniFile(QIODevice& device, const QSettings::SettingsMap& map) {
    QMap<QString, QStringList> sections;
    for (auto it = map.begin(); it != map.end(); ++it) {
        const qsizetype slash = it.key().lastIndexOf(u'/');
        const QString section = slash < 0 ? QStringLiteral("General") : it.key().left(slash);
        sections[section] << escapeKey(it.key().mid(slash + 1)) + u'=' + valueText(it.value());
    }
    QString out;
    for (auto it = sections.begin(); it != sections.end(); ++it) {
        if (!out.isEmpty())
            out += u'\n';
        out += u'[' + escapeKey(it.key()) + QStringLiteral("]\n") + it.value().join(u'\n') + u'\n';
    }
    return device.write(out.toUtf8()) >= 0;
}

QSettings::Format iniFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), readIniFile, writeIniFile);
    return format;
}

} // namespace corvane::app
