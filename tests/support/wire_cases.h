#pragma once

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/records/record_coding.h"
#include "tests/support/scratch_folder.h"

// The wire and disk texts of the record, message and job tests live as one file a case under
// tests/data/wire, so that adding a case is adding a file (and, where the test must
// know what the text holds, an entry in its table).
namespace pelorin::testing {

struct WireCase {
    std::string name;
    std::string text;
};

// The .json files directly in `folder` (under tests/data/wire), sorted by name so that runs
// compare. Files end with the newline editors add; one is dropped, since bytes are compared.
inline std::vector<WireCase> wireCases(std::string_view folder) {
    const auto root = std::filesystem::path(PELORIN_TEST_DATA) / "wire" / folder;
    std::vector<WireCase> cases;
    std::error_code error;
    for (std::filesystem::directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        if (!it->is_regular_file() || it->path().extension() != ".json") continue;
        std::string text = readText(it->path());
        if (text.ends_with('\n')) text.pop_back();
        cases.push_back({it->path().filename().string(), std::move(text)});
    }
    if (error) ADD_FAILURE() << "cannot list " << root << ": " << error.message();
    std::ranges::sort(cases, {}, &WireCase::name);
    return cases;
}

// Runs check(text, expected) for every file of `folder` with its entry of `expectations`, the
// file's path in every failure. A file without an entry fails, and so does an entry without a
// file, so that a lost or renamed file cannot take its checks with it.
template <class Expected, class Check>
void forEachExpectedCase(std::string_view folder,
                         const std::map<std::string, Expected>& expectations, Check check) {
    const auto cases = wireCases(folder);
    EXPECT_EQ(cases.size(), expectations.size()) << "files in " << folder;
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(std::string(folder) + "/" + name);
        const auto expected = expectations.find(name);
        if (expected == expectations.end()) {
            ADD_FAILURE() << "no expectation for this file";
            continue;
        }
        check(text, expected->second);
    }
}

// Writes each expectation as exactly the bytes of its file, and reads the file back as it.
template <class T>
void expectEachEncodes(std::string_view folder, const std::map<std::string, T>& expectations) {
    forEachExpectedCase(folder, expectations, [](const std::string& text, const T& expected) {
        EXPECT_EQ(link::makeRecordEncoder().encode(expected), text);
        const auto read = link::makeRecordDecoder().decode<T>(text);
        ASSERT_TRUE(read) << read.error().message;
        EXPECT_EQ(*read, expected) << "read as " << link::makeRecordEncoder().encode(*read);
    });
}

// Reads each file as its expectation.
template <class T>
void expectEachDecodes(std::string_view folder, const std::map<std::string, T>& expectations) {
    forEachExpectedCase(folder, expectations, [](const std::string& text, const T& expected) {
        const auto read = link::makeRecordDecoder().decode<T>(text);
        ASSERT_TRUE(read) << read.error().message;
        EXPECT_EQ(*read, expected) << "read as " << link::makeRecordEncoder().encode(*read);
    });
}

// Every file of `folder`, at least `atLeast` of them so that a lost folder cannot pass, must be
// refused as a T with a message; for those named in `reasons` the message must contain the
// reason given.
template <class T>
void expectEachRefused(std::string_view folder, std::size_t atLeast,
                       const std::map<std::string, std::string>& reasons = {}) {
    const auto cases = wireCases(folder);
    EXPECT_GE(cases.size(), atLeast) << "files in " << folder;
    std::size_t explained = 0;
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(std::string(folder) + "/" + name);
        const auto read = link::makeRecordDecoder().decode<T>(text);
        if (read) {
            ADD_FAILURE() << "read as " << link::makeRecordEncoder().encode(*read);
            continue;
        }
        const std::string& message = read.error().message;
        EXPECT_FALSE(message.empty());
        if (const auto reason = reasons.find(name); reason != reasons.end()) {
            ++explained;
            EXPECT_THAT(message, ::testing::HasSubstr(reason->second));
        }
    }
    EXPECT_EQ(explained, reasons.size()) << "a reason names no file of " << folder;
}

}  // namespace pelorin::testing
