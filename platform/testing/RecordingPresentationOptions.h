// Presentation options for unit tests: the value, every value set in order, and the observers.
#pragma once

#include <vector>

#include "platform/ObserverList.h"
#include "platform/PresentationOptions.h"

namespace platform::testing {

class RecordingPresentationOptions : public PresentationOptions {
  public:
    std::vector<Options> history;  // every value passed to setPresentationOptions

    void setPresentationOptions(Options options) override {
        value = options;
        history.push_back(options);
        handlers.notify(options);
    }
    Options presentationOptions() const override { return value; }
    ObserverId addObserver(Handler handler) override { return handlers.add(std::move(handler)); }
    void removeObserver(ObserverId id) override { handlers.remove(id); }
    std::size_t observerCount() const { return handlers.size(); }

  private:
    Options value = defaultOptions;
    ObserverList<Options> handlers;
};

}  // namespace platform::testing
