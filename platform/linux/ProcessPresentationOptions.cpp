// The presentation options of this process: a value and the observers told of each change (the
// lock window's guard among them, which grabs or releases the input).
#include <map>

#include "platform/PresentationOptions.h"

namespace platform {

namespace {

class ProcessPresentationOptions : public PresentationOptions {
  public:
    void setPresentationOptions(Options options) override {
        value = options;
        const auto observers = handlers;  // a handler may remove itself
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

  private:
    Options value = defaultOptions;
    std::map<ObserverId, Handler> handlers;
    ObserverId nextId = 1;
};

}  // namespace

std::unique_ptr<PresentationOptions> PresentationOptions::createDefault() {
    return std::make_unique<ProcessPresentationOptions>();
}

}  // namespace platform
