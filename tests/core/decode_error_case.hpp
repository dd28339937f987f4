#pragma once

// A container that must fail to read, with the message it must fail with.

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "decode/decoder.hpp"
#include "walk_tree_builder.hpp"
#include "structure/document.hpp"

namespace vesk::test {

struct ErrorCase {
    const char* name;
    format::ByteBuffer bytes;
    std::string message;
};

inline void PrintTo(const ErrorCase& c, std::ostream* out) { *out << c.name; }

inline std::string case_name(const ::testing::TestParamInfo<ErrorCase>& info) { return info.param.name; }

inline void expect_decode_error(const ErrorCase& c) {
    Result<VeskDocument> document = decode_document(c.bytes);
    ASSERT_FALSE(document.has_value()) << c.name << ": read back although it should fail";
    EXPECT_EQ(document.error().kind(), VeskErrorKind::Parse);
    EXPECT_EQ(document.error().message(), c.message) << c.name;
    const Result<json::JsonValue> read = read_one_path(c.bytes);
    ASSERT_FALSE(read.has_value()) << c.name << ": loads reads it although it should fail";
    EXPECT_EQ(read.error().message(), c.message) << c.name;
}

}  // namespace vesk::test
