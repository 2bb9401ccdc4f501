// The JSON codec: what the tolerant reader makes of odd lines, the escaping in both
// directions, and the exact text the writer produces.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>

#include "json.h"

namespace {

using Fields = std::map<std::string, std::string>;

Fields Sorted(const JsonObject& object) {
    return Fields(object.fields.begin(), object.fields.end());
}

struct ParseCase {
    const char* what;
    std::string text;
    Fields expected;
};

void ExpectParses(const std::vector<ParseCase>& cases) {
    for (const ParseCase& c : cases) {
        EXPECT_EQ(Sorted(ParseJson(c.text)), c.expected) << c.what << ": " << c.text;
    }
}

}  // namespace

TEST(ParseJson, NonObjectsGiveEmptyObject) {
    ExpectParses({
        {"empty text", "", {}},
        {"only whitespace", " \t\r\n", {}},
        {"array", "[1,2]", {}},
        {"word", "hello", {}},
        {"bare string", R"("type")", {}},
        {"empty object", "{}", {}},
        {"open brace only", "{", {}},
    });
}

TEST(ParseJson, ReadsPlainAndSpacedObjects) {
    ExpectParses({
        {"command", R"({"type":"shutdown"})", {{"type", "shutdown"}}},
        {"spaces between tokens", R"({ "a" : "x" , "b":2 })", {{"a", "x"}, {"b", "2"}}},
        {"leading whitespace", " \t\r\n{\"a\":\"x\"}", {{"a", "x"}}},
        {"tab, CR, LF as separators", "{\t\"a\"\r:\n\"x\"\t}", {{"a", "x"}}},
        {"set_source",
         R"j({"type":"set_source","name":"STUDIO (Camera 1)","quality":"High"})j",
         {{"type", "set_source"}, {"name", "STUDIO (Camera 1)"}, {"quality", "High"}}},
        {"text after the object is ignored", R"({"a":"x"} {"b":"y"})", {{"a", "x"}}},
    });
}

TEST(ParseJson, KeepsBareValuesAsWritten) {
    ExpectParses({
        {"literals and numbers",
         R"({"a":true,"b":null,"c":-1.5})",
         {{"a", "true"}, {"b", "null"}, {"c", "-1.5"}}},
        {"bare and quoted zero read alike", R"({"quality":0})", {{"quality", "0"}}},
        {"bare escapes are not unescaped", R"({"a":x\ny})", {{"a", R"(x\ny)"}}},
        {"bare value ends at tab", "{\"a\":1\t,\"b\":2}", {{"a", "1"}, {"b", "2"}}},
        {"CR does not end a bare value", "{\"a\":1\r}", {{"a", "1\r"}}},
        {"LF does not end a bare value", "{\"a\":1\n}", {{"a", "1\n"}}},
        {"nested object is cut at its first brace",
         R"({"a":{"b":"c"},"d":"e"})",
         {{"a", R"({"b":"c")"}}},
    });
}

TEST(ParseJson, ToleratesCommasAndDuplicates) {
    ExpectParses({
        {"last occurrence wins", R"({"a":"x","a":"y"})", {{"a", "y"}}},
        {"missing comma", R"({"a":"x" "b":"y"})", {{"a", "x"}, {"b", "y"}}},
        {"leading, doubled, trailing commas", R"({,"a":"x",,})", {{"a", "x"}}},
        {"only commas", "{,,,}", {}},
    });
}

TEST(ParseJson, StopsAtWhatItCannotPlace) {
    ExpectParses({
        {"key without colon", R"({"a"})", {}},
        {"key then value without colon", R"({"a" 1})", {}},
        {"key at end of text", R"({"a")", {}},
        {"unterminated key", R"({"ab)", {}},
        {"colon at end of text", R"({"a":)", {{"a", ""}}},
        {"colon and spaces at end of text", "{\"a\":  ", {{"a", ""}}},
        {"unterminated quoted value", R"({"a":"abc)", {{"a", "abc"}}},
        {"junk after a value", R"({"a":1 x,"b":2})", {{"a", "1"}}},
        {"unquoted key", R"({"a":"x",b:"y"})", {{"a", "x"}}},
        {"fields before the junk stay",
         R"({"a":"x","b":"y";"c":"z"})",
         {{"a", "x"}, {"b", R"(y)"}}},
    });
}

