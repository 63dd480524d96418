#pragma once

#include <string>

#include "platform/console.h"
#include "tree/scanner.h"

namespace vornel {

struct BuildOptions {
  std::string sourceDir;  // always ends with the host's separator
  std::string outputPath;
  std::string volumeLabel = "CD_ROM";
  int dirAvatars = 3;
  int rootAvatars = 3;
  EntryOrder order = EntryOrder::Name;
  // The layout of an existing image to build the tree to (-layout); empty: none.
  std::string layoutPath;
  // Which of -vl, -ra and -da the command line gives: they win over a layout.
  bool volumeLabelGiven = false;
  bool rootAvatarsGiven = false;
  bool dirAvatarsGiven = false;
  // Standard output gets failure messages only (-q).
  bool quiet = false;
  // Accepted for compatibility with existing build scripts; not used.
  std::string mfValue;
  std::string rdValue;
  bool sFlag = false;
};

// What the command line asks for.
struct CommandLine {
  enum class Action {
    Build,    // options holds a complete set
    Help,     // the usage text has been printed
    Version,  // nothing more to print
    Fail,     // a bad command line; its message has been printed
  };
  Action action = Action::Fail;
  BuildOptions options;
};

// Reads the command line in order. Prints the message, its reason and the
// usage text of a bad command line, or the usage text for a help option, and
// warns of arguments that are no option; never exits. The options hold what
// was read up to where the parse ended, whatever the action. The source
// directory gets the separator appended when it does not end with it.
CommandLine parseOptions(int argc, const char* const* argv, Console& console, char separator = '/');
void printUsage(Console& console);

}  // namespace vornel
