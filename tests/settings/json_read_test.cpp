// Reading the settings text: what reads, what each malformed text raises, and
// nesting deep enough to overflow any recursive reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/json.h"

namespace {

const char* const kNames[] = {"ipaddress", "port", "velmoorFldr", "ShareDir", "Automount"};

TEST(JSONRead, SettingsInAnyLayoutGiveTheSameFiveValues) {
  const char* const texts[] = {
      "{\"ipaddress\":\"10.0.0.2\",\"port\":\"38008\",\"velmoorFldr\":\"\\/opt\\/v\","
      "\"ShareDir\":\"\\/My\\\\ Share\",\"Automount\":\"Yes\"}",
      // other order, blanks, tabs and line breaks between tokens
      " \r\n{\n\t\"Automount\" :\t\"Yes\" ,\r\n \"ShareDir\": \"\\/My\\\\ Share\",\n"
      "\"velmoorFldr\"\n:\n\"/opt/v\", \"port\" : \"38008\" , \"ipaddress\":\"10.0.0.2\"\n}\n",
      // extra members of every kind
      "{\"x\":[1,{\"y\":null}],\"ipaddress\":\"10.0.0.2\",\"n\":-1.5e3,\"port\":\"38008\","
      "\"t\":true,\"velmoorFldr\":\"/opt/v\",\"ShareDir\":\"/My\\\\ Share\",\"f\":false,"
      "\"Automount\":\"Yes\",\"o\":{}}",
      // text after the closing brace is not read
      "{\"ipaddress\":\"10.0.0.2\",\"port\":\"38008\",\"velmoorFldr\":\"/opt/v\","
      "\"ShareDir\":\"/My\\\\ Share\",\"Automount\":\"Yes\"} trailing {[ garbage \"",
      // a name given twice keeps the last value
      "{\"port\":\"1\",\"ipaddress\":\"x\",\"port\":\"2\",\"velmoorFldr\":\"/opt/v\","
      "\"ShareDir\":\"/My\\\\ Share\",\"Automount\":\"No\",\"ipaddress\":\"10.0.0.2\","
      "\"port\":\"38008\",\"Automount\":\"Yes\"}",
  };
  const char* const values[] = {"10.0.0.2", "38008", "/opt/v", "/My\\ Share", "Yes"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    JSONItem item(text);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(item.Value(kNames[i]), values[i]) << kNames[i];
  }
}

TEST(JSONRead, DuplicateNamesKeepTheFirstPlaceAndTheLastValue) {
  JSONItem item("{\"a\":\"1\",\"b\":\"2\",\"a\":\"3\",\"a\":{\"c\":4}}");
  EXPECT_EQ(item.Count(), 2u);
  EXPECT_EQ(item.ToString(), "{\"a\":{\"c\":4},\"b\":\"2\"}");
  // Many members, beyond a short scan
  std::string text = "{";
  for (int i = 0; i < 50; ++i) text += "\"m" + std::to_string(i % 20) + "\":" + std::to_string(i) + ",";
  text += "\"end\":0}";
  JSONItem many(text);
  EXPECT_EQ(many.Count(), 21u);
  EXPECT_EQ(many.Value("m0"), "40");
  EXPECT_EQ(many.Value("m19"), "39");
  EXPECT_EQ(JSONItem(many.ToString()).ToString(), many.ToString());
}

// Objects of every size the reader treats apart: names compared one by one,
// sorted in one part, sorted in parts. Names of many lengths (the empty one
// among them, and names that differ in one byte only), given twice or more,
// with values of every kind; the expected text comes from a plain model.
TEST(JSONRead, LargeObjectsKeepTheFirstPlaceAndTheLastValueOfEachName) {
  struct Case {
    int members, names;
  } cases[] = {{9, 9},
               {12, 5},
               {100, 40},
               {2048, 2000},
               {5000, 1000},
               {40000, 30000},
               // enough names that a few pairs share a 32-bit hash, whatever the hash
               {260000, 250000}};
  auto name_of = [](int id) {
    if (id == 0) return std::string();
    std::string name(static_cast<std::size_t>(id % 19), 'a' + id % 26);
    return name + "#" + std::to_string(id);
  };
  auto value_of = [](int k) {
    switch (k % 5) {
      case 0:
        return "\"v" + std::to_string(k) + "\"";
      case 1:
        return std::to_string(k);
      case 2:
        return std::string(k % 2 ? "true" : "false");
      case 3:
        return "{\"k\":[" + std::to_string(k) + ",null]}";
      default:
        return std::string("null");
    }
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.members);
    // The first `names` members give each name once, in a shuffled order;
    // the others give them again.
    std::vector<int> first_at(static_cast<std::size_t>(c.names), -1), order;
    std::vector<std::string> last(static_cast<std::size_t>(c.names));
    std::string text = "{";
    for (int k = 0; k < c.members; ++k) {
      const int id = k < c.names ? static_cast<int>((k * 7919L) % c.names) : (k * 31 + 7) % c.names;
      if (first_at[id] < 0) {
        first_at[id] = k;
        order.push_back(id);
      }
      last[id] = value_of(k);
      text += (k ? ",\"" : "\"") + name_of(id) + "\":" + last[id];
    }
    text += "}";
    std::string expected = "{";
    for (int id : order) expected += (expected.size() > 1 ? ",\"" : "\"") + name_of(id) + "\":" + last[id];
    expected += "}";

    JSONItem item(text);
    EXPECT_EQ(item.Count(), static_cast<std::size_t>(c.names));
    EXPECT_TRUE(item.ToString() == expected);
    for (int id = 0; id < c.names; ++id) {
      const std::string want = last[id] == "null"   ? ""
                               : last[id][0] == '"' ? last[id].substr(1, last[id].size() - 2)
                                                    : last[id];
      ASSERT_EQ(item.Value(name_of(id)), want) << id;
    }
    EXPECT_THROW((void)item.Value("#"), KeyNotFoundException);
    EXPECT_THROW((void)item.Value(name_of(c.names)), KeyNotFoundException);

    // The same object one level down.
    JSONItem outer("{\"o\":" + text + ",\"o2\":1}");
    EXPECT_TRUE(outer.Value("o") == expected);
  }
}

