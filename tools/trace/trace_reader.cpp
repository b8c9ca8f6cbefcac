// SPDX-License-Identifier: MIT
#include "trace_reader.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <forward_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vu30::trace {
namespace {

// Bytes read from the source at a time. A line read where it lies in the
// chunk is then no longer than a line may be.
constexpr std::size_t kChunkBytes = 64 * 1024;
static_assert(kChunkBytes <= kMaxLineBytes);
// Dropped lines of the file's first form say neither channel nor time: the
// losses are taken to lie around the records written before the line.
constexpr double kUnsaidSpanBeforeUs = 1e6;
constexpr double kUnsaidSpanAfterUs = 5e4;

// A value of a flat JSON object: what the trace's lines hold. Its text is
// the line's own, or the decoded copy the fields keep when it had escapes.
struct Value {
  enum class Kind { String, Number, Bool, Null } kind = Kind::Null;
  std::string_view text;
  double number = 0;
  bool boolean = false;
};

// The most fields a line may have; the trace's lines have far fewer.
constexpr std::size_t kMaxFields = 64;

// The keys the reader looks at. A line's other keys are only checked for
// being there once.
constexpr std::array<std::string_view, 40> kKeys = {"address",
                                                    "awaited",
                                                    "channel",
                                                    "count",
                                                    "count_after",
                                                    "dropped",
                                                    "dropped_not_listed",
                                                    "dur",
                                                    "entry",
                                                    "error",
                                                    "fault",
                                                    "file",
                                                    "format",
                                                    "from",
                                                    "length",
                                                    "library",
                                                    "message",
                                                    "mode",
                                                    "post",
                                                    "reason",
                                                    "records",
                                                    "reply",
                                                    "reply_length",
                                                    "reply_unchecked",
                                                    "request",
                                                    "request_length",
                                                    "result",
                                                    "rotated",
                                                    "settings",
                                                    "start",
                                                    "status",
                                                    "t",
                                                    "thread",
                                                    "to",
                                                    "trace",
                                                    "type",
                                                    "value",
                                                    "verdict",
                                                    "version",
                                                    "write_error"};

// A key's slot in a table of 128, one for each known key.
constexpr std::size_t KeySlot(std::string_view key) {
  return (key.size() + static_cast<unsigned char>(key.front()) * 11u +
          static_cast<unsigned char>(key.back()) * 9u) &
         127u;
}

constexpr std::array<uint8_t, 128> MakeKeySlots() {
  std::array<uint8_t, 128> slots{};
  slots.fill(UINT8_MAX);
  for (std::size_t k = 0; k < kKeys.size(); ++k) {
    if (slots[KeySlot(kKeys[k])] != UINT8_MAX) throw "two keys share a slot";
    slots[KeySlot(kKeys[k])] = static_cast<uint8_t>(k);
  }
  return slots;
}
constexpr std::array<uint8_t, 128> kKeySlots = MakeKeySlots();

// Whether n bytes (at most 24) at a and b are the same. Short: compared in
// place rather than through a call, by words that may overlap where the
// length is not a multiple of theirs.
[[gnu::always_inline]] inline bool SameShortBytes(const char* a, const char* b, std::size_t n) {
  const auto same = [a, b]<typename Word>(Word, std::size_t at) {
    Word x{};
    Word y{};
    std::memcpy(&x, a + at, sizeof x);
    std::memcpy(&y, b + at, sizeof y);
    return x == y;
  };
  if (n >= 8) {
    return same(uint64_t{}, 0) && same(uint64_t{}, n - 8) && (n <= 16 || same(uint64_t{}, 8));
  }
  if (n >= 4) return same(uint32_t{}, 0) && same(uint32_t{}, n - 4);
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// The index of a known key in kKeys; kKeys.size() for any other.
inline std::size_t KeyIndex(std::string_view key) {
  if (key.empty()) return kKeys.size();
  const uint8_t k = kKeySlots[KeySlot(key)];
  if (k == UINT8_MAX || kKeys[k].size() != key.size()) return kKeys.size();
  return SameShortBytes(kKeys[k].data(), key.data(), key.size()) ? k : kKeys.size();
}

// A key the reader asks for by name: found among kKeys when compiled.
struct Key {
  consteval Key(const char* name) : index(0) {
    const std::string_view n(name);
    while (index < kKeys.size() && kKeys[index] != n) ++index;
    if (index == kKeys.size()) throw "not a key the reader knows";
  }
  std::size_t index;
};

// A known key as a line writes it, from its opening quote to the colon
// ("thread":), to be compared in place. Each is 4 to 24 bytes.
struct QuotedKey {
  std::array<char, 24> text{};
  std::size_t size = 0;
};
constexpr std::array<QuotedKey, kKeys.size()> kQuotedKeys = [] {
  std::array<QuotedKey, kKeys.size()> quoted{};
  for (std::size_t k = 0; k < kKeys.size(); ++k) {
    QuotedKey& q = quoted[k];
    if (kKeys[k].size() + 3 > q.text.size()) throw "a key too long to compare in place";
    q.text[q.size++] = '"';
    for (char c : kKeys[k]) q.text[q.size++] = c;
    q.text[q.size++] = '"';
    q.text[q.size++] = ':';
  }
  return quoted;
}();

// Where a line's keys are, for the guess of the next: the object's start,
// and after a key the reader does not know.
constexpr std::size_t kAtStart = kKeys.size();
constexpr std::size_t kAfterOther = kKeys.size() + 1;

}  // namespace

// A line's fields, held in place and reused line after line: the known
// keys' values by key, the other keys by name.
struct LineFields {
  std::array<Value, kKeys.size()> known;
  uint64_t present = 0;  // a bit per known key
  // The two keys that came after each the last times (kKeys.size() for
  // none), the latest first: the writer writes an entry's keys in one order,
  // and after a key entries differ in at most two ways, so a guess is nearly
  // always right. It is checked in place before a key is read in full.
  std::array<std::array<uint8_t, 2>, kKeys.size() + 2> nextKeys = [] {
    std::array<std::array<uint8_t, 2>, kKeys.size() + 2> none{};
    for (auto& keys : none) keys.fill(static_cast<uint8_t>(kKeys.size()));
    return none;
  }();
  std::array<std::string_view, kMaxFields> others;
  std::size_t otherCount = 0;
  std::size_t size = 0;
  std::forward_list<std::string> decoded;  // strings that had escapes

