#include <sstream>

#include <nlohmann/json.hpp>

#include "command_line.h"
#include "value.h"

namespace vcomctl {
namespace {

using Json = nlohmann::json;

ParseOutcome refusal(const std::string& error)
{
    ParseOutcome refused;
    refused.exitCode = kExitUsage;
    refused.error = error;
    return refused;
}

// {"command": NAME, "value": V} as the words of a line; "" or why not.
std::string jsonWords(const std::string& line, std::vector<std::string>* words)
{
    // A nested value is dropped while it is parsed, never built: its
    // depth is the sender's to choose.
    bool nested = false;
    const Json::parser_callback_t scalarsOnly = [&nested](int depth, Json::parse_event_t event,
                                                          Json&) {
        const bool opens =
            event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
        if (depth > 0 && opens) nested = true;
        return !nested;
    };
    const Json object = Json::parse(line, scalarsOnly, false);
    const auto field = object.is_object() ? object.find("command") : object.end();
    if (nested) return "a JSON line holds strings and numbers only, no objects or arrays";
    if (!object.is_object() || field == object.end() || !field->is_string()) {
        return "a JSON line needs {\"command\": NAME} and, for update, save and pattern, "
               "\"value\"";
    }
    words->push_back(field->get<std::string>());
    const auto value = object.find("value");
    if (value != object.end()) {
        words->push_back(value->is_string()
                             ? value->get<std::string>()
                             : value->dump(-1, ' ', false, Json::error_handler_t::replace));
    }
    return "";
}

std::string lineWords(const std::string& line, std::vector<std::string>* words)
{
    const std::string::size_type start = line.find_first_not_of(" \t\r");
    if (start != std::string::npos && line[start] == '{') {
        const std::string why = jsonWords(line, words);
        if (!why.empty()) return why;
    } else {
        std::istringstream in(line);
        for (std::string word; in >> word;) words->push_back(word);
    }
    for (const std::string& word : *words) {
        if (!word.empty() && word[0] == '-')
            return quoteText(word) + ": options go on vcomctl's command line, not into a session";
    }
    return "";
}

}  // namespace

LineRead readSessionLine(std::istream& in, std::string* line)
{
    line->clear();
    std::streambuf* const buffer = in.rdbuf();
    bool tooLong = false;
    for (;;) {
        const int c = buffer != nullptr ? buffer->sbumpc() : std::char_traits<char>::eof();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            if (line->empty() && !tooLong) return LineRead::End;
            break;
        }
        if (c == '\n') break;
        if (line->size() < kMaxSessionLine) {
            line->push_back(static_cast<char>(c));
        } else {
            tooLong = true;
        }
    }
    return tooLong ? LineRead::TooLong : LineRead::Line;
}

ParseOutcome parseSessionLine(const std::string& line)
{
    std::vector<std::string> words;
    const std::string why = lineWords(line, &words);
    if (!why.empty()) return refusal(why);
    ParseOutcome outcome = parseCommandLine(words);
    if (!outcome.run) return outcome;
    if (outcome.options.session) return refusal("a session cannot start another");
    if (outcome.options.commands.front().op == Op::Calibrate)
        return refusal("calibrate runs on vcomctl's command line, not in a session");
    return outcome;
}

}  // namespace vcomctl
