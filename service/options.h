#pragma once

#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "service/http_server.h"
#include "service/visitor_api.h"

namespace tertulia {

struct HelpCommand {};

// A host (an IPv6 address without its brackets) and a port, 0 for a free one.
struct ListenAddress {
    std::string host;
    int port = 0;
};

struct ServeCommand {
    std::string host = "127.0.0.1";
    int port = 8080;
    std::optional<ListenAddress> metrics;  // --metrics-listen; none: no metrics page
    std::string database;                  // empty: the default file
    unsigned databaseTimeout = 10;         // seconds one request waits for the database
    unsigned keepDays = 30;
    unsigned ownerSilence = 120;  // see Sessions::SetOwnerSilence
    std::optional<std::string> updateFile;
    std::optional<std::string> updateVersion;
    bool demo = false;
    std::string accessLog;  // empty: none; "-": standard output
    std::set<std::string> trustedProxies;
    HttpLimits http;
    VisitorLimits visitors;
};

struct AddCompanyCommand {
    std::string code;
    std::optional<std::string> password;  // none: read from the terminal or standard input
    std::string database;                 // empty: the default file
};

struct SetPasswordCommand {
    std::string code;
    std::string database;
};

struct RemoveCompanyCommand {
    std::string code;
    std::string database;
};

// allow-site CODE ORIGIN, disallow-site CODE ORIGIN, allowed-sites CODE: the web sites whose
// pages may show the company's chat button.
struct SiteCommand {
    enum class Action { Allow, Disallow, List };
    Action action = Action::List;
    std::string code;
    std::string origin;  // as SiteOrigin gives it; empty for List
    std::string database;
};

// company-option CODE NAME=VALUE, company-options CODE: how the company's consoles share its
// conversations.
struct CompanyOptionCommand {
    std::string code;
    std::optional<bool> oneConsole;   // reparto=uno or reparto=todos; none: list the options
    std::optional<std::string> name;  // nombre=...; empty: the code again
    std::string database;
};

// company-reply CODE add SHORTCUT (the text from standard input), company-reply CODE remove
// SHORTCUT, company-replies CODE: the company's ready answers.
struct ReadyAnswerCommand {
    enum class Action { Add, Remove, List };
    Action action = Action::List;
    std::string code;
    std::string shortcut;  // lower case; empty for List
    std::string database;
};

// report CODE [--days N] [--json]: the company's figures over its last days.
struct ReportCommand {
    static constexpr unsigned kMaxDays = 3660;
    std::string code;
    unsigned days = 30;  // UTC days, today's included
    bool json = false;
    std::string database;
};

using Command = std::variant<HelpCommand, ServeCommand, AddCompanyCommand, SetPasswordCommand,
                             RemoveCompanyCommand, SiteCommand, CompanyOptionCommand,
                             ReadyAnswerCommand, ReportCommand>;

// The command line without the program name. Throws std::runtime_error with a Spanish message
// for anything it does not understand.
Command ParseCommandLine(const std::vector<std::string>& arguments);

// $XDG_DATA_HOME/tertulia/service.db, or ~/.local/share/tertulia/service.db when XDG_DATA_HOME
// is unset or not absolute. Either variable may be null.
std::string DefaultDatabasePath(const char* xdgDataHome, const char* home);

// Company codes travel unencoded in the console's URLs, so only letters, digits, ".", "_" and
// "-" are allowed, at most 60 of them.
bool ValidCompanyCode(const std::string& code);

std::string UsageText();

}  // namespace tertulia
