#include "layout/layout_document.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "format/bytes.h"
#include "layout/free_blocks_pool.h"

namespace vornel {

namespace {

using Json = nlohmann::json;

// The key under which each object of the document keeps the line it begins
// on; no key of the listing starts with a control character.
const char* const kLineKey = "\x01line";
constexpr std::size_t kMaxName = 32;
constexpr int kMaxAvatars = 8;

// Reads the text for the parser one character at a time and counts the line
// feeds it has passed, so that the parser's callback knows its line.
class LineCountingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  LineCountingIterator(const char* at, int* line) : at_(at), line_(line) {}
  reference operator*() const { return *at_; }
  LineCountingIterator& operator++() {
    if (*at_ == '\n') ++*line_;
    ++at_;
    return *this;
  }
  LineCountingIterator operator++(int) {
    LineCountingIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const LineCountingIterator& other) const { return at_ == other.at_; }

 private:
  const char* at_;
  int* line_;
};

// Thrown inside the reader only: the first thing the document lacks.
struct Unexpected {
  int line;
  std::string expected;
};

int lineOf(const Json& object) { return object.is_object() ? object.value(kLineKey, 0) : 0; }

[[noreturn]] void expect(const Json& where, const std::string& what) { throw Unexpected{lineOf(where), what}; }

const Json& member(const Json& object, const char* key, const std::string& what) {
  const auto found = object.find(key);
  if (found == object.end()) expect(object, "\"" + std::string(key) + "\": " + what);
  return *found;
}

std::int64_t integer(const Json& object, const char* key, std::int64_t low, std::int64_t high,
                     const std::string& what) {
  const Json& value = member(object, key, what);
  const bool fits = value.is_number_integer() &&
                    !(value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(high)) &&
                    value.get<std::int64_t>() >= low && value.get<std::int64_t>() <= high;
  if (!fits) expect(object, "\"" + std::string(key) + "\": " + what);
  return value.get<std::int64_t>();
}

// A string of the listing: every character from U+0000 to U+00FF stands for
// one byte. The parser hands it over as UTF-8.
std::string bytes(const Json& object, const char* key, std::size_t maxBytes, const std::string& what) {
  const Json& value = member(object, key, what);
  if (!value.is_string()) expect(object, "\"" + std::string(key) + "\": " + what);
  const std::string& utf8 = value.get_ref<const std::string&>();
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
      out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
    } else {
      expect(object, "\"" + std::string(key) + "\": " + what + " (characters U+0000 to U+00FF, one per byte)");
    }
  }
  if (out.size() > maxBytes) expect(object, "\"" + std::string(key) + "\": " + what);
  return out;
}

std::vector<std::int32_t> avatarList(const Json& object, const char* key, std::size_t low, const std::string& what) {
  const Json& value = member(object, key, what);
  if (!value.is_array() || value.size() < low || value.size() > kMaxAvatars) expect(object, what);
  std::vector<std::int32_t> avatars;
  for (const Json& avatar : value) {
    // Any 32-bit value: an empty file's avatar is -1, and it holds no block.
    const bool fits = avatar.is_number_unsigned()  ? avatar.get<std::uint64_t>() <= INT32_MAX
                      : avatar.is_number_integer() ? avatar.get<std::int64_t>() >= INT32_MIN
                                                   : false;
    if (!fits) expect(object, what);
    avatars.push_back(static_cast<std::int32_t>(avatar.get<std::int64_t>()));
  }
  return avatars;
}

const std::string kIdRange = "an id from 1 to " + std::to_string(kMaxLayoutId);

class Checker {
 public:
  explicit Checker(LayoutDocument& document) : d_(document), claimedBy_(kPoolSize, 0) {}

  void run(const Json& top) {
    if (!top.is_object()) expect(top, "an object with \"label\" and \"entries\", as vornel-inspect --json writes it");
    const Json& label = member(top, "label", "the disc label's fields");
    if (!label.is_object()) expect(top, "\"label\": an object");
    d_.labelLine = lineOf(label);
    d_.volumeLabel = bytes(label, "volumeLabel", 32, "a text of at most 32 bytes");
    d_.volumeComment = bytes(label, "volumeComment", 32, "a text of at most 32 bytes");
    d_.volumeFlags = static_cast<std::uint8_t>(integer(label, "volumeFlags", 0, 255, "a number from 0 to 255"));
    d_.volumeId = static_cast<std::int32_t>(integer(label, "volumeId", 1, kMaxLayoutId, kIdRange));
    d_.rootId = static_cast<std::int32_t>(integer(label, "rootId", 1, kMaxLayoutId, kIdRange));
    d_.rootAvatars = avatarList(label, "rootAvatars", 1, "\"rootAvatars\": 1 to 8 block numbers");
    claimId(d_.volumeId, label);
    claimId(d_.rootId, label);
    claim(label, 0, 1);
    claim(label, 225, 1);

    const Json& entries = member(top, "entries", "the directories and files in stored order");
    if (!entries.is_array() || entries.empty()) expect(top, "\"entries\": a list that begins with the root \"/\"");
    for (const Json& e : entries) entry(e);
    for (const std::int32_t avatar : d_.rootAvatars) claim(label, avatar, d_.entries[0].blockCount);
  }

