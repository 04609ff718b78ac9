#include "net/FetchProgram.h"

#include <charconv>

namespace pellamark {

namespace {

std::optional<long long> number(const std::string& text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

std::vector<std::string> fetchArguments(const std::string& url, const FetchOptions& options) {
    return {url,
            std::to_string(options.connectTimeout.count()),
            std::to_string(options.idleTimeout.count()),
            std::to_string(options.totalTimeout.count()),
            std::to_string(options.maxBodyBytes),
            std::to_string(options.maxRedirects),
            options.caFile};
}

std::optional<std::pair<std::string, FetchOptions>>
parseFetchArguments(const std::vector<std::string>& arguments) {
    if (arguments.size() != 7)
        return std::nullopt;
    std::optional<long long> values[5];
    for (int i = 0; i < 5; ++i)
        if (!(values[i] = number(arguments[static_cast<std::size_t>(i) + 1])) || *values[i] < 0)
            return std::nullopt;
    FetchOptions options;
    options.connectTimeout = std::chrono::milliseconds(*values[0]);
    options.idleTimeout = std::chrono::milliseconds(*values[1]);
    options.totalTimeout = std::chrono::milliseconds(*values[2]);
    options.maxBodyBytes = static_cast<std::size_t>(*values[3]);
    options.maxRedirects = static_cast<long>(*values[4]);
    options.caFile = arguments[6];
    return std::make_pair(arguments[0], std::move(options));
}

std::string encodeFetchAnswer(const FetchAnswer& answer) {
    std::string line = "page";
    if (answer.runTimeError) {
        std::string description = answer.runTimeError->second;
        for (char& c : description)
            if (c == '\n' || c == '\r')
                c = ' ';
        line = "error " + std::to_string(answer.runTimeError->first) + " " + description;
    } else if (answer.failure) {
        line = "failure " + std::to_string(static_cast<int>(*answer.failure));
    }
    return line + "\n" + answer.page;
}

std::optional<FetchAnswer> decodeFetchAnswer(const std::string& output) {
    const std::size_t end = output.find('\n');
    if (end == std::string::npos)
        return std::nullopt;
    const std::string line = output.substr(0, end);
    FetchAnswer answer;
    answer.page = output.substr(end + 1);
    if (line == "page")
        return answer;
    if (line.rfind("failure ", 0) == 0) {
        const auto kind = number(line.substr(8));
        if (!kind || *kind < 0 || *kind > static_cast<int>(FetchFailure::Other))
            return std::nullopt;
        answer.failure = static_cast<FetchFailure>(*kind);
        return answer;
    }
    if (line.rfind("error ", 0) == 0) {
        const std::size_t blank = line.find(' ', 6);
        const auto code = number(line.substr(6, blank == std::string::npos ? blank : blank - 6));
        if (!code)
            return std::nullopt;
        answer.runTimeError.emplace(static_cast<std::int32_t>(*code),
                                    blank == std::string::npos ? "" : line.substr(blank + 1));
        return answer;
    }
    return std::nullopt;
}

} // namespace pellamark
