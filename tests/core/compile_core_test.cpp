#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "encode/encoder.hpp"
#include "tables/container_blocks.hpp"

namespace vesk {
namespace {

TEST(StringTableTest, NumbersDistinctTextsInFirstSeenOrder) {
    // Enough texts to make the table grow several times; equal texts from
    // different buffers are one text.
    tables::StringTable table(12345);
    std::vector<std::string> texts, copies;
    for (int i = 0; i < 5000; ++i) texts.push_back(std::to_string(i).insert(0, 1, 't'));
    copies = texts;
    for (std::uint32_t i = 0; i < texts.size(); ++i) {
        const tables::StringTable::Interned interned = table.intern(texts[i]);
        ASSERT_TRUE(interned.added);
        ASSERT_EQ(interned.id, i);
    }
    for (std::uint32_t i = 0; i < copies.size(); i += 7) {
        const tables::StringTable::Interned again = table.intern(copies[i]);
        ASSERT_FALSE(again.added);
        ASSERT_EQ(again.id, i);
    }
    EXPECT_EQ(table.intern("").id, 5000u);
    EXPECT_EQ(table.intern(std::string_view("t1\0", 3)).id, 5001u);
    EXPECT_EQ(table.size(), 5002u);
    EXPECT_EQ(table.text(1), "t1");
}

TEST(StringTableTest, TellsTextsApartWhateverTheirHashesShare) {
    // The index keeps only part of each hash beside the id, split where the
    // capacity puts it: hashes that agree in the probed bits, in the kept
    // bits or everywhere must still leave every text its own id across
    // every growth of the table.
    using HashOf = std::uint64_t (*)(std::uint32_t);
    const HashOf patterns[] = {
        [](std::uint32_t) -> std::uint64_t { return 0x5A5A5A5A5A5A5A5Aull; },
        [](std::uint32_t i) -> std::uint64_t { return std::uint64_t{i} << 20; },
        [](std::uint32_t i) -> std::uint64_t { return 0xFFF00000u | (i % 3); },
        [](std::uint32_t i) -> std::uint64_t { return std::uint64_t{i} * 0x9E3779B97F4A7C15ull; },
    };
    // The table keeps views: the texts live beside it.
    std::vector<std::string> texts, copies;
    for (std::uint32_t i = 0; i < 1500; ++i) texts.push_back(std::to_string(i).insert(0, 1, 's'));
    copies = texts;
    for (const HashOf hash_of : patterns) {
        tables::StringTable table(7);
        for (std::uint32_t i = 0; i < texts.size(); ++i) {
            const tables::StringTable::Interned interned = table.intern(texts[i], hash_of(i));
            ASSERT_TRUE(interned.added) << i;
            ASSERT_EQ(interned.id, i);
        }
        for (std::uint32_t i = 0; i < copies.size(); ++i) {
            const tables::StringTable::Interned again = table.intern(copies[i], hash_of(i));
            ASSERT_FALSE(again.added) << i;
            ASSERT_EQ(again.id, i);
            ASSERT_EQ(table.text(i), texts[i]);
        }
    }
}

TEST(TextHashTest, EveryByteAndTheLengthReachTheHash) {
    // Each length from empty to past the three-lane loop, so every way of
    // reading the text is taken: a byte that some path skips, or a length
    // that two texts differing in trailing zeros cannot tell apart, collides.
    // hash_text_padded takes texts of up to sixteen bytes otherwise.
    using Hash = std::uint64_t (*)(std::string_view, std::uint64_t);
    for (const Hash hash_of : {Hash{tables::hash_text}, Hash{tables::hash_text_padded}}) {
        for (const std::uint64_t seed : {0ull, 0x9E3779B97F4A7C15ull, 0x0123456789ABCDEFull}) {
            std::set<std::uint64_t> zeros;
            for (std::size_t length = 0; length <= 100; ++length) {
                std::string text(length, '\0');
                for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + (i * 7 + length) % 26);
                const std::uint64_t hash = hash_of(text, seed);
                EXPECT_NE(hash, 0u);
                for (std::size_t i = 0; i < length; ++i) {
                    std::string changed = text;
                    changed[i] = static_cast<char>(changed[i] ^ 0x80);
                    EXPECT_NE(hash_of(changed, seed), hash) << length << " " << i;
                }
                zeros.insert(hash_of(std::string(length, '\0'), seed));
            }
            EXPECT_EQ(zeros.size(), 101u);
        }
        EXPECT_NE(hash_of("abc", 1), hash_of("abc", 2));
    }
}

TEST(TextHashTest, CopyingHashCopiesEveryByteAndNoMoreAndHashesAlike) {
    // Lengths across every way of reading the text; the bytes just before
    // and after the copy must stay as they were.
    for (std::size_t length = 0; length <= 150; ++length) {
        std::string text(length, '\0');
        for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>(0x31 + i * 11);
        std::vector<std::uint8_t> to(length + 2, 0xA5);
        EXPECT_EQ(tables::hash_text_copying(text, 99, to.data() + 1), tables::hash_text(text, 99)) << length;
        EXPECT_EQ(to.front(), 0xA5) << length;
        EXPECT_EQ(to.back(), 0xA5) << length;
        EXPECT_EQ(std::string(to.begin() + 1, to.end() - 1), text) << length;
    }
}

TEST(TextHashTest, PaddedWordsHashAsTheTextTheyHold) {
    // The JSON reader hashes short texts from the sixteen bytes it scanned,
    // zeros past the text; the table finds them by the text itself.
    for (std::size_t length = 0; length <= 16; ++length) {
        std::string text(length, '\0');
        for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>(0xF1 - i * 13);
        char padded[16] = {};
        std::memcpy(padded, text.data(), length);
        EXPECT_EQ(tables::hash_padded_words(tables::load_word(padded), tables::load_word(padded + 8), length, 7), tables::hash_text_padded(text, 7))
            << length;
    }
}

TEST(TextHashTest, ShortTextsHashAsTheirPaddedWordsHoweverRead) {
    // emit hashes a short text from a block loaded past it, garbage past the
    // text masked off, where the block lies in one page, and with hash_text
    // where it does not: the two must agree.
    for (std::size_t length = 0; length <= 16; ++length) {
        std::string text(length, '\0');
        for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>(0xF1 - i * 13);
        char block[16];
        std::memset(block, 0x5A, sizeof block);
        std::memcpy(block, text.data(), length);
        const tables::PaddedWords words = tables::padded_words_in_block(block, length);
        EXPECT_EQ(tables::hash_padded_words(words.low, words.high, length, 7), tables::hash_text({block, length}, 7)) << length;
        char padded[16] = {};
        std::memcpy(padded, block, length);
        EXPECT_EQ(words.low, tables::load_word(padded)) << length;
        EXPECT_EQ(words.high, tables::load_word(padded + 8)) << length;
    }
}

TEST(TextHashTest, BlockComparisonSeesEveryByteOfTheTextAndNoneAfter) {
    for (std::size_t size = 0; size <= tables::kSameBytesBlock + 8; ++size) {
        std::vector<char> a(size + tables::kSameBytesBlock);
        for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>(i * 7 + 3);
        std::vector<char> b = a;
        for (std::size_t i = size; i < b.size(); ++i) b[i] = static_cast<char>(~b[i]);
        EXPECT_TRUE(tables::same_bytes_in_block(a.data(), b.data(), size)) << size;
        for (std::size_t differing = 0; differing < size; ++differing) {
            b[differing] = static_cast<char>(b[differing] ^ 0x40);
            EXPECT_FALSE(tables::same_bytes_in_block(a.data(), b.data(), size)) << size << " " << differing;
            b[differing] = a[differing];
        }
    }
}

TEST(DictionaryNumberingTest, SecondOccurrenceEntersTheDictionary) {
    // Strings a b b a c a: inline, inline, b enters as 0, a as 1, inline, 1.
    const std::vector<std::uint32_t> walk = {0, 1, 1, 0, 2, 0};
    const std::vector<std::optional<std::uint32_t>> expected = {std::nullopt, std::nullopt, 0u, 1u, std::nullopt, 1u};
    tables::DictionaryNumbering numbering(3, tables::TableVector<std::uint32_t>{});
    for (std::size_t i = 0; i < walk.size(); ++i) EXPECT_EQ(numbering.occurrence(walk[i]), expected[i]) << i;
    EXPECT_EQ(std::vector<std::uint32_t>(numbering.entries().begin(), numbering.entries().end()),
              (std::vector<std::uint32_t>{1, 0}));
}

TEST(ShapeTableTest, ShapesAreEqualPairForPair) {
    using enum format::VeskType;
    tables::ShapeTable shapes(99);
    const std::vector<std::vector<tables::ShapeField>> distinct = {
        {}, {{0, Int32}}, {{0, Bool}}, {{1, Int32}}, {{0, Int32}, {1, String}}, {{1, String}, {0, Int32}},
    };
    for (std::uint32_t i = 0; i < distinct.size(); ++i) EXPECT_EQ(shapes.intern_object(distinct[i]), i);
    const std::uint32_t ints = shapes.intern_array(Int32);
    EXPECT_EQ(ints, distinct.size());
    EXPECT_EQ(shapes.intern_array(Object), ints + 1);
    EXPECT_EQ(shapes.intern_array(Int32), ints);
    for (std::uint32_t i = 0; i < distinct.size(); ++i) EXPECT_EQ(shapes.intern_object(distinct[i]), i);
    // Growth keeps every shape findable.
    for (std::uint32_t name = 0; name < 3000; ++name) shapes.intern_object(std::vector<tables::ShapeField>{{name, Null}});
    EXPECT_EQ(shapes.intern_object(std::vector<tables::ShapeField>{{1234, Null}}), ints + 2 + 1234);
    EXPECT_EQ(shapes.intern_object(distinct[4]), 4u);
    ASSERT_EQ(shapes.fields(4).size(), 2u);
    EXPECT_EQ(shapes.fields(4)[1], (tables::ShapeField{1, String}));
}

TEST(DefinitionNumberingTest, NumbersFollowTheFirstRequest) {
    tables::DefinitionNumbering numbering;
    EXPECT_EQ(numbering.number(3), 6u);
    EXPECT_EQ(numbering.number(0), 7u);
    EXPECT_EQ(numbering.number(3), 6u);
    EXPECT_EQ(numbering.number(40), 8u);
    EXPECT_EQ(numbering.definition_count(), 9u);
    EXPECT_EQ(std::vector<std::uint32_t>(numbering.shapes().begin(), numbering.shapes().end()),
              (std::vector<std::uint32_t>{3, 0, 40}));
}

TEST(ContainerBlocksTest, BlocksMatchTheDocumentWriter) {
    // Shapes interned in one order and numbered in another, names and
    // dictionary strings of every length class: the blocks must equal what
    // encode_document writes for the same document.
    using enum format::VeskType;
    const std::vector<std::string> texts = {"a", "b", std::string(200, 'm'), std::string(20000, 'l'), ""};
    tables::StringTable names(1), strings(2);
    for (const std::string& text : texts) names.intern(text), strings.intern(text);
    tables::ShapeTable shapes(3);
    const std::uint32_t object = shapes.intern_object(std::vector<tables::ShapeField>{{0, Int32}, {2, String}, {4, Array}});
    const std::uint32_t array = shapes.intern_array(String);
    tables::DefinitionNumbering numbering;
    numbering.number(array);
    numbering.number(object);
    const std::vector<std::uint32_t> entries = {3, 2, 4, 0};

    VeskDocument document;
    document.definitions = primitive_definitions();
    document.definitions.push_back(VeskDefinition::array(6, String));
    document.definitions.push_back(VeskDefinition::object(7, {{"a", Int32}, {texts[2], String}, {"", Array}}));
    for (std::uint32_t id : entries) document.dict.push_back(texts[id]);
    const Result<format::ByteBuffer> expected = encode_document(document);
    ASSERT_TRUE(expected.has_value());

    std::size_t definitions_size = tables::definition_block_base_size();
    for (std::uint32_t shape : {object, array}) definitions_size += tables::definition_record_size(shapes, names, shape);
    std::size_t dictionary_size = format::kStringCountSize;
    for (std::uint32_t id : entries) dictionary_size += format::string_encoding_size(texts[id].size());
    const std::size_t data_at = format::kHeaderSize + definitions_size + dictionary_size;
    ASSERT_EQ(expected->size(), data_at + format::kEntryCountSize);

    format::ByteBuffer written(expected->size(), 0xAA);
    std::uint8_t* at = tables::write_definition_block(written.data() + format::kHeaderSize, shapes, names, numbering);
    ASSERT_EQ(at, written.data() + format::kHeaderSize + definitions_size);
    at = tables::write_dictionary_block(at, entries, [&strings](std::uint8_t* to, std::uint32_t id) {
        return tables::write_string(to, strings.text(id));
    });
    ASSERT_EQ(at, written.data() + data_at);
    format::store_u32le(at, 0);  // no data entries
    tables::write_header(written.data(), format::kHeaderSize + definitions_size, data_at);
    EXPECT_EQ(written, *expected);
}

}  // namespace
}  // namespace vesk
