// The author added to a finished PDF by an incremental update. Only what Qt's writer lays
// out is read: its one cross-reference table, its trailer and three of its objects.
#include "pdf_author.h"

#include <QString>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>

namespace {

using Offsets = std::map<long, std::size_t>; // object number to its byte offset

struct Trailer {
    long size = -1, info = -1, root = -1;
    std::string id; // "[ <...> <...> ]", which every trailer of a PDF/A file repeats
};

// Whitespace-separated words of the file from a byte offset on.
class Words {
  public:
    Words(std::string_view text, std::size_t at) : text_(text), at_(at) {}
    std::string_view Next() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_])))
            ++at_;
        const std::size_t start = at_;
        while (at_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[at_])))
            ++at_;
        return text_.substr(start, at_ - start);
    }

  private:
    std::string_view text_;
    std::size_t at_;
};

long ToNumber(std::string_view word) {
    if (word.empty() || word.size() > 12)
        return -1;
    long value = 0;
    for (const char c : word) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

long NumberAfter(std::string_view text, std::string_view key) {
    const std::size_t at = text.find(key);
    return at == std::string_view::npos ? -1 : ToNumber(Words(text, at + key.size()).Next());
}

bool ReadCrossReference(std::string_view pdf, std::size_t at, Offsets &offsets) {
    Words words(pdf, at);
    if (words.Next() != "xref")
        return false;
    for (std::string_view first = words.Next(); first != "trailer"; first = words.Next()) {
        const long number = ToNumber(first), count = ToNumber(words.Next());
        if (number < 0 || count < 0)
            return false;
        for (long k = 0; k < count; ++k) {
            const long offset = ToNumber(words.Next());
            words.Next();
            const std::string_view kind = words.Next();
            if (offset < 0 || (kind != "n" && kind != "f"))
                return false;
            if (kind == "n")
                offsets[number + k] = static_cast<std::size_t>(offset);
        }
    }
    return true;
}

bool ReadTrailer(std::string_view pdf, std::size_t crossReference, Trailer &trailer) {
    const std::size_t start = pdf.find("trailer", crossReference);
    const std::size_t end   = pdf.find("startxref", start);
    if (start == std::string_view::npos || end == std::string_view::npos)
        return false;
    const std::string_view text = pdf.substr(start, end - start);
    trailer.size                = NumberAfter(text, "/Size");
    trailer.info                = NumberAfter(text, "/Info");
    trailer.root                = NumberAfter(text, "/Root");
    const std::size_t id        = text.find("/ID");
    const std::size_t idEnd     = text.find(']', id);
    if (id == std::string_view::npos || idEnd == std::string_view::npos)
        return false;
    trailer.id = std::string(text.substr(id + 3, idEnd + 1 - id - 3));
    return trailer.size > 0 && trailer.info > 0 && trailer.root > 0;
}

// The text of object number from its "N 0 obj" to its "endobj"; empty when not there.
std::string_view ObjectText(std::string_view pdf, const Offsets &offsets, long number) {
    const auto found = offsets.find(number);
    if (found == offsets.end() || found->second >= pdf.size())
        return {};
    const std::string_view object = pdf.substr(found->second);
    const std::string opening     = std::to_string(number) + " 0 obj";
    const std::size_t end         = object.find("endobj");
    if (object.substr(0, opening.size()) != opening || end == std::string_view::npos)
        return {};
    return object.substr(0, end);
}

std::string Utf16HexString(const std::string &utf8) {
    std::string hex = "<FEFF";
    char unit[5];
    for (const char16_t c : QString::fromStdString(utf8).toStdU16String()) {
        std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(c));
        hex += unit;
    }
    return hex + ">";
}

std::string XmlEscaped(const std::string &text) {
    return QString::fromStdString(text).toHtmlEscaped().toStdString();
}

// The XMP packet with the author as dc:creator, or empty when it has no dc:title to
// stand beside.
std::string XmpWithCreator(std::string_view metadata, const std::string &author) {
    const std::size_t begin          = metadata.find("<?xpacket begin");
    const std::size_t endPacket      = metadata.find("<?xpacket end");
    const std::size_t end            = metadata.find("?>", endPacket);
    const std::string_view kTitleEnd = "</dc:title>";
    const std::size_t title          = metadata.find(kTitleEnd, begin);
    if (begin == std::string_view::npos || end == std::string_view::npos ||
        title == std::string_view::npos || title > endPacket)
        return {};
    std::string xmp(metadata.substr(begin, end + 2 - begin));
    xmp.insert(title - begin + kTitleEnd.size(), "\n      <dc:creator><rdf:Seq><rdf:li>" +
                                                     XmlEscaped(author) +
                                                     "</rdf:li></rdf:Seq></dc:creator>");
    return xmp;
}

std::string CrossReferenceEntry(std::size_t offset) {
    char entry[24];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    return entry;
}

} // namespace

bool AddPdfAuthor(std::string &pdf, const std::string &author) {
    const std::size_t startxref = pdf.rfind("startxref");
    if (startxref == std::string::npos)
        return false;
    const long crossReference = ToNumber(Words(pdf, startxref + 9).Next());
    Offsets offsets;
    Trailer trailer;
    if (crossReference < 0 ||
        !ReadCrossReference(pdf, static_cast<std::size_t>(crossReference), offsets) ||
        !ReadTrailer(pdf, static_cast<std::size_t>(crossReference), trailer))
        return false;
    const std::string_view info = ObjectText(pdf, offsets, trailer.info);
    const std::size_t open = info.find("<<"), close = info.rfind(">>");
    const long metadataNumber = NumberAfter(ObjectText(pdf, offsets, trailer.root), "/Metadata");
    const std::string xmp     = XmpWithCreator(ObjectText(pdf, offsets, metadataNumber), author);
    if (open == std::string_view::npos || close == std::string_view::npos || close < open ||
        xmp.empty())
        return false;

    std::string update = pdf.back() == '\n' ? "" : "\n";
    std::map<long, std::size_t> updated;
    updated[trailer.info] = pdf.size() + update.size();
    update += std::to_string(trailer.info) + " 0 obj\n<<" +
              std::string(info.substr(open + 2, close - open - 2)) + "/Author " +
              Utf16HexString(author) + "\n>>\nendobj\n";
    updated[metadataNumber] = pdf.size() + update.size();
    update += std::to_string(metadataNumber) +
              " 0 obj\n<<\n/Type /Metadata /Subtype /XML\n/Length " + std::to_string(xmp.size()) +
              "\n>>\nstream\n" + xmp + "\nendstream\nendobj\n";
    const std::size_t newCrossReference = pdf.size() + update.size();
    update += "xref\n";
    for (const auto &[number, offset] : updated)
        update += std::to_string(number) + " 1\n" + CrossReferenceEntry(offset);
    update += "trailer\n<<\n/Size " + std::to_string(trailer.size) + "\n/Info " +
              std::to_string(trailer.info) + " 0 R\n/Root " + std::to_string(trailer.root) +
              " 0 R\n/ID " + trailer.id + "\n/Prev " + std::to_string(crossReference) +
              "\n>>\nstartxref\n" + std::to_string(newCrossReference) + "\n%%EOF\n";
    pdf += update;
    return true;
}
