// The application entity's three factories over the workspace double: names, identifiers and the
// cases that give no entity.
#include <gtest/gtest.h>

#include "core/ApplicationEntity.h"
#include "platform/testing/FakeWorkspace.h"

namespace {

using platform::BundleInfo;
using platform::testing::FakeWorkspace;

class ApplicationEntityTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto fake = std::make_unique<FakeWorkspace>();
        workspace = fake.get();
        platform::Workspace::install(std::move(fake));
    }
    void TearDown() override { platform::Workspace::install(nullptr); }

    FakeWorkspace* workspace = nullptr;
};

using ApplicationEntityFromPath = ApplicationEntityTest;
using ApplicationEntityFromIdentifier = ApplicationEntityTest;

TEST_F(ApplicationEntityFromPath, TakesNameAndIdentifierOfTheEntry) {
    workspace->addDictionary("/apps/editor.desktop", {"org.example.Editor", "Editor", "edit"});

    const auto entity = ApplicationEntity::fromApplicationPath("/apps/editor.desktop");

    ASSERT_TRUE(entity);
    EXPECT_EQ(entity->name, "Editor");
    EXPECT_EQ(entity->bundleIdentifier, "org.example.Editor");
}

TEST_F(ApplicationEntityFromPath, FallsBackToTheExecutableWithoutName) {
    workspace->addDictionary("/apps/tool.desktop", {"org.example.Tool", "", "tool"});

    const auto entity = ApplicationEntity::fromApplicationPath("/apps/tool.desktop");

    ASSERT_TRUE(entity);
    EXPECT_EQ(entity->name, "tool");
}

TEST_F(ApplicationEntityFromPath, IsUnnamedWithoutNameAndExecutable) {
    workspace->addDictionary("/apps/bare.desktop", {"org.example.Bare", "", ""});

    const auto entity = ApplicationEntity::fromApplicationPath("/apps/bare.desktop");

    ASSERT_TRUE(entity);
    EXPECT_EQ(entity->name, "Unnamed");
}

TEST_F(ApplicationEntityFromPath, GivesNoneWithoutIdentifier) {
    workspace->addDictionary("/apps/anonymous.desktop", {"", "Anonymous", "anon"});

    EXPECT_FALSE(ApplicationEntity::fromApplicationPath("/apps/anonymous.desktop"));
}

TEST_F(ApplicationEntityFromPath, GivesNoneForUnreadableEntry) {
    EXPECT_FALSE(ApplicationEntity::fromApplicationPath("/apps/missing.desktop"));
}

TEST_F(ApplicationEntityFromIdentifier, GivesNoneWhenNotInstalled) {
    EXPECT_FALSE(ApplicationEntity::fromBundleIdentifier("org.example.Absent"));
}

TEST_F(ApplicationEntityFromIdentifier, KeepsTheAskedIdentifierAndTheName) {
    workspace->installApplication("/apps/viewer.desktop", {"org.example.Viewer", "Viewer", "v"});

    const auto entity = ApplicationEntity::fromBundleIdentifier("org.example.Viewer");

    ASSERT_TRUE(entity);
    EXPECT_EQ(entity->bundleIdentifier, "org.example.Viewer");
    EXPECT_EQ(entity->name, "Viewer");
}

TEST_F(ApplicationEntityFromIdentifier, HasEmptyNameWhenTheEntryHasNone) {
    workspace->installApplication("/apps/quiet.desktop", {"org.example.Quiet", "", "quiet"});

    const auto entity = ApplicationEntity::fromBundleIdentifier("org.example.Quiet");

    ASSERT_TRUE(entity);
    EXPECT_EQ(entity->name, "");
}

TEST(ApplicationEntityFromRunning, GivesEmptyTextsForAnUnknownProcess) {
    platform::RunningApplication application;
    application.processIdentifier = 42;

    const ApplicationEntity entity = ApplicationEntity::fromRunningApplication(application);

    EXPECT_EQ(entity.name, "");
    EXPECT_EQ(entity.bundleIdentifier, "");
    EXPECT_TRUE(entity.icon.isNull());
}

TEST(ApplicationEntityText, IsTheBundleIdentifier) {
    const ApplicationEntity entity(QStringLiteral("Name"), QStringLiteral("org.example.Id"));

    EXPECT_EQ(entity.description(), "org.example.Id");
}

TEST(ApplicationEntityText, StoresAbsentTextsAsEmpty) {
    const ApplicationEntity entity(std::nullopt, std::nullopt);

    EXPECT_EQ(entity.name, "");
    EXPECT_EQ(entity.bundleIdentifier, "");
}

}  // namespace
