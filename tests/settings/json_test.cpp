// The settings text as written: its exact form, the escaping of names and
// values, and that what is written reads back unchanged.
#include "settings/json.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(char32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | cp >> 6);
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | cp >> 12);
    s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | cp >> 18);
    s += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

// The code points the settings file writes as "\u" and four hexadecimal
// digits, as the design lists them; five of the first range have short
// escapes of their own instead.
struct CodePointRange {
  char32_t first, last;
};
constexpr CodePointRange kEscapedRanges[] = {
    {0x0000, 0x001F}, {0x007F, 0x007F}, {0x00AD, 0x00AD}, {0x0600, 0x0604},
    {0x070F, 0x070F}, {0x17B4, 0x17B5}, {0x200C, 0x200F}, {0x2028, 0x202F},
    {0x2060, 0x206F}, {0xFEFF, 0xFEFF}, {0xFFF0, 0xFFFF},
};

bool InEscapedRange(char32_t cp) {
  for (const CodePointRange& r : kEscapedRanges) {
    if (cp >= r.first && cp <= r.last) return true;
  }
  return false;
}

// How a code point of those ranges is written.
std::string WrittenInRange(char32_t cp) {
  switch (cp) {
    case 0x08:
      return "\\b";
    case 0x09:
      return "\\t";
    case 0x0A:
      return "\\n";
    case 0x0C:
      return "\\f";
    case 0x0D:
      return "\\r";
    default: {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
      return buf;
    }
  }
}

// The text of an object with the one member "k".
std::string Member(const std::string& written) { return "{\"k\":\"" + written + "\"}"; }

TEST(JSONWrite, SettingsObjectIsOneLineInTheOrderSet) {
  JSONItem settings;
  settings.Value("ipaddress", "127.0.0.1");
  settings.Value("port", "38008");
  settings.Value("velmoorFldr", "/Games");
  settings.Value("ShareDir", "/Games");
  settings.Value("Automount", "No");
  EXPECT_EQ(settings.ToString(),
            "{\"ipaddress\":\"127.0.0.1\",\"port\":\"38008\",\"velmoorFldr\":\"\\/Games\","
            "\"ShareDir\":\"\\/Games\",\"Automount\":\"No\"}");
  EXPECT_EQ(settings.Count(), 5u);
  EXPECT_FALSE(settings.IsArray());
}

TEST(JSONWrite, EmptyObjectIsTwoBraces) {
  EXPECT_EQ(JSONItem().ToString(), "{}");
  EXPECT_EQ(JSONItem().Count(), 0u);
}

TEST(JSONWrite, SettingAgainReplacesTheValueInItsPlace) {
  JSONItem item;
  item.Value("a", "1");
  item.Value("b", "2");
  item.Value("a", "3");
  EXPECT_EQ(item.ToString(), "{\"a\":\"3\",\"b\":\"2\"}");
  EXPECT_EQ(item.Count(), 2u);
  EXPECT_EQ(item.Value("a"), "3");
}

TEST(JSONWrite, ReplacingAReadObjectMemberDropsItsContent) {
  JSONItem item("{\"a\":{\"x\":[1,2]},\"b\":true}");
  item.Value("a", "plain");
  EXPECT_EQ(item.ToString(), "{\"a\":\"plain\",\"b\":true}");
}