TEST(JSONRead, EmptyOrBlankTextIsAnEmptyObject) {
  for (const char* text : {"", " ", "\t\r\n  \n"}) {
    JSONItem item(text);
    EXPECT_FALSE(item.IsArray());
    EXPECT_EQ(item.Count(), 0u);
    EXPECT_EQ(item.ToString(), "{}");
  }
}

TEST(JSONRead, StringEscapes) {
  struct Case {
    const char* in;  // between the quotes of a value
    std::string value;
  } cases[] = {
      {"\\\"\\\\\\/", "\"\\/"},
      {"\\b\\f\\n\\r\\t", "\b\f\n\r\t"},
      {"\\u0041\\u00e9\\u00E9\\u20ac", "A\xc3\xa9\xc3\xa9\xe2\x82\xac"},
      // the bounds of the two- and three-byte forms
      {"\\u007f\\u0080", "\x7f\xc2\x80"},
      {"\\u07ff\\u0800", "\xdf\xbf\xe0\xa0\x80"},
      {"\\uffff", "\xef\xbf\xbf"},
      {"a\\u0000b", std::string("a\0b", 3)},
      {"\\ud83d\\ude00", "\xf0\x9f\x98\x80"},  // a surrogate pair is one character
      {"\\ud83dx", "\xef\xbf\xbdx"},           // a lone surrogate cannot be UTF-8
      {"\\ude00\\ud83d", "\xef\xbf\xbd\xef\xbf\xbd"},
      {"\\uZZZZ\\u12g4", "\\uZZZZ\\u12g4"},  // not hex: kept as it stands
      {"raw\x01\ttab\nline", "raw\x01\ttab\nline"},
      {"\xc3\xa4\xff", "\xc3\xa4\xff"},  // bytes taken whole
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    JSONItem item(std::string("{\"k\":\"") + c.in + "\"}");
    EXPECT_EQ(item.Value("k"), c.value);
    EXPECT_EQ(JSONItem(item.ToString()).Value("k"), c.value);
  }
}

struct ErrorCase {
  std::string text;
  int number;
  std::string message;
};

