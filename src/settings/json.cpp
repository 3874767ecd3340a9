#include "settings/json.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/exceptions.h"

// The values live in one store of small nodes linked by index, and their
// names and texts in large blocks of characters, so that reading costs a
// few allocations rather than one or two per value, and neither reading,
// writing nor destroying a deeply nested value recurses.
namespace json_detail {

using Index = std::uint32_t;
constexpr Index kNone = 0xFFFFFFFFu;
// Offsets, lengths and node numbers are 32 bits: that keeps a node at 20
// bytes, where a name and a text as two std::strings took 64 alone.
constexpr std::size_t kMaxChars = kNone - 1;

enum class Kind : unsigned char { Object, Array, String, Number, True, False, Null, Dropped };

// A member's name and a string's or number's text stand one after the other
// in Tree::chars: the name at `at`, the text right after it. Every field is
// given where a node is made, so that blocks of nodes need no clearing.
struct Node {
  Index at;
  Index name_len;
  Index value;  // a string's or number's length; a container's first child, or kNone
  Index next;   // the next sibling, or kNone
  Kind kind;
};

bool IsContainer(Kind k) { return k == Kind::Object || k == Kind::Array; }
bool HasText(Kind k) { return k == Kind::String || k == Kind::Number; }

[[noreturn]] void TooLarge() { throw std::length_error("JSONItem holds at most 4 GiB of text"); }

// Nodes in blocks that never move once full, so that a large text costs no
// copying as it grows; only the first block grows, for the small texts.
class NodeStore {
 public:
  Node& operator[](Index i) { return blocks_[i >> kShift][i & kMask]; }
  const Node& operator[](Index i) const { return blocks_[i >> kShift][i & kMask]; }

  Index Push(const Node& n) {
    if (size_ == kNone) TooLarge();
    if (size_ < kBlock) {
      if (size_ == first_cap_) GrowFirst();
    } else if ((size_ & kMask) == 0) {
      blocks_.push_back(std::make_unique_for_overwrite<Node[]>(kBlock));
    }
    (*this)[size_] = n;
    return size_++;
  }

 private:
  static constexpr unsigned kShift = 12;
  static constexpr Index kBlock = Index{1} << kShift, kMask = kBlock - 1;

  void GrowFirst() {
    const Index cap = first_cap_ ? first_cap_ * 2 : 8;
    auto bigger = std::make_unique_for_overwrite<Node[]>(cap);
    if (blocks_.empty()) {
      blocks_.push_back(std::move(bigger));
    } else {
      std::copy(blocks_[0].get(), blocks_[0].get() + size_, bigger.get());
      blocks_[0] = std::move(bigger);
    }
    first_cap_ = cap;
  }

  std::vector<std::unique_ptr<Node[]>> blocks_;
  Index size_ = 0, first_cap_ = 0;
};

// Names and texts in blocks of 256 KiB that never move once full, so that a
// large text is neither copied as it grows nor held in one block as large
// as itself. A record (a member's name and its text) stays in one block: a
// record that outgrows its block moves to a new one, and one longer than a
// block gets a block of its own. Offsets run on from block to block, each
// block starting at a whole block, so that an offset finds its block by its
// top bits. Only the first block grows, for the small texts.
class Chars {
 public:
  char* At(std::size_t at) { return slots_[at >> kShift] + (at & kMask); }
  const char* At(std::size_t at) const { return slots_[at >> kShift] + (at & kMask); }

  std::size_t End() const { return end_; }  // where the next byte goes
  // Begins a record at the end. Start() gives where it stands; that moves
  // when the record moves to a new block.
  void Begin() { start_ = end_; }
  std::size_t Start() const { return start_; }

