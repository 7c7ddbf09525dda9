#include "command_line.h"

#include "option_error.h"

#include <algorithm>
#include <sstream>

namespace tools {

namespace po = boost::program_options;

namespace {

// Stores the options; one that takes a single value and is given more than
// once (by an alias and by hand, say) keeps the last. Options that collect
// values (--device) keep them all, as Boost does.
void StoreKeepingLastValues(po::parsed_options parsed, po::variables_map& values)
{
    for (;;) {
        po::variables_map stored;
        try {
            po::store(parsed, stored);
            values = stored;
            return;
        } catch (const po::multiple_occurrences& repeated) {
            std::string name = repeated.get_option_name();
            name.erase(0, name.find_first_not_of('-'));
            auto& options = parsed.options;
            const auto last = std::find_if(options.rbegin(), options.rend(),
                                           [&](const po::option& option) { return option.string_key == name; });
            if (last == options.rend()) throw;
            const po::option kept = *last;
            options.erase(std::remove_if(options.begin(), options.end(),
                                         [&](const po::option& option) { return option.string_key == name; }),
                          options.end());
            options.push_back(kept);
        }
    }
}

}  // namespace

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
        StoreKeepingLastValues(parser.run(), values);
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
