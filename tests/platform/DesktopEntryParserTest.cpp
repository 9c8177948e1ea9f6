// The parsers of what applications declare: desktop entries (the keys read, Exec unquoting,
// localized names, the entries refused), session-bus service files and window properties.
#include "ScopedEnvironment.h"
#include "platform/linux/DesktopEntryParser.h"
#include "platform/linux/WindowIdentity.h"

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

TEST(DesktopEntryParsing, KeepsTheExecArgumentsWithoutFieldCodesAndMarksHiddenEntries) {
    const auto fields = parseDesktopEntry(
        application("Name=T\nExec=term --preferences %U \"a b\" 100%% %%\nHidden=true\n"
                    "StartupWMClass=Term-prefs\n"));

    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->execArguments, QStringList({"--preferences", "a b", "100%", "%"}));
    EXPECT_EQ(fields->startupWMClass, "Term-prefs");
    EXPECT_TRUE(fields->hidden);
}

TEST(BusServiceParsing, ReadsNameProgramAndUnitAndRefusesTheRest) {
    const auto service = platform::parseBusServiceFile(
        "[D-BUS Service]\nName=org.test.Term\nExec=\"/usr/lib/term server\" --x\n"
        "SystemdService=term-server.service\n");
    ASSERT_TRUE(service);
    EXPECT_EQ(service->name, "org.test.Term");
    EXPECT_EQ(service->execProgram, "/usr/lib/term server");
    EXPECT_EQ(service->systemdService, "term-server.service");

    for (const QByteArray& refused :
         {QByteArray("[D-BUS Service]\nExec=/bin/true\n"), QByteArray("[D-BUS Service]\nName=a\n"),
          QByteArray("[Other]\nName=a\nExec=/bin/true\n"),
          QByteArray("[D-BUS Service]\nName=a\nExec=\"/bin/unterminated\n"),
          QByteArray("[D-BUS Service]\nName=\xff\nExec=/bin/true\n"),
          QByteArray("[D-BUS Service]\nName=a\nExec=''\n")})
        EXPECT_FALSE(platform::parseBusServiceFile(refused)) << refused.toStdString();
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
    const ScopedEnvironment german("LANGUAGE", "de");
    const auto fields = parseDesktopEntry(application("Name=Files\nName[de]=Dateien\n"));

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
        application("Name=A\nExec=\"/bin/unterminated\n"),    // Exec cannot be split
    };
    for (const QByteArray& contents : refused)
        EXPECT_FALSE(parseDesktopEntry(contents)) << contents.toStdString();
}

TEST(WindowProperties, ClassPartsTextAndNamesInOrder) {
    QString instance, className;
    platform::parseWmClass(QByteArray("xterm\0XTerm\0", 12), instance, className);
    EXPECT_EQ(instance, "xterm");
    EXPECT_EQ(className, "XTerm");
    platform::parseWmClass(QByteArray("only\0Cut", 8), instance, className);
    EXPECT_EQ(className, "Cut");
    platform::parseWmClass("no separator", instance, className);
    EXPECT_TRUE(instance.isEmpty() && className.isEmpty());

    EXPECT_EQ(platform::parseTextProperty(QByteArray("org.test.App\0junk", 17)), "org.test.App");
    EXPECT_TRUE(platform::parseTextProperty("\xff\xfe").isEmpty());

    platform::WindowIdentity identity;
    identity.instanceName = "gnome-terminal-server";
    identity.className = "Gnome-terminal";
    identity.applicationId = "org.gnome.Terminal";
    identity.desktopFileName = "org.gnome.Terminal.desktop";
    EXPECT_EQ(identity.names(),
              QStringList({"org.gnome.Terminal", "Gnome-terminal", "gnome-terminal-server"}));
}
