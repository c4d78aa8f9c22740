#pragma once

#include <string>

#include "service/companies.h"
#include "service/ready_answers.h"

namespace tertulia {

// A company's chat password has at least this many characters.
inline constexpr std::size_t kMinPasswordLength = 8;

// Registers a company whose chat password is `password`, typed as UTF-8. The console hashes the
// Windows-1252 bytes of what the operator types, so the password must be text that
// Windows-1252 holds, of at least kMinPasswordLength characters. Throws std::runtime_error
// with a Spanish message otherwise, or when the code is taken.
void RegisterCompany(Companies& companies, const std::string& code, const std::string& password);

// Gives the company a new password under the same rules and ends its sessions. Throws
// std::runtime_error with a Spanish message when there is no such company.
void ChangePassword(Companies& companies, const std::string& code, const std::string& password);

// A ready answer's text has at most this many characters, line breaks included.
inline constexpr std::size_t kMaxReadyAnswer = 2000;

// A ready answer's shortcut in lower case: 1 to 30 letters (a-z, either case), digits or "-".
// Throws std::runtime_error with a Spanish message otherwise.
std::string ReadyAnswerShortcut(const std::string& shortcut);

// A ready answer's text as it is stored, from UTF-8 input: its line breaks ("\r\n", "\r" or
// "\n") become "\n", those at its end go, and each line is stored as the service stores lines.
// Throws std::runtime_error with a Spanish message when it is not UTF-8, is empty, holds a
// control character or is longer than kMaxReadyAnswer.
std::string ReadyAnswerText(const std::string& input);

// Stores the answer (its shortcut and text as the two above give them), replacing one with the
// same shortcut. Throws std::runtime_error with a Spanish message when there is no such company.
void AddReadyAnswer(ReadyAnswers& answers, const std::string& code, const std::string& shortcut,
                    const std::string& text);
// Throws std::runtime_error with a Spanish message when there is no such company or answer.
void RemoveReadyAnswer(ReadyAnswers& answers, const std::string& code, const std::string& shortcut);

// Registers "demo" with the password "demo" unless it exists; true when it did. Several
// services starting at once on one database agree on a single demo company.
bool EnsureDemoCompany(Companies& companies);

}  // namespace tertulia