  void Append(const char* p, std::size_t n) {
    if (n == 0) return;
    if (n > room_) MakeRoom(n);
    if (n <= 16) {  // most runs are short: two overlapping copies of fixed size
      if (n >= 8) {
        std::memcpy(write_, p, 8);
        std::memcpy(write_ + n - 8, p + n - 8, 8);
      } else if (n >= 4) {
        std::memcpy(write_, p, 4);
        std::memcpy(write_ + n - 4, p + n - 4, 4);
      } else {
        for (std::size_t i = 0; i < n; ++i) write_[i] = p[i];
      }
    } else {
      std::memcpy(write_, p, n);
    }
    write_ += n;
    end_ += n;
    room_ -= n;
  }
  void Push(char c) {
    if (room_ == 0) MakeRoom(1);
    *write_++ = c;
    ++end_;
    --room_;
  }

 private:
  static constexpr unsigned kShift = 18;
  static constexpr std::size_t kBlock = std::size_t{1} << kShift, kMask = kBlock - 1;

  void MakeRoom(std::size_t n) {
    const std::size_t kept = end_ - start_;
    if (end_ + n <= kBlock && slots_.size() <= 1) {
      std::size_t size = std::max<std::size_t>(256, 2 * limit_);
      while (size < end_ + n) size *= 2;
      size = std::min(size, kBlock);
      auto bigger = std::make_unique_for_overwrite<char[]>(size);
      if (end_) std::memcpy(bigger.get(), blocks_[0].get(), end_);
      if (blocks_.empty()) {
        slots_.push_back(bigger.get());
        blocks_.push_back(std::move(bigger));
      } else {
        slots_[0] = bigger.get();
        blocks_[0] = std::move(bigger);
      }
      limit_ = size;
    } else {
      // A record that has the last block to itself takes a larger one in
      // its place, so that a long string costs no blocks left behind.
      const bool alone = blocks_.size() > 1 && start_ == last_from_;
      const std::size_t from = alone ? last_from_ : (limit_ + kMask) & ~kMask;
      const std::size_t need = kept + n;
      const std::size_t size = need <= kBlock ? kBlock : (2 * need + kMask) & ~kMask;
      if (from + size > kNone) TooLarge();
      auto block = std::make_unique_for_overwrite<char[]>(size);
      if (kept) std::memcpy(block.get(), At(start_), kept);
      slots_.resize(from >> kShift, nullptr);
      for (std::size_t part = 0; part < size; part += kBlock) slots_.push_back(block.get() + part);
      if (alone) {
        blocks_.back() = std::move(block);
      } else {
        blocks_.push_back(std::move(block));
      }
      last_from_ = from;
      start_ = from;
      end_ = from + kept;
      limit_ = from + size;
    }
    write_ = At(end_);
    room_ = limit_ - end_;
  }

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::vector<char*> slots_;  // for each block's worth of offsets, where it is held
  std::size_t start_ = 0, end_ = 0;
  std::size_t last_from_ = 0, limit_ = 0;  // where the last block starts and ends
  char* write_ = nullptr;
  std::size_t room_ = 0;
};

template <class Word>
Word Load(const char* p) {
  Word w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

std::uint32_t HashName(std::string_view s) {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  const char* p = s.data();
  const std::size_t n = s.size();
  std::uint64_t h = n * kMul;
  auto mix = [&](std::uint64_t w) { h = std::rotl((h ^ w) * kMul, 29); };
  // Whole words, then the last eight bytes, which may overlap the words
  // before them; shorter names in two overlapping halves or three bytes.
  if (n >= 8) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) mix(Load<std::uint64_t>(p + i));
    if (i < n) mix(Load<std::uint64_t>(p + n - 8));
  } else if (n >= 4) {
    mix(Load<std::uint32_t>(p) | std::uint64_t{Load<std::uint32_t>(p + n - 4)} << 32);
  } else if (n > 0) {
    mix(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[n / 2]) << 8 |
        static_cast<unsigned char>(p[n - 1]) << 16);
  }
  h ^= h >> 30;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 27;
  h *= 0x94D049BB133111EBull;
  h ^= h >> 31;
  return static_cast<std::uint32_t>(h >> 32);
}

