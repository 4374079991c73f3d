#include "studio/core/phone/code_box.h"

#include <QSettings>

#include <cstdio>
#include <stdexcept>

#include "link/security/crypto.h"

namespace pelorin::studio {

CodeBox::CodeBox(std::string code, Clock clock)
    : code_(std::move(code)), clock_(std::move(clock)) {}

PairingCheck CodeBox::check(const std::string& offered) {
    std::lock_guard guard(lock_);
    const auto now = clock_();
    while (!failures_.empty() && failures_.front() < now - failureWindow) failures_.pop_front();
    // A refused attempt is not recorded: it neither extends the lockout nor tests the code.
    if (failures_.size() >= failureLimit) return PairingCheck::lockedOut;
    if (offered == code_) {
        failures_.clear();
        return PairingCheck::ok;
    }
    failures_.push_back(now);
    return PairingCheck::wrong;
}

void CodeBox::reset(std::string code) {
    std::lock_guard guard(lock_);
    code_ = std::move(code);
    failures_.clear();
}

std::string CodeBox::code() const {
    std::lock_guard guard(lock_);
    return code_;
}

std::string makePairingCode() {
    // The largest multiple of 1,000,000 that fits in 32 bits: draws at or above it are thrown
    // back, so every code is equally likely.
    constexpr std::uint32_t range = 1'000'000;
    constexpr std::uint32_t limit = (0xFFFFFFFFu / range) * range;
    while (true) {
        std::uint8_t bytes[4];
        if (!link::crypto::randomBytes(bytes)) throw std::runtime_error("no secure random numbers");
        const std::uint32_t value = std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
                                    std::uint32_t{bytes[2]} << 8 | bytes[3];
        if (value >= limit) continue;
        char text[8];
        std::snprintf(text, sizeof text, "%06u", value % range);
        return text;
    }
}

std::string choosePairingCode(QSettings& preferences) {
    const QString stored = preferences.value("pairingCode").toString();
    // Six characters are kept as they are; the length is all that is checked.
    std::string code = stored.length() == 6 ? stored.toStdString() : makePairingCode();
    preferences.setValue("pairingCode", QString::fromStdString(code));
    return code;
}

}  // namespace pelorin::studio
