#include "settings/json.h"

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/exceptions.h"

namespace json_detail {

enum class Kind : unsigned char { Object, Array, String, Number, True, False, Null };

// Nodes refer to each other and to their texts by number: 32 bits keep a
// node at 20 bytes, which is what a deep nest of arrays costs per level.
using Index = std::uint32_t;
constexpr Index kNone = 0xFFFFFFFFu;

// One value. A container's children are a list through `next`, in the order
// of the text, so that neither a node nor a level of nesting costs a
// container of its own.
struct Node {
  Kind kind;
  Index name;   // a member's name in Tree::texts; kNone for an array's item and the root
  Index text;   // a string's or number's text in Tree::texts, else kNone
  Index first;  // a container's first child, or kNone
  Index next;   // the next child of the same container, or kNone
};

struct Tree {
  std::vector<Node> nodes{Node{Kind::Object, kNone, kNone, kNone, kNone}};  // node 0 is the root
  std::vector<std::string> texts;
  std::map<std::string, Index, std::less<>> members;  // the root object's members by name
  Index last = kNone;                                 // the root's last child
  std::size_t count = 0;                              // the root's children

  Index AddText(std::string text) {
    if (texts.size() >= kNone) throw std::length_error("JSONItem holds too many texts");
    texts.push_back(std::move(text));
    return static_cast<Index>(texts.size() - 1);
  }

