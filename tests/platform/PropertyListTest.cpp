#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include "platform/Files.h"
#include "platform/PropertyListDetail.h"
#include "tests/support/TemporaryDirectory.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using std::chrono::sys_days;
using std::chrono::year;

constexpr std::string_view kPrologue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

std::string document(std::string_view body) { return std::string(kPrologue) + std::string(body) + "</plist>\n"; }

Date dateOf(int y, unsigned m, unsigned d, std::chrono::microseconds timeOfDay = {}) {
  return Date{sys_days{year{y} / m / d}} + timeOfDay;
}

Data zeros(std::size_t count) { return Data(count, 0); }

std::string utf16LittleEndian(std::u16string_view text) {
  std::string out;
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

Value nested(Value inner, int levels) {
  for (int i = 0; i < levels; ++i) inner = Value(Array{std::move(inner)});
  return inner;
}

// Equality that treats NaN as equal to itself (Value's == follows double's).
bool sameValue(const Value& a, const Value& b) {
  if (a.isReal() && b.isReal() && std::isnan(*a.real()) && std::isnan(*b.real())) return true;
  if (a.type() != b.type()) return false;
  if (const Array* array = a.array()) {
    const Array& other = *b.array();
    if (array->size() != other.size()) return false;
    for (std::size_t i = 0; i < array->size(); ++i) {
      if (!sameValue((*array)[i], other[i])) return false;
    }
    return true;
  }
  if (const Dictionary* dictionary = a.dictionary()) {
    const Dictionary& other = *b.dictionary();
    if (dictionary->size() != other.size()) return false;
    for (auto i = dictionary->begin(), j = other.begin(); i != dictionary->end(); ++i, ++j) {
      if (i->first != j->first || !sameValue(i->second, j->second)) return false;
    }
    return true;
  }
  return a == b;
}

// ---------------------------------------------------------------------------
// Writer layout

TEST(PropertyListWriterTest, WritesTheExactLayout) {
  struct Case {
    const char* name;
    Value value;
    std::string body;
  } cases[] = {
      {"escaped string in dict", Value(Dictionary{{"a", Value("x & <y>")}}),
       "<dict>\n\t<key>a</key>\n\t<string>x &amp; &lt;y&gt;</string>\n</dict>\n"},
      {"empty containers and string", Value(Dictionary{{"d", Value(Dictionary{})}, {"l", Value(Array{})}, {"s", Value("")}}),
       "<dict>\n\t<key>d</key>\n\t<dict/>\n\t<key>l</key>\n\t<array/>\n\t<key>s</key>\n\t<string></string>\n</dict>\n"},
      {"empty top-level dict", Value(Dictionary{}), "<dict/>\n"},
      {"keys in UTF-8 byte order, escaped",
       Value(Dictionary{{"\xC3\xA9", Value(1)}, {"a", Value(2)}, {"B", Value(3)}, {"", Value(4)}, {"<&>", Value(5)}}),
       "<dict>\n\t<key></key>\n\t<integer>4</integer>\n\t<key>&lt;&amp;&gt;</key>\n\t<integer>5</integer>\n"
       "\t<key>B</key>\n\t<integer>3</integer>\n\t<key>a</key>\n\t<integer>2</integer>\n"
       "\t<key>\xC3\xA9</key>\n\t<integer>1</integer>\n</dict>\n"},
      {"booleans and integers",
       Value(Array{Value(true), Value(false), Value(0), Value(-1), Value(std::numeric_limits<std::int64_t>::min()),
                   Value(std::numeric_limits<std::int64_t>::max())}),
       "<array>\n\t<true/>\n\t<false/>\n\t<integer>0</integer>\n\t<integer>-1</integer>\n"
       "\t<integer>-9223372036854775808</integer>\n\t<integer>9223372036854775807</integer>\n</array>\n"},
      {"reals as %.17g",
       Value(Array{Value(1.0), Value(0.1), Value(-0.0), Value(1e21), Value(1.5e-7),
                   Value(std::numeric_limits<double>::quiet_NaN()), Value(std::numeric_limits<double>::infinity()),
                   Value(-std::numeric_limits<double>::infinity())}),
       "<array>\n\t<real>1</real>\n\t<real>0.10000000000000001</real>\n\t<real>-0</real>\n\t<real>1e+21</real>\n"
       "\t<real>1.4999999999999999e-07</real>\n\t<real>nan</real>\n\t<real>+infinity</real>\n"
       "\t<real>-infinity</real>\n</array>\n"},
      {"dates in whole UTC seconds, rounded toward the past",
       Value(Array{Value(dateOf(2024, 1, 2, 3h + 4min + 5s + 999999us)), Value(dateOf(1969, 12, 31, 23h + 59min + 59s + 500000us)),
                   Value(dateOf(0, 1, 1)), Value(dateOf(9999, 12, 31, 23h + 59min + 59s))}),
       "<array>\n\t<date>2024-01-02T03:04:05Z</date>\n\t<date>1969-12-31T23:59:59Z</date>\n"
       "\t<date>0000-01-01T00:00:00Z</date>\n\t<date>9999-12-31T23:59:59Z</date>\n</array>\n"},
      {"top-level data, 76 columns", Value(zeros(58)),
       "<data>\n" + std::string(76, 'A') + "\nAA==\n</data>\n"},
      {"data one level in, 68 columns; empty data",
       Value(Dictionary{{"d", Value(zeros(60))}, {"e", Value(Data{})}, {"h", Value(Data{'h', 'e', 'l', 'l', 'o'})}}),
       "<dict>\n\t<key>d</key>\n\t<data>\n\t" + std::string(68, 'A') + "\n\tAAAAAAAAAAAA\n\t</data>\n"
       "\t<key>e</key>\n\t<data>\n\t</data>\n\t<key>h</key>\n\t<data>\n\taGVsbG8=\n\t</data>\n</dict>\n"},
      {"deep data keeps 16 columns", nested(Value(zeros(13)), 9),
       "<array>\n\t<array>\n\t\t<array>\n\t\t\t<array>\n\t\t\t\t<array>\n\t\t\t\t\t<array>\n\t\t\t\t\t\t<array>\n"
       "\t\t\t\t\t\t\t<array>\n\t\t\t\t\t\t\t\t<array>\n\t\t\t\t\t\t\t\t\t<data>\n"
       "\t\t\t\t\t\t\t\t\tAAAAAAAAAAAAAAAA\n\t\t\t\t\t\t\t\t\tAA==\n\t\t\t\t\t\t\t\t\t</data>\n"
       "\t\t\t\t\t\t\t\t</array>\n\t\t\t\t\t\t\t</array>\n\t\t\t\t\t\t</array>\n\t\t\t\t\t</array>\n"
       "\t\t\t\t</array>\n\t\t\t</array>\n\t\t</array>\n\t</array>\n</array>\n"},
      {"tab, newline and carriage return are written as they are", Value("a\tb\nc\rd"),
       "<string>a\tb\nc\rd</string>\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<std::string> written = writePropertyList(c.value);
    ASSERT_TRUE(written.ok()) << written.error().describe();
    EXPECT_EQ(*written, document(c.body));
  }
}

TEST(PropertyListWriterTest, RefusesValuesNoReaderCouldRead) {
  struct Case {
    const char* name;
    Value value;
    std::string keyPath;
  } cases[] = {
      {"none at the top", Value(), ""},
      {"none inside", Value(Dictionary{{"a", Value(Dictionary{{"b", Value(Array{Value(1), Value()})}})}}), "a.b[1]"},
      {"control character in a string", Value(Array{Value("ok"), Value(std::string("bell\x07"))}), "[1]"},
      {"NUL in a string", Value(std::string("a\0b", 3)), ""},
      {"control character in a key", Value(Dictionary{{"k\x1b", Value(1)}}), "k\x1b"},
      {"invalid UTF-8", Value(Dictionary{{"s", Value("\xC3(")}}), "s"},
      {"encoded surrogate", Value("\xED\xA0\x80"), ""},
      {"U+FFFF", Value("\xEF\xBF\xBF"), ""},
      {"date past year 9999", Value(Dictionary{{"when", Value(dateOf(10000, 1, 1))}}), "when"},
      {"date before year 0", Value(dateOf(-1, 12, 31)), ""},
      {"nesting too deep", nested(Value(1), kPropertyListMaxDepth + 1), std::string()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<std::string> written = writePropertyList(c.value);
    ASSERT_FALSE(written.ok());
    EXPECT_TRUE(written.error().is(kPropertyListErrorDomain, PropertyListErrorCode::UnsupportedValue))
        << written.error().describe();
    if (std::string_view(c.name) != "nesting too deep") {
      EXPECT_EQ(written.error().userInfo.at(kPropertyListKeyPathKey), Value(c.keyPath));
    }
  }
  // The deepest nesting the reader accepts is still writable.
  EXPECT_TRUE(writePropertyList(nested(Value(1), kPropertyListMaxDepth)).ok());
}

// ---------------------------------------------------------------------------
// Round trips

Value variedValue() {
  return Value(Dictionary{
      {"string", Value("caf\xC3\xA9 \xF0\x9F\x8E\xAC & <tags> ]]> \"quotes\" 'apostrophes'")},
      {"whitespace", Value("  \t ")},
      {"lines", Value("one\ntwo\r\nthree\r")},
      {"", Value("empty key")},
      {"integers", Value(Array{Value(0), Value(-42), Value(std::numeric_limits<std::int64_t>::min()),
                               Value(std::numeric_limits<std::int64_t>::max())})},
      {"reals", Value(Array{Value(0.1), Value(-2.5e-300), Value(1e300), Value(3.0),
                            Value(std::numeric_limits<double>::infinity()), Value(std::numeric_limits<double>::denorm_min())})},
      {"flags", Value(Array{Value(true), Value(false)})},
      {"dates", Value(Array{Value(dateOf(2024, 2, 29, 23h + 59min + 59s)), Value(dateOf(1901, 1, 1))})},
      {"data", Value(Array{Value(Data{}), Value(Data{0, 1, 2, 255}), Value(zeros(200))})},
      {"nested", Value(Dictionary{{"empty dict", Value(Dictionary{})},
                                  {"empty array", Value(Array{})},
                                  {"deep", nested(Value(Dictionary{{"leaf", Value("x")}}), 20)}})},
  });
}

TEST(PropertyListRoundTripTest, WriteThenReadGivesTheSameValue) {
  Value value = variedValue();
  Result<std::string> written = writePropertyList(value);
  ASSERT_TRUE(written.ok()) << written.error().describe();
  Result<Value> read = readPropertyList(*written);
  ASSERT_TRUE(read.ok()) << read.error().describe();
  EXPECT_EQ(*read, value);
  // Writing again gives the same bytes: the digest of a document is stable.
  Result<std::string> rewritten = writePropertyList(*read);
  ASSERT_TRUE(rewritten.ok());
  EXPECT_EQ(*rewritten, *written);

  Value nan(std::numeric_limits<double>::quiet_NaN());
  Result<Value> nanRead = readPropertyList(*writePropertyList(nan));
  ASSERT_TRUE(nanRead.ok());
  EXPECT_TRUE(std::isnan(*nanRead->real()));
}

TEST(PropertyListRoundTripTest, FilesAreWrittenAndReadBack) {
  testing_support::TemporaryDirectory folder;
  const auto path = folder / "settings.plist";
  ASSERT_TRUE(writePropertyListFile(path, variedValue()).ok());
  Result<Value> read = readPropertyListFile(path);
  ASSERT_TRUE(read.ok()) << read.error().describe();
  EXPECT_EQ(*read, variedValue());

  // A refused value leaves the file as it was.
  Status refused = writePropertyListFile(path, Value(Array{Value()}));
  EXPECT_TRUE(refused.error().is(kPropertyListErrorDomain, PropertyListErrorCode::UnsupportedValue));
  EXPECT_EQ(*readPropertyListFile(path), variedValue());

  Result<Value> missing = readPropertyListFile(folder / "missing.plist");
  ASSERT_FALSE(missing.ok());
  EXPECT_TRUE(missing.error().is(kPropertyListErrorDomain, PropertyListErrorCode::FileUnreadable));

  ASSERT_TRUE(writeFileAtomically(folder / "bad.plist", "<plist><integer>x</integer></plist>").ok());
  Result<Value> bad = readPropertyListFile(folder / "bad.plist");
  ASSERT_FALSE(bad.ok());
  EXPECT_TRUE(bad.error().is(kPropertyListErrorDomain, PropertyListErrorCode::Malformed));
  EXPECT_NE(bad.error().localizedDescription.find("bad.plist"), std::string::npos);
}

// ---------------------------------------------------------------------------
// XML reader

TEST(PropertyListReaderTest, AcceptsAnyWellFormedXmlLayout) {
  struct Case {
    const char* name;
    std::string xml;
    Value expected;
  } cases[] = {
      {"no prologue, odd indentation, comments",
       "<plist>  <!-- c --> <dict>\n<!-- k -->  <key>a</key>\r\n\t\t  <integer> 7 </integer><key>b</key><true/>"
       "<?pi x?></dict>\n</plist>",
       Value(Dictionary{{"a", Value(7)}, {"b", Value(true)}})},
      {"bare value without <plist>", "<array><string>x</string></array>", Value(Array{Value("x")})},
      {"CDATA and references", "<plist><string>&#65;&#x42;&amp;&lt;&gt;&quot;&apos;<![CDATA[<&]]>\xC3\xA9</string></plist>",
       Value("AB&<>\"'<&\xC3\xA9")},
      {"empty and whitespace strings", "<plist><array><string/><string></string><string> \t </string></array></plist>",
       Value(Array{Value(""), Value(""), Value(" \t ")})},
      {"whitespace beside CDATA, comments and instructions is kept",
       "<array>\n  <string> <![CDATA[x]]> </string>\n  <string> <!-- c --> </string>\n  <string>a<?pi?> b</string>\n"
       "  <string><!-- only a comment --></string>\n</array>",
       Value(Array{Value(" x "), Value("  "), Value("a b"), Value("")})},
      {"integers", "<array><integer>-9223372036854775808</integer><integer>+5</integer><integer>0x7fFFffFFffFFffFF</integer>"
                   "<integer>-0x10</integer><integer>007</integer></array>",
       Value(Array{Value(std::numeric_limits<std::int64_t>::min()), Value(5), Value(std::numeric_limits<std::int64_t>::max()),
                   Value(-16), Value(7)})},
      {"reals", "<array><real>1e3</real><real>-2.5E-3</real><real>.5</real><real>inf</real><real>+infinity</real>"
                "<real>-Infinity</real><real>-inf</real><real>7</real><real>1e999</real><real>1e-999</real></array>",
       Value(Array{Value(1000.0), Value(-0.0025), Value(0.5), Value(HUGE_VAL), Value(HUGE_VAL), Value(-HUGE_VAL),
                   Value(-HUGE_VAL), Value(7.0), Value(HUGE_VAL), Value(0.0)})},
      {"dates, partial and with a fraction",
       "<array><date>2024-01-02T03:04:05Z</date><date>2024-01-02T03:04:05.25Z</date><date>2024-03Z</date>"
       "<date>2024-02-29T10Z</date><date>1969-07-20T20:17:40Z</date></array>",
       Value(Array{Value(dateOf(2024, 1, 2, 3h + 4min + 5s)), Value(dateOf(2024, 1, 2, 3h + 4min + 5s + 250000us)),
                   Value(dateOf(2024, 3, 1)), Value(dateOf(2024, 2, 29, 10h)), Value(dateOf(1969, 7, 20, 20h + 17min + 40s))})},
      {"data with embedded whitespace, missing padding", "<array><data>\n\taGVs\n\tbG8=\n</data><data>aGk</data><data/></array>",
       Value(Array{Value(Data{'h', 'e', 'l', 'l', 'o'}), Value(Data{'h', 'i'}), Value(Data{})})},
      {"duplicate keys: the last wins", "<dict><key>k</key><integer>1</integer><key>k</key><integer>2</integer></dict>",
       Value(Dictionary{{"k", Value(2)}})},
      {"unsorted keys", "<dict><key>b</key><integer>1</integer><key>a</key><integer>2</integer></dict>",
       Value(Dictionary{{"a", Value(2)}, {"b", Value(1)}})},
      {"UTF-16 with a byte-order mark", utf16LittleEndian(u"\uFEFF<plist><string>\u00e9</string></plist>"),
       Value("\xC3\xA9")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<Value> read = readPropertyList(c.xml);
    ASSERT_TRUE(read.ok()) << read.error().describe();
    EXPECT_TRUE(sameValue(*read, c.expected)) << read->describe();
  }
  Result<Value> nan = readPropertyList("<real> NaN </real>");
  ASSERT_TRUE(nan.ok());
  EXPECT_TRUE(std::isnan(*nan->real()));
}

TEST(PropertyListReaderTest, RefusesMalformedInputSayingWhereAndWhat) {
  struct Case {
    const char* name;
    std::string input;
    std::string message;  // part of the description
    std::string keyPath;  // "-" when the error has no key path
  } cases[] = {
      {"empty input", "", "empty", "-"},
      {"truncated", "<plist><dict><key>a</key><string>b</str", "not well formed", "-"},
      {"mismatched tags", "<plist><dict></array></plist>", "not well formed", "-"},
      {"unknown element", "<plist><dict><key>a</key><dictionary/></dict></plist>", "unknown element <dictionary>", "a"},
      {"key outside a dictionary", "<plist><array><key>a</key></array></plist>", "<key> outside", "[0]"},
      {"value without key", "<dict><string>x</string></dict>", "expected <key>", ""},
      {"key without value", "<dict><key>a</key><integer>1</integer><key>b</key></dict>", "has no value", "b"},
      {"text inside a dict", "<dict>stray<key>a</key><true/></dict>", "text inside <dict>", ""},
      {"element inside a string", "<array><string>a<b/></string></array>", "unexpected <b>", "[0]"},
      {"two values in <plist>", "<plist><true/><false/></plist>", "more than one value", "-"},
      {"empty <plist>", "<plist> </plist>", "holds no value", "-"},
      {"text in <true/>", "<true>yes</true>", "holds text", ""},
      {"bad Base64", "<dict><key>d</key><data>aGVs*bG8=</data></dict>", "not Base64", "d"},
      {"Base64 after padding", "<data>aGk=aGk=</data>", "not Base64", ""},
      {"lone Base64 character", "<data>aGVsb</data>", "not Base64", ""},
      {"bad date: month 13", "<date>2024-13-01T00:00:00Z</date>", "not an ISO-8601", ""},
      {"bad date: no zone", "<array><date>2024-01-02T03:04:05</date></array>", "not an ISO-8601", "[0]"},
      {"bad date: February 30", "<date>2023-02-29T00:00:00Z</date>", "not an ISO-8601", ""},
      {"bad date: space separator", "<date>2024-01-02 03:04:05Z</date>", "not an ISO-8601", ""},
      {"integer past int64", "<integer>9223372036854775808</integer>", "does not fit in 64 bits", ""},
      {"integer at uint64 max", "<integer>18446744073709551615</integer>", "does not fit in 64 bits", ""},
      {"integer past uint64", "<dict><key>n</key><integer>18446744073709551616</integer></dict>", "does not fit in 64 bits", "n"},
      {"negative integer past int64", "<integer>-9223372036854775809</integer>", "does not fit in 64 bits", ""},
      {"not an integer", "<integer>12a</integer>", "is not a number", ""},
      {"empty integer", "<integer/>", "is not a number", ""},
      {"real with junk", "<real>1.5x</real>", "is not a number", ""},
      {"real with two signs", "<real>+-1</real>", "is not a number", ""},
      {"invalid UTF-8 in a string", "<string>\xC3(</string>", "not valid UTF-8", ""},
      {"invalid UTF-8 in a key", "<dict><key>\xFF</key><true/></dict>", "not valid UTF-8", ""},
      {"nesting too deep",
       [] {
         std::string s;
         for (int i = 0; i < 600; ++i) s += "<array>";
         for (int i = 0; i < 600; ++i) s += "</array>";
         return s;
       }(),
       "too deep", "-"},
      {"unsupported binary version", "bplist15", "unsupported binary", "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<Value> read = readPropertyList(c.input);
    ASSERT_FALSE(read.ok());
    const Error& error = read.error();
    EXPECT_TRUE(error.is(kPropertyListErrorDomain, PropertyListErrorCode::Malformed)) << error.describe();
    EXPECT_NE(error.localizedDescription.find(c.message), std::string::npos) << error.localizedDescription;
    if (c.keyPath != "-") {
      ASSERT_TRUE(error.userInfo.count(kPropertyListKeyPathKey)) << error.localizedDescription;
      EXPECT_EQ(error.userInfo.at(kPropertyListKeyPathKey), Value(c.keyPath));
    }
  }
}

// The one-pass reader takes the plain form writers produce; what it hands on
// the tree reader reads or refuses. Where both read, they must agree.
TEST(PropertyListReaderTest, OnePassReaderAgreesWithTheTreeReader) {
  const Value written = Value(Dictionary{
      {"name", Value("Clip & <take> \xC3\xA9")},
      {"list", Value(Array{Value(1), Value(2.5), Value(true), Value(false), Value(Array{}), Value(Dictionary{})})},
      {"when", Value(dateOf(2024, 2, 29, 10h))},
      {"blob", Value(Data(100, 7))},
      {"nested", nested(Value(Array{Value("deep"), Value(Array{Value("x")})}), 20)}});
  struct Case {
    const char* name;
    std::string xml;
    bool onePass;  // whether the one-pass reader takes it
  } cases[] = {
      {"the writer's layout", *writePropertyList(written), true},
      {"a byte-order mark and comments", "\xEF\xBB\xBF<!-- a --><plist><!-- b --><true/><!-- c --></plist><!-- d -->", true},
      {"references and CDATA", "<string>&#65;&#x1F600;&amp;<![CDATA[<&]]><!-- c -->x</string>", true},
      {"single-quoted attributes", "<?xml version='1.0' encoding='utf-8'?><plist version='1.0'><true/></plist>", true},
      {"another encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><string>\xE9</string>", false},
      {"an internal DTD subset", "<!DOCTYPE plist [<!ENTITY e \"x\">]><string>&e;</string>", false},
      {"an unknown entity", "<string>&e;</string>", false},
      {"a reference to a surrogate", "<string>&#xD800;</string>", false},
      {"a NUL byte after the end", std::string("<true/>\0<", 9), false},
      {"a processing instruction", "<array><?pi?><true/></array>", false},
      {"whitespace CDATA in an array", "<array><![CDATA[ ]]><true/></array>", false},
      {"a misnested end tag", "<array><true/></dict>", false},
      {"a truncated document", "<plist><array><true/>", false},
      {"a key without a value", "<dict><key>a</key></dict>", false},
      {"text after the end", "<true/>x", false},
      {"UTF-16", utf16LittleEndian(u"\uFEFF<plist><string>\u00e9</string></plist>"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<Value> onePass = detail::readPlainXmlPropertyList(c.xml);
    EXPECT_EQ(onePass.has_value(), c.onePass);
    const Result<Value> tree = detail::readXmlPropertyList(c.xml);
    if (onePass) {
      ASSERT_TRUE(tree.ok()) << tree.error().describe();
      EXPECT_TRUE(sameValue(*onePass, *tree));
    }
  }
  EXPECT_TRUE(sameValue(*readPropertyList(*writePropertyList(written)), written));
}

TEST(PropertyListReaderTest, ReportsTheByteOffsetOfAnXmlError) {
  Result<Value> read = readPropertyList("<plist>\n<dict>\n<key>a</key>\n<integer>x</integer>\n</dict>\n</plist>");
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().userInfo.at(kPropertyListOffsetKey), Value(28));
  EXPECT_NE(read.error().localizedDescription.find("at byte 28, key path \"a\""), std::string::npos)
      << read.error().localizedDescription;
}

// ---------------------------------------------------------------------------
// Binary reader

// Assembles binary property lists object by object, including broken ones.
class BinaryPlist {
 public:
  explicit BinaryPlist(int referenceSize = 1) : referenceSize_(referenceSize) {}

  std::size_t add(std::string object) {
    objects_.push_back(std::move(object));
    return objects_.size() - 1;
  }
  std::size_t ascii(std::string_view s) { return add(marker(0x50, s.size()) + std::string(s)); }
  std::size_t utf16(std::u16string_view s) {
    std::string bytes = marker(0x60, s.size());
    for (char16_t unit : s) {
      bytes.push_back(static_cast<char>(unit >> 8));
      bytes.push_back(static_cast<char>(unit & 0xFF));
    }
    return add(bytes);
  }
  std::size_t integer(std::int64_t v) { return add(std::string(1, '\x13') + bigEndian(static_cast<std::uint64_t>(v), 8)); }
  std::size_t array(const std::vector<std::size_t>& refs) { return add(marker(0xA0, refs.size()) + references(refs)); }
  std::size_t dict(const std::vector<std::size_t>& keys, const std::vector<std::size_t>& values) {
    return add(marker(0xD0, keys.size()) + references(keys) + references(values));
  }

  // header, objects, offset table (2-byte offsets), trailer
  std::string build(std::size_t top) const {
    std::string out = "bplist00";
    std::vector<std::size_t> offsets;
    for (const std::string& object : objects_) {
      offsets.push_back(out.size());
      out += object;
    }
    const std::size_t tableOffset = out.size();
    for (std::size_t offset : offsets) out += bigEndian(offset, 2);
    out += std::string(6, '\0');
    out.push_back('\x02');  // offset size
    out.push_back(static_cast<char>(referenceSize_));
    out += bigEndian(objects_.size(), 8) + bigEndian(top, 8) + bigEndian(tableOffset, 8);
    return out;
  }

  static std::string bigEndian(std::uint64_t value, int width) {
    std::string out;
    for (int k = width - 1; k >= 0; --k) out.push_back(static_cast<char>((value >> (8 * k)) & 0xFF));
    return out;
  }

 private:
  static std::string marker(unsigned type, std::size_t count) {
    if (count < 15) return std::string(1, static_cast<char>(type | count));
    return std::string(1, static_cast<char>(type | 0x0F)) + "\x11" + bigEndian(count, 2);
  }
  std::string references(const std::vector<std::size_t>& refs) const {
    std::string out;
    for (std::size_t ref : refs) out += bigEndian(ref, referenceSize_);
    return out;
  }
  int referenceSize_;
  std::vector<std::string> objects_;
};

TEST(PropertyListBinaryTest, ReadsEveryObjectType) {
  BinaryPlist plist;
  std::vector<std::size_t> keys, values;
  keys.push_back(plist.ascii("ascii"));
  values.push_back(plist.ascii("a long enough string to need a count"));
  keys.push_back(plist.ascii("utf16"));
  values.push_back(plist.utf16(u"caf\u00e9 \U0001F3AC"));
  keys.push_back(plist.ascii("ints"));
  values.push_back(plist.array({plist.add("\x10\xFF"), plist.add(std::string("\x11\x01\x00", 3)), plist.integer(-5),
                                plist.add(std::string("\x14") + std::string(8, '\xFF') + std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE")),
                                plist.add(std::string("\x14") + std::string(8, '\0') + BinaryPlist::bigEndian(7, 8))}));
  keys.push_back(plist.ascii("reals"));
  values.push_back(plist.array({plist.add(std::string("\x22\x3F\xC0\x00\x00", 5)),
                                plist.add(std::string("\x23\x3F\xB9\x99\x99\x99\x99\x99\x9A", 9))}));
  keys.push_back(plist.ascii("date"));
  values.push_back(plist.add(std::string("\x33\x41\xC0\x00\x00\x00\x00\x00\x00", 9)));  // 2^29 s after 2001
  keys.push_back(plist.ascii("data"));
  values.push_back(plist.add(std::string("\x43\x00\x01\xFF", 4)));
  keys.push_back(plist.ascii("flags"));
  values.push_back(plist.array({plist.add("\x09"), plist.add("\x08")}));
  keys.push_back(plist.ascii("set"));
  values.push_back(plist.add(std::string("\xC1", 1) + std::string(1, static_cast<char>(keys[0]))));
  const std::size_t top = plist.dict(keys, values);

  Result<Value> read = readPropertyList(plist.build(top));
  ASSERT_TRUE(read.ok()) << read.error().describe();
  const Value expected(Dictionary{
      {"ascii", Value("a long enough string to need a count")},
      {"utf16", Value("caf\xC3\xA9 \xF0\x9F\x8E\xAC")},
      {"ints", Value(Array{Value(255), Value(256), Value(-5), Value(-2), Value(7)})},
      {"reals", Value(Array{Value(1.5), Value(0.1)})},
      {"date", Value(Date{std::chrono::seconds{978307200 + (1 << 29)}})},
      {"data", Value(Data{0, 1, 255})},
      {"flags", Value(Array{Value(true), Value(false)})},
      {"set", Value(Array{Value("ascii")})},
  });
  EXPECT_EQ(*read, expected);
}

TEST(PropertyListBinaryTest, RefusesBrokenFilesWithoutCrashingOrLooping) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string message;
  };
  std::vector<Case> cases;
  {
    BinaryPlist plist;
    plist.add(std::string("\xA1\x00", 2));  // an array holding itself
    cases.push_back({"array refers to itself", plist.build(0), "cycle"});
  }
  {
    BinaryPlist plist;
    plist.add("\xA1\x01");  // [ {a: <the array>} ]
    plist.add(std::string("\xD1\x02\x00", 3));
    plist.ascii("a");
    cases.push_back({"cycle through a dictionary", plist.build(0), "cycle"});
  }
  {
    BinaryPlist plist;
    plist.add("\xA1\x05");
    cases.push_back({"reference out of range", plist.build(0), "reference is out of range"});
  }
  {
    BinaryPlist plist;
    plist.ascii("x");
    std::string bytes = plist.build(0);
    bytes[bytes.size() - 32 - 2] = '\x7F';  // the only offset now points far outside
    cases.push_back({"object offset out of range", bytes, "offset is out of range"});
  }
  {
    BinaryPlist plist;
    plist.ascii("x");
    std::string bytes = plist.build(0);
    bytes.replace(bytes.size() - 8, 8, BinaryPlist::bigEndian(1u << 30, 8));
    cases.push_back({"offset table outside the file", bytes, "outside the file"});
  }
  {
    BinaryPlist plist;
    plist.ascii("x");
    std::string bytes = plist.build(0);
    bytes.replace(bytes.size() - 24, 8, BinaryPlist::bigEndian(~std::uint64_t{0}, 8));
    cases.push_back({"object count overflows", bytes, "outside the file"});
  }
  {
    BinaryPlist plist;
    plist.ascii("x");
    std::string bytes = plist.build(0);
    bytes.replace(bytes.size() - 16, 8, BinaryPlist::bigEndian(3, 8));
    cases.push_back({"top object out of range", bytes, "no top object"});
  }
  {
    BinaryPlist plist;
    plist.add(std::string("\x5F\x13") + BinaryPlist::bigEndian(1u << 31, 8) + "abc");
    cases.push_back({"string longer than the file", plist.build(0), "runs past the end"});
  }
  {
    BinaryPlist plist;
    plist.add(std::string("\xAF\x13") + BinaryPlist::bigEndian(~std::uint64_t{0} / 2, 8));
    cases.push_back({"array count beyond the file", plist.build(0), "runs past the end"});
  }
  {
    BinaryPlist plist;
    plist.add(std::string("\x14") + BinaryPlist::bigEndian(1, 8) + BinaryPlist::bigEndian(0, 8));
    cases.push_back({"128-bit integer past int64", plist.build(0), "does not fit in 64 bits"});
  }
  {
    BinaryPlist plist;
    plist.add(std::string("\x33") + BinaryPlist::bigEndian(0x7FF0000000000000ull, 8));  // +infinity seconds
    cases.push_back({"date out of range", plist.build(0), "date is out of range"});
  }
  {
    BinaryPlist plist;
    plist.add(std::string("\x62\xD8\x00\x00\x41", 5));
    cases.push_back({"unpaired surrogate", plist.build(0), "surrogate"});
  }
  {
    BinaryPlist plist;
    plist.add("\x52\xC3\xA9");
    cases.push_back({"non-ASCII in an ASCII string", plist.build(0), "non-ASCII"});
  }
  {
    BinaryPlist plist;
    plist.add(std::string("\x00", 1));
    cases.push_back({"null object", plist.build(0), "null or fill"});
  }
  {
    BinaryPlist plist;
    plist.add("\x71x");
    cases.push_back({"unknown object type", plist.build(0), "unknown binary object"});
  }
  {
    BinaryPlist plist;
    plist.add(std::string("\x80\x05", 2));
    cases.push_back({"UID object", plist.build(0), "unknown binary object"});
  }
  {
    BinaryPlist plist;
    const std::size_t key = plist.integer(1);
    plist.dict({key}, {key});
    cases.push_back({"non-string key", plist.build(1), "key is not a string"});
  }
  {
    // Each level holds the next twice: 2^40 values from a few hundred bytes.
    BinaryPlist plist;
    std::size_t previous = plist.ascii("leaf");
    for (int level = 0; level < 40; ++level) previous = plist.array({previous, previous});
    cases.push_back({"shared objects expanding exponentially", plist.build(previous), "beyond the size limit"});
  }
  {
    BinaryPlist plist;
    std::string bytes = plist.build(plist.ascii("leaf"));
    cases.push_back({"reference size too large", bytes.substr(0, bytes.size() - 25) + "\x09" + bytes.substr(bytes.size() - 24),
                     "invalid offset or reference size"});
  }
  cases.push_back({"truncated", "bplist00\xD0", "truncated"});
  {
    BinaryPlist plist;
    plist.dict({plist.ascii("k")}, {plist.ascii("v")});
    std::string bytes = plist.build(2);
    for (std::size_t cut = 9; cut < bytes.size(); cut += 3) {
      cases.push_back({"cut short", bytes.substr(0, cut), ""});
    }
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<Value> read = readPropertyList(c.bytes);
    ASSERT_FALSE(read.ok());
    EXPECT_TRUE(read.error().is(kPropertyListErrorDomain, PropertyListErrorCode::Malformed));
    EXPECT_NE(read.error().localizedDescription.find(c.message), std::string::npos) << read.error().localizedDescription;
    EXPECT_TRUE(read.error().userInfo.count(kPropertyListOffsetKey));
  }
}

TEST(PropertyListBinaryTest, NestingIsCappedLikeXml) {
  auto chain = [](int depth) {
    BinaryPlist plist(2);
    std::size_t previous = plist.integer(1);
    for (int level = 0; level < depth; ++level) previous = plist.array({previous});
    return plist.build(previous);
  };
  EXPECT_TRUE(readPropertyList(chain(kPropertyListMaxDepth)).ok());
  Result<Value> tooDeep = readPropertyList(chain(kPropertyListMaxDepth + 1));
  ASSERT_FALSE(tooDeep.ok());
  EXPECT_NE(tooDeep.error().localizedDescription.find("too deep"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Second opinion from Python's plistlib

class PlistlibTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("python3 -c 'import plistlib' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not available";
  }

  // Runs a Python snippet with IN and OUT bound to file paths.
  void runPython(const std::string& code, const std::filesystem::path& in, const std::filesystem::path& out) {
    const std::filesystem::path script = folder_ / "script.py";
    std::ofstream(script) << "import plistlib, sys\nIN, OUT = sys.argv[1], sys.argv[2]\n" << code << "\n";
    const std::string command = "python3 '" + script.string() + "' '" + in.string() + "' '" + out.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << code;
  }

  static std::string slurp(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::stringstream buffer;
    buffer << stream.rdbuf();
    return buffer.str();
  }

  testing_support::TemporaryDirectory folder_;
};

TEST_F(PlistlibTest, RewritesOurXmlToTheSameBytes) {
  // No reals (Python writes them with repr) and no carriage returns (Python
  // folds them into line feeds).
  const Value values[] = {
      Value(Dictionary{
          {"name", Value("Studio A <main> & \"backup\"")},
          {"unicode", Value("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAC")},
          {"\xC3\xA9t\xC3\xA9", Value(1)},
          {"Zulu", Value(-9223372036854775807LL)},
          {"empty", Value(Dictionary{{"string", Value("")}, {"array", Value(Array{})}, {"dict", Value(Dictionary{})}}) },
          {"when", Value(dateOf(2024, 1, 2, 3h + 4min + 5s))},
          {"flags", Value(Array{Value(true), Value(false)})},
          {"tabs", Value("a\tb\nc")},
      }),
      Value(Array{Value(zeros(58)), Value(Data{1, 2, 3}),
                  Value(Dictionary{{"blob", Value(zeros(100))}, {"deep", nested(Value(zeros(40)), 12)}})}),
      Value("just a string"),
      Value(Data{}),
  };
  const auto in = folder_ / "ours.plist";
  const auto out = folder_ / "theirs.plist";
  for (const Value& value : values) {
    SCOPED_TRACE(value.describe());
    Result<std::string> written = writePropertyList(value);
    ASSERT_TRUE(written.ok());
    ASSERT_TRUE(writeFileAtomically(in, *written).ok());
    runPython("v = plistlib.load(open(IN, 'rb'))\nopen(OUT, 'wb').write(plistlib.dumps(v, sort_keys=True))", in, out);
    EXPECT_EQ(slurp(out), *written);
  }
}

TEST_F(PlistlibTest, AgreesOnRealsAfterParsing) {
  const Value reals(Array{Value(0.1), Value(1.0), Value(-1e-310), Value(1.7976931348623157e308), Value(123456.789),
                          Value(-0.0), Value(std::numeric_limits<double>::infinity())});
  const auto in = folder_ / "ours.plist";
  const auto out = folder_ / "theirs.bplist";
  ASSERT_TRUE(writeFileAtomically(in, *writePropertyList(reals)).ok());
  runPython("v = plistlib.load(open(IN, 'rb'))\nopen(OUT, 'wb').write(plistlib.dumps(v, fmt=plistlib.FMT_BINARY))", in,
            out);
  Result<Value> read = readPropertyList(slurp(out));
  ASSERT_TRUE(read.ok()) << read.error().describe();
  EXPECT_EQ(*read, reals);
  EXPECT_TRUE(std::signbit(*(*read->array())[5].real()));
}

TEST_F(PlistlibTest, ReadsTheBinaryFormPythonWrites) {
  const auto out = folder_ / "python.bplist";
  runPython(
      "import datetime\n"
      "v = {'ascii': 'plain', 'unicode': 'caf\\u00e9 \\U0001F3AC', 'long': 'x' * 300,\n"
      "     'ints': [0, 1, 255, 256, 65535, 65536, 2**31, 2**32, 2**63 - 1, -1, -2**63],\n"
      "     'reals': [0.5, -1e300, 0.1],\n"
      "     'date': datetime.datetime(2024, 1, 2, 3, 4, 5), 'old': datetime.datetime(1901, 12, 13, 20, 45, 52),\n"
      "     'data': bytes(range(256)), 'flags': [True, False], 'empty': {}, 'none': [],\n"
      "     'shared': ['same', 'same', 'same'], 'many': list(range(300)),\n"
      "     'nested': {'a': {'b': {'c': [1, [2, [3]]]}}}}\n"
      "open(OUT, 'wb').write(plistlib.dumps(v, fmt=plistlib.FMT_BINARY, sort_keys=True))",
      out, out);
  Result<Value> read = readPropertyList(slurp(out));
  ASSERT_TRUE(read.ok()) << read.error().describe();
  Array many(300);
  for (int i = 0; i < 300; ++i) many[static_cast<std::size_t>(i)] = Value(i);
  Data bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
  // Built entry by entry: one large initializer list trips a false
  // maybe-uninitialized warning in GCC 12's variant.
  Dictionary expected;
  expected["ascii"] = Value("plain");
  expected["unicode"] = Value("caf\xC3\xA9 \xF0\x9F\x8E\xAC");
  expected["long"] = Value(std::string(300, 'x'));
  expected["ints"] = Value(Array{Value(0), Value(1), Value(255), Value(256), Value(65535), Value(65536),
                                 Value(std::int64_t{1} << 31), Value(std::int64_t{1} << 32),
                                 Value(std::numeric_limits<std::int64_t>::max()), Value(-1),
                                 Value(std::numeric_limits<std::int64_t>::min())});
  expected["reals"] = Value(Array{Value(0.5), Value(-1e300), Value(0.1)});
  expected["date"] = Value(dateOf(2024, 1, 2, 3h + 4min + 5s));
  expected["old"] = Value(dateOf(1901, 12, 13, 20h + 45min + 52s));
  expected["data"] = Value(bytes);
  expected["flags"] = Value(Array{Value(true), Value(false)});
  expected["empty"] = Value(Dictionary{});
  expected["none"] = Value(Array{});
  expected["shared"] = Value(Array{Value("same"), Value("same"), Value("same")});
  expected["many"] = Value(many);
  Value deepest(Array{Value(1), Value(Array{Value(2), Value(Array{Value(3)})})});
  expected["nested"] = Value(Dictionary{{"a", Value(Dictionary{{"b", Value(Dictionary{{"c", deepest}})}})}});
  EXPECT_EQ(*read, Value(expected));
}

}  // namespace
}  // namespace platform
