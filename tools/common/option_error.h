// Option errors of the tools' command lines, as one line for a person.
#pragma once

#include <boost/program_options/errors.hpp>

#include <string>

namespace tools {

// What `failure` says, with Boost's wording, formatted here: Boost 1.74's own
// what() replaces each placeholder until none is left, so a value or option
// that contains one ("%value%") keeps it busy forever. One line: what the
// command line held goes through printable::LineText.
std::string OptionErrorText(const boost::program_options::error& failure);

// Writes "PROGRAM: MESSAGE" and "Try 'PROGRAM --help'." to standard error,
// the message escaped onto its one line (escaping twice changes nothing);
// returns 2, the status of bad options.
int ReportOptionError(const char* program, const std::string& message);

}  // namespace tools
