#pragma once
// quillora-cli login / bind / whoami / logout: the account road of the main
// program, driven from a terminal or a script. The sign-in is saved where the
// main program keeps it, so both share it.
#include <optional>
#include <string>
#include <vector>

namespace quillora::cli {

struct AccountCommand {
  enum class Verb { kLogin, kBind, kWhoami, kLogout };
  enum class Method { kSms, kWeChat, kQQ };
  Verb verb = Verb::kWhoami;
  Method method = Method::kSms;
  std::string mobile;          // login --sms MOBILE, bind MOBILE
  bool codeFromStdin = false;  // codes one line each from standard input, no terminal needed
  bool noBrowser = false;      // print the page address only
  bool json = false;
  int pollSeconds = 100;       // how long a browser sign-in is waited for
  bool help = false;
};

// True when args[0] names an account command.
bool IsAccountCommand(const std::vector<std::string>& args);

// Parses an account command line (args[0] is the verb). On a usage error
// returns nothing and sets `error`.
std::optional<AccountCommand> ParseAccountCommand(const std::vector<std::string>& args, std::string& error);

std::string AccountUsageText();

// Runs the command: 0 done, 1 refused or failed (the reason on standard
// error), 2 usage.
int RunAccountCommand(const AccountCommand& command);

}  // namespace quillora::cli
