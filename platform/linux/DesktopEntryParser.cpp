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

// The program of an Exec line: its first word, with the quoting of a shell undone.
std::optional<QString> programOfExec(const QString& exec) {
    if (exec.trimmed().isEmpty())
        return QString();
    int count = 0;
    gchar** words = nullptr;
    if (!g_shell_parse_argv(exec.toUtf8().constData(), &count, &words, nullptr))
        return std::nullopt;
    std::unique_ptr<gchar*, void (*)(gchar**)> owned(words, &g_strfreev);
    return count > 0 ? QString::fromUtf8(words[0]) : QString();
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
        g_key_file_get_boolean(file, group, G_KEY_FILE_DESKTOP_KEY_HIDDEN, nullptr) ||
        stringOf(file, G_KEY_FILE_DESKTOP_KEY_TYPE) != QLatin1String("Application"))
        return std::nullopt;
    GCharPtr name(
        g_key_file_get_locale_string(file, group, G_KEY_FILE_DESKTOP_KEY_NAME, nullptr, nullptr));
    if (!name || !*name.get())
        return std::nullopt;
    const std::optional<QString> program =
        programOfExec(stringOf(file, G_KEY_FILE_DESKTOP_KEY_EXEC));
    if (!program)
        return std::nullopt;
    DesktopEntryFields fields;
    fields.name = QString::fromUtf8(name.get());
    fields.tryExec = stringOf(file, G_KEY_FILE_DESKTOP_KEY_TRY_EXEC);
    fields.execProgram = *program;
    fields.iconName = stringOf(file, G_KEY_FILE_DESKTOP_KEY_ICON);
    fields.noDisplay =
        g_key_file_get_boolean(file, group, G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY, nullptr);
    return fields;
}

}  // namespace platform
