#include "settings/json.h"

#include <cstdint>
#include <deque>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/exceptions.h"

// The values live in one flat store of nodes linked by index, so that neither
// reading, writing nor destroying a deeply nested value recurses.
namespace json_detail {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

enum class Kind : unsigned char { Object, Array, String, Number, True, False, Null };

struct Node {
  Kind kind = Kind::Null;
  std::string name;  // the member's name, when the parent is an object
  std::string text;  // a string's text or a number as written
  std::size_t first = kNone, last = kNone, next = kNone;  // children, sibling
};

struct Tree {
  // A deque never moves its elements, so the root's index may point into
  // the names of its members.
  std::deque<Node> nodes;
  std::unordered_map<std::string_view, std::size_t> index;  // root members
  std::size_t count = 0;                                    // root children

  Tree() { nodes.push_back(Node{Kind::Object, {}, {}}); }

  Node& Root() { return nodes.front(); }
  const Node& Root() const { return nodes.front(); }

  std::size_t Append(std::size_t parent, Kind kind, std::string name) {
    std::size_t at = nodes.size();
    nodes.push_back(Node{kind, std::move(name), {}});
    Node& p = nodes[parent];
    if (p.last == kNone) {
      p.first = at;
    } else {
      nodes[p.last].next = at;
    }
    p.last = at;
    return at;
  }
};

namespace {

bool IsContainer(Kind k) { return k == Kind::Object || k == Kind::Array; }

// ---- writing -------------------------------------------------------------

// The invisible and format characters that are written as \uXXXX.
bool WrittenAsCode(std::uint32_t cp) {
  return cp <= 0x1F || cp == 0x7F || cp == 0xAD || (cp >= 0x600 && cp <= 0x604) ||
         cp == 0x70F || (cp >= 0x17B4 && cp <= 0x17B5) || (cp >= 0x200C && cp <= 0x200F) ||
         (cp >= 0x2028 && cp <= 0x202F) || (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF ||
         cp >= 0xFFF0;
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
  if (b0 >= 0xC2 && b0 <= 0xDF && i + 1 < s.size() &&
      Continuation(static_cast<unsigned char>(s[i + 1]))) {
    cp = (b0 & 0x1Fu) << 6 | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
    return 2;
  }
  if (b0 >= 0xE0 && b0 <= 0xEF && i + 2 < s.size()) {
    auto b1 = static_cast<unsigned char>(s[i + 1]);
    auto b2 = static_cast<unsigned char>(s[i + 2]);
    if (!Continuation(b1) || !Continuation(b2)) return 0;
    if (b0 == 0xE0 && b1 < 0xA0) return 0;  // overlong
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
  auto flush = [&](std::size_t upto) { out.append(s.substr(plain, upto - plain)); };
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    const char* short_form = nullptr;
    switch (b) {
      case '\\': short_form = "\\\\"; break;
      case '"': short_form = "\\\""; break;
      case '\b': short_form = "\\b"; break;
      case '\f': short_form = "\\f"; break;
      case '\n': short_form = "\\n"; break;
      case '\r': short_form = "\\r"; break;
      case '\t': short_form = "\\t"; break;
      case '/': short_form = "\\/"; break;
      default: break;
    }
    if (short_form) {
      flush(i);
      out += short_form;
      plain = ++i;
      continue;
    }
    if (b < 0x80) {
      if (WrittenAsCode(b)) {
        flush(i);
        AppendCode(b, out);
        plain = i + 1;
      }
      ++i;
      continue;
    }
    std::uint32_t cp = 0;
    std::size_t n = DecodeShort(s, i, cp);
    if (n == 0) {  // a four-byte sequence or stray bytes: written as they are
      ++i;
      continue;
    }
    if (WrittenAsCode(cp)) {
      flush(i);
      AppendCode(cp, out);
      plain = i + n;
    }
    i += n;
  }
  flush(s.size());
}

void WriteScalar(const Node& n, std::string& out) {
  switch (n.kind) {
    case Kind::String:
      out += '"';
      Escape(n.text, out);
      out += '"';
      break;
    case Kind::Number: out += n.text; break;
    case Kind::True: out += "true"; break;
    case Kind::False: out += "false"; break;
    default: out += "null"; break;
  }
}

// The compact text of the value at node `top`, walked with an explicit stack
// of the containers still open and the next child of each.
void Write(const Tree& tree, std::size_t top, std::string& out) {
  const Node& root = tree.nodes[top];
  if (!IsContainer(root.kind)) {
    WriteScalar(root, out);
    return;
  }
  struct Open {
    std::size_t node, child;
  };
  std::vector<Open> open;
  out += root.kind == Kind::Object ? '{' : '[';
  open.push_back({top, root.first});
  while (!open.empty()) {
    const std::size_t parent = open.back().node;
    const std::size_t child = open.back().child;
    const Node& p = tree.nodes[parent];
    if (child == kNone) {
      out += p.kind == Kind::Object ? '}' : ']';
      open.pop_back();
      continue;
    }
    const Node& c = tree.nodes[child];
    open.back().child = c.next;
    if (child != p.first) out += ',';
    if (p.kind == Kind::Object) {
      out += '"';
      Escape(c.name, out);
      out += "\":";
    }
    if (IsContainer(c.kind)) {
      out += c.kind == Kind::Object ? '{' : '[';
      open.push_back({child, c.first});
    } else {
      WriteScalar(c, out);
    }
  }
}

// ---- reading -------------------------------------------------------------

struct ParseError {
  int number = 0;
  std::size_t at = 0;
};

const char* MessageOf(int number) {
  switch (number) {
    case 1: return "Parse Error: Expecting '{' or '['";
    case 2: return "A parsing error occurred";
    case 3: return "Illegal Number Format";
    case 5: return "Missing :";
    case 6: return "Missing , or }";
    case 7: return "Missing \"";
    case 8: return "Illegal Unicode Character Format";
    case 9: return "Illegal Character";
    default: return "Illegal Value";
  }
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

// Reads one text into a tree. The open containers are an explicit stack and
// `due_` says which token comes next; the first error stops the parse and is
// the one kept.
class Parser {
 public:
  Parser(std::string_view text, Tree& tree) : in_(text), tree_(tree) {}

  bool Run() {
    int c = Next();
    if (c != '{' && c != '[') return Fail(1, c == kEnd ? pos_ : pos_ - 1);
    tree_.Root().kind = c == '{' ? Kind::Object : Kind::Array;
    open_.push_back(0);
    due_ = c == '{' ? Due::NameOrClose : Due::ValueOrClose;
    bool ok = true;
    while (ok && !open_.empty()) {
      switch (due_) {
        case Due::Name: ok = ReadName(false); break;
        case Due::NameOrClose: ok = ReadName(true); break;
        case Due::Value: ok = ReadValue(false); break;
        case Due::ValueOrClose: ok = ReadValue(true); break;
        case Due::CommaOrClose: ok = ReadSeparator(); break;
      }
    }
    return ok;
  }

  const ParseError& Error() const { return error_; }

 private:
  enum class Due { Name, NameOrClose, Value, ValueOrClose, CommaOrClose };
  static constexpr int kEnd = -1;

  bool Fail(int number, std::size_t at) {
    if (error_.number == 0) error_ = {number, at};
    return false;
  }

  // The next byte that is not a blank, consumed; kEnd at the end of the text.
  int Next() {
    while (pos_ < in_.size() && IsBlank(in_[pos_])) ++pos_;
    if (pos_ == in_.size()) return kEnd;
    return static_cast<unsigned char>(in_[pos_++]);
  }

  Node& Top() { return tree_.nodes[open_.back()]; }

  bool ReadName(bool may_close) {
    int c = Next();
    if (may_close && c == '}') return Close();
    if (c != '"') return Fail(7, pos_);
    name_.clear();
    if (!ReadString(name_)) return false;
    if (Next() != ':') return Fail(5, pos_);
    due_ = Due::Value;
    return true;
  }

  bool ReadValue(bool may_close) {
    int c = Next();
    if (c == kEnd) return Fail(10, pos_);
    if (may_close && c == ']') return Close();
    const std::size_t start = pos_ - 1;
    std::string name = Top().kind == Kind::Object ? std::move(name_) : std::string();
    const std::size_t parent = open_.back();
    due_ = Due::CommaOrClose;
    switch (c) {
      case '{':
      case '[':
        open_.push_back(tree_.Append(parent, c == '{' ? Kind::Object : Kind::Array,
                                     std::move(name)));
        due_ = c == '{' ? Due::NameOrClose : Due::ValueOrClose;
        return true;
      case '"': {
        Node& n = tree_.nodes[tree_.Append(parent, Kind::String, std::move(name))];
        return ReadString(n.text);
      }
      case 't':
      case 'n':
        if (in_.substr(start, 4) != (c == 't' ? "true" : "null")) return Fail(10, start);
        pos_ = start + 4;
        tree_.Append(parent, c == 't' ? Kind::True : Kind::Null, std::move(name));
        return true;
      case 'f':
        if (in_.substr(start, 4) != "fals") return Fail(10, start);
        if (start + 4 >= in_.size()) return Fail(10, in_.size());
        if (in_[start + 4] != 'e') return Fail(10, start + 5);
        pos_ = start + 5;
        tree_.Append(parent, Kind::False, std::move(name));
        return true;
      default:
        if (c == '-' || IsDigit(static_cast<char>(c))) {
          Node& n = tree_.nodes[tree_.Append(parent, Kind::Number, std::move(name))];
          return ReadNumber(start, n.text);
        }
        return Fail(10, start);
    }
  }

  bool ReadSeparator() {
    int c = Next();
    if (Top().kind == Kind::Object) {
      if (c == ',') {
        due_ = Due::Name;
        return true;
      }
      return c == '}' ? Close() : Fail(6, pos_);
    }
    if (c == ',') {
      due_ = Due::Value;
      return true;
    }
    return c == ']' ? Close() : Fail(2, pos_);
  }

  bool Close() {
    if (Top().kind == Kind::Object) KeepLastOfEachName(open_.back());
    open_.pop_back();
    due_ = Due::CommaOrClose;
    return true;
  }

  // Reads after the opening quote up to the closing one, or to the end of
  // the text, which ends a string without an error of its own.
  bool ReadString(std::string& out) {
    while (pos_ < in_.size()) {
      std::size_t run = pos_;
      while (run < in_.size() && in_[run] != '"' && in_[run] != '\\') ++run;
      out.append(in_.substr(pos_, run - pos_));
      pos_ = run;
      if (pos_ == in_.size()) break;
      if (in_[pos_++] == '"') return true;
      if (pos_ == in_.size()) break;
      char e = in_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u':
          if (!ReadCodePoint(out)) return false;
          break;
        default: return Fail(9, pos_);
      }
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
      out.append(in_.substr(pos_, 4));
      pos_ += 4;
      return true;
    }
    pos_ += 4;
    if (cp >= 0xD800 && cp <= 0xDBFF && in_.size() - pos_ >= 6 && in_[pos_] == '\\' &&
        in_[pos_ + 1] == 'u') {
      long low = Hex4(in_, pos_ + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        pos_ += 6;
        AppendUtf8(0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00), out);
        return true;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
    AppendUtf8(static_cast<std::uint32_t>(cp), out);
    return true;
  }

  // A number as JSON writes it: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
  // The first byte has been read; the text is kept as written.
  bool ReadNumber(std::size_t start, std::string& out) {
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
    out.assign(in_.substr(start, p - start));
    pos_ = p;
    return true;
  }

  // A name given twice keeps the place of its first member and the value of
  // its last one.
  void KeepLastOfEachName(std::size_t object) {
    Node& o = tree_.nodes[object];
    std::size_t count = 0;
    for (std::size_t c = o.first; c != kNone; c = tree_.nodes[c].next) ++count;
    if (count < 2) return;
    std::unordered_map<std::string_view, std::size_t> seen;
    const bool small = count <= 8;  // a scan is cheaper than a table here
    std::size_t prev = kNone;
    for (std::size_t c = o.first; c != kNone;) {
      Node& n = tree_.nodes[c];
      const std::size_t next = n.next;
      std::size_t earlier = kNone;
      if (small) {
        for (std::size_t e = o.first; e != c; e = tree_.nodes[e].next) {
          if (tree_.nodes[e].name == n.name) {
            earlier = e;
            break;
          }
        }
      } else {
        auto [it, added] = seen.emplace(n.name, c);
        if (!added) earlier = it->second;
      }
      if (earlier == kNone) {
        prev = c;
      } else {
        Node& keep = tree_.nodes[earlier];
        keep.kind = n.kind;
        keep.text = std::move(n.text);
        keep.first = n.first;
        keep.last = n.last;
        tree_.nodes[prev].next = next;  // prev exists: c is not the first
        if (o.last == c) o.last = prev;
      }
      c = next;
    }
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  Tree& tree_;
  std::vector<std::size_t> open_;  // containers not yet closed, innermost last
  Due due_ = Due::NameOrClose;
  std::string name_;  // the name of the member whose value is due
  ParseError error_;
};

bool OnlyBlanks(std::string_view s) {
  for (char c : s) {
    if (!IsBlank(c)) return false;
  }
  return true;
}

}  // namespace
}  // namespace json_detail

using json_detail::Kind;
using json_detail::Node;
using json_detail::Tree;

JSONItem::JSONItem() : tree_(std::make_unique<Tree>()) {}

JSONItem::JSONItem(const std::string& text) : tree_(std::make_unique<Tree>()) {
  if (json_detail::OnlyBlanks(text)) return;
  json_detail::Parser parser(text, *tree_);
  if (!parser.Run()) {
    const auto& error = parser.Error();
    std::string message = json_detail::MessageOf(error.number);
    if (error.at > 0) message += " at position " + std::to_string(error.at);
    throw JSONException(message, error.number);
  }
  Tree& t = *tree_;
  for (std::size_t c = t.Root().first; c != json_detail::kNone; c = t.nodes[c].next) {
    ++t.count;
    if (t.Root().kind == Kind::Object) t.index.emplace(t.nodes[c].name, c);
  }
}

JSONItem::~JSONItem() = default;

void JSONItem::Value(const std::string& name, const std::string& value) {
  Tree& t = *tree_;
  if (t.Root().kind == Kind::Array) throw JSONException("JSONItem is an array", 13);
  auto it = t.index.find(name);
  if (it != t.index.end()) {
    Node& n = t.nodes[it->second];
    n.kind = Kind::String;
    n.text = value;
    n.first = n.last = json_detail::kNone;
    return;
  }
  std::size_t at = t.Append(0, Kind::String, name);
  t.nodes[at].text = value;
  t.index.emplace(t.nodes[at].name, at);
  ++t.count;
}

std::string JSONItem::Value(const std::string& name) const {
  const Tree& t = *tree_;
  if (t.Root().kind == Kind::Array) throw JSONException("JSONItem is an array", 13);
  auto it = t.index.find(name);
  if (it == t.index.end()) {
    throw KeyNotFoundException("JSONItem has no member \"" + name + "\"");
  }
  const Node& n = t.nodes[it->second];
  switch (n.kind) {
    case Kind::String:
    case Kind::Number: return n.text;
    case Kind::True: return "true";
    case Kind::False: return "false";
    case Kind::Null: return "";
    default: {
      std::string out;
      json_detail::Write(t, it->second, out);
      return out;
    }
  }
}

std::string JSONItem::ToString() const {
  std::string out;
  json_detail::Write(*tree_, 0, out);
  return out;
}

bool JSONItem::IsArray() const { return tree_->Root().kind == Kind::Array; }

std::size_t JSONItem::Count() const { return tree_->count; }