TEST(ParseJson, UnescapesQuotedKeysAndValues) {
    ExpectParses({
        {"escaped quote", R"({"a":"1\"2"})", {{"a", "1\"2"}}},
        {"the five escapes", R"({"a":"\"\\\n\r\t"})", {{"a", "\"\\\n\r\t"}}},
        {"unknown escapes keep their backslash", R"({"a":"x\/y\u0041"})", {{"a", R"(x\/y\u0041)"}}},
        {"escaped key", R"({"k\"ey":"v"})", {{"k\"ey", "v"}}},
        {"raw CR and TAB stay", "{\"a\":\"x\ry\tz\"}", {{"a", "x\ry\tz"}}},
        {"structural bytes inside quotes", R"({"a":"{,}:[]"})", {{"a", "{,}:[]"}}},
        {"backslash last in text", "{\"a\":\"x\\", {{"a", "x\\"}}},
        {"escaped backslash before quote", R"({"a":"x\\","b":"y"})", {{"a", "x\\"}, {"b", "y"}}},
        {"bytes above 0x7F pass", "{\"a\":\"\xC3\xA9\xFF\"}", {{"a", "\xC3\xA9\xFF"}}},
        {"empty key and value", R"({"":""})", {{"", ""}}},
    });
}

TEST(ParseJson, NulBytesAreOrdinary) {
    std::string text = std::string("{\"a\":\"x", 7) + '\0' + "y\"}";
    EXPECT_EQ(ParseJson(text).Get("a"), std::string("x\0y", 3));
}

TEST(JsonObject, AbsentKeyReadsEmpty) {
    JsonObject object = ParseJson(R"({"a":"x","b":""})");
    EXPECT_EQ(object.Get("a"), "x");
    EXPECT_EQ(object.Get("b"), "");
    EXPECT_EQ(object.Get("missing"), "");
}

TEST(EscapeJson, EscapesQuoteBackslashAndEveryControlByte) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"\"\\\n\r\t", R"(\"\\\n\r\t)"},
        {"plain", "plain"},
        {std::string("\x01\x08\x0C\x1F\x7F", 5),
         std::string(R"(\u0001\u0008\u000c\u001f)") + "\x7F"},
        {"\xE2\x82\xAC UTF-8 \xC3\x28", "\xE2\x82\xAC UTF-8 \xC3\x28"},
        {"/", "/"},
        {std::string(1, '\0'), R"(\u0000)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeJson(c.in), c.out);
    }
}

TEST(UnescapeJson, TableOfEscapes) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {R"(\")", "\""},
        {R"(\\)", "\\"},
        {R"(\n)", "\n"},
        {R"(\r)", "\r"},
        {R"(\t)", "\t"},
        {R"(\/)", R"(\/)"},
        {R"(\b\f)", R"(\b\f)"},
        {R"(\u0041)", R"(\u0041)"},
        {R"(\u0000)", std::string(1, '\0')},
        {R"(\u001f\u001F)", "\x1F\x1F"},
        {R"(\u0020\u0080)", R"(\u0020\u0080)"},
        {R"(\u001)", R"(\u001)"},
        {R"(\u00g1)", R"(\u00g1)"},
        {"\\", "\\"},
        {R"(a\)", R"(a\)"},
        {R"(\\\)", R"(\\)"},
        {R"(\\n)", R"(\n)"},
        {R"(\x\")", "\\x\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UnescapeJson(c.in), c.out) << c.in;
    }
}

