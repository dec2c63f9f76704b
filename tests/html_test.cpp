// Markup scanner: tag dicts, attributes, entities and blank collapsing, written as compact JSON for comparison.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "kiv_html.h"
#include "kiv_html_int.h"
#include "kiv_json.h"
#include "locale_testutil.h"

namespace {

using localetest::set_latin1_locale;

TEST(Html, Scan) {
    struct Row {
        const char *name;
        std::string text;
        std::string tags; // json_encode of the result
    };
    const Row rows[] = {
        {"bold, close, trailing italic", "<b>bold</b><i>x",
         "[{\"content\":\"bold\",\"tag\":\"b\"},{\"closed\":1,\"tag\":\"b\"},{\"tag\":\"i\"}]"},
        {"attributes with entity and bare value", "<a href=\"a&amp;b\" width=10>t</a>",
         "[{\"content\":\"t\",\"href\":\"a&b\",\"tag\":\"a\",\"width\":\"10\"},{\"closed\":1,\"tag\":\"a\"}]"},
        {"single quotes", "<p class='x y'>", "[{\"class\":\"x y\",\"tag\":\"p\"}]"},
        {"blanks collapse", "<p>  a \t\r\n  b  <p>", "[{\"content\":\"a b \",\"tag\":\"p\"},{\"tag\":\"p\"}]"},
        {"nbsp kept after blank", "<p>a &nbsp;b<p>", "[{\"content\":\"a  b\",\"tag\":\"p\"},{\"tag\":\"p\"}]"},
        {"entity without semicolon", "<p>&lt b<p>", "[{\"content\":\"< b\",\"tag\":\"p\"},{\"tag\":\"p\"}]"},
        {"unknown entity", "<p>&copy;2024<p>", "[{\"content\":\"?2024\",\"tag\":\"p\"},{\"tag\":\"p\"}]"},
        {"all entities", "<p>&amp;&lt;&gt;&quot;&apos;&nbsp;&#10;<p>",
         "[{\"content\":\"&<>\\\"' \\n\",\"tag\":\"p\"},{\"tag\":\"p\"}]"},
        {"entity names are case-sensitive", "<p>&AMP;<p>", "[{\"content\":\"?\",\"tag\":\"p\"},{\"tag\":\"p\"}]"},
        {"empty text", "", "[]"},
        {"text without tags", "just text", "[]"},
        {"text before first tag dropped", "lead<b>x<b>", "[{\"content\":\"x\",\"tag\":\"b\"},{\"tag\":\"b\"}]"},
        {"self-closing tag", "<br/>after<p>", "[{\"closed\":1,\"tag\":\"br\"},{\"tag\":\"p\"}]"},
        {"empty content stored", "<a><b>", "[{\"content\":\"\",\"tag\":\"a\"},{\"tag\":\"b\"}]"},
        {"attribute without value not stored", "<input disabled>", "[{\"tag\":\"input\"}]"},
        {"quoted value without = dropped", "<a \"x\">", "[{\"tag\":\"a\"}]"},
        {"value right after tag name", "<a=5>", "[{\"a\":\"5\",\"tag\":\"a\"}]"},
        {"entity in quoted value, unclosed quote", "<a t=\"&gt;x", "[{\"t\":\">x\",\"tag\":\"a\"}]"},
        {"unclosed tag at end", "<a href", "[{\"tag\":\"a\"}]"},
        {"bytes above 127 are not names", "<\xc3\xa9 a=1>", "[{\"a\":\"1\",\"tag\":\"a\"}]"},
        {"utf-8 kept in content", "<p>\xc3\xa9t\xc3\xa9<p>",
         "[{\"content\":\"\xc3\xa9t\xc3\xa9\",\"tag\":\"p\"},{\"tag\":\"p\"}]"},
        {"lone ampersand", "<p>a & b<p>", "[{\"content\":\"a ? b\",\"tag\":\"p\"},{\"tag\":\"p\"}]"},
        {"ampersand at end", "<p>&", "[{\"tag\":\"p\"}]"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.tags, json_encode(html_parse(row.text))) << row.name;
}

TEST(Html, NamesIgnoreTheCLocale) {
    ASSERT_TRUE(set_latin1_locale("html_test_locale")) << "could not build or set de_DE.ISO-8859-1";
    ASSERT_TRUE(isalnum(0xE9)) << "the locale did not make byte 0xE9 a letter";
    struct Row {
        const char *name;
        std::string text;
        std::string tags;
    };
    const Row rows[] = {
        {"latin-1 letters are no tag name", "<\xe9\xe8 a=1>", "[{\"a\":\"1\",\"tag\":\"a\"}]"},
        {"latin-1 letters are no attribute name", "<p \xe9=1>", "[{\"p\":\"1\",\"tag\":\"p\"}]"},
        {"latin-1 letters end an entity", "<p>&amp\xe9;<p>",
         "[{\"content\":\"&\xe9;\",\"tag\":\"p\"},{\"tag\":\"p\"}]"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.tags, json_encode(html_parse(row.text))) << row.name;
    setlocale(LC_ALL, "C");
}

TEST(Html, StepsStayInsideTheText) {
    struct Row {
        const char *name;
        std::string text;
        int start, end;
        int next;        // position each step answers
        std::string out; // what _html_code reads
    };
    const Row rows[] = {
        {"entity with semicolon", "&amp;x", 0, 6, 5, "&"}, {"end cut before semicolon", "&amp;x", 0, 4, 4, "&"},
        {"end past the text", "&lt", 0, 1000, 3, "<"},     {"start at the end", "&lt", 3, 3, 3, ""},
        {"start past the text", "&lt", 50, 100, 50, ""},   {"negative start", "&lt", -4, 3, -4, ""},
    };
    for (const Row &row : rows) {
        std::string out;
        EXPECT_EQ(row.next, _html_code(row.text, row.start, row.end, out)) << row.name;
        EXPECT_EQ(row.out, out) << row.name;
        // The other steps answer their start, or a position inside the text, and never read past it.
        std::string v, p;
        var tag = var_dict();
        EXPECT_LE(_html_value(row.text, row.start, row.end, v), std::max(row.start, (int)row.text.size())) << row.name;
        EXPECT_LE(_html_param(row.text, row.start, row.end, p), std::max(row.start, (int)row.text.size())) << row.name;
        EXPECT_LE(_html_tag(row.text, row.start, row.end, tag), std::max(row.start, (int)row.text.size())) << row.name;
    }
}

} // namespace
