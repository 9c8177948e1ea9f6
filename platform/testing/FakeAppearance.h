// An appearance entry set by the test: text, a value of another type, or none.
#pragma once

#include "platform/Appearance.h"

namespace platform::testing {

class FakeAppearance : public Appearance {
  public:
    QVariant style;
    int reads = 0;

    QVariant interfaceStyle() override {
        ++reads;
        return style;
    }
};

}  // namespace platform::testing
