// A search log in a fresh temporary directory for one test: armed on
// construction, switched off and removed with everything in it on destruction.
#pragma once

#include "log/search_log.h"
#include "temporary_directory.h"

#include <sstream>
#include <string>
#include <vector>

class TemporaryLog {
public:
    TemporaryLog() { OpenSearchLog(true, directory_.slashed().c_str()); }
    ~TemporaryLog() { OpenSearchLog(false, nullptr); }

    const TemporaryDirectory& directory() const { return directory_; }

    // The log file's lines, without their "*[DD::HH:MM:SS]" stamps and line ends.
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> messages;
        auto files = directory_.Files();
        if (files.empty()) return messages;
        std::istringstream content(ReadWholeFile(files.front()));
        std::string line;
        while (std::getline(content, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::string::size_type stamp = line.rfind("*[");
            messages.push_back(stamp == std::string::npos ? line : line.substr(0, stamp));
        }
        return messages;
    }

    // Index of the first message equal to `message` at or after `from`, or -1.
    int IndexOf(const std::string& message, int from = 0) const
    {
        auto messages = Messages();
        for (int index = from; index < static_cast<int>(messages.size()); ++index) {
            if (messages[index] == message) return index;
        }
        return -1;
    }

    bool Contains(const std::string& message) const { return IndexOf(message) >= 0; }

private:
    TemporaryDirectory directory_;
};
