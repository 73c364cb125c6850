#include "dc/HubCharset.h"

#include <cctype>
#include <cerrno>

#include "translator/utf8.h"

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// "UTF-8", "utf8", "Utf_8" all name UTF-8.
bool namesUtf8(const std::string& name) {
    std::string bare;
    for (const char c : name)
        if (c != '-' && c != '_')
            bare += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return bare == "UTF8";
}

void closeConverter(iconv_t& converter) {
    if (converter != kNoConverter)
        iconv_close(converter);
    converter = kNoConverter;
}

// Without a converter (iconv could not open it), what is not ASCII cannot
// be read, so no invalid UTF-8 ever leaves.
std::string asciiOnly(std::string_view text) {
    std::string ascii(text);
    for (char& c : ascii)
        if (static_cast<unsigned char>(c) >= 0x80)
            c = '?';
    return ascii;
}

// Opens the converter from one set to another once, when first needed.
iconv_t openOnce(iconv_t& converter, const char* to, const char* from) {
    if (converter == kNoConverter)
        converter = iconv_open(to, from);
    return converter;
}

// text through converter. What it cannot read, or cannot write in the target
// set, becomes '?': one byte of a single-byte source, one character of a
// UTF-8 source.
std::string convert(iconv_t converter, std::string_view text, bool sourceIsUtf8) {
    if (converter == kNoConverter)
        return asciiOnly(text);
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string converted;
    converted.reserve(text.size() * 2);
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char chunk[4096];
    while (inLeft > 0) {
        char* out = chunk;
        std::size_t outLeft = sizeof chunk;
        const std::size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
        converted.append(chunk, static_cast<std::size_t>(out - chunk));
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        converted += '?';
        const std::size_t skip = sourceIsUtf8 ? utf8CharacterLength(std::string_view(in, inLeft)) : 1;
        in += skip;
        inLeft -= skip;
    }
    char* out = chunk;
    std::size_t outLeft = sizeof chunk;
    iconv(converter, nullptr, nullptr, &out, &outLeft);
    converted.append(chunk, static_cast<std::size_t>(out - chunk));
    return converted;
}

}  // namespace

HubCharset::HubCharset() = default;

HubCharset::~HubCharset() { close(); }

void HubCharset::close() {
    closeConverter(fromHub);
    closeConverter(intoHub);
}

bool HubCharset::isKnown(const std::string& name) {
    HubCharset probe;
    return probe.setCharset(name);
}

bool HubCharset::keepsAscii(const std::string& name) {
    HubCharset probe;
    if (!probe.setCharset(name))
        return false;
    std::string ascii;
    for (char c = ' '; c < 0x7F; ++c)
        ascii += c;
    return probe.toHub(ascii) == ascii && probe.toUtf8(ascii) == ascii;
}

// A set other than UTF-8 is opened in both directions at once, so that a
// name iconv does not know is refused here rather than with the first line.
bool HubCharset::setCharset(const std::string& name) {
    if (namesUtf8(name)) {
        close();
        charset = name;
        hubIsUtf8 = true;
        return true;
    }
    iconv_t from = iconv_open("UTF-8", name.c_str());
    iconv_t into = iconv_open(name.c_str(), "UTF-8");
    if (from == kNoConverter || into == kNoConverter) {
        closeConverter(from);
        closeConverter(into);
        return false;
    }
    close();
    fromHub = from;
    intoHub = into;
    charset = name;
    hubIsUtf8 = false;
    return true;
}

iconv_t HubCharset::fromHubConverter() const { return openOnce(fromHub, "UTF-8", charset.c_str()); }
iconv_t HubCharset::intoHubConverter() const { return openOnce(intoHub, charset.c_str(), "UTF-8"); }

std::string HubCharset::toUtf8(std::string_view text) const {
    if (hubIsUtf8) {
        std::string storage;
        return std::string(readAsUtf8(text, storage));
    }
    if (isValidUtf8(text))
        return std::string(text);
    return convert(fromHubConverter(), text, false);
}

std::string HubCharset::toHub(std::string_view text) const {
    if (hubIsUtf8)
        return std::string(text);
    return convert(intoHubConverter(), text, true);
}