// Objects of up to this many members are searched and checked for twice
// given names by comparing names one by one; the settings have five.
constexpr Index kShort = 8;

struct Tree {
  Chars chars;         // names and texts, see Node
  NodeStore nodes;     // node 0 is the root
  Index count = 0;     // the root's children
  Index last = kNone;  // the root's last child
  // The root's members by name, for more than kShort of them. A text read
  // leaves them sorted by the hash of their names (hash << 32 | node, with
  // kNone for a member dropped), searched by halving; members added make
  // that a hash table, open addressing over the hash's top bits.
  mutable std::vector<std::uint64_t> sorted;
  mutable std::vector<Index> table;
  std::size_t unused_chars = 0;  // left behind by values replaced

  Tree() { nodes.Push(Node{0, 0, kNone, kNone, Kind::Object}); }

  Node& Root() { return nodes[0]; }
  const Node& Root() const { return nodes[0]; }

  std::string_view Name(const Node& n) const {
    return n.name_len ? std::string_view(chars.At(n.at), n.name_len) : std::string_view();
  }
  std::string_view Text(const Node& n) const {
    return n.value ? std::string_view(chars.At(n.at + n.name_len), n.value) : std::string_view();
  }

  // A record of a name and a string at the end of the characters.
  Index AddRecord(std::string_view name, std::string_view value) {
    chars.Begin();
    chars.Append(name.data(), name.size());
    chars.Append(value.data(), value.size());
    return static_cast<Index>(chars.Start());
  }

  // Hash and node of each child of `object`, sorted, so that the members of
  // one name come together, the first of them first.
  void SortByName(Index first, Index n, std::vector<std::uint64_t>& keys) const {
    auto key = [&](Index c) { return std::uint64_t{HashName(Name(nodes[c]))} << 32 | c; };
    keys.resize(n);
    std::vector<std::uint64_t> scratch;
    if (n <= 2048) {
      std::size_t i = 0;
      for (Index c = first; c != kNone; c = nodes[c].next) keys[i++] = key(c);
      SortPart(keys.data(), keys.data() + n, 0, scratch);
      return;
    }
    // Spread by the hash's top bits first, so that each part sorts in the
    // cache; the hashes are made twice rather than kept twice.
    const unsigned bits = std::min(16u, static_cast<unsigned>(std::bit_width(n >> 11)));
    std::vector<Index> start((std::size_t{1} << bits) + 1, 0);
    for (Index c = first; c != kNone; c = nodes[c].next) ++start[(key(c) >> (64 - bits)) + 1];
    for (std::size_t p = 1; p < start.size(); ++p) start[p] += start[p - 1];
    std::vector<Index> fill(start.begin(), start.end() - 1);
    for (Index c = first; c != kNone; c = nodes[c].next) {
      const std::uint64_t k = key(c);
      keys[fill[k >> (64 - bits)]++] = k;
    }
    for (std::size_t p = 0; p + 1 < start.size(); ++p) {
      SortPart(keys.data() + start[p], keys.data() + start[p + 1], bits, scratch);
    }
  }

  // Sorts keys whose hashes agree in their top `fixed` bits (at most 16):
  // by the next 16 bits, a byte at a time, and then by the whole key, which
  // has only the few keys left out of place to move.
  static void SortPart(std::uint64_t* first, std::uint64_t* last, unsigned fixed,
                       std::vector<std::uint64_t>& scratch) {
    const auto n = static_cast<std::size_t>(last - first);
    if (n > 64) {
      if (scratch.size() < n) scratch.resize(n);
      std::uint64_t* from = first;
      std::uint64_t* to = scratch.data();
      for (unsigned shift = 48 - fixed; shift <= 56 - fixed; shift += 8) {
        std::size_t at[257] = {};
        for (std::size_t i = 0; i < n; ++i) ++at[(from[i] >> shift & 255) + 1];
        for (std::size_t d = 1; d < 256; ++d) at[d] += at[d - 1];
        for (std::size_t i = 0; i < n; ++i) to[at[from[i] >> shift & 255]++] = from[i];
        std::swap(from, to);
      }
    }
    for (std::uint64_t* i = first + 1; i < last; ++i) {
      const std::uint64_t k = *i;
      std::uint64_t* j = i;
      for (; j > first && j[-1] > k; --j) *j = j[-1];
      *j = k;
    }
  }

