#include "option_error.h"

#include "engine/untrusted/printable_text.h"

#include <boost/program_options/cmdline.hpp>

#include <cstdio>
#include <iterator>
#include <map>
#include <set>
#include <utility>

namespace tools {

namespace po = boost::program_options;

namespace {

using Values = std::map<std::string, std::string>;

// Reads what an error keeps for its message. The members are protected;
// pointers to them, formed in a derived class, reach them in any error.
class ErrorReader : public po::error_with_option_name {
public:
    static Values Of(const po::error_with_option_name& failure)
    {
        Values values = failure.*(&ErrorReader::m_substitutions);
        values["canonical_option"] = failure.get_option_name();
        values["prefix"] = (failure.*(&ErrorReader::get_canonical_option_prefix))();
        return values;
    }

    // What to replace in the template, by placeholder, when that placeholder has no value.
    static const std::map<std::string, std::pair<std::string, std::string>>& Defaults(
        const po::error_with_option_name& failure)
    {
        return failure.*(&ErrorReader::m_substitution_defaults);
    }

    static int Style(const po::error_with_option_name& failure) { return failure.*(&ErrorReader::m_option_style); }
};

// Every occurrence of `from` in `text` replaced by `to`, in one pass: what
// `to` brings in is never searched again.
std::string ReplacedOnce(const std::string& text, const std::string& from, const std::string& to)
{
    std::string result;
    std::size_t at = 0;
    for (std::size_t found; !from.empty() && (found = text.find(from, at)) != std::string::npos;) {
        result.append(text, at, found - at).append(to);
        at = found + from.size();
    }
    return result.append(text, at);
}

// "%name%" replaced by the value of name, where there is one, in one pass.
std::string Filled(const std::string& layout, const Values& values)
{
    std::string text;
    for (std::size_t at = 0; at < layout.size();) {
        const std::size_t close = layout[at] == '%' ? layout.find('%', at + 1) : std::string::npos;
        const auto value =
            close == std::string::npos ? values.end() : values.find(layout.substr(at + 1, close - at - 1));
        if (value == values.end()) {
            text += layout[at++];
            continue;
        }
        text += value->second;
        at = close + 1;
    }
    return text;
}

// Boost's list of the long options an abbreviation matches:
// "... and matches '--a', '--b', and '--c'".
std::string WithAlternatives(const po::ambiguous_option& failure, std::string layout)
{
    const int style = ErrorReader::Style(failure);
    const std::set<std::string> alternatives(failure.alternatives().begin(), failure.alternatives().end());
    if (style == po::command_line_style::allow_dash_for_short ||
        style == po::command_line_style::allow_slash_for_short || alternatives.empty()) {
        return layout;
    }
    layout += " and matches ";
    for (auto alternative = alternatives.begin(); alternative != alternatives.end(); ++alternative) {
        if (alternative != alternatives.begin()) {
            layout += std::next(alternative) == alternatives.end() ? ", and " : ", ";
        }
        layout += "'%prefix%" + *alternative + "'";
    }
    return layout;
}

}  // namespace

std::string OptionErrorText(const po::error& failure)
{
    const auto* named = dynamic_cast<const po::error_with_option_name*>(&failure);
    // The others have a fixed text.
    if (named == nullptr) return printable::LineText(failure.what());

    const Values values = ErrorReader::Of(*named);
    std::string layout = named->m_error_template;
    if (const auto* ambiguous = dynamic_cast<const po::ambiguous_option*>(named)) {
        layout = WithAlternatives(*ambiguous, layout);
    }
    for (const auto& [name, replacement] : ErrorReader::Defaults(*named)) {
        const auto value = values.find(name);
        if (value == values.end() || value->second.empty()) {
            layout = ReplacedOnce(layout, replacement.first, replacement.second);
        }
    }
    return printable::LineText(Filled(layout, values));
}

int ReportOptionError(const char* program, const std::string& message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, printable::LineText(message).c_str(), program);
    return 2;
}

}  // namespace tools