  void Clear() {
    present = 0;
    otherCount = 0;
    size = 0;
    decoded.clear();
  }
  // False when the key is there already. k: the key's index in kKeys, or
  // kKeys.size() for a key the reader does not know.
  bool Add(std::size_t k, std::string_view key, const Value& v) {
    if (k < kKeys.size()) {
      if ((present >> k) & 1) return false;
      present |= uint64_t{1} << k;
      known[k] = v;
      return true;
    }
    for (std::size_t i = 0; i < otherCount; ++i) {
      if (others[i] == key) return false;
    }
    if (otherCount < others.size()) others[otherCount++] = key;
    return true;
  }
};
namespace {

using Fields = LineFields;
static_assert(kKeys.size() <= 64, "a bit per known key");

// The bytes a string holds as they are: not its end, an escape or a control.
constexpr std::array<bool, 256> kPlainInString = [] {
  std::array<bool, 256> plain{};
  for (std::size_t c = 0x20; c < plain.size(); ++c) plain[c] = c != '"' && c != '\\';
  return plain;
}();

// Parses one line: a JSON object whose values are strings, numbers, true,
// false or null. Throws std::invalid_argument with what is wrong. The line
// must be followed by a byte that ends a string's plain bytes and a number
// (a newline or a NUL, as NextLine leaves it): the loops over a string's or a
// number's bytes stop there without a bound of their own.
class LineParser {
 public:
  LineParser(std::string_view s, Fields& fields) : s_(s), fields_(fields) { fields_.Clear(); }

  void Object() {
    Fields& fields = fields_;
    Skip();
    Expect('{');
    Skip();
    if (Peek() == '}') {
      ++i_;
    } else {
      std::size_t previous = kAtStart;
      for (;;) {
        Skip();
        std::size_t k = GuessedKey(previous);
        std::string_view key;
        if (k == kKeys.size()) {
          key = String();
          Skip();
          Expect(':');
          k = KeyIndex(key);
          LearnKey(previous, k);
        }
        previous = k < kKeys.size() ? k : kAfterOther;
        Skip();
        const Value v = Parse();
        if (!fields.Add(k, key, v)) Fail("a field appears twice");
        if (fields.size == kMaxFields) Fail("more fields than a trace line has");
        ++fields.size;
        Skip();
        if (Peek() == ',') {
          ++i_;
          continue;
        }
        Expect('}');
        break;
      }
    }
    Skip();
    if (i_ != s_.size()) Fail("text after the object");
  }

  // The line as the writer writes it, read without the checks for what it
  // never writes: no spaces, no escapes, no null, only known keys, each
  // once. Its length, or 0 at anything else, with the fields part filled:
  // Object then reads the line again from its start and says what is wrong,
  // if anything. The text may go on after the line, past a newline: the
  // line is then read without its end being sought first.
  [[gnu::always_inline]] std::size_t Written() {
    Fields& fields = fields_;
    const std::size_t n = s_.size();
    if (n < 2 || s_[0] != '{' || s_[1] == '}') return 0;
    i_ = 1;
    uint64_t present = 0;
    std::size_t count = 0;
    std::size_t previous = kAtStart;
    for (;;) {
      std::size_t k = GuessedKey(previous);
      if (k == kKeys.size()) [[unlikely]] {
        k = WrittenKey();
        if (k == kKeys.size()) return 0;
        LearnKey(previous, k);
      }
      if ((present >> k) & 1) return 0;
      present |= uint64_t{1} << k;
      ++count;
      previous = k;
      if (!PlainValue(fields.known[k]) || i_ == n) return 0;
      if (s_[i_] == ',') {
        ++i_;
        continue;
      }
      if (s_[i_] != '}' || (i_ + 1 != n && s_[i_ + 1] != '\n')) return 0;
      fields.present = present;
      fields.size = count;
      return i_ + 1;
    }
  }

