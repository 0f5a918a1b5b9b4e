#include "PduEncoder.h"

#include <cctype>

#include "Gsm7.h"

namespace modemsim {

namespace {

// First-octet bits of the delivered TPDUs.
constexpr uint8_t MTI_DELIVER = 0x00;
constexpr uint8_t MTI_STATUS_REPORT = 0x02;
constexpr uint8_t TP_MMS = 0x04;   // set: no more messages waiting
constexpr uint8_t TP_UDHI = 0x40;  // user data begins with a header

constexpr uint8_t TOA_INTERNATIONAL = 0x91;
constexpr uint8_t TOA_NATIONAL = 0x81;
constexpr uint8_t TOA_ALPHANUMERIC = 0xD0;

constexpr uint8_t DCS_GSM7 = 0x00;
constexpr uint8_t DCS_OCTETS = 0x04;
constexpr uint8_t DCS_UCS2 = 0x08;
constexpr uint8_t DCS_HAS_CLASS = 0x10;

constexpr uint8_t IEI_CONCAT_8 = 0x00;
constexpr uint8_t IEI_CONCAT_16 = 0x08;

constexpr int USER_DATA_OCTETS = 140;

std::optional<std::vector<uint8_t>> SemiOctets(const std::string& digits) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        auto value = [](char ch) -> int {
            if (ch >= '0' && ch <= '9') return ch - '0';
            switch (std::tolower(static_cast<unsigned char>(ch))) {
            case '*': return 0xA;
            case '#': return 0xB;
            case 'a': return 0xC;
            case 'b': return 0xD;
            case 'c': return 0xE;
            default: return -1;
            }
        };
        const int lo = value(digits[i]);
        const int hi = i + 1 < digits.size() ? value(digits[i + 1]) : 0xF;
        if (lo < 0 || hi < 0)
            return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return out;
}

// One character in the chosen coding: its units and how many units it counts for.
struct Unit {
    std::vector<uint8_t> octets;  // septets (7-bit) or octets (UCS2 big-endian, 8-bit)
    int size;                     // septets, UTF-16 code units, or octets
};

std::vector<Unit> Units(const std::vector<char32_t>& text, Coding coding) {
    std::vector<Unit> out;
    for (char32_t c : text) {
        Unit u;
        if (coding == Coding::Gsm7) {
            u.octets = *GsmSeptets(c);
            u.size = static_cast<int>(u.octets.size());
        } else if (coding == Coding::Ucs2) {
            for (uint16_t w : Utf16Units(c)) {
                u.octets.push_back(static_cast<uint8_t>(w >> 8));
                u.octets.push_back(static_cast<uint8_t>(w & 0xFF));
            }
            u.size = static_cast<int>(u.octets.size() / 2);
        } else {
            const std::string bytes = EncodeUtf8({c});
            u.octets.assign(bytes.begin(), bytes.end());
            u.size = static_cast<int>(u.octets.size());
        }
        out.push_back(std::move(u));
    }
    return out;
}

// Units that fit in the user data after a header of `headerOctets` (0: no header).
int Capacity(Coding coding, int headerOctets) {
    switch (coding) {
    case Coding::Gsm7: return (USER_DATA_OCTETS - headerOctets) * 8 / 7;
    case Coding::Ucs2: return (USER_DATA_OCTETS - headerOctets) / 2;
    default: return USER_DATA_OCTETS - headerOctets;
    }
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& from) {
    to.insert(to.end(), from.begin(), from.end());
}

EncodedPdu Finish(const std::vector<uint8_t>& sca, const std::vector<uint8_t>& tpdu) {
    std::vector<uint8_t> all = sca;
    Append(all, tpdu);
    return {ToHex(all), static_cast<int>(tpdu.size())};
}

}  // namespace

