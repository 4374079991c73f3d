#include "studio/core/phone/code_box.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <set>

#include "tests/support/scratch_folder.h"

namespace pelorin::studio {
namespace {

using namespace std::chrono_literals;

class CodeBoxTest : public ::testing::Test {
  protected:
    CodeBox box_{"123456", [this] { return start_ + elapsed_; }};
    std::chrono::system_clock::time_point start_ = std::chrono::system_clock::now();
    std::chrono::milliseconds elapsed_{0};
    void at(std::chrono::milliseconds time) { elapsed_ = time; }
};

TEST_F(CodeBoxTest, FiveWrongCodesInAMinuteRefuseEvenTheRightOne) {
    for (int i = 0; i < 5; ++i) EXPECT_EQ(box_.check("000000"), PairingCheck::wrong);
    EXPECT_EQ(box_.check("123456"), PairingCheck::lockedOut);
}

TEST_F(CodeBoxTest, TheLockoutEndsWhenTheOldestFailureIsAMinuteOld) {
    at(0s);
    EXPECT_EQ(box_.check("1"), PairingCheck::wrong);
    at(50s);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(box_.check("2"), PairingCheck::wrong);
    at(59s);
    EXPECT_EQ(box_.check("123456"), PairingCheck::lockedOut);
    at(61s);
    EXPECT_EQ(box_.check("123456"), PairingCheck::ok);
    // The right code emptied the list: five more wrong codes are needed for a lockout.
    for (int i = 0; i < 4; ++i) EXPECT_EQ(box_.check("3"), PairingCheck::wrong);
    EXPECT_EQ(box_.check("123456"), PairingCheck::ok);
}

TEST_F(CodeBoxTest, OnlyFailuresOfTheLastMinuteCount) {
    at(0s);
    EXPECT_EQ(box_.check("1"), PairingCheck::wrong);
    at(70s);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(box_.check("2"), PairingCheck::wrong);
    at(71s);
    EXPECT_EQ(box_.check("123456"), PairingCheck::ok);
}

TEST_F(CodeBoxTest, RefusedAttemptsDoNotExtendTheLockout) {
    for (int i = 0; i < 5; ++i) box_.check("0");
    at(30s);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(box_.check("0"), PairingCheck::lockedOut);
    at(60s + 1ms);
    EXPECT_EQ(box_.check("123456"), PairingCheck::ok);
}

TEST_F(CodeBoxTest, ANewCodeEndsALockoutAtOnce) {
    for (int i = 0; i < 5; ++i) box_.check("0");
    box_.reset("654321");
    EXPECT_EQ(box_.code(), "654321");
    EXPECT_EQ(box_.check("123456"), PairingCheck::wrong);
    EXPECT_EQ(box_.check("654321"), PairingCheck::ok);
}

TEST(PairingCodes, SixDigitsCoveringTheWholeRange) {
    std::set<char> firstDigits;
    for (int i = 0; i < 2000; ++i) {
        const std::string code = makePairingCode();
        ASSERT_EQ(code.size(), 6u);
        EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos);
        firstDigits.insert(code[0]);
    }
    // Leading zeros are kept: all ten first digits turn up in 2000 draws.
    EXPECT_EQ(firstDigits.size(), 10u);
}

TEST(PairingCodes, PreferenceKeepsSixCharactersAndReplacesAnythingElse) {
    pelorin::testing::ScratchFolder scratch;
    QSettings preferences(QString::fromStdString((scratch / "prefs.ini").string()),
                          QSettings::IniFormat);
    preferences.setValue("pairingCode", "abcdef");
    EXPECT_EQ(choosePairingCode(preferences), "abcdef");
    for (const char* stored : {"12345", "1234567", ""}) {
        preferences.setValue("pairingCode", stored);
        const std::string code = choosePairingCode(preferences);
        EXPECT_EQ(code.size(), 6u);
        EXPECT_NE(code, stored);
        EXPECT_EQ(preferences.value("pairingCode").toString().toStdString(), code);
    }
    preferences.remove("pairingCode");
    EXPECT_EQ(choosePairingCode(preferences).size(), 6u);
}

}  // namespace
}  // namespace pelorin::studio