 private:
  // The key at the reading place when it is one of the two guessed after
  // previous, read with its colon; else kKeys.size(), nothing read.
  [[gnu::always_inline]] std::size_t GuessedKey(std::size_t previous) {
    for (const uint8_t k : fields_.nextKeys[previous]) {
      if (k < kKeys.size() && QuotedKeyAt(kQuotedKeys[k], i_)) {
        i_ += kQuotedKeys[k].size;
        return k;
      }
    }
    return kKeys.size();
  }
  // A key read in full after previous becomes its first guess.
  void LearnKey(std::size_t previous, std::size_t k) {
    auto& keys = fields_.nextKeys[previous];
    keys[1] = keys[0];
    keys[0] = static_cast<uint8_t>(k);
  }
  // A value as the writer writes it: a string without escapes, a number
  // PlainNumber reads, true or false. False for any other, with nothing of
  // the line read.
  [[gnu::always_inline]] bool PlainValue(Value& v) {
    const char c = Peek();
    if (c == '"') {
      const std::size_t from = i_ + 1;
      const std::size_t i = PlainUntil(from);
      if (i == s_.size() || s_[i] != '"') return false;
      v.kind = Value::Kind::String;
      v.text = std::string_view(s_.data() + from, i - from);
      i_ = i + 1;
      return true;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      v.kind = Value::Kind::Number;
      return PlainNumber(v.number);
    }
    if (s_.substr(i_, 4) == "true" || s_.substr(i_, 5) == "false") {
      v.kind = Value::Kind::Bool;
      v.boolean = c == 't';
      i_ += v.boolean ? 4 : 5;
      return true;
    }
    return false;
  }
  // Where the bytes from from that a string holds as they are end: at its
  // closing quote, an escape or a control. The line is followed by a byte
  // that is no such byte (see the class), so the loop needs no bound.
  // Sixteen bytes at a time where the text holds sixteen more: a record's
  // bytes are written in hex.
  std::size_t PlainUntil(std::size_t from) const {
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i control = _mm_set1_epi8(0x1F);
    for (; s_.size() - i >= 16; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s_.data() + i));
      const __m128i stop =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                       _mm_cmpeq_epi8(_mm_max_epu8(v, control), control));
      const auto found = static_cast<unsigned>(_mm_movemask_epi8(stop));
      if (found != 0) return i + static_cast<std::size_t>(std::countr_zero(found));
    }
#endif
    const char* p = s_.data() + i;
    while (kPlainInString[static_cast<unsigned char>(*p)]) ++p;
    return static_cast<std::size_t>(p - s_.data());
  }
  // A key as the writer writes it, with its colon: its index, or
  // kKeys.size() for one that is not known or not so written.
  std::size_t WrittenKey() {
    const std::size_t n = s_.size();
    if (i_ == n || s_[i_] != '"') return kKeys.size();
    const std::size_t from = i_ + 1;
    const std::size_t i = PlainUntil(from);
    if (i + 1 >= n || s_[i] != '"' || s_[i + 1] != ':') return kKeys.size();
    i_ = i + 2;
    return KeyIndex(s_.substr(from, i - from));
  }
  [[noreturn]] static void Fail(const std::string& what) { throw std::invalid_argument(what); }
  char Peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
  // Whether the line holds q at.
  [[gnu::always_inline]] bool QuotedKeyAt(const QuotedKey& q, std::size_t at) const {
    return s_.size() - at >= q.size && SameShortBytes(q.text.data(), s_.data() + at, q.size);
  }
  // The loops over the line's bytes count in a local: a member would be
  // stored at every byte, as a char may alias it.
  void Skip() {
    // The writer writes no spaces: nearly always a byte that is none.
    if (i_ < s_.size() && static_cast<unsigned char>(s_[i_]) > ' ') [[likely]]
      return;
    std::size_t i = i_;
    while (i < s_.size() && (s_[i] == ' ' || s_[i] == '\t' || s_[i] == '\r')) ++i;
    i_ = i;
  }
  void Expect(char c) {
    if (Peek() != c) [[unlikely]]
      Expected(c);
    ++i_;
  }
  [[noreturn]] [[gnu::noinline]] void Expected(char c) const {
    Fail(std::string("'") + c + "' expected at column " + std::to_string(i_ + 1));
  }
  [[gnu::always_inline]] std::string_view String() {
    Expect('"');
    // Without escapes, the line's own text.
    const std::size_t from = i_;
    const std::size_t i = PlainUntil(from);
    i_ = i;
    if (i < s_.size() && s_[i] == '"') [[likely]] {
      i_ = i + 1;
      return std::string_view(s_.data() + from, i - from);
    }
    return Escaped(from);
  }
  // The rest of a string that has escapes (or is not closed), from its
  // first byte at from: decoded into a copy the fields keep.
  [[gnu::noinline]] std::string_view Escaped(std::size_t from) {
    std::string out(s_.substr(from, i_ - from));
    while (i_ < s_.size() && s_[i_] != '"') {
      const char c = s_[i_++];
      if (static_cast<unsigned char>(c) < 0x20) Fail("a control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      const char e = Peek();
      ++i_;
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        default:
          Fail("an escape the trace does not use");
      }
    }
    Expect('"');
    fields_.decoded.push_front(std::move(out));
    return fields_.decoded.front();
  }
  Value Parse() {
    Value v;
    if (PlainValue(v)) return v;
    const char c = Peek();
    if (c == '"') {
      v.kind = Value::Kind::String;
      v.text = String();
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      v.kind = Value::Kind::Number;
      const char* begin = s_.data() + i_;
      const auto [end, ec] = std::from_chars(begin, s_.data() + s_.size(), v.number);
      if (ec != std::errc() || !std::isfinite(v.number)) Fail("a bad number");
      i_ += static_cast<std::size_t>(end - begin);
    } else if (s_.substr(i_, 4) == "null") {
      i_ += 4;
    } else {
      Fail("a value expected at column " + std::to_string(i_ + 1));
    }
    return v;
  }

  static constexpr std::array<double, 16> kTens = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  // A number as the writer writes it, [-]digits[.digits] of at most 15
  // digits in all and no exponent, read at once: the digits as a whole
  // number, exact in a double, divided by an exact power of ten, which rounds
  // as reading the decimal does (a whole number, as most of a line's are,
  // needs no division). Any other number is left to from_chars (false,
  // nothing read).
  [[gnu::always_inline]] bool PlainNumber(double& out) {
    const char* const line = s_.data();
    const char* p = line + i_;
    const bool negative = *p == '-';
    p += negative;
    const char* const whole = p;
    uint64_t m = 0;
    // Bounded by the byte after the line, which is no digit.
    while (static_cast<unsigned>(*p - '0') <= 9) m = m * 10 + static_cast<uint64_t>(*p++ - '0');
    if (p == whole) return false;
    std::size_t digits = static_cast<std::size_t>(p - whole);
    std::size_t decimals = 0;
    if (*p == '.') {
      const char* const fraction = ++p;
      while (static_cast<unsigned>(*p - '0') <= 9) m = m * 10 + static_cast<uint64_t>(*p++ - '0');
      decimals = static_cast<std::size_t>(p - fraction);
      if (decimals == 0) return false;
      digits += decimals;
    }
    if (digits > 15 || *p == 'e' || *p == 'E' || *p == '.') return false;
    // Under 2^53: exact as a signed number, which converts in one step.
    const auto exact = static_cast<double>(static_cast<int64_t>(m));
    const double v = decimals == 0 ? exact : exact / kTens[decimals];
    out = negative ? -v : v;
    i_ = static_cast<std::size_t>(p - line);
    return true;
  }

  std::string_view s_;
  Fields& fields_;
  std::size_t i_ = 0;
};