 private:
  void entry(const Json& e) {
    if (!e.is_object()) expect(e, "an entry object");
    LayoutEntry out;
    out.line = lineOf(e);
    out.path = bytes(e, "path", std::numeric_limits<std::size_t>::max(), "the entry's path, \"/\" or \"/a/b\"");
    const Json& kind = member(e, "kind", "\"file\" or \"directory\"");
    if (kind != "file" && kind != "directory") expect(e, "\"kind\": \"file\" or \"directory\"");
    out.directory = kind == "directory";
    out.id = static_cast<std::int32_t>(integer(e, "id", 1, kMaxLayoutId, kIdRange));
    const std::string type = bytes(e, "type", 4, "a type of 4 bytes");
    if (type.size() != 4) expect(e, "\"type\": a type of 4 bytes");
    std::copy(type.begin(), type.end(), out.type.begin());
    out.blockCount = integer(e, "blockCount", out.directory ? 1 : 0, kPoolSize, "a block count inside the disc");
    out.avatars = avatarList(e, "avatars", 0, "\"avatars\": at most 8 block numbers");
    checkPath(e, out);
    if (d_.entries.empty()) {
      // The root: its id and avatars are the label's.
      if (out.id != d_.rootId) expect(e, "the root's id, " + std::to_string(d_.rootId) + " as in the label");
    } else {
      claimId(out.id, e);
      for (const std::int32_t avatar : out.avatars) claim(e, avatar, out.blockCount);
    }
    d_.entries.push_back(std::move(out));
  }

  // The root comes first; every other path names a new entry of a directory
  // listed before it.
  void checkPath(const Json& e, const LayoutEntry& out) {
    const std::string folded = foldName(out.path);
    if (d_.entries.empty()) {
      if (out.path != "/" || !out.directory) expect(e, "the root directory, \"/\", as the first entry");
      directories_.insert(folded);
      return;
    }
    const std::size_t slash = out.path.rfind('/');
    const std::string name = out.path.substr(slash + 1);
    if (out.path.empty() || out.path[0] != '/' || name.empty() || name.size() > kMaxName ||
        name.find('\0') != std::string::npos) {
      expect(e, "\"path\": \"/\" and names of 1 to 32 bytes, separated by \"/\"");
    }
    const std::string parent = slash == 0 ? "/" : folded.substr(0, slash);
    if (directories_.count(parent) == 0) expect(e, "a path in a directory listed before it");
    if (!paths_.insert(folded).second || directories_.count(folded) != 0) {
      expect(e, "a path not listed before (names are compared as the disc compares them)");
    }
    if (out.directory) directories_.insert(folded);
  }

  void claimId(std::int32_t id, const Json& where) {
    if (!ids_.insert(id).second) expect(where, "an id of its own; " + std::to_string(id) + " is listed before");
  }

  // The blocks of one copy: inside the disc and claimed by nothing else.
  void claim(const Json& where, std::int64_t first, std::int64_t count) {
    if (count == 0) return;
    if (first < 0 || first + count > kPoolSize) {
      expect(where, "avatars inside the disc: " + std::to_string(count) + " blocks from block " +
                        std::to_string(first) + " pass its last block, " + std::to_string(kPoolSize - 1));
    }
    for (std::int64_t b = first; b < first + count; ++b) {
      int& by = claimedBy_[static_cast<std::size_t>(b)];
      if (by != 0) {
        expect(where, "blocks that nothing else holds: block " + std::to_string(b) + " is held by line " +
                          std::to_string(by) + " too");
      }
      by = std::max(lineOf(where), 1);
    }
  }

  LayoutDocument& d_;
  std::unordered_set<std::string> directories_, paths_;  // folded
  std::unordered_set<std::int32_t> ids_;
  std::vector<int> claimedBy_;  // per block: the line that holds it, 0 when free
};

}  // namespace

std::int32_t LayoutDocument::highestId() const {
  std::int32_t highest = std::max(volumeId, rootId);
  for (const LayoutEntry& e : entries) highest = std::max(highest, e.id);
  return highest;
}

LayoutError readLayoutDocument(std::string_view text, LayoutDocument& document) {
  document = {};
  int line = 1;
  std::vector<int> starts;
  // Each object keeps the line of its opening brace.
  const Json::parser_callback_t keepLines = [&](int, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::object_start) starts.push_back(line);
    if (event == Json::parse_event_t::object_end) {
      parsed[kLineKey] = starts.back();
      starts.pop_back();
    }
    return true;
  };
  Json top;
  try {
    top = Json::parse(LineCountingIterator(text.data(), &line),
                      LineCountingIterator(text.data() + text.size(), &line), keepLines);
  } catch (const Json::parse_error& e) {
    const std::size_t at = std::min<std::size_t>(e.byte, text.size());
    const std::string what = e.what();
    const std::size_t words = what.find("] ");
    return {static_cast<int>(1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n')),
            "valid JSON", words == std::string::npos ? what : what.substr(words + 2)};
  } catch (const Json::exception& e) {
    // A number too large for any type ("1e99999"): the parse stopped on
    // the line it had come to.
    const std::string what = e.what();
    const std::size_t words = what.find("] ");
    return {line, "valid JSON", words == std::string::npos ? what : what.substr(words + 2)};
  }
  try {
    Checker(document).run(top);
  } catch (const Unexpected& u) {
    document = {};
    return {std::max(u.line, 1), u.expected, {}};
  }
  return {};
}

}  // namespace vornel
