#include "command_line.h"

#include "option_error.h"

#include <sstream>

namespace tools {

namespace po = boost::program_options;

CommandLineResult ReadCommandLine(int argc, const char* const* argv, const po::options_description& shown,
                                  const CommandLineTexts& texts, po::variables_map& values, std::string& message,
                                  const po::options_description* hidden,
                                  const po::positional_options_description* operands)
{
    po::options_description all;
    all.add(shown);
    if (hidden != nullptr) all.add(*hidden);
    try {
        po::command_line_parser parser(argc, argv);
        parser.options(all);
        if (operands != nullptr) parser.positional(*operands);
        po::store(parser.run(), values);
        if (values.count("help")) {
            std::ostringstream help;
            help << texts.usage << "\n" << shown << texts.details;
            message = help.str();
            return CommandLineResult::Help;
        }
        if (texts.version != nullptr && values.count("version")) {
            message = std::string(texts.version) + "\n";
            return CommandLineResult::Version;
        }
        po::notify(values);
    } catch (const po::error& failure) {
        message = OptionErrorText(failure);
        return CommandLineResult::Error;
    }
    return CommandLineResult::Run;
}

bool InRange(const char* option, long long value, long long lowest, long long highest, std::string& message)
{
    if (value >= lowest && value <= highest) return true;
    message = std::string(option) + " " + std::to_string(value) + " is outside " + std::to_string(lowest) + " to " +
              std::to_string(highest);
    return false;
}

}  // namespace tools