// Members set one by one, beyond the few that are searched one by one, on a
// new object and on one read from a text: each set replaces the value of its
// name in place, whatever the values' lengths, and new names come last.
TEST(JSONWrite, SettingManyMembersKeepsTheirOrderAndTheirLastValues) {
  for (const int members : {9, 20, 3000, 30000}) {
    for (const bool read : {false, true}) {
      SCOPED_TRACE(std::to_string(members) + (read ? " read" : " new"));
      std::vector<std::string> names, values;
      std::string text = "{";
      for (int k = 0; k < members; ++k) {
        names.push_back("m" + std::string(static_cast<std::size_t>(k % 11), '_') + std::to_string(k));
        values.push_back(std::to_string(k));
        if (read) text += (k ? ",\"" : "\"") + names[k] + "\":\"" + values[k] + "\"";
      }
      JSONItem item(read ? text + "}" : std::string());
      if (!read) {
        for (int k = 0; k < members; ++k) item.Value(names[k], values[k]);
      }
      // Longer, shorter and empty values, and as many new names again.
      for (int k = 0; k < members; k += 3) values[k] += std::string(static_cast<std::size_t>(k % 50), 'L');
      for (int k = 1; k < members; k += 3) values[k] = values[k].substr(0, 1);
      for (int k = 2; k < members; k += 9) values[k].clear();
      for (int k = 0; k < members; ++k) {
        if (k % 3 != 2 || k % 9 == 2) item.Value(names[k], values[k]);
        names.push_back("new" + std::to_string(k));
        values.push_back(std::string(static_cast<std::size_t>(k % 7), 'n'));
        item.Value(names.back(), values.back());
      }
      ASSERT_EQ(item.Count(), names.size());
      std::string expected = "{";
      for (std::size_t k = 0; k < names.size(); ++k) {
        ASSERT_EQ(item.Value(names[k]), values[k]) << names[k];
        expected += (k ? ",\"" : "\"") + names[k] + "\":\"" + values[k] + "\"";
      }
      EXPECT_TRUE(item.ToString() == expected + "}");
      EXPECT_THROW((void)item.Value("m"), KeyNotFoundException);
    }
  }
}

// A value set again and again, longer each time, leaves older texts behind
// that are given back now and then; every other member stays as it was.
TEST(JSONWrite, SettingAValueAgainAndAgainKeepsEveryMember) {
  JSONItem item("{\"a\":\"1\",\"b\":[true,{\"c\":\"\\/x\"}],\"d\":-2.5,\"e\":\"\"}");
  std::string value;
  for (int i = 0; i < 3000; ++i) {
    value += static_cast<char>('a' + i % 26);
    item.Value(i % 2 ? "a" : "e", value);
    item.Value("f" + std::to_string(i % 3), std::to_string(i));
  }
  EXPECT_EQ(item.Value("a"), value);
  EXPECT_EQ(item.Value("e"), value.substr(0, value.size() - 1));
  EXPECT_EQ(item.Value("b"), "[true,{\"c\":\"\\/x\"}]");
  EXPECT_EQ(item.Value("d"), "-2.5");
  EXPECT_EQ(item.ToString(), "{\"a\":\"" + value + "\",\"b\":[true,{\"c\":\"\\/x\"}],\"d\":-2.5,\"e\":\"" +
                                 value.substr(0, value.size() - 1) +
                                 "\",\"f0\":\"2997\",\"f1\":\"2998\",\"f2\":\"2999\"}");
}

// Names and texts of every length around the size of the reader's blocks
// of characters, and many middling ones that fill block after block; each
// with escapes, in objects and in arrays.
TEST(JSONRead, LongNamesAndTextsReadBackWhole) {
  auto long_text = [](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; s.size() < n; ++i) s += i % 64 ? static_cast<char>('a' + i % 26) : '\n';
    if (n > 2) s.replace(n / 2, 2, "\xc3\xa9");
    s.resize(n);
    return s;
  };
  auto quoted = [](const std::string& s) {  // as the writer puts it between the quotes
    JSONItem one;
    one.Value("k", s);
    const std::string text = one.ToString();
    return text.substr(5, text.size() - 6);
  };
  for (const std::size_t n : {0u, 1u, 255u, 256u, 257u, 262143u, 262144u, 262145u, 600000u, 1100000u}) {
    SCOPED_TRACE(n);
    JSONItem item;
    item.Value("before", "b/");
    item.Value(long_text(n), long_text(n + 3));
    item.Value("after", long_text(n / 2));
    const std::string text = item.ToString();
    JSONItem back(text);
    EXPECT_EQ(back.Count(), 3u);
    EXPECT_TRUE(back.Value(long_text(n)) == long_text(n + 3));
    EXPECT_TRUE(back.Value("after") == long_text(n / 2));
    EXPECT_EQ(back.Value("before"), "b/");
    EXPECT_TRUE(back.ToString() == text);
    const std::string array = "[" + quoted(long_text(n)) + ",\"x\"," + quoted(long_text(n + 3)) + "]";
    EXPECT_TRUE(JSONItem(array).ToString() == array);
  }

  JSONItem many;
  std::string array = "[";
  for (int k = 0; k < 3000; ++k) {
    const std::string value = long_text(static_cast<std::size_t>(k % 1500));
    many.Value(std::to_string(k), value);
    array += (k ? "," : "") + quoted(value);
  }
  array += "]";
  const std::string text = many.ToString();
  JSONItem back(text);
  for (int k = 0; k < 3000; ++k) {
    ASSERT_TRUE(back.Value(std::to_string(k)) == long_text(static_cast<std::size_t>(k % 1500))) << k;
  }
  EXPECT_TRUE(back.ToString() == text);
  EXPECT_TRUE(JSONItem(array).ToString() == array);
}

