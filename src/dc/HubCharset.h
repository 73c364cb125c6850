// The hub's character set and the conversions between it and UTF-8, which
// IRC servers announce and more and more enforce.
#pragma once

#include <iconv.h>
#include <string>
#include <string_view>

class HubCharset {
public:
    HubCharset();
    ~HubCharset();
    HubCharset(const HubCharset&) = delete;
    HubCharset& operator=(const HubCharset&) = delete;

    // True when iconv knows name (as "CP1251", "KOI8-R", "UTF-8").
    static bool isKnown(const std::string& name);
    // True when the set writes ASCII as ASCII, as NMDC's commands and
    // separators need (UTF-16 and EBCDIC do not).
    static bool keepsAscii(const std::string& name);
    // Uses name as the hub's set from now on; false (and nothing changes)
    // when iconv does not know it.
    bool setCharset(const std::string& name);

    // Hub text as UTF-8. Valid UTF-8 passes as it is: DC clients in UTF-8
    // locales send it even on hubs of another set. Other text is read in the
    // hub's set, or in CP1252, the protocol's original code page, when that
    // is UTF-8. What cannot be read becomes '?'.
    std::string toUtf8(std::string_view text) const;
    // Text in UTF-8 (what crosses between the sides always is) in the hub's
    // set; characters the set lacks become '?'.
    std::string toHub(std::string_view text) const;
    // True when toHub gives text back unchanged: the hub's set is UTF-8.
    bool isUtf8() const { return hubIsUtf8; }

private:
    // Converters are opened when first needed: a UTF-8 hub whose clients
    // all send UTF-8 never loads iconv's modules.
    iconv_t fromHubConverter() const;
    iconv_t intoHubConverter() const;
    void close();

    std::string charset = "UTF-8";  // the hub's set as iconv names it
    bool hubIsUtf8 = true;
    mutable iconv_t fromHub = reinterpret_cast<iconv_t>(-1);     // hub's set to UTF-8
    mutable iconv_t intoHub = reinterpret_cast<iconv_t>(-1);     // UTF-8 to the hub's set
};
