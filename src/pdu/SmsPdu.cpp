#include "pdu/SmsPdu.h"

CSmsPdu::CSmsPdu() = default;
CSmsPdu::~CSmsPdu() = default;

int CSmsPdu::ClassifyText(const std::string&) const { return ALPHABET_GSM7; }
std::string CSmsPdu::PackSeptets(const std::string&) const { return {}; }
std::string CSmsPdu::UnpackSeptets(const std::string&) const { return {}; }
std::string CSmsPdu::TextToHex8(const std::string&) const { return {}; }
std::string CSmsPdu::HexToText8(const std::string&) const { return {}; }
std::string CSmsPdu::TextToUcs2Hex(const std::string&) const { return {}; }
std::string CSmsPdu::Ucs2HexToText(const std::string&) const { return {}; }
std::string CSmsPdu::SwapSemiOctets(const std::string& digits) const { return digits; }
int CSmsPdu::BuildHeader() { return PDU_NO_ADDRESS; }
int CSmsPdu::EncodeText() { return PDU_NO_ADDRESS; }
int CSmsPdu::EncodeLong() { return PDU_NO_ADDRESS; }
int CSmsPdu::ParseFields() { return PDU_TOO_SHORT; }
int CSmsPdu::Decode() { return PDU_TOO_SHORT; }