// Each byte's value as a hex digit (either case), or kNoHexDigit.
constexpr uint8_t kNoHexDigit = 0x10;
constexpr std::array<uint8_t, 256> kHexDigits = [] {
  std::array<uint8_t, 256> digits{};
  digits.fill(kNoHexDigit);
  for (int d = 0; d < 10; ++d) digits['0' + d] = static_cast<uint8_t>(d);
  for (int d = 0; d < 6; ++d) {
    digits['a' + d] = static_cast<uint8_t>(10 + d);
    digits['A' + d] = static_cast<uint8_t>(10 + d);
  }
  return digits;
}();

// Typed access to a line's fields; every miss says which field.
class Line {
 public:
  Line(const Fields& f) : f_(f) {}

  const Value* Find(Key name) const {
    if (((f_.present >> name.index) & 1) == 0) return nullptr;
    const Value& v = f_.known[name.index];
    return v.kind == Value::Kind::Null ? nullptr : &v;
  }
  std::string_view Text(Key name) const {
    const Value* v = Find(name);
    if (v == nullptr || v->kind != Value::Kind::String) Missing(name, "a string");
    return v->text;
  }
  std::optional<int64_t> OptInt(Key name, int64_t lo, int64_t hi) const {
    if (((f_.present >> name.index) & 1) == 0) return std::nullopt;
    int64_t n = 0;
    if (WholeIn(f_.known[name.index], lo, hi, n)) [[likely]]
      return n;
    return CheckedOptInt(name, lo, hi);
  }
  int64_t Int(Key name, int64_t lo, int64_t hi) const {
    int64_t n = 0;
    if (((f_.present >> name.index) & 1) != 0 && WholeIn(f_.known[name.index], lo, hi, n))
        [[likely]]
      return n;
    const auto v = CheckedOptInt(name, lo, hi);
    if (!v) Missing(name, "a whole number");
    return *v;
  }
  double Time(Key name) const {
    const Value* v = Find(name);
    if (v == nullptr || v->kind != Value::Kind::Number || v->number < 0 || v->number > 1e15) {
      Missing(name, "a time in microseconds");
    }
    return v->number;
  }
  std::optional<bool> OptBool(Key name) const {
    const Value* v = Find(name);
    if (v == nullptr) return std::nullopt;
    if (v->kind != Value::Kind::Bool) Missing(name, "true or false");
    return v->boolean;
  }
  // Whether the field is there: its bytes in hex are then read into to,
  // where the record keeps them.
  bool OptBytes(Key name, KeptBytes& to) const {
    const Value* v = Find(name);
    if (v == nullptr) return false;
    if (v->kind != Value::Kind::String || !to.ReadHex(v->text)) Missing(name, "bytes in hex");
    return true;
  }
  void Bytes(Key name, KeptBytes& to) const {
    if (!OptBytes(name, to)) Missing(name, "bytes in hex");
  }

