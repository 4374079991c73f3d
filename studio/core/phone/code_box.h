#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

class QSettings;

namespace pelorin::studio {

enum class PairingCheck { ok, wrong, lockedOut };

// The current pairing code and the recent wrong attempts of every phone together: five wrong
// codes within a minute refuse every attempt until the oldest of them is a minute old. Shared
// by all connections; thread-safe.
class CodeBox {
  public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr std::chrono::seconds failureWindow{60};
    static constexpr std::size_t failureLimit = 5;

    explicit CodeBox(std::string code, Clock clock = std::chrono::system_clock::now);

    // One pairing attempt with the offered code.
    PairingCheck check(const std::string& offered);
    // A new code, with every failure forgotten (which ends a lockout).
    void reset(std::string code);
    std::string code() const;

  private:
    mutable std::mutex lock_;
    std::string code_;
    std::deque<std::chrono::system_clock::time_point> failures_;
    Clock clock_;
};

// A fresh six-digit code, drawn uniformly from the system's secure random generator.
std::string makePairingCode();

// The code kept under the preference "pairingCode" when it has six characters, else a fresh
// one; either way it is stored there again.
std::string choosePairingCode(QSettings& preferences);

}  // namespace pelorin::studio