  Index AddNode(Kind kind, Index name, Index text) {
    if (nodes.size() >= kNone) throw std::length_error("JSONItem holds too many values");
    nodes.push_back(Node{kind, name, text, kNone, kNone});
    return static_cast<Index>(nodes.size() - 1);
  }
};

namespace {

// ---- writing -------------------------------------------------------------

// The characters written as a backslash and a letter, and their letters.
constexpr std::string_view kShortEscaped = "\\\"\b\f\n\r\t/";
constexpr std::string_view kShortLetter = "\\\"bfnrt/";

// The invisible and format characters that are written as \uXXXX.
bool WrittenAsCode(std::uint32_t cp) {
  return cp <= 0x1F || cp == 0x7F || cp == 0xAD || (cp >= 0x600 && cp <= 0x604) || cp == 0x70F ||
         (cp >= 0x17B4 && cp <= 0x17B5) || (cp >= 0x200C && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202F) ||
         (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF || cp >= 0xFFF0;
}

void AppendCode(std::uint32_t cp, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
}

bool Continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes a well-formed two- or three-byte UTF-8 sequence at s[i] (all the
// code points written as \uXXXX above 0x7F need no more). Gives the number of
// bytes taken, 0 when the bytes are no such sequence.
std::size_t DecodeShort(std::string_view s, std::size_t i, std::uint32_t& cp) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 >= 0xC2 && b0 <= 0xDF && i + 1 < s.size() && Continuation(static_cast<unsigned char>(s[i + 1]))) {
    cp = (b0 & 0x1Fu) << 6 | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
    return 2;
  }
  if (b0 >= 0xE0 && b0 <= 0xEF && i + 2 < s.size()) {
    auto b1 = static_cast<unsigned char>(s[i + 1]);
    auto b2 = static_cast<unsigned char>(s[i + 2]);
    if (!Continuation(b1) || !Continuation(b2)) return 0;
    if (b0 == 0xE0 && b1 < 0xA0) return 0;   // overlong
    if (b0 == 0xED && b1 >= 0xA0) return 0;  // a surrogate
    cp = (b0 & 0x0Fu) << 12 | (b1 & 0x3Fu) << 6 | (b2 & 0x3Fu);
    return 3;
  }
  return 0;
}

// One pass that gives the same text as the nine replacements applied one
// after another: backslash, quote, \b \f \n \r \t, the \uXXXX characters,
// slash. No replacement writes a character that a later one would change,
// except the backslashes, which the first one has already doubled.
void Escape(std::string_view s, std::string& out) {
  std::size_t plain = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < s.size();) {
    std::uint32_t cp = static_cast<unsigned char>(s[i]);
    // 0 for a four-byte sequence or stray bytes: written as they are
    const std::size_t n = cp < 0x80 ? 1 : DecodeShort(s, i, cp);
    const std::size_t k = kShortEscaped.find(s[i]);
    if (k == std::string_view::npos && (n == 0 || !WrittenAsCode(cp))) {
      i += n ? n : 1;
      continue;
    }
    out.append(s.substr(plain, i - plain));
    if (k != std::string_view::npos) {
      out += '\\';
      out += kShortLetter[k];
    } else {
      AppendCode(cp, out);
    }
    i += n;
    plain = i;
  }
  out.append(s.substr(plain));
}

void WriteString(std::string_view s, std::string& out) {
  out += '"';
  Escape(s, out);
  out += '"';
}

// The compact text of the value at node `top`, walked with an explicit stack
// of the containers still open and the next child of each.
void Write(const Tree& tree, Index top, std::string& out) {
  struct Open {
    Index node, child;
  };
  std::vector<Open> open;
  Index at = top;
  while (true) {
    const Node& n = tree.nodes[at];
    switch (n.kind) {
      case Kind::Object:
      case Kind::Array:
        out += n.kind == Kind::Object ? '{' : '[';
        open.push_back({at, n.first});
        break;
      case Kind::String:
        WriteString(tree.texts[n.text], out);
        break;
      case Kind::Number:
        out += tree.texts[n.text];
        break;
      case Kind::True:
        out += "true";
        break;
      case Kind::False:
        out += "false";
        break;
      case Kind::Null:
        out += "null";
        break;
    }
    // Close the containers whose children are all written, then go on with
    // the next child of the innermost one left.
    while (!open.empty() && open.back().child == kNone) {
      out += tree.nodes[open.back().node].kind == Kind::Object ? '}' : ']';
      open.pop_back();
    }
    if (open.empty()) return;
    Open& o = open.back();
    at = o.child;
    o.child = tree.nodes[at].next;
    if (at != tree.nodes[o.node].first) out += ',';
    if (tree.nodes[o.node].kind == Kind::Object) {
      WriteString(tree.texts[tree.nodes[at].name], out);
      out += ':';
    }
  }
}

// ---- reading -------------------------------------------------------------

const char* MessageOf(int number) {
  static const char* const kMessages[] = {"",
                                          "Parse Error: Expecting '{' or '['",
                                          "A parsing error occurred",
                                          "Illegal Number Format",
                                          "",
                                          "Missing :",
                                          "Missing , or }",
                                          "Missing \"",
                                          "Illegal Unicode Character Format",
                                          "Illegal Character",
                                          "Illegal Value"};
  return kMessages[number];
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hex digits at s[i], or -1 when they are not all hex digits.
long Hex4(std::string_view s, std::size_t i) {
  long v = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    int d = HexDigit(s[i + k]);
    if (d < 0) return -1;
    v = v << 4 | d;
  }
  return v;
}

void AppendUtf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A name given twice keeps the place of its first member and the value of
// its last one. `names` gets every name kept, with its member.
void KeepLastOfEachName(Tree& tree, Index object, std::map<std::string, Index, std::less<>>& names) {
  Index kept = kNone;
  for (Index c = tree.nodes[object].first; c != kNone; c = tree.nodes[c].next) {
    const Node& later = tree.nodes[c];
    auto [found, added] = names.try_emplace(tree.texts[later.name], c);
    if (added) {
      kept = c;
      continue;
    }
    Node& keep = tree.nodes[found->second];
    keep.kind = later.kind;
    keep.text = later.text;
    keep.first = later.first;
    tree.nodes[kept].next = later.next;  // kept is set: the first of the name came before
  }
}

// Reads one text into a tree. The containers not yet closed are a stack, and
// `due_` says which token comes next; the first error ends the parse.
class Parser {
 public:
  Parser(std::string_view text, Tree& tree) : in_(text), tree_(tree) {}

  // False on an error, which Error() and At() then give.
  bool Run() {
    const int c = Next();
    if (c == kEnd) return true;  // empty or blank: an object without members
    if (c != '{' && c != '[') return Fail(1, pos_ - 1);
    tree_.nodes[0].kind = c == '{' ? Kind::Object : Kind::Array;
    open_.push_back({0, kNone});
    due_ = c == '{' ? Due::NameOrClose : Due::ValueOrClose;
    while (!open_.empty() && Step()) {
    }
    return error_ == 0;
  }

  int Error() const { return error_; }
  std::size_t At() const { return at_; }

 private:
  enum class Due { Name, NameOrClose, Value, ValueOrClose, CommaOrClose };
  static constexpr int kEnd = -1;

  struct Open {
    Index node, last;  // the container and its last child so far
  };

  bool Fail(int number, std::size_t at) {
    if (error_ == 0) {
      error_ = number;
      at_ = at;
    }
    return false;
  }

  // The next byte that is not a blank, consumed; kEnd at the end of the text.
  int Next() {
    while (pos_ < in_.size() && IsBlank(in_[pos_])) ++pos_;
    if (pos_ == in_.size()) return kEnd;
    return static_cast<unsigned char>(in_[pos_++]);
  }

