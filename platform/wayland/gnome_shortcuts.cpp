#include "platform/wayland/gnome_shortcuts.h"

#include <QProcess>

namespace lumora::platform::wayland {

namespace {

constexpr char kSchema[] = "org.gnome.settings-daemon.plugins.media-keys";
constexpr char kEntrySchema[] = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
constexpr char kListKey[] = "custom-keybindings";
constexpr char kBase[] = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
constexpr int kGsettingsTimeoutMs = 10000;

// A GVariant string literal.
QString variantString(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

bool gsettings(const QStringList& arguments, QString* out, QString* failure) {
    QProcess process;
    process.start(QStringLiteral("gsettings"), arguments);
    if (!process.waitForStarted(kGsettingsTimeoutMs)) {
        *failure = QStringLiteral("gsettings could not be run");
        return false;
    }
    if (!process.waitForFinished(kGsettingsTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        *failure = QStringLiteral("gsettings did not finish");
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *failure = QStringLiteral("gsettings %1: %2")
                       .arg(arguments.join(QLatin1Char(' ')),
                            QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
        return false;
    }
    if (out)
        *out = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return true;
}

}  // namespace

std::vector<CustomShortcut> gnomeCaptureShortcuts(const QString& program) {
    const QString base = QString::fromLatin1(kBase);
    const QString run = shellQuoted(program);
    return {{base + QStringLiteral("lumora-screen/"), QStringLiteral("Lumora 截取屏幕"),
             QString::fromLatin1(kGnomeScreenKey), run + QStringLiteral(" --capture screen")},
            {base + QStringLiteral("lumora-window/"), QStringLiteral("Lumora 截取窗口"),
             QString::fromLatin1(kGnomeWindowKey), run + QStringLiteral(" --capture window")}};
}

QStringList parseStringArray(const QString& text, bool* ok) {
    *ok = false;
    QString rest = text.trimmed();
    if (rest.startsWith(QLatin1String("@as")))
        rest = rest.mid(3).trimmed();
    if (!rest.startsWith(QLatin1Char('[')) || !rest.endsWith(QLatin1Char(']')))
        return {};
    QStringList items;
    int i = 1;
    const int end = static_cast<int>(rest.size()) - 1;
    auto skipSpace = [&] {
        while (i < end && rest[i].isSpace())
            ++i;
    };
    skipSpace();
    while (i < end) {
        const QChar quote = rest[i];
        if (quote != QLatin1Char('\'') && quote != QLatin1Char('"'))
            return {};
        QString item;
        for (++i; i < end && rest[i] != quote; ++i) {
            if (rest[i] == QLatin1Char('\\') && i + 1 < end)
                ++i;
            item += rest[i];
        }
        if (i >= end)
            return {};
        ++i;
        items << item;
        skipSpace();
        if (i < end) {
            if (rest[i] != QLatin1Char(','))
                return {};
            ++i;
            skipSpace();
        }
    }
    *ok = true;
    return items;
}

QString formatStringArray(const QStringList& items) {
    if (items.isEmpty())
        return QStringLiteral("@as []");
    QStringList quoted;
    for (const QString& item : items)
        quoted << variantString(item);
    return QLatin1Char('[') + quoted.join(QLatin1String(", ")) + QLatin1Char(']');
}

QString shellQuoted(const QString& word) {
    static const QString plain =
        QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+=:,@%");
    bool simple = !word.isEmpty();
    for (const QChar c : word)
        simple = simple && plain.contains(c);
    if (simple)
        return word;
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

bool hasGnomeCaptureShortcuts() {
    QString current;
    QString failure;
    if (!gsettings(
            {QStringLiteral("get"), QString::fromLatin1(kSchema), QString::fromLatin1(kListKey)},
            &current, &failure))
        return false;
    bool ok = false;
    const QStringList paths = parseStringArray(current, &ok);
    for (const CustomShortcut& shortcut : gnomeCaptureShortcuts(QString())) {
        if (paths.contains(shortcut.path))
            return true;
    }
    return false;
}

bool addGnomeShortcuts(const std::vector<CustomShortcut>& shortcuts, QString* failure) {
    const QString schema = QString::fromLatin1(kSchema);
    const QString list = QString::fromLatin1(kListKey);
    QString current;
    if (!gsettings({QStringLiteral("get"), schema, list}, &current, failure))
        return false;
    bool ok = false;
    QStringList paths = parseStringArray(current, &ok);
    if (!ok) {
        *failure = QStringLiteral("unreadable custom-keybindings: ") + current;
        return false;
    }
    // Each entry complete before its path joins the list, so gsd never grabs half of one.
    for (const CustomShortcut& shortcut : shortcuts) {
        const QString entry = QString::fromLatin1(kEntrySchema) + QLatin1Char(':') + shortcut.path;
        for (const auto& [key, value] : {std::pair{QStringLiteral("name"), shortcut.name},
                                         std::pair{QStringLiteral("command"), shortcut.command},
                                         std::pair{QStringLiteral("binding"), shortcut.binding}}) {
            if (!gsettings({QStringLiteral("set"), entry, key, variantString(value)}, nullptr,
                           failure))
                return false;
        }
        if (!paths.contains(shortcut.path))
            paths << shortcut.path;
    }
    return gsettings({QStringLiteral("set"), schema, list, formatStringArray(paths)}, nullptr,
                     failure);
}

}  // namespace lumora::platform::wayland
