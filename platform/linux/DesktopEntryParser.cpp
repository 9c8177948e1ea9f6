// Parses a desktop entry with GLib's key-file reader only. GIO's application-info object is not
// used: creating one makes GIO scan every XDG application folder itself, following symbolic links
// without a cycle check, so a link loop in a folder makes it recurse until memory runs out.
#include "platform/linux/DesktopEntryParser.h"

#include <glib.h>

#include <memory>

#include "platform/linux/GLibPointers.h"

namespace platform {

namespace {

QString stringOf(GKeyFile* file, const char* key) {
    GCharPtr value(g_key_file_get_string(file, G_KEY_FILE_DESKTOP_GROUP, key, nullptr));
    return value ? QString::fromUtf8(value.get()) : QString();
}

// The words of an Exec line, with the quoting of a shell undone; none when it cannot be split.
std::optional<QStringList> wordsOfExec(const QString& exec) {
    if (exec.trimmed().isEmpty())
        return QStringList();
    int count = 0;
    gchar** words = nullptr;
    if (!g_shell_parse_argv(exec.toUtf8().constData(), &count, &words, nullptr))
        return std::nullopt;
    std::unique_ptr<gchar*, void (*)(gchar**)> owned(words, &g_strfreev);
    QStringList result;
    for (int i = 0; i < count; ++i)
        result.append(QString::fromUtf8(words[i]));
    return result;
}

// A word that a launcher replaces with files, addresses, the icon or the name.
bool isFieldCode(const QString& word) {
    static const QString codes = QStringLiteral("fFuUdDnNickvm");
    return word.size() == 2 && word[0] == QLatin1Char('%') && codes.contains(word[1]);
}

}  // namespace

std::optional<DesktopEntryFields> parseDesktopEntry(const QByteArray& contents) {
    if (!g_utf8_validate(contents.constData(), contents.size(), nullptr))
        return std::nullopt;
    GKeyFilePointer keyFile(g_key_file_new());
    GKeyFile* file = keyFile.get();
    const char* group = G_KEY_FILE_DESKTOP_GROUP;
    if (!g_key_file_load_from_data(file, contents.constData(), contents.size(), G_KEY_FILE_NONE,
                                   nullptr) ||
        !g_key_file_has_group(file, group) ||
        stringOf(file, G_KEY_FILE_DESKTOP_KEY_TYPE) != QLatin1String("Application"))
        return std::nullopt;
    GCharPtr name(
        g_key_file_get_locale_string(file, group, G_KEY_FILE_DESKTOP_KEY_NAME, nullptr, nullptr));
    if (!name || !*name.get())
        return std::nullopt;
    std::optional<QStringList> words = wordsOfExec(stringOf(file, G_KEY_FILE_DESKTOP_KEY_EXEC));
    if (!words)
        return std::nullopt;
    DesktopEntryFields fields;
    fields.name = QString::fromUtf8(name.get());
    fields.tryExec = stringOf(file, G_KEY_FILE_DESKTOP_KEY_TRY_EXEC);
    if (!words->isEmpty())
        fields.execProgram = words->takeFirst();
    for (const QString& word : *words) {
        if (!isFieldCode(word))
            fields.execArguments.append(
                QString(word).replace(QLatin1String("%%"), QLatin1String("%")));
    }
    fields.iconName = stringOf(file, G_KEY_FILE_DESKTOP_KEY_ICON);
    fields.startupWMClass = stringOf(file, G_KEY_FILE_DESKTOP_KEY_STARTUP_WM_CLASS);
    fields.noDisplay =
        g_key_file_get_boolean(file, group, G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY, nullptr);
    fields.hidden = g_key_file_get_boolean(file, group, G_KEY_FILE_DESKTOP_KEY_HIDDEN, nullptr);
    return fields;
}

std::optional<BusServiceFields> parseBusServiceFile(const QByteArray& contents) {
    if (!g_utf8_validate(contents.constData(), contents.size(), nullptr))
        return std::nullopt;
    GKeyFilePointer keyFile(g_key_file_new());
    GKeyFile* file = keyFile.get();
    const char* group = "D-BUS Service";
    if (!g_key_file_load_from_data(file, contents.constData(), contents.size(), G_KEY_FILE_NONE,
                                   nullptr) ||
        !g_key_file_has_group(file, group))
        return std::nullopt;
    const auto value = [file, group](const char* key) {
        GCharPtr text(g_key_file_get_string(file, group, key, nullptr));
        return text ? QString::fromUtf8(text.get()).trimmed() : QString();
    };
    BusServiceFields fields;
    fields.name = value("Name");
    const std::optional<QStringList> words = wordsOfExec(value("Exec"));
    // An Exec whose first word is empty ('') names no program.
    if (fields.name.isEmpty() || !words || words->isEmpty() || words->first().isEmpty())
        return std::nullopt;
    fields.execProgram = words->first();
    fields.systemdService = value("SystemdService");
    return fields;
}

}  // namespace platform
