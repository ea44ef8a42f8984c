// The approved set, its file and the state directory it is kept in.
#include "plant/approved_set.h"

#include "plant/utc_time.h"
#include "platform/files/textfile.h"
#include "platform/json/json.h"
#include "platform/report/fingerprint.h"
#include "platform/text.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace plant {

namespace {

constexpr int kFormat = 1;
// An approved set takes a few hundred bytes; anything far beyond is no such file.
constexpr std::size_t kFileLimit = 64 * 1024;

constexpr std::string_view kMembers[] = {"format",      "words",  "firmware",
                                         "fingerprint", "stored", "by"};

std::string FingerprintOf(const std::array<std::uint16_t, 16> &words) {
    std::uint16_t plain[kFingerprintWords];
    std::copy(words.begin(), words.end(), plain);
    return ParameterFingerprint(plain);
}

// The one write of the file; a shared safe writer of the platform can take its place here.
int WriteWhole(const std::string &path, const std::string &text) {
    return ReplaceTextFile(path.c_str(), text);
}

std::string UnknownMember(const json::Value &object) {
    for (const auto &[name, value] : object.members) {
        bool known = false;
        for (std::string_view member : kMembers)
            known = known || name == member;
        if (!known)
            return name;
    }
    return {};
}

bool ReadWords(const json::Value *value, std::array<std::uint16_t, 16> &words) {
    if (!value || !value->IsArray() || value->items.size() != words.size())
        return false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        long long word = 0;
        if (!value->items[i].WholeNumber(0, 0xFFFF, word))
            return false;
        words[i] = static_cast<std::uint16_t>(word);
    }
    return true;
}

// The member of that name when it is a string.
const std::string *Text(const json::Value &object, std::string_view name) {
    const json::Value *value = object.Find(name);
    return value && value->IsString() ? &value->text : nullptr;
}

std::string CheckSet(const json::Value &object, ApprovedSet &set) {
    long long format               = 0;
    const json::Value *formatValue = object.Find("format");
    const std::string *firmware    = Text(object, "firmware"),
                      *fingerprint = Text(object, "fingerprint"), *stored = Text(object, "stored"),
                      *by = Text(object, "by");
    if (!object.IsObject())
        return "it is not a JSON object";
    if (const std::string unknown = UnknownMember(object); !unknown.empty())
        return "it holds a member \"" + unknown + "\" that an approved set has not";
    if (!formatValue || !formatValue->WholeNumber(kFormat, kFormat, format))
        return "its format is not 1";
    if (!ReadWords(object.Find("words"), set.words))
        return "its words are not sixteen numbers from 0 to 65535";
    if (!firmware || !fingerprint || !stored || !by)
        return "firmware, fingerprint, stored and by are not all texts";
    if (*fingerprint != FingerprintOf(set.words))
        return "its fingerprint is not that of its words";
    if (!ParseIsoUtc(*stored, set.storedMs))
        return "its time of storing '" + *stored + "' is not UTC in ISO 8601 with milliseconds";
    set.firmware    = *firmware;
    set.fingerprint = *fingerprint;
    set.by          = *by;
    return {};
}

} // namespace

ApprovedSet MakeApprovedSet(const std::array<std::uint16_t, 16> &words, const std::string &firmware,
                            const std::string &by) {
    ApprovedSet set;
    set.words       = words;
    set.firmware    = ValidUtf8(firmware);
    set.fingerprint = FingerprintOf(words);
    set.storedMs    = NowUnixMs();
    set.by          = ValidUtf8(by);
    return set;
}

std::string Described(const ApprovedSet &set) {
    return "fingerprint " + set.fingerprint.substr(0, 16) + "..., firmware \"" +
           PrintableText(set.firmware) + "\", stored " + IsoUtc(set.storedMs) + " by " + set.by;
}

bool SameFirmware(const ApprovedSet &set, const std::string &firmware) {
    return set.firmware == ValidUtf8(firmware);
}

std::string ApprovedSetText(const ApprovedSet &set) {
    std::string words;
    for (const std::uint16_t word : set.words)
        words += (words.empty() ? "" : ", ") + std::to_string(word);
    return "{\n  \"format\": " + std::to_string(kFormat) + ",\n  \"words\": [" + words +
           "],\n  \"firmware\": " + JsonString(set.firmware) +
           ",\n  \"fingerprint\": " + JsonString(set.fingerprint) +
           ",\n  \"stored\": " + JsonString(IsoUtc(set.storedMs)) +
           ",\n  \"by\": " + JsonString(set.by) + "\n}\n";
}

bool ParseApprovedSet(std::string_view text, ApprovedSet &set, std::string &error) {
    json::Value value;
    if (!json::Parse(text, value, error))
        return false;
    ApprovedSet read;
    error = CheckSet(value, read);
    if (!error.empty())
        return false;
    set = read;
    return true;
}

bool ReadApprovedSet(const std::string &path, std::optional<ApprovedSet> &set, std::string &error) {
    std::string text;
    const int result = ReadTextFile(path.c_str(), text, kFileLimit);
    set.reset();
    if (result == -ENOENT)
        return true;
    if (result < 0) {
        error = path + ": cannot be read: " + std::strerror(-result);
        return false;
    }
    ApprovedSet read;
    if (!ParseApprovedSet(text, read, error)) {
        error = path + ": refused, " + error;
        return false;
    }
    set = read;
    return true;
}

bool WriteApprovedSet(const std::string &path, const ApprovedSet &set, std::string &error) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    int result               = folder.empty() ? 0 : MakeFolder(folder.c_str());
    if (result == 0)
        result = WriteWhole(path, ApprovedSetText(set));
    if (result == 0)
        return true;
    error = path + ": cannot be written: " + std::strerror(-result);
    return false;
}

std::string DefaultStateDir(const char *stateDirectory, const std::string &dataFolder,
                            const std::string &name) {
    const std::string given = stateDirectory ? stateDirectory : "";
    if (!given.empty())
        return given.substr(0, given.find(':'));
    return FileIn(FileIn(dataFolder, "lines"), name.c_str());
}

std::string FileIn(const std::string &folder, const char *file) {
    if (folder.empty() || folder.back() == '/')
        return folder + file;
    return folder + "/" + file;
}

} // namespace plant
