// Tables and JSON of the command results.
#include "output.h"

#include <cstdio>
#include <sstream>

namespace ctl {

int WordOfName(const std::string &name) {
    for (int i = 0; i < com232::PNUM; ++i)
        if (name == kWordNames[i])
            return i;
    return -1;
}

void JsonObject::Add(const std::string &key, const std::string &json) {
    members_.emplace_back(key, json);
}

std::string JsonObject::Members() const {
    std::string text;
    for (const auto &[key, value] : members_)
        text += (text.empty() ? "" : ", ") + JsonString(key) + ": " + value;
    return text;
}

std::string JsonObject::Text() const {
    return "{" + Members() + "}";
}

namespace {

bool IsUtf8(const std::string &text) {
    int following = 0;
    for (const unsigned char c : text) {
        if (following > 0) {
            if ((c & 0xC0) != 0x80)
                return false;
            --following;
        } else if (c >= 0x80) {
            following = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : -1;
            if (following < 0 || c > 0xF4)
                return false;
        }
    }
    return following == 0;
}

} // namespace

std::string JsonString(const std::string &text) {
    // A controller's text is bytes that need not be UTF-8: then each byte stays one
    // character, so that a stray byte never makes the object unreadable.
    const bool utf8  = IsUtf8(text);
    std::string json = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20 || (c >= 0x80 && !utf8)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            json += escape;
        } else {
            json += static_cast<char>(c);
        }
    }
    return json + "\"";
}

std::string JsonArray(const std::vector<std::string> &elements) {
    std::string text;
    for (const std::string &element : elements)
        text += (text.empty() ? "" : ", ") + element;
    return "[" + text + "]";
}

std::string JsonWords(const Words &words) {
    JsonObject object;
    for (int i = 0; i < com232::PNUM; ++i)
        object.Add(kWordNames[i], std::to_string(words[i]));
    return object.Text();
}

std::string JsonRow(const std::string &row) {
    std::string fields = row;
    while (!fields.empty() && (fields.back() == '\n' || fields.back() == '\r'))
        fields.pop_back();
    std::string text = "[";
    for (const char c : fields)
        text += c == ',' ? std::string(", ") : std::string(1, c);
    return text + "]";
}

void AddCsv(JsonObject &json, const std::string &csv) {
    std::istringstream lines(csv);
    std::vector<std::string> columns, rows;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        if (columns.empty()) {
            std::istringstream names(line);
            for (std::string name; std::getline(names, name, ',');)
                columns.push_back(JsonString(name));
        } else {
            rows.push_back(JsonRow(line));
        }
    }
    json.Add("columns", JsonArray(columns));
    json.Add("rows", JsonArray(rows));
}

std::string WordTable(const Words &words) {
    std::string text;
    char line[64];
    for (int i = 0; i < com232::PNUM; ++i) {
        std::snprintf(line, sizeof line, "%2d  %-10s %5u\n", i, kWordNames[i], words[i]);
        text += line;
    }
    return text;
}

} // namespace ctl
