#include "console/command_line.hpp"

#include "console/key_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace quibbet {
namespace {

// What a command line asks for, as one line: "run file=... tone=...",
// "help", "version", or the refusal.
std::string Outcome(const std::vector<std::string_view>& args) {
  const CommandLine line = ParseCommandLine(args);
  switch (line.action) {
    case CommandLine::Action::Help:
      return "help";
    case CommandLine::Action::Version:
      return "version";
    case CommandLine::Action::Refuse:
      return line.error;
    case CommandLine::Action::Run:
      break;
  }
  std::string out = "run";
  if (line.file) out += " file=" + *line.file;
  if (line.tone) out += " tone=" + std::to_string(*line.tone);
  if (line.render) out += " render=" + *line.render;
  if (line.seed) out += " seed=" + std::to_string(*line.seed);
  if (line.autoplay) out += " autoplay";
  return out;
}

TEST(ParseCommandLine, EachArgumentMeansWhatTheHelpSays) {
  const struct {
    std::vector<std::string_view> args;
    const char* outcome;
  } cases[] = {
      {{}, "run"},
      {{"import.txt"}, "run file=import.txt"},
      {{"--tone", "-5", "a.txt"}, "run file=a.txt tone=-5"},
      {{"a.txt", "--tone=7"}, "run file=a.txt tone=7"},
      {{"--tone", "1", "--tone", "2"}, "run tone=2"},
      {{"--tone", "-2147483648"}, "run tone=-2147483648"},
      {{"--tone=2147483647"}, "run tone=2147483647"},
      {{"-"}, "run file=-"},
      {{"--", "--tone"}, "run file=--tone"},
      {{"--render", "out.wav"}, "run render=out.wav"},
      {{"a.txt", "--render=-", "--tone", "3"}, "run file=a.txt tone=3 render=-"},
      {{"--render", "-", "-"}, "run file=- render=-"},
      {{"--render"},
       "quibbet: --render needs a file name, or - for standard output; try 'quibbet --help'"},
      {{"--render="}, "quibbet: --render needs a file name, not ''"},
      {{"-h"}, "help"},
      {{"a.txt", "--help", "--bogus"}, "help"},
      {{"--version"}, "version"},
      {{"--bogus", "--help"}, "quibbet: unknown option '--bogus'; try 'quibbet --help'"},
      {{"-x"}, "quibbet: unknown option '-x'; try 'quibbet --help'"},
      {{"--tones=3"}, "quibbet: unknown option '--tones=3'; try 'quibbet --help'"},
      {{"--tone"}, "quibbet: --tone needs a number; try 'quibbet --help'"},
      {{"--tone", "2147483648"},
       "quibbet: --tone expects a whole number from -2147483648 to 2147483647, not '2147483648'"},
      {{"--tone="},
       "quibbet: --tone expects a whole number from -2147483648 to 2147483647, not ''"},
      {{"--tone", "1.5"},
       "quibbet: --tone expects a whole number from -2147483648 to 2147483647, not '1.5'"},
      {{"--tone", "+3"},
       "quibbet: --tone expects a whole number from -2147483648 to 2147483647, not '+3'"},
      {{"--seed", "0", "--autoplay"}, "run seed=0 autoplay"},
      {{"--seed=18446744073709551615"}, "run seed=18446744073709551615"},
      {{"--seed"}, "quibbet: --seed needs a number; try 'quibbet --help'"},
      {{"--seed", "-1"},
       "quibbet: --seed expects a whole number from 0 to 18446744073709551615, not '-1'"},
      {{"a.txt", "b.txt"},
       "quibbet: one FILE at most, but got 'a.txt' and 'b.txt'; try 'quibbet --help'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Outcome(c.args), c.outcome) << testing::PrintToString(c.args);
  }
}

// The words of a list of keys, as the help and the README write them:
// "Space, F5", "Space or F5", "A / S / D".
std::vector<std::string> KeyNames(const std::string& list) {
  std::vector<std::string> names;
  std::istringstream words(list);
  for (std::string word; words >> word;) {
    std::erase(word, ',');
    if (word != "/" && word != "or") names.push_back(word);
  }
  return names;
}

// The help lists every key of the table with its text, and the README's key
// table names the same keys with what they do, so neither can drift from the
// table unnoticed.
TEST(HelpText, ListsEveryKeyOfTheTableAsTheReadmesKeyTableDoes) {
  std::ifstream readme(QUIBBET_README);
  ASSERT_TRUE(readme) << QUIBBET_README;
  std::map<std::string, std::string> readme_action;  // by key name
  bool in_keys = false;
  for (std::string row; std::getline(readme, row);) {
    if (row.starts_with("## ")) in_keys = row == "## Keys";
    if (!in_keys || !row.starts_with("| ") || row.starts_with("| Key") || row.starts_with("|---"))
      continue;
    const std::size_t bar = row.find(" | ");
    std::string action = row.substr(bar + 3);
    action = action.substr(0, action.rfind(" |"));
    std::erase(action, '`');
    for (const std::string& name : KeyNames(row.substr(2, bar - 2))) readme_action[name] = action;
  }
  const std::string help = HelpText();
  for (const KeyRow& row : kKeyTable) {
    const KeyRow& first =
        RowOf(*FindKey([&](const KeyRow& r) { return r.help_line == row.help_line; }));
    const std::size_t text = help.find(std::string(first.help) + "\n");
    ASSERT_NE(text, std::string::npos) << row.name;
    const std::size_t line = help.rfind('\n', text) + 1;
    const std::vector<std::string> keys = KeyNames(help.substr(line, text - line));
    EXPECT_NE(std::find(keys.begin(), keys.end(), row.name), keys.end()) << row.name;
    EXPECT_TRUE(readme_action.contains(row.name)) << row.name << " is not in the README";
    EXPECT_NE(std::string(first.help).find(readme_action[row.name]), std::string::npos) << row.name;
  }
  EXPECT_EQ(readme_action.size(), kKeyCount) << "the README names a key the program does not have";
}

}  // namespace
}  // namespace quibbet