std::optional<std::vector<uint8_t>> EncodeAddress(const std::string& number) {
    const bool international = !number.empty() && number[0] == '+';
    const std::string digits = international ? number.substr(1) : number;
    if (digits.empty() || digits.size() > 20)
        return std::nullopt;
    auto semi = SemiOctets(digits);
    if (!semi)
        return std::nullopt;
    std::vector<uint8_t> out{static_cast<uint8_t>(digits.size()),
                             international ? TOA_INTERNATIONAL : TOA_NATIONAL};
    Append(out, *semi);
    return out;
}

std::optional<std::vector<uint8_t>> EncodeAlphaAddress(const std::string& utf8Name) {
    const auto text = DecodeUtf8(utf8Name);
    std::vector<uint8_t> septets;
    for (char32_t c : text) {
        auto s = GsmSeptets(c);
        if (!s)
            return std::nullopt;
        Append(septets, *s);
    }
    if (septets.empty() || septets.size() > 11)
        return std::nullopt;
    const auto packed = PackSeptets(septets);
    // The length counts the useful semi-octets of the packed name.
    const int semiOctets = static_cast<int>((septets.size() * 7 + 3) / 4);
    std::vector<uint8_t> out{static_cast<uint8_t>(semiOctets), TOA_ALPHANUMERIC};
    Append(out, packed);
    return out;
}

std::optional<std::vector<uint8_t>> EncodeScAddress(const std::string& number) {
    if (number.empty())
        return std::vector<uint8_t>{0x00};
    auto address = EncodeAddress(number);
    if (!address)
        return std::nullopt;
    // Same fields as a TP address, but the length counts the octets after it.
    (*address)[0] = static_cast<uint8_t>(address->size() - 1);
    return address;
}

std::optional<std::vector<uint8_t>> EncodeTimestamp(const std::string& text) {
    if (text.size() != 15 || (text[12] != '+' && text[12] != '-'))
        return std::nullopt;
    for (size_t i = 0; i < 15; ++i) {
        if (i != 12 && !std::isdigit(static_cast<unsigned char>(text[i])))
            return std::nullopt;
    }
    std::vector<uint8_t> out;
    for (size_t i = 0; i < 12; i += 2)
        out.push_back(static_cast<uint8_t>((text[i + 1] - '0') << 4 | (text[i] - '0')));
    const int tens = text[13] - '0';
    const int ones = text[14] - '0';
    // Bit 3 of the tens semi-octet carries the sign of the zone.
    const int sign = text[12] == '-' ? 0x08 : 0x00;
    out.push_back(static_cast<uint8_t>(ones << 4 | tens | sign));
    return out;
}

std::optional<size_t> ScAddressOctets(const std::vector<uint8_t>& pdu) {
    if (pdu.empty())
        return std::nullopt;
    const size_t n = 1 + pdu[0];
    if (n > pdu.size())
        return std::nullopt;
    return n;
}