  bool InObject() const { return tree_.nodes[open_.back().node].kind == Kind::Object; }

  bool Step() {
    switch (due_) {
      case Due::Name:
      case Due::NameOrClose:
        return ReadName();
      case Due::Value:
      case Due::ValueOrClose:
        return ReadValue();
      case Due::CommaOrClose:
        return ReadSeparator();
    }
    return false;
  }

  bool ReadName() {
    const int c = Next();
    if (due_ == Due::NameOrClose && c == '}') return Close();
    if (c != '"') return Fail(7, pos_);
    std::string name;
    if (!ReadString(name)) return false;
    if (Next() != ':') return Fail(5, pos_);
    name_ = tree_.AddText(std::move(name));
    due_ = Due::Value;
    return true;
  }

  bool ReadValue() {
    const int c = Next();
    if (c == kEnd) return Fail(10, pos_);
    if (due_ == Due::ValueOrClose && c == ']') return Close();
    const std::size_t start = pos_ - 1;
    due_ = Due::CommaOrClose;
    switch (c) {
      case '{':
      case '[':
        open_.push_back({Append(c == '{' ? Kind::Object : Kind::Array), kNone});
        due_ = c == '{' ? Due::NameOrClose : Due::ValueOrClose;
        return true;
      case '"': {
        std::string text;
        if (!ReadString(text)) return false;
        Append(Kind::String, tree_.AddText(std::move(text)));
        return true;
      }
      case 't':
      case 'n':
        if (in_.substr(start, 4) != (c == 't' ? "true" : "null")) return Fail(10, start);
        pos_ = start + 4;
        Append(c == 't' ? Kind::True : Kind::Null);
        return true;
      case 'f':
        if (in_.substr(start, 4) != "fals") return Fail(10, start);
        if (start + 4 >= in_.size()) return Fail(10, in_.size());
        if (in_[start + 4] != 'e') return Fail(10, start + 5);
        pos_ = start + 5;
        Append(Kind::False);
        return true;
      default:
        if (c == '-' || IsDigit(static_cast<char>(c))) return ReadNumber(start);
        return Fail(10, start);
    }
  }

  bool ReadSeparator() {
    const int c = Next();
    if (c == ',') {
      due_ = InObject() ? Due::Name : Due::Value;
      return true;
    }
    if (InObject()) return c == '}' ? Close() : Fail(6, pos_);
    return c == ']' ? Close() : Fail(2, pos_);
  }

  // A new last child of the innermost open container; a member takes the
  // name read last.
  Index Append(Kind kind, Index text = kNone) {
    const Index c = tree_.AddNode(kind, InObject() ? name_ : kNone, text);
    Open& o = open_.back();
    (o.last == kNone ? tree_.nodes[o.node].first : tree_.nodes[o.last].next) = c;
    o.last = c;
    return c;
  }

  bool Close() {
    const Open o = open_.back();
    open_.pop_back();
    if (o.node == 0) {
      if (tree_.nodes[0].kind == Kind::Object) KeepLastOfEachName(tree_, 0, tree_.members);
      for (Index c = tree_.nodes[0].first; c != kNone; c = tree_.nodes[c].next) {
        tree_.last = c;
        ++tree_.count;
      }
    } else if (tree_.nodes[o.node].kind == Kind::Object) {
      std::map<std::string, Index, std::less<>> names;
      KeepLastOfEachName(tree_, o.node, names);
    }
    due_ = Due::CommaOrClose;
    return true;
  }

  // Reads after the opening quote up to the closing one, or to the end of
  // the text, which ends a string without an error of its own.
  bool ReadString(std::string& out) {
    while (pos_ < in_.size()) {
      const char c = in_[pos_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ == in_.size()) break;
      const char e = in_[pos_++];
      if (e == 'u') {
        if (!ReadCodePoint(out)) return false;
        continue;
      }
      const std::size_t k = kShortLetter.find(e);
      if (k == std::string_view::npos) return Fail(9, pos_);
      out += kShortEscaped[k];
    }
    return true;
  }