 private:
  // Whether v is a whole number in lo..hi, as n. In range first, so that
  // the whole-number test's conversion is defined.
  static bool WholeIn(const Value& v, int64_t lo, int64_t hi, int64_t& n) {
    if (v.kind != Value::Kind::Number || !(v.number >= static_cast<double>(lo)) ||
        !(v.number <= static_cast<double>(hi))) {
      return false;
    }
    n = static_cast<int64_t>(v.number);
    return static_cast<double>(n) == v.number;
  }
  // Out of the way of the paths taken line after line: a field that is
  // there and no whole number in range, or null, or not there.
  [[gnu::noinline]] [[gnu::cold]] std::optional<int64_t> CheckedOptInt(Key name, int64_t lo,
                                                                       int64_t hi) const {
    const Value* v = Find(name);
    if (v == nullptr) return std::nullopt;
    int64_t n = 0;
    if (!WholeIn(*v, lo, hi, n)) NotInRange(name, lo, hi);
    return n;
  }
  [[noreturn]] [[gnu::noinline]] [[gnu::cold]] static void NotInRange(Key name, int64_t lo,
                                                                      int64_t hi) {
    Missing(name, "a whole number in " + std::to_string(lo) + ".." + std::to_string(hi));
  }
  [[noreturn]] [[gnu::noinline]] [[gnu::cold]] static void Missing(Key name, const char* what) {
    Missing(name, std::string(what));
  }
  [[noreturn]] [[gnu::noinline]] [[gnu::cold]] static void Missing(Key name,
                                                                   const std::string& what) {
    throw std::invalid_argument("field \"" + std::string(kKeys[name.index]) + "\" must be " + what);
  }
  const Fields& f_;
};

// A text of the file as it is kept: a long one is cut (at a character's
// start) with an ellipsis, so that what is held does not grow with it.
std::string KeptText(std::string_view text) {
  if (text.size() <= kKeptTextBytes) return std::string(text);
  std::size_t n = kKeptTextBytes;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return std::string(text.substr(0, n)) + "…";
}

// Bytes kept of something length long: all of them, or the first kKeptBytes.
[[noreturn]] [[gnu::noinline]] [[gnu::cold]] void NotKept(const KeptBytes& bytes, int length,
                                                          const char* what) {
  throw std::invalid_argument(std::string(what) + " holds " + std::to_string(bytes.size()) +
                              " bytes for a length of " + std::to_string(length));
}
void CheckKept(const KeptBytes& bytes, int length, const char* what) {
  const std::size_t expected = std::min<std::size_t>(static_cast<std::size_t>(length), kKeptBytes);
  if (bytes.size() != expected) NotKept(bytes, length, what);
}

void ReadReply(const Line& l, TraceRecord& r) {
  if (l.OptBytes("reply", r.reply)) {
    r.replyChecked = true;
    r.count = static_cast<int>(l.Int("count", 0, 255));
    r.countAfter = static_cast<int>(l.Int("count_after", 0, 255));
    r.awaited = static_cast<int>(l.Int("awaited", 0, 255));
    r.verdict = l.OptBool("verdict");
    if (!r.verdict) throw std::invalid_argument("a checked reply without its verdict");
    CheckKept(r.reply, static_cast<int>(l.OptInt("reply_length", 0, 255).value_or(r.count)),
              "the reply");
  } else {
    l.OptBytes("reply_unchecked", r.reply);
  }
  r.status = l.OptInt("status", 0, 255);
  r.error = l.OptInt("error", INT32_MIN, INT32_MAX);
}

// Read into the item's own record, which holds the line before's: each field
// is set as a new record has it first. name: the line's entry.
void ReadRecord(const Fields& fields, std::string_view name, std::size_t lineNumber,
                TraceRecord& r) {
  const Line l(fields);
  r.Clear();
  r.line = lineNumber;
  const auto entry = EntryFromName(name);
  if (!entry) throw std::invalid_argument("unknown entry \"" + std::string(name) + "\"");
  r.entry = *entry;
  r.t = l.Time("t");
  if (l.Find("dur") != nullptr) r.dur = l.Time("dur");
  r.thread = static_cast<uint32_t>(l.Int("thread", 0, UINT32_MAX));
  if (const Value* f = l.Find("fault")) {
    if (f->kind != Value::Kind::String || f->text.empty()) {
      throw std::invalid_argument("field \"fault\" must be a string");
    }
    r.fault = KeptText(f->text);
  }
  const bool faulted = !r.fault.empty();
  switch (r.entry) {
    case Entry::Transact:
      r.channel = static_cast<int>(l.Int("channel", 0, 255));
      r.address = static_cast<int>(l.Int("address", 0, 255));
      l.Bytes("request", r.request);
      r.requestLength =
          static_cast<int>(l.OptInt("request_length", 0, 255).value_or(r.request.size()));
      CheckKept(r.request, r.requestLength, "the request");
      r.type = static_cast<int>(l.Int("type", 0, 255));
      r.awaited = static_cast<int>(l.Int("awaited", 0, 255));
      if (!faulted) r.result = l.Int("result", INT32_MIN, INT32_MAX);
      ReadReply(l, r);
      break;
    case Entry::CheckReply:
      r.channel = static_cast<int>(l.Int("channel", 0, 255));
      ReadReply(l, r);
      if (!r.replyChecked) throw std::invalid_argument("a reply check without its reply");
      break;
    case Entry::RouteMessage:
      r.channel = static_cast<int>(l.Int("address", 0, 255)) - 32;
      r.address = r.channel + 32;
      l.Bytes("message", r.request);
      r.requestLength = static_cast<int>(l.OptInt("length", 0, 255).value_or(r.request.size()));
      CheckKept(r.request, r.requestLength, "the message");
      break;
    case Entry::ConfigureChannel:
      r.channel = static_cast<int>(l.Int("post", 0, 255));
      r.mode = l.Int("mode", INT32_MIN, INT32_MAX);
      r.settings = l.Int("settings", 0, UINT32_MAX);
      if (!faulted) r.result = l.Int("result", INT32_MIN, INT32_MAX);
      break;
    case Entry::SetMessageHook:
    case Entry::SetPostInit:
    case Entry::PreparePost:
      r.channel = static_cast<int>(l.Int("post", 0, 255));
      break;
    case Entry::SetReplyChecker:
      r.channel = static_cast<int>(l.Int("channel", 0, 255));
      break;
    case Entry::GetChannelError:
    case Entry::GetChannelStatus:
    case Entry::SetChannelError:
    case Entry::SetChannelStatus:
      r.channel = static_cast<int>(l.Int("channel", 0, 255));
      if (!faulted) r.value = l.Int("value", INT32_MIN, INT32_MAX);
      break;
  }
}

