#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "dumps/json_container.hpp"

namespace vesk {
namespace {

namespace fs = std::filesystem;

struct SuiteFile {
    std::string name;
    std::string text;
};

std::vector<SuiteFile> suite_files(char verdict) {
    std::vector<SuiteFile> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(VESK_TEST_SUITE_DIR)) {
        std::string name = entry.path().filename().string();
        if (name.size() < 2 || name[0] != verdict || name[1] != '_') continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files.push_back({name, std::string(std::istreambuf_iterator<char>(in), {})});
    }
    std::sort(files.begin(), files.end(), [](const SuiteFile& a, const SuiteFile& b) { return a.name < b.name; });
    return files;
}

// Every refusal reads "{description} at line {n} column {m}" with one of the
// reader's descriptions.
bool is_well_formed_failure(const std::string& message) {
    static constexpr std::array<std::string_view, 21> descriptions = {
        "EOF while parsing a list", "EOF while parsing an object", "EOF while parsing a string",
        "EOF while parsing a value", "expected `:`", "expected `,` or `]`", "expected `,` or `}`",
        "expected ident", "expected value", "expected `\"`", "invalid escape", "invalid number",
        "number out of range", "invalid unicode code point",
        "control character (\\u0000-\\u001F) found while parsing a string", "key must be a string",
        "lone leading surrogate in hex escape", "trailing comma", "trailing characters",
        "unexpected end of hex escape", "recursion limit exceeded"};
    std::string_view rest(message);
    auto description = std::find_if(descriptions.begin(), descriptions.end(), [&](std::string_view d) {
        return rest.substr(0, d.size()) == d && rest.substr(d.size(), 9) == " at line ";
    });
    if (description == descriptions.end()) return false;
    rest.remove_prefix(description->size() + 9);
    auto digits = [&rest]() {
        std::size_t count = 0;
        while (count < rest.size() && rest[count] >= '0' && rest[count] <= '9') ++count;
        rest.remove_prefix(count);
        return count > 0;
    };
    if (!digits() || rest.substr(0, 8) != " column ") return false;
    rest.remove_prefix(8);
    return digits() && rest.empty();
}

// The reader takes every such file: it compiles, or the compiler refuses an
// array whose items disagree.
TEST(JsonReaderSuite, AcceptsEveryMustAcceptFile) {
    std::vector<SuiteFile> files = suite_files('y');
    ASSERT_GT(files.size(), 90u);
    for (const SuiteFile& file : files) {
        const Result<format::ByteBuffer> compiled = dumps::compile_json_container(file.text);
        EXPECT_TRUE(compiled.has_value() || compiled.error().kind() == VeskErrorKind::UnsupportedType)
            << file.name << ": " << compiled.error().message();
    }
}

TEST(JsonReaderSuite, RejectsEveryMustRejectFileWithAPositionedMessage) {
    std::vector<SuiteFile> files = suite_files('n');
    ASSERT_GT(files.size(), 180u);
    for (const SuiteFile& file : files) {
        const Result<format::ByteBuffer> compiled = dumps::compile_json_container(file.text);
        if (compiled) {
            ADD_FAILURE() << file.name << " was accepted";
            continue;
        }
        EXPECT_TRUE(is_well_formed_failure(compiled.error().message()))
            << file.name << ": " << compiled.error().message();
    }
}

// Either verdict is allowed here; a refusal must still be a proper message,
// and an accepted text must compile the same way twice.
TEST(JsonReaderSuite, ImplementationDefinedFilesGiveAVerdict) {
    std::vector<SuiteFile> files = suite_files('i');
    ASSERT_GT(files.size(), 20u);
    for (const SuiteFile& file : files) {
        const Result<format::ByteBuffer> compiled = dumps::compile_json_container(file.text);
        if (!compiled) {
            EXPECT_TRUE(is_well_formed_failure(compiled.error().message()))
                << file.name << ": " << compiled.error().message();
            continue;
        }
        const Result<format::ByteBuffer> again = dumps::compile_json_container(file.text);
        ASSERT_TRUE(again.has_value()) << file.name;
        EXPECT_TRUE(*again == *compiled) << file.name;
    }
}

}  // namespace
}  // namespace vesk
