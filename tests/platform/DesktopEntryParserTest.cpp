// The desktop-entry parser over entry texts: the keys it reads, Exec unquoting, localized names,
// and the entries it refuses.
#include "platform/linux/DesktopEntryParser.h"

#include <gtest/gtest.h>

using platform::parseDesktopEntry;

namespace {

QByteArray application(const QByteArray& keys) {
    return "[Desktop Entry]\nType=Application\n" + keys;
}

}  // namespace

TEST(DesktopEntryParsing, ReadsTheKeysOfAnApplication) {
    const auto fields =
        parseDesktopEntry(application("Name=Editor\nExec=/usr/bin/editor --new %U\nTryExec=editor\n"
                                      "Icon=accessories-text-editor\nNoDisplay=true\n"));

    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->name, "Editor");
    EXPECT_EQ(fields->execProgram, "/usr/bin/editor");
    EXPECT_EQ(fields->tryExec, "editor");
    EXPECT_EQ(fields->iconName, "accessories-text-editor");
    EXPECT_TRUE(fields->noDisplay);
}

TEST(DesktopEntryParsing, UnquotesTheExecProgram) {
    EXPECT_EQ(parseDesktopEntry(application("Name=A\nExec=\"/opt/My App/run\" %f\n"))->execProgram,
              "/opt/My App/run");
    // Key-file escapes are undone before the shell quoting.
    EXPECT_EQ(parseDesktopEntry(application("Name=A\nExec=/opt/My\\sApp %f\n"))->execProgram,
              "/opt/My");
    EXPECT_EQ(parseDesktopEntry(application("Name=A\n"))->execProgram, "");
}

TEST(DesktopEntryParsing, PrefersTheNameOfTheUsersLanguage) {
    const QByteArray saved = qgetenv("LANGUAGE");
    qputenv("LANGUAGE", "de");
    const auto fields = parseDesktopEntry(application("Name=Files\nName[de]=Dateien\n"));
    qputenv("LANGUAGE", saved);

    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->name, "Dateien");
}

TEST(DesktopEntryParsing, RefusesWhatIsNoApplication) {
    const QByteArray refused[] = {
        QByteArray("\x00\x01[[[=\n", 6),
        "[Desktop Entry]\nType=Application\nName=Caf\xe9\n",  // not UTF-8
        "Name=Nothing\nExec=/bin/true\n",                     // no group
        "[Other]\nType=Application\nName=A\n",                // no Desktop Entry group
        "[Desktop Entry]\nType=Link\nName=Link\nURL=x\n",     // not an application
        "[Desktop Entry]\nName=A\nExec=/bin/true\n",          // no Type
        application("Exec=/bin/true\n"),                      // no Name
        application("Name=\nExec=/bin/true\n"),               // empty Name
        application("Name=A\nHidden=true\n"),                 // deleted by the user
        application("Name=A\nExec=\"/bin/unterminated\n"),    // Exec cannot be split
    };
    for (const QByteArray& contents : refused)
        EXPECT_FALSE(parseDesktopEntry(contents)) << contents.toStdString();
}
