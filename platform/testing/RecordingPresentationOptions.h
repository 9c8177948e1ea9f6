// Presentation options for unit tests: the value, every value set in order, and the observers.
#pragma once

#include <map>
#include <vector>

#include "platform/PresentationOptions.h"

namespace platform::testing {

class RecordingPresentationOptions : public PresentationOptions {
  public:
    std::vector<Options> history;  // every value passed to setPresentationOptions

    void setPresentationOptions(Options options) override {
        value = options;
        history.push_back(options);
        const auto observers = handlers;
        for (const auto& [id, handler] : observers) {
            if (handlers.count(id))
                handler(options);
        }
    }
    Options presentationOptions() const override { return value; }
    ObserverId addObserver(Handler handler) override {
        handlers[nextId] = std::move(handler);
        return nextId++;
    }
    void removeObserver(ObserverId id) override { handlers.erase(id); }
    std::size_t observerCount() const { return handlers.size(); }

  private:
    Options value = defaultOptions;
    std::map<ObserverId, Handler> handlers;
    ObserverId nextId = 1;
};

}  // namespace platform::testing