EncodeResult EncodeDeliver(const DeliverOptions& options) {
    EncodeResult result;
    const auto sca = EncodeScAddress(options.smsc);
    if (!sca)
        return {{}, "bad service-centre number"};
    const auto sender = options.alpha.empty() ? EncodeAddress(options.from)
                                              : EncodeAlphaAddress(options.alpha);
    if (!sender)
        return {{}, "bad sender"};
    const auto scts = EncodeTimestamp(options.timestamp);
    if (!scts)
        return {{}, "bad time stamp"};
    if (options.refBits != 8 && options.refBits != 16)
        return {{}, "reference bits must be 8 or 16"};
    if (options.messageClass > 3)
        return {{}, "bad message class"};

    const auto text = DecodeUtf8(options.text);
    Coding coding = options.coding;
    if (coding == Coding::Auto)
        coding = FitsGsmAlphabet(text) ? Coding::Gsm7 : Coding::Ucs2;
    if (coding == Coding::Gsm7 && !FitsGsmAlphabet(text))
        return {{}, "text has characters outside the GSM alphabet"};

    const auto units = Units(text, coding);
    int total = 0;
    for (const auto& u : units)
        total += u.size;

    auto capped = [&](int capacity) {
        return options.partLength > 0 && options.partLength < capacity ? options.partLength : capacity;
    };
    const int headerOctets = options.refBits == 8 ? 6 : 7;
    const bool concatenated = total > capped(Capacity(coding, 0));
    const int capacity = concatenated ? capped(Capacity(coding, headerOctets)) : capped(Capacity(coding, 0));

    // Greedy split that never separates an escape pair or a surrogate pair.
    std::vector<std::vector<const Unit*>> parts(1);
    int used = 0;
    for (const auto& u : units) {
        if (u.size > capacity)
            return {{}, "part length too small for a character"};
        if (used + u.size > capacity) {
            parts.emplace_back();
            used = 0;
        }
        parts.back().push_back(&u);
        used += u.size;
    }
    if (parts.size() > 255)
        return {{}, "more than 255 parts"};

    uint8_t dcs = coding == Coding::Gsm7 ? DCS_GSM7 : coding == Coding::Ucs2 ? DCS_UCS2 : DCS_OCTETS;
    if (options.messageClass >= 0)
        dcs |= static_cast<uint8_t>(DCS_HAS_CLASS | options.messageClass);

    for (size_t p = 0; p < parts.size(); ++p) {
        std::vector<uint8_t> header;
        if (concatenated) {
            if (options.refBits == 8) {
                header = {0x05, IEI_CONCAT_8, 0x03, static_cast<uint8_t>(options.reference & 0xFF)};
            } else {
                header = {0x06, IEI_CONCAT_16, 0x04, static_cast<uint8_t>((options.reference >> 8) & 0xFF),
                          static_cast<uint8_t>(options.reference & 0xFF)};
            }
            header.push_back(static_cast<uint8_t>(parts.size()));
            header.push_back(static_cast<uint8_t>(p + 1));
        }
        std::vector<uint8_t> body;
        int length = 0;  // TP-UDL: septets for 7-bit, octets otherwise
        if (coding == Coding::Gsm7) {
            std::vector<uint8_t> septets;
            for (const Unit* u : parts[p])
                Append(septets, u->octets);
            const int headerBits = static_cast<int>(header.size()) * 8;
            const int fill = (7 - headerBits % 7) % 7;
            body = header;
            Append(body, PackSeptets(septets, fill));
            length = (headerBits + fill) / 7 + static_cast<int>(septets.size());
        } else {
            body = header;
            for (const Unit* u : parts[p])
                Append(body, u->octets);
            length = static_cast<int>(body.size());
        }
        std::vector<uint8_t> tpdu{static_cast<uint8_t>(MTI_DELIVER | TP_MMS | (concatenated ? TP_UDHI : 0))};
        Append(tpdu, *sender);
        tpdu.push_back(0x00);  // TP-PID
        tpdu.push_back(dcs);
        Append(tpdu, *scts);
        tpdu.push_back(static_cast<uint8_t>(length));
        Append(tpdu, body);
        result.pdus.push_back(Finish(*sca, tpdu));
    }
    return result;
}

EncodeResult EncodeStatusReport(const ReportOptions& options) {
    const auto sca = EncodeScAddress(options.smsc);
    if (!sca)
        return {{}, "bad service-centre number"};
    const auto recipient = EncodeAddress(options.recipient);
    if (!recipient)
        return {{}, "bad recipient"};
    const auto scts = EncodeTimestamp(options.timestamp);
    const auto dt = EncodeTimestamp(options.discharge.empty() ? options.timestamp : options.discharge);
    if (!scts || !dt)
        return {{}, "bad time stamp"};
    if (options.reference < 0 || options.reference > 255 || options.status < 0 || options.status > 255)
        return {{}, "reference and status must be 0..255"};
    std::vector<uint8_t> tpdu{static_cast<uint8_t>(MTI_STATUS_REPORT | TP_MMS),
                              static_cast<uint8_t>(options.reference)};
    Append(tpdu, *recipient);
    Append(tpdu, *scts);
    Append(tpdu, *dt);
    tpdu.push_back(static_cast<uint8_t>(options.status));
    return {{Finish(*sca, tpdu)}, {}};
}

}  // namespace modemsim
