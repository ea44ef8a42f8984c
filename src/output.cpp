// Tables and JSON of the command results.
#include "output.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>

namespace output {

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

std::string JsonArray(const std::vector<std::string> &elements) {
    std::string text;
    for (const std::string &element : elements)
        text += (text.empty() ? "" : ", ") + element;
    return "[" + text + "]";
}

std::string JsonWords(const Words &words) {
    JsonObject object;
    for (int i = 0; i < com232::PNUM; ++i)
        object.Add(NameOf(i), std::to_string(words[i]));
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

std::string JsonText(const json::Value &value, const std::vector<std::string> &without) {
    switch (value.kind) {
    case json::Kind::Null:
        return "null";
    case json::Kind::Bool:
        return value.boolean ? "true" : "false";
    case json::Kind::Number: {
        char number[32];
        const auto written = std::to_chars(number, number + sizeof number, value.number);
        return std::string(number, written.ptr);
    }
    case json::Kind::String:
        return JsonString(value.text);
    case json::Kind::Array: {
        std::vector<std::string> items;
        for (const json::Value &item : value.items)
            items.push_back(JsonText(item));
        return JsonArray(items);
    }
    case json::Kind::Object:
        break;
    }
    JsonObject object;
    for (const auto &[key, member] : value.members)
        if (std::find(without.begin(), without.end(), key) == without.end())
            object.Add(key, JsonText(member));
    return object.Text();
}

std::string WordTable(const Words &words) {
    std::string text;
    char line[64];
    for (int i = 0; i < com232::PNUM; ++i) {
        std::snprintf(line, sizeof line, "%2d  %-10s %5u\n", i, NameOf(i), words[i]);
        text += line;
    }
    return text;
}

} // namespace output