TEST(JSONRead, MalformedTextRaisesTheFirstErrorWithItsPosition) {
  const std::string example =
      "{\"ipaddress\":\"127.0.0.1\",\"port\":\"38008\",\"velmoorFldr\":\"\\/Games\","
      "\"ShareDir\":\"\\/Games\",\"Automount\":\"No\"";
  const ErrorCase cases[] = {
      {"x", 1, "Parse Error: Expecting '{' or '['"},
      {"  x", 1, "Parse Error: Expecting '{' or '[' at position 2"},
      {"\n\"a\"", 1, "Parse Error: Expecting '{' or '[' at position 1"},
      {"[1 2]", 2, "A parsing error occurred at position 4"},
      {"[1}", 2, "A parsing error occurred at position 3"},
      {"[1", 2, "A parsing error occurred at position 2"},
      {"[\"abc", 2, "A parsing error occurred at position 5"},
      {"[[1],[2]", 2, "A parsing error occurred at position 8"},
      {"{\"a\":-x}", 3, "Illegal Number Format at position 7"},
      {"{\"a\":1.}", 3, "Illegal Number Format at position 8"},
      {"{\"a\":1e+}", 3, "Illegal Number Format at position 9"},
      {"{\"a\":-", 3, "Illegal Number Format at position 6"},
      {"{\"a\" 1}", 5, "Missing : at position 6"},
      {"{\"a\"", 5, "Missing : at position 4"},
      {"{\"a", 5, "Missing : at position 3"},  // the cut string fails at the colon
      {"{\"a\":\"b\" \"c\"}", 6, "Missing , or } at position 10"},
      {"{\"a\":\"b\"]", 6, "Missing , or } at position 9"},
      {"{\"a\":01}", 6, "Missing , or } at position 7"},
      {"{\"a\":\"b\"", 6, "Missing , or } at position 8"},
      {"{\"a\":\"bc", 6, "Missing , or } at position 8"},
      {"{\"a\":\"b\\", 6, "Missing , or } at position 8"},
      {"{\"a\":{}", 6, "Missing , or } at position 7"},
      {example, 6, "Missing , or } at position " + std::to_string(example.size())},
      {"{a:1}", 7, "Missing \" at position 2"},
      {"{\"a\":1,}", 7, "Missing \" at position 8"},
      {"{", 7, "Missing \" at position 1"},
      {"{\"a\":1,", 7, "Missing \" at position 7"},
      {"{\"a\":\"\\u12", 8, "Illegal Unicode Character Format at position 10"},
      {"{\"a\":\"\\u", 8, "Illegal Unicode Character Format at position 8"},
      {"{\"a\":\"\\x\"}", 9, "Illegal Character at position 8"},
      {"{\"a\\'\":1}", 9, "Illegal Character at position 5"},
      {"{\"a\":x}", 10, "Illegal Value at position 5"},
      {"{\"a\":}", 10, "Illegal Value at position 5"},
      {"{\"a\":tru}", 10, "Illegal Value at position 5"},
      {"{\"a\":nul}", 10, "Illegal Value at position 5"},
      {"{\"a\":fals}", 10, "Illegal Value at position 10"},
      {"{\"a\":falsy}", 10, "Illegal Value at position 10"},
      {"{\"a\":fals", 10, "Illegal Value at position 9"},
      {"{\"a\":", 10, "Illegal Value at position 5"},
      {"[", 10, "Illegal Value at position 1"},
      {"[1,]", 10, "Illegal Value at position 3"},
      {"[,", 10, "Illegal Value at position 1"},
      // the first error is the one raised
      {"{\"a\":1 \"b\" x}", 6, "Missing , or } at position 8"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      JSONItem item(c.text);
      ADD_FAILURE() << "no exception";
    } catch (const JSONException& e) {
      EXPECT_EQ(e.ErrorNumber, c.number);
      EXPECT_EQ(e.Message, c.message);
      EXPECT_STREQ(e.what(), c.message.c_str());
    }
  }
}

TEST(JSONRead, TextAfterTheOutermostValueIsNotRead) {
  JSONItem item("[1,2] ] , { \"");
  EXPECT_TRUE(item.IsArray());
  EXPECT_EQ(item.ToString(), "[1,2]");
  EXPECT_EQ(JSONItem("{}x").ToString(), "{}");
}

// A million levels: depth costs memory only, both to read, to write and to
// drop the result.
TEST(JSONRead, DeepNestingDoesNotUseTheCallStack) {
  constexpr std::size_t kDepth = 1000000;
  try {
    JSONItem open(std::string(kDepth, '['));
    ADD_FAILURE() << "no exception";
  } catch (const JSONException& e) {
    EXPECT_EQ(e.ErrorNumber, 10);
    EXPECT_EQ(e.Message, "Illegal Value at position " + std::to_string(kDepth));
  }

  const std::string arrays = std::string(kDepth, '[') + std::string(kDepth, ']');
  {
    JSONItem item(arrays);
    EXPECT_TRUE(item.IsArray());
    EXPECT_EQ(item.Count(), 1u);
    EXPECT_TRUE(item.ToString() == arrays);
  }

  std::string objects;
  for (std::size_t i = 0; i < kDepth; ++i) objects += "{\"a\":";
  objects += "1" + std::string(kDepth, '}');
  JSONItem item(objects);
  const std::string inner = item.Value("a");
  EXPECT_EQ(inner.size(), objects.size() - 6);
  EXPECT_TRUE(inner == objects.substr(5, objects.size() - 6));
}

}  // namespace
