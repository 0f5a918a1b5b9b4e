#pragma once
// The simulator's own encoder of the PDUs a network delivers to a mobile: SMS-DELIVER
// (7-bit, UCS2 or 8-bit data, numeric or alphanumeric sender, concatenated parts with
// 8- or 16-bit references) and SMS-STATUS-REPORT, laid out as in 3GPP TS 23.040.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace modemsim {

enum class Coding { Auto, Gsm7, Ucs2, Octets };

struct DeliverOptions {
    std::string from = "+491701234567";  // numeric sender; '+' makes it international
    std::string alpha;                   // alphanumeric sender; wins over `from` when set
    Coding coding = Coding::Auto;        // Auto: 7-bit when the GSM alphabet has every character
    int messageClass = -1;               // 0..3, or -1 for none
    std::string timestamp = "261207093000+04";  // YYMMDDhhmmss and the zone in quarter hours
    int reference = 1;                   // concatenation reference
    int refBits = 8;                     // 8 or 16
    int partLength = 0;                  // most units per part (septets, UTF-16 units, octets); 0: no cap
    std::string smsc = "+491710760000";  // service-centre address in front of the TPDU; empty: "00"
    std::string text;                    // UTF-8
};

struct ReportOptions {
    int reference = 0;                   // TP-MR of the submitted message
    std::string recipient = "+491701234567";
    std::string timestamp = "261207093000+04";
    std::string discharge;               // empty: the same as timestamp
    int status = 0;                      // TP-ST
    std::string smsc = "+491710760000";
};

struct EncodedPdu {
    std::string hex;   // service-centre address and TPDU
    int tpduLength;    // octets without the service-centre address, as AT+CMGR / +CMT show it
};

struct EncodeResult {
    std::vector<EncodedPdu> pdus;
    std::string error;  // empty on success
};

EncodeResult EncodeDeliver(const DeliverOptions& options);
EncodeResult EncodeStatusReport(const ReportOptions& options);

// Semi-octet address field (length in digits, type of number, digits); nothing when the
// number holds a character other than digits, '*', '#', a, b, c (after an optional '+').
std::optional<std::vector<uint8_t>> EncodeAddress(const std::string& number);
// Alphanumeric address field (type 0xD0, GSM 7-bit packed); nothing when a character is
// missing from the GSM alphabet or the name is longer than 11 characters.
std::optional<std::vector<uint8_t>> EncodeAlphaAddress(const std::string& utf8Name);
// Service-centre address (length in octets); "00" for an empty number.
std::optional<std::vector<uint8_t>> EncodeScAddress(const std::string& number);
// YYMMDDhhmmss followed by +zz or -zz (quarter hours) as seven semi-octet pairs.
std::optional<std::vector<uint8_t>> EncodeTimestamp(const std::string& text);

// Octets of the service-centre part at the start of a PDU given to AT+CMGS / AT+CMGW
// (its length octet plus that many), or nothing when the PDU is too short for it.
std::optional<size_t> ScAddressOctets(const std::vector<uint8_t>& pdu);

}  // namespace modemsim