struct EscapeCase {
  const char* what;
  std::string plain;    // the text as the program holds it
  std::string written;  // the same text between the quotes of the file
};

std::vector<EscapeCase> EscapeCases() {
  std::vector<EscapeCase> cases = {
      {"plain", "127.0.0.1", "127.0.0.1"},
      {"empty", "", ""},
      {"blanks kept", " a  b ", " a  b "},
      {"quote", "say \"hi\"", "say \\\"hi\\\""},
      {"backslash", "a\\b", "a\\\\b"},
      {"slash", "/Games", "\\/Games"},
      {"dropped path with blank", "/Games/My\\ Folder", "\\/Games\\/My\\\\ Folder"},
      {"backslash before quote", "\\\"", "\\\\\\\""},
      {"backslash before slash", "\\/", "\\\\\\/"},
      {"backslash before n", "\\n", "\\\\n"},
      {"backspace", "\b", "\\b"},
      {"form feed", "\f", "\\f"},
      {"line feed", "a\nb", "a\\nb"},
      {"carriage return", "a\r\nb", "a\\r\\nb"},
      {"tab", "a\tb", "a\\tb"},
      {"nul", std::string("a\0b", 3), "a\\u0000b"},
      {"control 01", "\x01", "\\u0001"},
      {"control 1b", "\x1b[0m", "\\u001b[0m"},
      {"control 1f", "\x1f", "\\u001f"},
      {"delete", "\x7f", "\\u007f"},
      {"non-ASCII letters", "Ärger é ß 東京", "Ärger é ß 東京"},
      {"four-byte character", Utf8(0x1F600), Utf8(0x1F600)},
      {"invalid UTF-8 kept as bytes", "\xff\xc3(\xed\xa0\x80", "\xff\xc3(\xed\xa0\x80"},
  };
  // Each range: its bounds escaped, its neighbours written as their bytes.
  for (const CodePointRange& r : kEscapedRanges) {
    for (char32_t cp : {r.first, r.last}) {
      cases.push_back({"escaped range bound", "x" + Utf8(cp) + "y", "x" + WrittenInRange(cp) + "y"});
    }
    if (r.first > 0) cases.push_back({"below range", Utf8(r.first - 1), Utf8(r.first - 1)});
    cases.push_back({"above range", Utf8(r.last + 1), Utf8(r.last + 1)});
  }
  return cases;
}

TEST(JSONWrite, NamesAndValuesAreEscapedAndReadBackUnchanged) {
  for (const EscapeCase& c : EscapeCases()) {
    SCOPED_TRACE(c.what);
    JSONItem item;
    item.Value("k", c.plain);
    item.Value(c.plain, "v");
    const std::string text = item.ToString();
    const std::string expected = "{\"k\":\"" + c.written + "\",\"" + c.written + "\":\"v\"}";
    EXPECT_EQ(text, expected);

    JSONItem back(text);
    EXPECT_EQ(back.Value("k"), c.plain);
    EXPECT_EQ(back.Value(c.plain), "v");
    EXPECT_EQ(back.ToString(), text);
  }
}