TEST(EscapeJson, RoundTripsEveryByteValue) {
    for (int b = 0; b < 256; ++b) {
        std::string one(1, static_cast<char>(b));
        EXPECT_EQ(UnescapeJson(EscapeJson(one)), one) << "byte " << b;
    }
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
        all += '\\';
    }
    EXPECT_EQ(UnescapeJson(EscapeJson(all)), all);
}

TEST(EscapeJson, RoundTripsRandomStringsThroughWriterAndReader) {
    std::mt19937 random(20240611);
    // Mostly the bytes that matter to the codec, some of anything.
    const std::string special = "\"\\\n\r\t{},: nrtu/";
    for (int i = 0; i < 2000; ++i) {
        std::string s(random() % 40, '\0');
        for (char& c : s) {
            c = random() % 2 ? special[random() % special.size()]
                             : static_cast<char>(random() % 256);
        }
        ASSERT_EQ(UnescapeJson(EscapeJson(s)), s);
        if (s == "k") {
            continue;
        }
        std::string line = JsonWriter().AddString(s, s).AddString("k", "v").Finish();
        JsonObject parsed = ParseJson(line);
        ASSERT_EQ(parsed.Get(s), s) << line;
        ASSERT_EQ(parsed.Get("k"), "v") << line;
    }
}

TEST(JsonWriter, WritesExactText) {
    struct Case {
        const char* what;
        std::string actual, expected;
    };
    const Case cases[] = {
        {"no fields", JsonWriter().Finish(), "{}"},
        {"float 29.97", JsonWriter().AddFloat("f", 29.97f).Finish(), R"({"f":29.97})"},
        {"float 0", JsonWriter().AddFloat("f", 0.0f).Finish(), R"({"f":0.00})"},
        {"float rounds up", JsonWriter().AddFloat("f", 59.999f).Finish(), R"({"f":60.00})"},
        {"negative float", JsonWriter().AddFloat("f", -1.5f).Finish(), R"({"f":-1.50})"},
        {"int -5", JsonWriter().AddInt("i", -5).Finish(), R"({"i":-5})"},
        {"int limits", JsonWriter().AddInt("a", INT32_MIN).AddInt("b", INT32_MAX).Finish(),
         R"({"a":-2147483648,"b":2147483647})"},
        {"int64 past 32 bits", JsonWriter().AddInt64("h", 4294967296LL).Finish(),
         R"({"h":4294967296})"},
        {"int64 minimum", JsonWriter().AddInt64("h", INT64_MIN).Finish(),
         R"({"h":-9223372036854775808})"},
        {"large int grouped nowhere", JsonWriter().AddInt("i", 1234567).Finish(),
         R"({"i":1234567})"},
        {"escaped key and value", JsonWriter().AddString("k\"", "a\\b\nc").Finish(),
         R"({"k\"":"a\\b\nc"})"},
        {"fields in order added",
         JsonWriter()
             .AddString("type", "stats")
             .AddFloat("fps", 59.94f)
             .AddInt("width", 1920)
             .AddInt("height", 1080)
             .Finish(),
         R"({"type":"stats","fps":59.94,"width":1920,"height":1080})"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.actual, c.expected) << c.what;
    }
}

// Every file of a public JSON conformance corpus, valid or not, must parse without harm;
// the sanitizers catch what a plain run would not.
TEST(ParseJson, SurvivesConformanceCorpus) {
#ifndef HOSTS_JSON_CORPUS_DIR
    GTEST_SKIP() << "no corpus configured";
#else
    namespace fs = std::filesystem;
    const fs::path dir(HOSTS_JSON_CORPUS_DIR);
    std::error_code error;
    if (!fs::is_directory(dir, error)) {
        GTEST_SKIP() << "corpus absent: " << dir;
    }
    int files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, error)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".json") {
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        JsonObject parsed = ParseJson(text);
        size_t first = text.find_first_not_of(" \t\r\n");
        if (first == std::string::npos || text[first] != '{') {
            EXPECT_TRUE(parsed.fields.empty()) << entry.path();
        }
        ++files;
    }
    EXPECT_GT(files, 0);
#endif
}
