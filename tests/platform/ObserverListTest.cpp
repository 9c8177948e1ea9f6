// The registries' observer list: order, arguments, handlers that add or remove observers while
// being told, unset handlers, and ids that tell observers of different lists apart.
#include <gtest/gtest.h>

#include <QString>
#include <vector>

#include "platform/ObserverList.h"

namespace {

using platform::ObserverList;

TEST(ObserverList, TellsEveryHandlerInRegistrationOrderWithTheArguments) {
    ObserverList<int, const QString&> list;
    std::vector<QString> calls;
    list.add(
        [&](int n, const QString& text) { calls.push_back(QStringLiteral("a%1").arg(n) + text); });
    list.add(
        [&](int n, const QString& text) { calls.push_back(QStringLiteral("b%1").arg(n) + text); });

    list.notify(7, QStringLiteral("x"));

    EXPECT_EQ(calls, (std::vector<QString>{QStringLiteral("a7x"), QStringLiteral("b7x")}));
}

TEST(ObserverList, AHandlerAddedWhileNotifyingIsToldOfTheNextEventOnly) {
    ObserverList<> list;
    int added = 0;
    list.add([&] { list.add([&] { ++added; }); });

    list.notify();
    EXPECT_EQ(added, 0);
    list.notify();
    EXPECT_EQ(added, 1);
}

TEST(ObserverList, AHandlerRemovedBeforeItsTurnIsNotCalled) {
    ObserverList<> list;
    ObserverList<>::Id second = 0;
    int calls = 0;
    list.add([&] { list.remove(second); });
    second = list.add([&] { ++calls; });

    list.notify();

    EXPECT_EQ(calls, 0);
    EXPECT_EQ(list.size(), 1u);
}

TEST(ObserverList, UnsetHandlersDoNothing) {
    ObserverList<int> list;
    list.add({});

    list.notify(1);

    EXPECT_EQ(list.size(), 1u);
}

TEST(ObserverList, IdsAreNeverZeroAndDifferAcrossLists) {
    ObserverList<> first;
    ObserverList<int> second;
    const auto a = first.add([] {});
    const auto b = second.add([](int) {});

    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    second.remove(a);
    EXPECT_EQ(second.size(), 1u);
}

}  // namespace