TEST(JSONWrite, EveryCodePointOfTheListedRangesIsEscaped) {
  for (const CodePointRange& r : kEscapedRanges) {
    for (char32_t cp = r.first; cp <= r.last; ++cp) {
      JSONItem item;
      item.Value("k", "x" + Utf8(cp) + "y");
      ASSERT_EQ(item.ToString(), Member("x" + WrittenInRange(cp) + "y"))
          << "U+" << std::hex << static_cast<unsigned>(cp);
      ASSERT_EQ(JSONItem(item.ToString()).Value("k"), "x" + Utf8(cp) + "y")
          << "U+" << std::hex << static_cast<unsigned>(cp);
    }
  }
}

TEST(JSONWrite, EveryOtherCodePointIsWrittenAsItsBytes) {
  for (char32_t cp = 0; cp <= 0xFFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;  // no UTF-8 form
    if (cp == '"' || cp == '\\' || cp == '/' || InEscapedRange(cp)) continue;
    JSONItem item;
    item.Value("k", Utf8(cp));
    ASSERT_EQ(item.ToString(), Member(Utf8(cp))) << "U+" << std::hex << static_cast<unsigned>(cp);
    ASSERT_EQ(JSONItem(item.ToString()).Value("k"), Utf8(cp))
        << "U+" << std::hex << static_cast<unsigned>(cp);
  }
}

TEST(JSONMember, NamesMatchExactly) {
  JSONItem item("{\"Automount\":\"Yes\"}");
  EXPECT_EQ(item.Value("Automount"), "Yes");
  try {
    (void)item.Value("automount");
    FAIL() << "no exception";
  } catch (const KeyNotFoundException& e) {
    EXPECT_NE(e.Message.find("\"automount\""), std::string::npos) << e.Message;
  }
  EXPECT_THROW((void)JSONItem().Value("port"), KeyNotFoundException);
}

TEST(JSONMember, ValuesOtherThanStringsComeBackAsTheirText) {
  struct Case {
    const char* value;  // as it stands in the text
    const char* text;   // what Value gives
  } cases[] = {
      {"38008", "38008"},
      {"-0.5e+10", "-0.5e+10"},
      {"1E3", "1E3"},
      {"true", "true"},
      {"false", "false"},
      {"null", ""},
      {"{}", "{}"},
      {"[]", "[]"},
      {"{ \"b\" : [ 1 , \"\\/x\" , null ] , \"c\" : { } }", "{\"b\":[1,\"\\/x\",null],\"c\":{}}"},
      {"[\"a\\u00e9\", false, -1]", "[\"a\xc3\xa9\",false,-1]"},
      {"{\"d\":1,\"d\":2,\"e\":3}", "{\"d\":2,\"e\":3}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    JSONItem item(std::string("{\"a\":") + c.value + "}");
    EXPECT_EQ(item.Value("a"), c.text);
    EXPECT_EQ(item.ToString(), std::string("{\"a\":") + (*c.value == 'n' ? "null" : c.text) + "}");
  }
}

TEST(JSONMember, ReadingOrSettingByNameOnAnArrayIsError13) {
  JSONItem array("[\"ipaddress\",1]");
  EXPECT_TRUE(array.IsArray());
  EXPECT_EQ(array.Count(), 2u);
  EXPECT_EQ(array.ToString(), "[\"ipaddress\",1]");
  for (int set = 0; set < 2; ++set) {
    try {
      if (set) {
        array.Value("ipaddress", "x");
      } else {
        (void)array.Value("ipaddress");
      }
      FAIL() << "no exception";
    } catch (const JSONException& e) {
      EXPECT_EQ(e.ErrorNumber, 13);
      EXPECT_EQ(e.Message, "JSONItem is an array");
    }
  }
  EXPECT_EQ(array.ToString(), "[\"ipaddress\",1]");
}

}  // namespace
