// The image button's click and fade, and the gradient background's colours.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QTest>

#include "widgets/GrayGradientView.h"
#include "widgets/ImageButtonView.h"

namespace {

using ImageButtonViewTest = ::testing::Test;

void sendEnter(QWidget* widget) {
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(widget, &enter);
}

QPropertyAnimation* runningFade(ImageButtonView& button) {
    for (auto* animation : button.findChildren<QPropertyAnimation*>()) {
        if (animation->state() == QAbstractAnimation::Running)
            return animation;
    }
    return nullptr;
}

TEST_F(ImageButtonViewTest, PressReportsItsIdentifier) {
    ImageButtonView button;
    button.resize(20, 20);
    button.initiate(7, true);
    int reported = -1;
    button.onClick = [&](int id) { reported = id; };

    QTest::mousePress(&button, Qt::LeftButton);

    EXPECT_EQ(reported, 7);
}

TEST_F(ImageButtonViewTest, PressWithoutCallbackIsSwallowed) {
    ImageButtonView button;
    button.resize(20, 20);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    press.ignore();

    QApplication::sendEvent(&button, &press);

    EXPECT_TRUE(press.isAccepted());
}

TEST_F(ImageButtonViewTest, EnterFadesToThirtyPercentThenBack) {
    ImageButtonView button;
    button.resize(20, 20);

    sendEnter(&button);
    QPropertyAnimation* fade = runningFade(button);
    ASSERT_NE(fade, nullptr);
    EXPECT_DOUBLE_EQ(fade->endValue().toDouble(), 0.3);
    fade->setCurrentTime(fade->duration());
    EXPECT_DOUBLE_EQ(button.opacity(), 0.3);

    button.stopFadeAnimation();
    QPropertyAnimation* back = runningFade(button);
    ASSERT_NE(back, nullptr);
    EXPECT_DOUBLE_EQ(back->endValue().toDouble(), 1.0);
    back->setCurrentTime(back->duration());
    EXPECT_DOUBLE_EQ(button.opacity(), 1.0);
}

TEST_F(ImageButtonViewTest, EnterWithoutAnimationOnlyResetsTheCursor) {
    ImageButtonView button;
    button.resize(20, 20);
    button.initiate(0, false);
    button.setCursor(Qt::PointingHandCursor);

    sendEnter(&button);

    EXPECT_EQ(runningFade(button), nullptr);
    EXPECT_DOUBLE_EQ(button.opacity(), 1.0);
    EXPECT_EQ(button.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(ImageButtonViewTest, ImageNameLoadsTheNamedResourceImage) {
    ImageButtonView button;

    button.setImageName(QStringLiteral("RemoveButton"));
    EXPECT_FALSE(button.image().isNull());
    EXPECT_EQ(button.imageName(), QStringLiteral("RemoveButton"));

    button.setImageName(QStringLiteral("NoSuchImage"));
    EXPECT_TRUE(button.image().isNull());
}

TEST_F(ImageButtonViewTest, FormsSetTheImageAndAnimationByProperty) {
    ImageButtonView button;

    button.setProperty("imageName", QStringLiteral("AddButton"));
    button.setProperty("animated", false);

    EXPECT_EQ(button.imageName(), QStringLiteral("AddButton"));
    EXPECT_FALSE(button.animated);
}

using GrayGradientViewTest = ::testing::Test;

TEST_F(GrayGradientViewTest, PaintsDarkAtTheBottomAndLighterAtTheTop) {
    GrayGradientView view;
    view.resize(40, 200);

    const QImage image = view.grab().toImage();

    const QColor bottom = image.pixelColor(20, 199);
    const QColor top = image.pixelColor(20, 0);
    EXPECT_NEAR(bottom.red(), 42, 1);
    EXPECT_NEAR(bottom.green(), 43, 1);
    EXPECT_NEAR(bottom.blue(), 47, 1);
    EXPECT_NEAR(top.red(), 94, 1);
    EXPECT_NEAR(top.green(), 97, 1);
    EXPECT_NEAR(top.blue(), 106, 1);
}

}  // namespace