  // The hash table from `sorted`, made when first needed. Members go in the
  // order of their home slots, so each takes the first free slot at or
  // after its home and the table is written front to back.
  void MakeTable() const {
    if (sorted.empty()) SortByName(Root().value, count, sorted);
    std::vector<Index>& index = table;
    const unsigned bits = std::max(4u, static_cast<unsigned>(std::bit_width(count + count / 3)));
    index.assign(std::size_t{1} << bits, kNone);
    std::size_t free = 0, wrapped = 0;
    for (std::uint64_t k : sorted) {
      const Index c = static_cast<Index>(k);
      if (c == kNone) continue;
      const std::size_t slot = std::max<std::size_t>(k >> (64 - bits), free);
      if (slot < index.size()) {
        index[slot] = c;
        free = slot + 1;
      } else {  // past the end: on from the front
        while (index[wrapped] != kNone) ++wrapped;
        index[wrapped] = c;
      }
    }
    sorted = {};
  }

  // The root's member of that name, or kNone.
  Index Find(std::string_view name) const {
    if (count <= kShort) {
      for (Index c = Root().value; c != kNone; c = nodes[c].next) {
        if (Name(nodes[c]) == name) return c;
      }
      return kNone;
    }
    const std::uint32_t hash = HashName(name);
    if (table.empty() && !sorted.empty()) {
      auto k = std::lower_bound(sorted.begin(), sorted.end(), std::uint64_t{hash} << 32);
      for (; k != sorted.end() && *k >> 32 == hash; ++k) {
        const auto c = static_cast<Index>(*k);
        if (c != kNone && Name(nodes[c]) == name) return c;
      }
      return kNone;
    }
    if (table.empty()) MakeTable();
    const unsigned bits = static_cast<unsigned>(std::countr_zero(table.size()));
    const std::size_t mask = table.size() - 1;
    for (std::size_t slot = hash >> (32 - bits);; slot = (slot + 1) & mask) {
      const Index c = table[slot];
      if (c == kNone || Name(nodes[c]) == name) return c;
    }
  }

  // Sets the member's value to a string, in place when it fits.
  void SetString(Index c, std::string_view name, std::string_view value) {
    Node& n = nodes[c];
    if (HasText(n.kind) && value.size() <= n.value) {
      if (!value.empty()) value.copy(chars.At(n.at + n.name_len), value.size());
      unused_chars += n.value - value.size();
    } else {
      unused_chars += n.name_len + (HasText(n.kind) ? n.value : 0);
      n.at = AddRecord(name, value);
    }
    n.kind = Kind::String;
    n.value = static_cast<Index>(value.size());
    if (unused_chars > 4096 && unused_chars > chars.End() / 2) Repack();
  }

  void AddString(std::string_view name, std::string_view value) {
    const Index at = AddRecord(name, value);
    const Index c = nodes.Push(
        Node{at, static_cast<Index>(name.size()), static_cast<Index>(value.size()), kNone, Kind::String});
    if (last == kNone) {
      Root().value = c;
    } else {
      nodes[last].next = c;
    }
    last = c;
    ++count;
    if (count <= kShort) return;
    // The table is made again, twice the size, when it is a quarter empty.
    if (table.empty() || std::size_t{count} * 4 > table.size() * 3) {
      sorted.clear();
      MakeTable();
      return;
    }
    const std::size_t mask = table.size() - 1;
    std::size_t slot = HashName(name) >> (32 - std::countr_zero(table.size()));
    while (table[slot] != kNone) slot = (slot + 1) & mask;
    table[slot] = c;
  }

