// Environment variables set for the length of a test and put back as they were when it ends
// (an unset one unset again), most recent first.
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>
#include <utility>
#include <vector>

class ScopedEnvironment {
  public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const char* name, const QByteArray& value) { set(name, value); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (auto saved = previous.rbegin(); saved != previous.rend(); ++saved) {
            if (saved->second)
                qputenv(saved->first.constData(), *saved->second);
            else
                qunsetenv(saved->first.constData());
        }
    }

    void set(const char* name, const QByteArray& value) {
        previous.emplace_back(name, qEnvironmentVariableIsSet(name)
                                        ? std::optional<QByteArray>(qgetenv(name))
                                        : std::nullopt);
        qputenv(name, value);
    }

  private:
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> previous;
};
