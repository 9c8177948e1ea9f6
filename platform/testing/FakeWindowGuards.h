// Window guards for unit tests: they record which windows are guarded in which role and whether
// the guard is still alive, and touch no display.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

#include "platform/WindowGuard.h"

namespace platform::testing {

class FakeWindowGuards : public WindowGuards {
  public:
    struct Record {
        QPointer<QWidget> window;
        Role role;
        bool windowWasVisible;  // the window was already shown when guarding began
        std::shared_ptr<bool> alive;
    };
    std::vector<Record> records;

    std::unique_ptr<WindowGuard> guard(QWidget& window, Role role) override {
        auto alive = std::make_shared<bool>(true);
        records.push_back({&window, role, window.isVisible(), alive});
        return std::make_unique<Token>(alive);
    }
    std::size_t liveGuards() const {
        std::size_t count = 0;
        for (const auto& record : records)
            count += *record.alive ? 1 : 0;
        return count;
    }

  private:
    class Token : public WindowGuard {
      public:
        explicit Token(std::shared_ptr<bool> alive) : alive(std::move(alive)) {}
        ~Token() override { *alive = false; }

      private:
        std::shared_ptr<bool> alive;
    };
};

}  // namespace platform::testing
