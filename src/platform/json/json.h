// Reading JSON that comes from outside (a broker's payloads, a command's request): the text
// checked and turned into a plain tree of values that the modules above the platform read
// without Qt.
//
//   Parse: one document into a Value, or why not
//   Value: null, true/false, a number, a string, an array or an object; Find a member
//   EncodeBase64: bytes as a base64 string
//   DecodeBase64: the bytes of a base64 string
//
// Strings are UTF-8; a document that holds text that is not (or a lone surrogate) is
// refused, as strict readers do. Results: true, or false with the reason in plain words.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace json {

enum class Kind { Null, Bool, Number, String, Array, Object };

struct Value {
    Kind kind     = Kind::Null;
    bool boolean  = false;
    double number = 0;
    std::string text;                                   // a string
    std::vector<Value> items;                           // an array
    std::vector<std::pair<std::string, Value>> members; // an object, in the document's order

    bool IsNull() const { return kind == Kind::Null; }
    bool IsString() const { return kind == Kind::String; }
    bool IsNumber() const { return kind == Kind::Number; }
    bool IsObject() const { return kind == Kind::Object; }
    bool IsArray() const { return kind == Kind::Array; }
    // The member called key of an object; nullptr when there is none or this is no object.
    const Value *Find(std::string_view key) const;
    // A number that is a whole number from low to high, into whole; false otherwise.
    bool WholeNumber(long long low, long long high, long long &whole) const;
};

// Reads text as one JSON document into value. False with error ("not JSON at offset 17:
// missing comma") when it is not one.
bool Parse(std::string_view text, Value &value, std::string &error);
// Bytes (a report's PDF) as base64, for a string member.
std::string EncodeBase64(std::string_view bytes);
// The bytes a string member carries as base64 (a report's PDF); false, bytes untouched,
// when text is not base64.
bool DecodeBase64(std::string_view text, std::string &bytes);

} // namespace json