struct Header {
  int version = 0;
  std::string library;
  std::string start;
  std::string trace;
  uint64_t file = 0;
};

Header ReadHeader(const Fields& fields) {
  const Line l(fields);
  const Value* format = l.Find("format");
  if (format == nullptr || format->kind != Value::Kind::String || format->text != kFormatName) {
    throw std::invalid_argument("not a vu30 trace (the first line is no trace header)");
  }
  Header h;
  h.version = static_cast<int>(l.Int("version", 0, INT32_MAX));
  if (h.version != kFormatVersion) {
    throw std::invalid_argument("trace format version " + std::to_string(h.version) +
                                " is not known (this reader knows version " +
                                std::to_string(kFormatVersion) + ")");
  }
  h.library = KeptText(l.Text("library"));
  h.start = KeptText(l.Text("start"));
  // Files written before the trace named itself say neither.
  if (l.Find("trace") != nullptr) {
    h.trace = KeptText(l.Text("trace"));
    h.file = static_cast<uint64_t>(l.Int("file", 1, INT64_C(1) << 50));
  }
  return h;
}

DroppedSpan ReadDropped(const Fields& fields, std::size_t lineNumber) {
  const Line l(fields);
  DroppedSpan d;
  d.line = lineNumber;
  d.count = static_cast<uint64_t>(l.Int("count", 0, INT64_C(1) << 50));
  if (const auto channel = l.OptInt("channel", 0, 255)) d.channel = static_cast<int>(*channel);
  if (l.Find("from") != nullptr || l.Find("to") != nullptr) {
    d.fromUs = l.Time("from");
    d.toUs = l.Time("to");
    if (d.toUs < d.fromUs) throw std::invalid_argument("a dropped span that ends before it begins");
    d.spanGiven = true;
  }
  if (l.Find("reason") != nullptr) d.reason = KeptText(l.Text("reason"));
  return d;
}

}  // namespace

bool KeptBytes::ReadHex(std::string_view hex) {
  size_ = 0;
  if (hex.size() % 2 != 0 || hex.size() > 2 * kKeptBytes) return false;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const uint8_t high = kHexDigits[static_cast<unsigned char>(hex[i])];
    const uint8_t low = kHexDigits[static_cast<unsigned char>(hex[i + 1])];
    if (((high | low) & kNoHexDigit) != 0) return false;
    data_[i / 2] = static_cast<uint8_t>(high << 4 | low);
  }
  size_ = static_cast<uint8_t>(hex.size() / 2);
  return true;
}

std::size_t MemorySource::Read(char* to, std::size_t size) {
  const std::size_t n = std::min(size, bytes_.size());
  std::copy_n(bytes_.data(), n, to);
  bytes_.remove_prefix(n);
  return n;
}

FileSource::FileSource(const std::string& path) {
  errno = 0;
  file_.reset(std::fopen(path.c_str(), "rb"));
  if (!file_) {
    const int error = errno;
    throw TraceError(0,
                     "cannot open" + (error != 0 ? ": " + std::string(std::strerror(error)) : ""));
  }
}

std::size_t FileSource::Read(char* to, std::size_t size) {
  errno = 0;
  const std::size_t n = std::fread(to, 1, size, file_.get());
  if (n == 0 && std::ferror(file_.get())) {
    const int error = errno;
    throw TraceError(0,
                     "cannot read" + (error != 0 ? ": " + std::string(std::strerror(error)) : ""));
  }
  return n;
}

TraceReader::TraceReader(ByteSource& source)
    : source_(source), chunk_(kChunkBytes + 1), fields_(std::make_unique<LineFields>()) {
  bool torn = false;
  std::string_view line;
  if (!NextLine(line, torn)) throw TraceError(1, "the file is empty: not a trace");
  try {
    if (line.size() > kMaxLineBytes) throw std::invalid_argument("the line is too long");
    Fields& fields = *fields_;
    LineParser(line, fields).Object();
    const Header h = ReadHeader(fields);
    version_ = h.version;
    library_ = h.library;
    start_ = h.start;
    traceId_ = h.trace;
    fileNumber_ = h.file;
  } catch (const std::invalid_argument& e) {
    throw TraceError(1, e.what());
  }
}

