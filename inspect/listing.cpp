#include "inspect/listing.h"

#include <cstdio>
#include <functional>

#include "format/bytes.h"

namespace vornel {

namespace {

struct Line {
  const std::string& path;  // escaped
  bool directory;
  std::int32_t id;
  std::string type;
  std::int64_t byteCount;
  std::int64_t blockCount;
  const std::vector<std::int32_t>* avatars;
};

// Calls `visit` for the root and every directory and file, depth first, with
// an explicit stack so that a chain of directories of any depth is fine. The
// path grows and shrinks with the walk, each name escaped once, so a line
// costs its own name and not its depth.
void walk(const ImageTree& tree, std::string (*escape)(const std::string&),
          const std::function<void(const Line&)>& visit) {
  if (!tree.usable) return;
  const ImageDirectory& root = tree.directories[0];
  std::string path = "/";
  visit({path, true, tree.label.rootDirId, "*dir", std::int64_t{root.blockCount} * 2048, root.blockCount, &root.avatars});
  struct Frame {
    int directory;
    std::size_t next;
    std::size_t pathSize;  // the directory's path, with its "/"
  };
  std::vector<Frame> stack{{0, 0, 1}};
  while (!stack.empty()) {
    Frame& f = stack.back();
    const auto& entries = tree.directories[f.directory].entries;
    if (f.next == entries.size()) {
      stack.pop_back();
      continue;
    }
    const ImageEntry& e = entries[f.next++];
    const std::uint32_t kind = e.kind();
    if (kind != entry::kKindFile && kind != entry::kKindDirectory) continue;
    path.resize(f.pathSize);
    path += escape(e.name);
    visit({path, kind == entry::kKindDirectory, e.id, std::string(e.type.data(), 4), e.byteCount, e.blockCount,
           &e.avatars});
    if (e.directory >= 0) {
      path += '/';
      stack.push_back({e.directory, 0, path.size()});  // f is not used past this point
    }
  }
}

std::string joined(const std::vector<std::int32_t>& values, const char* separator) {
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i) text += (i == 0 ? "" : separator) + std::to_string(values[i]);
  return text;
}

std::size_t directoryCount(const ImageTree& tree) { return tree.usable ? tree.directories.size() : 0; }

// The inside of a JSON string: every byte is one character, U+0000 to
// U+00FF, so any name comes out as valid JSON and the bytes can be recovered
// exactly.
std::string escapeJson(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", byte);
      out += code;
    }
  }
  return out;
}

std::string jsonString(const std::string& bytes) { return '"' + escapeJson(bytes) + '"'; }

}  // namespace

std::string escapeText(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      out += c;
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02X", byte);
      out += code;
    }
  }
  return out;
}

void listText(const ImageTree& tree, Console& out) {
  const ImageLabel& l = tree.label;
  out.print("volume label: " + escapeText(l.volumeLabel) + "\nblock count: " + std::to_string(l.blockCount) +
            "\nroot avatars: " + joined(l.rootAvatars, " ") + "\n");
  walk(tree, escapeText, [&](const Line& line) {
    char columns[256];  // the widest line: 8 avatars of 11 characters, a type of 4 escaped bytes
    std::snprintf(columns, sizeof columns, "%-9s \"%s\" %10lld %7lld %-15s ", line.directory ? "directory" : "file",
                  escapeText(line.type).c_str(), static_cast<long long>(line.byteCount),
                  static_cast<long long>(line.blockCount), joined(*line.avatars, ",").c_str());
    out.print(columns);
    out.print(line.path);
    out.print("\n");
  });
  out.print(std::to_string(directoryCount(tree)) + " directories, " + std::to_string(tree.fileCount) + " files, " +
            std::to_string(tree.blocksUsed) + " blocks used, " + std::to_string(tree.imageBytes) + " image bytes\n");
}

void listJson(const ImageTree& tree, Console& out) {
  const ImageLabel& l = tree.label;
  out.print("{\n  \"label\": {\"volumeLabel\": " + jsonString(l.volumeLabel) +
            ", \"volumeComment\": " + jsonString(l.volumeComment) +
            ", \"volumeFlags\": " + std::to_string(l.volumeFlags) + ", \"volumeId\": " + std::to_string(l.volumeId) +
            ", \"rootId\": " + std::to_string(l.rootDirId) + ", \"blockCount\": " + std::to_string(l.blockCount) +
            ", \"rootAvatars\": [" + joined(l.rootAvatars, ", ") + "]},\n  \"entries\": [");
  const char* separator = "\n";
  walk(tree, escapeJson, [&](const Line& line) {
    out.print(separator);
    out.print("    {\"path\": \"");
    out.print(line.path);
    out.print("\", \"kind\": \"" + std::string(line.directory ? "directory" : "file") +
              "\", \"id\": " + std::to_string(line.id) + ", \"type\": " + jsonString(line.type) + ", \"byteCount\": " + std::to_string(line.byteCount) +
              ", \"blockCount\": " + std::to_string(line.blockCount) + ", \"avatars\": [" +
              joined(*line.avatars, ", ") + "]}");
    separator = ",\n";
  });
  out.print("\n  ],\n  \"summary\": {\"directories\": " + std::to_string(directoryCount(tree)) +
            ", \"files\": " + std::to_string(tree.fileCount) + ", \"blocksUsed\": " +
            std::to_string(tree.blocksUsed) + ", \"imageBytes\": " + std::to_string(tree.imageBytes) +
            "},\n  \"problems\": [");
  separator = "\n";
  for (const ImageProblem& p : tree.problems) {
    out.print(separator + ("    " + jsonString(describe(p))));
    separator = ",\n";
  }
  out.print("\n  ]\n}\n");
}

}  // namespace vornel
