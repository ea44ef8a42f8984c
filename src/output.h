// What a step's result prints as, on the command line and in a plant's responses: parameter
// sets as tables or JSON, JSON values, CSV as JSON.
#pragma once

#include "com232.h"
#include "parameters.h"
#include "platform/json/json.h"
#include "platform/text.h" // JsonString, PrintableText

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace output {

using Words = com232::Words;

// The name of word 0 to 15, as the parameter table gives it.
inline const char *NameOf(int word) {
    return parameters::kTable[word].name;
}

// One JSON object whose members keep the order in which they were added.
class JsonObject {
  public:
    void Add(const std::string &key, const std::string &json);
    // "key": value, ... without the braces.
    std::string Members() const;
    std::string Text() const;

  private:
    std::vector<std::pair<std::string, std::string>> members_;
};

std::string JsonArray(const std::vector<std::string> &elements);
// {"power": 500, ...}
std::string JsonWords(const Words &words);
// A CSV of the program (comment lines, a column line, rows of numbers) as the members
// "columns" and "rows".
void AddCsv(JsonObject &json, const std::string &csv);
// One CSV row of numbers as a JSON array.
std::string JsonRow(const std::string &row);

// A JSON value read from outside written back as JSON, leaving out the members named in
// without (an agent's answer without its PDF).
std::string JsonText(const json::Value &value, const std::vector<std::string> &without = {});

// " 0  power          500" for each word.
std::string WordTable(const Words &words);

} // namespace output