  // After "\u": four hex digits give a code point, written as UTF-8. A pair
  // of surrogates gives the one character they stand for; a lone surrogate,
  // which UTF-8 cannot hold, gives U+FFFD. Four bytes that are not all hex
  // digits are kept as they stand, so nothing is lost.
  bool ReadCodePoint(std::string& out) {
    if (in_.size() - pos_ < 4) return Fail(8, in_.size());
    long cp = Hex4(in_, pos_);
    if (cp < 0) {
      out += "\\u";
      out += in_.substr(pos_, 4);
      pos_ += 4;
      return true;
    }
    pos_ += 4;
    if (cp >= 0xD800 && cp <= 0xDBFF && in_.size() - pos_ >= 6 && in_[pos_] == '\\' && in_[pos_ + 1] == 'u') {
      const long low = Hex4(in_, pos_ + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        pos_ += 6;
        AppendUtf8(static_cast<std::uint32_t>(0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00)), out);
        return true;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
    AppendUtf8(static_cast<std::uint32_t>(cp), out);
    return true;
  }

  // A number as JSON writes it, -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?,
  // kept as written.
  bool ReadNumber(std::size_t start) {
    std::size_t p = start;
    auto digit_at = [&](std::size_t i) { return i < in_.size() && IsDigit(in_[i]); };
    auto missing_digit = [&](std::size_t i) { return Fail(3, i < in_.size() ? i + 1 : i); };
    if (in_[p] == '-') ++p;
    if (!digit_at(p)) return missing_digit(p);
    if (in_[p] == '0') {
      ++p;
    } else {
      while (digit_at(p)) ++p;
    }
    if (p < in_.size() && in_[p] == '.') {
      if (!digit_at(++p)) return missing_digit(p);
      while (digit_at(p)) ++p;
    }
    if (p < in_.size() && (in_[p] == 'e' || in_[p] == 'E')) {
      ++p;
      if (p < in_.size() && (in_[p] == '+' || in_[p] == '-')) ++p;
      if (!digit_at(p)) return missing_digit(p);
      while (digit_at(p)) ++p;
    }
    Append(Kind::Number, tree_.AddText(std::string(in_.substr(start, p - start))));
    pos_ = p;
    return true;
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  Tree& tree_;
  std::vector<Open> open_;  // containers not yet closed, innermost last
  Due due_ = Due::NameOrClose;
  Index name_ = kNone;  // the name of the member whose value is due
  int error_ = 0;       // the first error's number, and where it was found
  std::size_t at_ = 0;
};

}  // namespace
}  // namespace json_detail

using json_detail::Index;
using json_detail::Kind;
using json_detail::Node;
using json_detail::Tree;

JSONItem::JSONItem() : tree_(std::make_unique<Tree>()) {}

JSONItem::JSONItem(const std::string& text) : tree_(std::make_unique<Tree>()) {
  json_detail::Parser parser(text, *tree_);
  if (!parser.Run()) {
    std::string message = json_detail::MessageOf(parser.Error());
    if (parser.At() > 0) message += " at position " + std::to_string(parser.At());
    throw JSONException(message, parser.Error());
  }
}

JSONItem::~JSONItem() = default;

void JSONItem::Value(const std::string& name, const std::string& value) {
  Tree& t = *tree_;
  if (t.nodes[0].kind == Kind::Array) throw JSONException("JSONItem is an array", 13);
  const auto found = t.members.find(name);
  if (found != t.members.end()) {
    Node& n = t.nodes[found->second];
    n.kind = Kind::String;
    n.first = json_detail::kNone;
    if (n.text == json_detail::kNone) {
      n.text = t.AddText(value);
    } else {
      t.texts[n.text] = value;
    }
    return;
  }
  const Index c = t.AddNode(Kind::String, t.AddText(name), t.AddText(value));
  (t.last == json_detail::kNone ? t.nodes[0].first : t.nodes[t.last].next) = c;
  t.last = c;
  ++t.count;
  t.members.emplace(name, c);
}

std::string JSONItem::Value(const std::string& name) const {
  const Tree& t = *tree_;
  if (t.nodes[0].kind == Kind::Array) throw JSONException("JSONItem is an array", 13);
  const auto found = t.members.find(name);
  if (found == t.members.end()) throw KeyNotFoundException("JSONItem has no member \"" + name + "\"");
  const Node& n = t.nodes[found->second];
  if (n.kind == Kind::String) return t.texts[n.text];
  if (n.kind == Kind::Null) return "";
  std::string out;  // a number as written, true, false, or a container's compact text
  json_detail::Write(t, found->second, out);
  return out;
}

std::string JSONItem::ToString() const {
  std::string out;
  json_detail::Write(*tree_, 0, out);
  return out;
}

bool JSONItem::IsArray() const { return tree_->nodes[0].kind == Kind::Array; }

std::size_t JSONItem::Count() const { return tree_->count; }
