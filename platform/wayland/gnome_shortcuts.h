#pragma once
// GNOME's custom keyboard shortcuts (Settings → Keyboard → Custom Shortcuts): a list of paths
// in org.gnome.settings-daemon.plugins.media-keys, each path holding a name, a key and a
// command that gsd-media-keys runs when the shell sees the key. Written with gsettings, which
// stores them through the session's dconf service, so a running gsd-media-keys grabs them at
// once. Print itself belongs to the shell's screenshot tool and is never grabbed for others.
#include <QString>
#include <QStringList>
#include <vector>

namespace lumora::platform::wayland {

// Measured free in GNOME 43 to 48: the shell keeps Print, Shift+Print and Alt+Print, and
// Ctrl+Insert copies text in most programs. The same keys, as the GlobalShortcuts portal
// writes them, are what GNOME 48's dialog offers.
inline constexpr char kGnomeScreenKey[] = "<Control>Print";
inline constexpr char kGnomeWindowKey[] = "<Super>Insert";
inline constexpr char kGnomeScreenTrigger[] = "CTRL+Print";
inline constexpr char kGnomeWindowTrigger[] = "LOGO+Insert";

struct CustomShortcut {
    QString path;  // the settings path, ending in "/"
    QString name;
    QString binding;
    QString command;
};

// The two capture shortcuts, running `program` (its full path) with --capture screen|window.
std::vector<CustomShortcut> gnomeCaptureShortcuts(const QString& program);

// GVariant text of an array of strings ("@as []", "['/a/', '/b/']") and back; an unreadable
// text gives nullopt-like false through `ok`.
QStringList parseStringArray(const QString& text, bool* ok);
QString formatStringArray(const QStringList& items);
// A word for a command line that g_shell_parse_argv reads back unchanged.
QString shellQuoted(const QString& word);

// Adds the shortcuts to the user's list (keeping every other entry, replacing only earlier
// entries of these paths). False with the cause when gsettings or the schema is missing or a
// write failed. Blocks for the few gsettings runs.
bool addGnomeShortcuts(const std::vector<CustomShortcut>& shortcuts, QString* failure);

// Whether the user's list holds the program's capture shortcuts (added by an earlier start):
// then the keys are there and the desktop's own shortcuts dialog is not offered as well.
bool hasGnomeCaptureShortcuts();

}  // namespace lumora::platform::wayland
