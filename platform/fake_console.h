#pragma once

#include <string>
#include <string_view>

#include "platform/console.h"

namespace vornel {

// Collects the text in memory.
class StringConsole : public Console {
 public:
  void print(std::string_view text) override { text_ += text; }
  const std::string& text() const { return text_; }
  void clear() { text_.clear(); }

 private:
  std::string text_;
};

}  // namespace vornel
