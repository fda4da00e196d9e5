// The settings file's own reader and writer, in the INI dialect Qt's
// QSettings::IniFormat writes, with one difference: values are text (or
// lists of text), never the serialised objects Qt reads from "@Variant(...)"
// and "@ByteArray(...)" values. Those are what another program or a damaged
// file could use to make the reader allocate without bound; such a key reads
// as absent. Files Qt wrote stay readable, and Qt reads what this writes.
#pragma once
#include <QSettings>

namespace corvane::app {

// The format, registered once per process for the ".ini" extension.
QSettings::Format iniFormat();

// The two halves, for tests.
bool readIniFile(QIODevice& device, QSettings::SettingsMap& map);
bool writeIniFile(QIODevice& device, const QSettings::SettingsMap& map);

} // namespace corvane::app
