// The presentation options of this process: a value and the observers told of each change (the
// lock window's guard among them, which grabs or releases the input).

#include "platform/ObserverList.h"
#include "platform/PresentationOptions.h"

namespace platform {

namespace {

class ProcessPresentationOptions : public PresentationOptions {
  public:
    void setPresentationOptions(Options options) override {
        value = options;
        handlers.notify(options);
    }
    Options presentationOptions() const override { return value; }
    ObserverId addObserver(Handler handler) override { return handlers.add(std::move(handler)); }
    void removeObserver(ObserverId id) override { handlers.remove(id); }

  private:
    Options value = defaultOptions;
    ObserverList<Options> handlers;
};

}  // namespace

std::unique_ptr<PresentationOptions> PresentationOptions::createDefault() {
    return std::make_unique<ProcessPresentationOptions>();
}

}  // namespace platform