TraceReader::~TraceReader() = default;

bool TraceReader::NextLine(std::string_view& line, bool& torn) {
  line_.clear();
  bool any = false;
  for (;;) {
    if (chunkPos_ == chunkEnd_) {
      if (sourceEnded_) break;
      chunkPos_ = 0;
      chunkEnd_ = source_.Read(chunk_.data(), kChunkBytes);
      chunk_[chunkEnd_] = '\0';  // where the parser's loops stop at the latest
      if (chunkEnd_ == 0) {
        sourceEnded_ = true;
        break;
      }
    }
    any = true;
    const char* from = chunk_.data() + chunkPos_;
    const auto* newline = static_cast<const char*>(std::memchr(from, '\n', chunkEnd_ - chunkPos_));
    const std::size_t n =
        newline != nullptr ? static_cast<std::size_t>(newline - from) : chunkEnd_ - chunkPos_;
    // The limit holds while the line is read: a file of one endless line
    // costs no more than a chunk beyond it. A run of NUL bytes, as a power
    // loss leaves at a file's end, is passed over: at the end it is a torn
    // line of any length.
    if (line_.size() + n > kMaxLineBytes && newline == nullptr &&
        std::all_of(from, from + n, [](char c) { return c == '\0'; })) {
      chunkPos_ += n;
      continue;
    }
    if (line_.size() + n > kMaxLineBytes) {
      throw TraceError(lineNumber_ + 1, "the line is too long (over " +
                                            std::to_string(kMaxLineBytes) +
                                            " bytes): not a trace line");
    }
    if (newline != nullptr && line_.empty()) {
      // Whole in the chunk: read where it lies.
      line = std::string_view(from, n);
      chunkPos_ += n + 1;
      ++lineNumber_;
      torn = false;
      return true;
    }
    line_.append(from, n);
    chunkPos_ += n;
    if (newline != nullptr) {
      ++chunkPos_;
      ++lineNumber_;
      line = line_;
      torn = false;
      return true;
    }
  }
  if (!any) return false;
  ++lineNumber_;
  line = line_;
  torn = true;
  return true;
}

bool TraceReader::Next(TraceItem& item) {
  for (;;) {
    if (!closed_ && chunkPos_ != chunkEnd_) {
      // A line as the writer writes it, whole in the chunk, is read where it
      // lies, its end found as it is read; any other is found first.
      const std::string_view rest(chunk_.data() + chunkPos_, chunkEnd_ - chunkPos_);
      const std::size_t n = LineParser(rest, *fields_).Written();
      if (n != 0 && n < rest.size()) {  // and its newline in the chunk too
        chunkPos_ += n + 1;
        ++lineNumber_;
        if (ReadItem({rest.data(), n}, false, item, true)) return true;
        continue;
      }
    }
    bool torn = false;
    std::string_view line;
    if (!NextLine(line, torn)) return false;
    if (ReadItem(line, torn, item)) return true;
  }
}

// One line after the header: an item (true), or the closing line or a torn
// last line (false).
bool TraceReader::ReadItem(std::string_view line, bool torn, TraceItem& item, bool parsed) {
  try {
    if (closed_) throw std::invalid_argument("a line after the closing line");
    Fields& fields = *fields_;
    if (!parsed && LineParser(line, fields).Written() == 0) LineParser(line, fields).Object();
    const Line l(fields);
    const std::string_view entry = l.Text("entry");
    if (entry == kDroppedLine) {
      item.kind = TraceItem::Kind::Dropped;
      item.dropped = ReadDropped(fields, lineNumber_);
      if (!item.dropped.spanGiven) {
        item.dropped.fromUs = std::max(lastDroppedAtUs_, latestUs_ - kUnsaidSpanBeforeUs);
        item.dropped.toUs = latestUs_ + kUnsaidSpanAfterUs;
      }
      if (item.dropped.reason.empty()) item.dropped.reason = "the writer could not keep up";
      lastDroppedAtUs_ = latestUs_;
      dropped_ += item.dropped.count;
      return true;
    }
    if (entry == kEndLine) {
      closed_ = true;
      const auto written = static_cast<uint64_t>(l.Int("records", 0, INT64_C(1) << 50));
      if (written != records_) {
        notes_.push_back("line " + std::to_string(lineNumber_) + ": the trace wrote " +
                         std::to_string(written) + " records, the file holds " +
                         std::to_string(records_));
      }
      if (l.Find("write_error") != nullptr) {
        notes_.push_back(
            "line " + std::to_string(lineNumber_) +
            ": the file could not take every record: " + std::string(l.Text("write_error")));
      }
      rotated_ = l.OptBool("rotated") == true;
      const auto dropped = static_cast<uint64_t>(l.Int("dropped", 0, INT64_C(1) << 50));
      // Losses whose dropped lines the file had no room for.
      const auto unlisted =
          static_cast<uint64_t>(l.OptInt("dropped_not_listed", 0, INT64_C(1) << 50).value_or(0));
      if (dropped != dropped_ + unlisted) {
        throw std::invalid_argument("the closing line counts " + std::to_string(dropped) +
                                    " dropped records, the dropped lines " +
                                    std::to_string(dropped_));
      }
      if (unlisted != 0) {
        notes_.push_back("line " + std::to_string(lineNumber_) + ": " + std::to_string(unlisted) +
                         " dropped records are told by the closing line alone (the file had no "
                         "room for their dropped lines)");
        dropped_ += unlisted;
      }
      return false;
    }
    item.kind = TraceItem::Kind::Record;
    ReadRecord(fields, entry, lineNumber_, item.record);
    latestUs_ = std::max(latestUs_, item.record.t);
    ++records_;
    return true;
  } catch (const std::invalid_argument& e) {
    if (!torn) throw TraceError(lineNumber_, e.what());
    notes_.push_back("line " + std::to_string(lineNumber_) +
                     ": the last line is torn (the trace was cut off); it is left out");
    return false;
  }
}