  // Copies the names and texts still in use into new blocks.
  void Repack() {
    Chars packed;
    std::vector<Index> todo{0};
    while (!todo.empty()) {
      Node& n = nodes[todo.back()];
      todo.pop_back();
      const std::size_t len = n.name_len + (HasText(n.kind) ? n.value : 0);
      packed.Begin();
      if (len) packed.Append(chars.At(n.at), len);
      n.at = static_cast<Index>(packed.Start());
      if (IsContainer(n.kind)) {
        for (Index c = n.value; c != kNone; c = nodes[c].next) todo.push_back(c);
      }
    }
    chars = std::move(packed);
    unused_chars = 0;
  }
};

namespace {

// ---- writing -------------------------------------------------------------

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
  auto flush = [&](std::size_t upto) { out.append(s.substr(plain, upto - plain)); };
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    const char* short_form = nullptr;
    switch (b) {
      case '\\':
        short_form = "\\\\";
        break;
      case '"':
        short_form = "\\\"";
        break;
      case '\b':
        short_form = "\\b";
        break;
      case '\f':
        short_form = "\\f";
        break;
      case '\n':
        short_form = "\\n";
        break;
      case '\r':
        short_form = "\\r";
        break;
      case '\t':
        short_form = "\\t";
        break;
      case '/':
        short_form = "\\/";
        break;
      default:
        break;
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

void WriteScalar(const Tree& tree, const Node& n, std::string& out) {
  switch (n.kind) {
    case Kind::String:
      out += '"';
      Escape(tree.Text(n), out);
      out += '"';
      break;
    case Kind::Number:
      out += tree.Text(n);
      break;
    case Kind::True:
      out += "true";
      break;
    case Kind::False:
      out += "false";
      break;
    default:
      out += "null";
      break;
  }
}

// The compact text of the value at node `top`, walked with an explicit stack
// of the containers still open and the next child of each.
void Write(const Tree& tree, Index top, std::string& out) {
  const Node& root = tree.nodes[top];
  if (!IsContainer(root.kind)) {
    WriteScalar(tree, root, out);
    return;
  }
  struct Open {
    Index node, child;
  };
  std::vector<Open> open;
  out += root.kind == Kind::Object ? '{' : '[';
  open.push_back({top, root.value});
  while (!open.empty()) {
    const Index parent = open.back().node;
    const Index child = open.back().child;
    const Node& p = tree.nodes[parent];
    if (child == kNone) {
      out += p.kind == Kind::Object ? '}' : ']';
      open.pop_back();
      continue;
    }
    const Node& c = tree.nodes[child];
    open.back().child = c.next;
    if (child != p.value) out += ',';
    if (p.kind == Kind::Object) {
      out += '"';
      Escape(tree.Name(c), out);
      out += "\":";
    }
    if (IsContainer(c.kind)) {
      out += c.kind == Kind::Object ? '{' : '[';
      open.push_back({child, c.value});
    } else {
      WriteScalar(tree, c, out);
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
    case 1:
      return "Parse Error: Expecting '{' or '['";
    case 2:
      return "A parsing error occurred";
    case 3:
      return "Illegal Number Format";
    case 5:
      return "Missing :";
    case 6:
      return "Missing , or }";
    case 7:
      return "Missing \"";
    case 8:
      return "Illegal Unicode Character Format";
    case 9:
      return "Illegal Character";
    default:
      return "Illegal Value";
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

void AppendUtf8(std::uint32_t cp, Chars& out) {
  if (cp < 0x80) {
    out.Push(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.Push(static_cast<char>(0xC0 | cp >> 6));
    out.Push(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.Push(static_cast<char>(0xE0 | cp >> 12));
    out.Push(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.Push(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.Push(static_cast<char>(0xF0 | cp >> 18));
    out.Push(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out.Push(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.Push(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The first quote or backslash in s at or after `from`, or s.size(). Eight
// bytes at a time: a byte equal to c leaves a zero in w ^ c, and the lowest
// zero byte of a word is found exactly by the borrow trick.
std::size_t StringStop(std::string_view s, std::size_t from) {
  std::size_t i = from;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    for (; i + 8 <= s.size(); i += 8) {
      const std::uint64_t w = Load<std::uint64_t>(s.data() + i);
      const std::uint64_t q = w ^ (kOnes * '"'), b = w ^ (kOnes * '\\');
      const std::uint64_t hit = (((q - kOnes) & ~q) | ((b - kOnes) & ~b)) & kHigh;
      if (hit) return i + static_cast<std::size_t>(std::countr_zero(hit)) / 8;
    }
  }
  while (i < s.size() && s[i] != '"' && s[i] != '\\') ++i;
  return i;
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
    open_.push_back({0, kNone, 0});
    due_ = c == '{' ? Due::NameOrClose : Due::ValueOrClose;
    bool ok = true;
    while (ok && !open_.empty()) {
      switch (due_) {
        case Due::Name:
          ok = ReadName(false);
          break;
        case Due::NameOrClose:
          ok = ReadName(true);
          break;
        case Due::Value:
          ok = ReadValue(false);
          break;
        case Due::ValueOrClose:
          ok = ReadValue(true);
          break;
        case Due::CommaOrClose:
          ok = ReadSeparator();
          break;
      }
    }
    return ok;
  }

  const ParseError& Error() const { return error_; }

 private:
  enum class Due { Name, NameOrClose, Value, ValueOrClose, CommaOrClose };
  static constexpr int kEnd = -1;

  struct Open {
    Index node, last, count;  // the container, its last child, its children
  };

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

  bool InObject() { return tree_.nodes[open_.back().node].kind == Kind::Object; }

  // A new last child of the innermost open container, for the record begun;
  // a container's first child is still to come.
  Index Append(Kind kind, Index text_len) {
    const Index c = tree_.nodes.Push(Node{static_cast<Index>(tree_.chars.Start()), name_len_,
                                          IsContainer(kind) ? kNone : text_len, kNone, kind});
    Open& o = open_.back();
    if (o.last == kNone) {
      tree_.nodes[o.node].value = c;
    } else {
      tree_.nodes[o.last].next = c;
    }
    o.last = c;
    ++o.count;
    return c;
  }

  bool ReadName(bool may_close) {
    int c = Next();
    if (may_close && c == '}') return Close();
    if (c != '"') return Fail(7, pos_);
    tree_.chars.Begin();
    if (!ReadString()) return false;
    name_len_ = static_cast<Index>(tree_.chars.End() - tree_.chars.Start());
    if (Next() != ':') return Fail(5, pos_);
    due_ = Due::Value;
    return true;
  }

  bool ReadValue(bool may_close) {
    int c = Next();
    if (c == kEnd) return Fail(10, pos_);
    if (may_close && c == ']') return Close();
    const std::size_t start = pos_ - 1;
    // An array's items have no name: theirs is the empty one where they start.
    if (!InObject()) {
      tree_.chars.Begin();
      name_len_ = 0;
    }
    due_ = Due::CommaOrClose;
    switch (c) {
      case '{':
      case '[':
        open_.push_back({Append(c == '{' ? Kind::Object : Kind::Array, 0), kNone, 0});
        due_ = c == '{' ? Due::NameOrClose : Due::ValueOrClose;
        return true;
      case '"':
        if (!ReadString()) return false;
        Append(Kind::String, TextLength());
        return true;
      case 't':
      case 'n':
        if (in_.substr(start, 4) != (c == 't' ? "true" : "null")) return Fail(10, start);
        pos_ = start + 4;
        Append(c == 't' ? Kind::True : Kind::Null, 0);
        return true;
      case 'f':
        if (in_.substr(start, 4) != "fals") return Fail(10, start);
        if (start + 4 >= in_.size()) return Fail(10, in_.size());
        if (in_[start + 4] != 'e') return Fail(10, start + 5);
        pos_ = start + 5;
        Append(Kind::False, 0);
        return true;
      default:
        if (c == '-' || IsDigit(static_cast<char>(c))) {
          if (!ReadNumber(start)) return false;
          Append(Kind::Number, TextLength());
          return true;
        }
        return Fail(10, start);
    }
  }

  // The length of the text read after the name of the record begun.
  Index TextLength() const { return static_cast<Index>(tree_.chars.End() - tree_.chars.Start() - name_len_); }

  bool ReadSeparator() {
    int c = Next();
    if (InObject()) {
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
    Open o = open_.back();
    open_.pop_back();
    if (tree_.nodes[o.node].kind == Kind::Object) KeepLastOfEachName(o);
    if (o.node == 0) {
      tree_.count = o.count;
      tree_.last = o.last;
    }
    due_ = Due::CommaOrClose;
    return true;
  }

  // Reads after the opening quote up to the closing one, or to the end of
  // the text, which ends a string without an error of its own; the string
  // goes to the end of the tree's characters.
  bool ReadString() {
    Chars& out = tree_.chars;
    while (pos_ < in_.size()) {
      const std::size_t run = StringStop(in_, pos_);
      out.Append(in_.data() + pos_, run - pos_);
      pos_ = run;
      if (pos_ == in_.size()) break;
      if (in_[pos_++] == '"') return true;
      if (pos_ == in_.size()) break;
      char e = in_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out.Push(e);
          break;
        case 'b':
          out.Push('\b');
          break;
        case 'f':
          out.Push('\f');
          break;
        case 'n':
          out.Push('\n');
          break;
        case 'r':
          out.Push('\r');
          break;
        case 't':
          out.Push('\t');
          break;
        case 'u':
          if (!ReadCodePoint(out)) return false;
          break;
        default:
          return Fail(9, pos_);
      }
    }
    return true;
  }

  // After "\u": four hex digits give a code point, written as UTF-8. A pair
  // of surrogates gives the one character they stand for; a lone surrogate,
  // which UTF-8 cannot hold, gives U+FFFD. Four bytes that are not all hex
  // digits are kept as they stand, so nothing is lost.
  bool ReadCodePoint(Chars& out) {
    if (in_.size() - pos_ < 4) return Fail(8, in_.size());
    long cp = Hex4(in_, pos_);
    if (cp < 0) {
      out.Append("\\u", 2);
      out.Append(in_.data() + pos_, 4);
      pos_ += 4;
      return true;
    }
    pos_ += 4;
    if (cp >= 0xD800 && cp <= 0xDBFF && in_.size() - pos_ >= 6 && in_[pos_] == '\\' && in_[pos_ + 1] == 'u') {
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
    tree_.chars.Append(in_.data() + start, p - start);
    pos_ = p;
    return true;
  }

  // The later member takes over the value of the earlier one of its name.
  void Absorb(Index keep, Index later) {
    Node& k = tree_.nodes[keep];
    Node& l = tree_.nodes[later];
    k.kind = l.kind;
    k.at = l.at;  // the same name, with the later value after it
    k.value = l.value;
    l.kind = Kind::Dropped;
  }

  // A name given twice keeps the place of its first member and the value of
  // its last one. Short objects compare their names one by one; longer ones
  // sort their members by the hash of their names, so that the members of
  // one name come together. The root keeps that order to find its members.
  void KeepLastOfEachName(Open& o) {
    if (o.count < 2) return;
    const Tree& t = tree_;
    const Index first = t.nodes[o.node].value;
    Index dropped = 0;
    if (o.count <= kShort) {
      Index ids[kShort];
      Index n = 0;
      for (Index c = first; c != kNone; c = t.nodes[c].next) ids[n++] = c;
      for (Index j = 1; j < n; ++j) {
        for (Index i = 0; i < j; ++i) {
          if (t.nodes[ids[i]].kind != Kind::Dropped && t.Name(t.nodes[ids[i]]) == t.Name(t.nodes[ids[j]])) {
            Absorb(ids[i], ids[j]);
            ++dropped;
            break;
          }
        }
      }
    } else {
      t.SortByName(first, o.count, keys_);
      for (std::size_t i = 0; i < keys_.size();) {
        std::size_t end = i + 1;
        while (end < keys_.size() && keys_[end] >> 32 == keys_[i] >> 32) ++end;
        // Members of one hash: each joins the first before it of its name.
        for (std::size_t j = i + 1; j < end; ++j) {
          const auto later = static_cast<Index>(keys_[j]);
          for (std::size_t e = i; e < j; ++e) {
            const auto earlier = static_cast<Index>(keys_[e]);
            if (earlier != kNone && t.Name(t.nodes[earlier]) == t.Name(t.nodes[later])) {
              Absorb(earlier, later);
              keys_[j] |= kNone;
              ++dropped;
              break;
            }
          }
        }
        i = end;
      }
    }
    if (dropped) {
      Index prev = kNone;
      for (Index c = first; c != kNone;) {
        const Index next = tree_.nodes[c].next;
        if (tree_.nodes[c].kind != Kind::Dropped) {
          prev = c;
        } else if (prev == kNone) {
          tree_.nodes[o.node].value = next;
        } else {
          tree_.nodes[prev].next = next;
        }
        c = next;
      }
      o.last = prev;
      o.count -= dropped;
    }
    if (o.node == 0 && o.count > kShort) {
      tree_.sorted = std::move(keys_);
      if (tree_.sorted.capacity() > 2 * tree_.sorted.size()) tree_.sorted.shrink_to_fit();
    }
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  Tree& tree_;
  std::vector<Open> open_;  // containers not yet closed, innermost last
  Due due_ = Due::NameOrClose;
  Index name_len_ = 0;               // of the member whose value is due, at the record begun
  std::vector<std::uint64_t> keys_;  // hash and node of an object's members
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

using json_detail::Index;
using json_detail::Kind;
using json_detail::Node;
using json_detail::Tree;

JSONItem::JSONItem() : tree_(std::make_unique<Tree>()) {}

JSONItem::JSONItem(const std::string& text) : tree_(std::make_unique<Tree>()) {
  if (json_detail::OnlyBlanks(text)) return;
  if (text.size() > json_detail::kMaxChars) json_detail::TooLarge();
  json_detail::Parser parser(text, *tree_);
  if (!parser.Run()) {
    const auto& error = parser.Error();
    std::string message = json_detail::MessageOf(error.number);
    if (error.at > 0) message += " at position " + std::to_string(error.at);
    throw JSONException(message, error.number);
  }
}

JSONItem::~JSONItem() = default;

void JSONItem::Value(const std::string& name, const std::string& value) {
  Tree& t = *tree_;
  if (t.Root().kind == Kind::Array) throw JSONException("JSONItem is an array", 13);
  const Index found = t.Find(name);
  if (found != json_detail::kNone) {
    t.SetString(found, name, value);
  } else {
    t.AddString(name, value);
  }
}

std::string JSONItem::Value(const std::string& name) const {
  const Tree& t = *tree_;
  if (t.Root().kind == Kind::Array) throw JSONException("JSONItem is an array", 13);
  const Index found = t.Find(name);
  if (found == json_detail::kNone) {
    throw KeyNotFoundException("JSONItem has no member \"" + name + "\"");
  }
  const Node& n = t.nodes[found];
  switch (n.kind) {
    case Kind::String:
    case Kind::Number:
      return std::string(t.Text(n));
    case Kind::True:
      return "true";
    case Kind::False:
      return "false";
    case Kind::Null:
      return "";
    default: {
      std::string out;
      json_detail::Write(t, found, out);
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