TraceFiles::TraceFiles(std::vector<std::string> paths) {
  if (paths.empty()) throw TraceError(0, "no trace file");
  if (paths.size() == 1) {
    paths_ = std::move(paths);
    Open();
  } else {
    // Each file's header first: which trace it belongs to, and where.
    struct Named {
      std::string path;
      std::string trace;
      uint64_t file;
      std::string start;
      std::size_t given;
    };
    std::vector<Named> named;
    bool allNamed = true;
    for (std::string& path : paths) {
      try {
        FileSource source(path);
        const TraceReader header(source);
        allNamed = allNamed && !header.TraceId().empty();
        named.push_back(
            {std::move(path), header.TraceId(), header.FileNumber(), header.Start(), named.size()});
      } catch (const TraceError& e) {
        notes_.push_back(path + ": " + e.what() + "; left out");
      }
    }
    if (named.empty()) throw TraceError(0, "none of the files can be read as a trace");
    if (allNamed) {
      // The latest started trace (the last named of equals); the others apart.
      const Named* chosen = &named.front();
      for (const Named& n : named) {
        if (n.start >= chosen->start) chosen = &n;
      }
      const std::string trace = chosen->trace;
      std::erase_if(named, [&](const Named& n) {
        if (n.trace == trace) return false;
        notes_.push_back(n.path + ": a file of another trace (" + n.trace + ", started " + n.start +
                         "), left out: read it with the files of its own trace");
        return true;
      });
      std::stable_sort(named.begin(), named.end(),
                       [](const Named& a, const Named& b) { return a.file < b.file; });
      for (std::size_t i = 1; i < named.size(); ++i) {
        if (named[i].file == named[i - 1].file) {
          notes_.push_back(named[i].path + ": the same file of the trace as " + named[i - 1].path +
                           ", left out");
          named.erase(named.begin() + static_cast<std::ptrdiff_t>(i--));
        } else if (named[i].file != named[i - 1].file + 1) {
          notes_.push_back("files " + std::to_string(named[i - 1].file + 1) + " to " +
                           std::to_string(named[i].file - 1) +
                           " of the trace are not among those "
                           "read (between " +
                           named[i - 1].path + " and " + named[i].path + ")");
        }
      }
    }
    for (Named& n : named) paths_.push_back(std::move(n.path));
    Open();
  }
  library_ = reader_->Library();
  start_ = reader_->Start();
}

void TraceFiles::Open() {
  reader_.reset();
  source_ = std::make_unique<FileSource>(paths_[current_]);
  reader_ = std::make_unique<TraceReader>(*source_);
}

bool TraceFiles::NextFile() {
  if (current_ + 1 >= paths_.size()) return false;
  records_ += reader_->Records();
  dropped_ += reader_->Dropped();
  for (const std::string& note : reader_->FileNotes()) notes_.push_back(Path() + ": " + note);
  if (!reader_->Closed()) notes_.push_back(Path() + ": the file was not closed");
  ++current_;
  Open();
  return true;
}

bool TraceFiles::Next(TraceItem& item) {
  for (;;) {
    try {
      if (reader_->Next(item)) return true;
    } catch (const TraceError& e) {
      // Of several files, the others are still read.
      if (paths_.size() == 1) throw;
      notes_.push_back(Path() + ": " + e.what() + "; the rest of this file is left out");
    }
    if (!NextFile()) return false;
  }
}

std::vector<std::string> TraceFiles::Notes() const {
  std::vector<std::string> notes = notes_;
  for (const std::string& note : reader_->Notes()) {
    notes.push_back(paths_.size() > 1 ? Path() + ": " + note : note);
  }
  return notes;
}

Trace ReadTrace(ByteSource& source) {
  TraceReader reader(source);
  Trace trace;
  TraceItem item;
  while (reader.Next(item)) {
    if (item.kind == TraceItem::Kind::Record) {
      trace.records.push_back(item.record);
    } else {
      trace.spans.push_back(item.dropped);
    }
  }
  trace.version = reader.Version();
  trace.library = reader.Library();
  trace.start = reader.Start();
  trace.dropped = reader.Dropped();
  trace.closed = reader.Closed();
  trace.notes = reader.Notes();
  return trace;
}

Trace ParseTrace(std::string_view text) {
  MemorySource source(text);
  return ReadTrace(source);
}

Trace ReadTraceFile(const std::string& path) {
  FileSource source(path);
  return ReadTrace(source);
}

}  // namespace vu30::trace
