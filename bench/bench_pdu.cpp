// Speed of the SMS PDU codec: encoding and decoding one message.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "Samples.h"
#include "pdu/SmsPdu.h"

namespace {

void Encode(benchmark::State& state, const std::string& text, int kind) {
    CSmsPdu pdu;
    pdu.m_strPhone = "+4915112345678";
    pdu.m_nKind = kind;
    for (auto _ : state) {
        pdu.m_strText = text;
        const int rc = kind == KIND_LONG ? pdu.EncodeLong() : pdu.EncodeText();
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(pdu.m_pdusOut.data());
    }
    // Items are PDUs: a long text makes several.
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * pdu.m_nSegmentCount);
}

// An SMS-DELIVER from +4915112345678 with the given DCS, TP-UDL and user data.
std::string Deliver(int dcs, std::size_t udl, const std::string& ud) {
    static const char hex[] = "0123456789ABCDEF";
    // Service centre, first octet, originator and TP-PID; the DCS follows.
    std::string pdu = "07919471060040F3" "04" "0D91945111325476F8" "00";
    pdu += hex[dcs >> 4];
    pdu += hex[dcs & 15];
    pdu += "62011291541140";
    pdu += hex[udl >> 4];
    pdu += hex[udl & 15];
    return pdu + ud;
}

void DecodePdu(benchmark::State& state, const std::string& hex) {
    CSmsPdu pdu;
    pdu.m_strPduIn = hex;
    for (auto _ : state) {
        const int rc = pdu.Decode();
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(pdu.m_strText.data());
    }
}

void BM_EncodeText_Gsm7_160(benchmark::State& state) { Encode(state, GSM7_160, KIND_TEXT); }
void BM_EncodeText_Ucs2_70(benchmark::State& state) { Encode(state, UCS2_70, KIND_TEXT); }
void BM_EncodeLong_1000(benchmark::State& state) { Encode(state, LATIN_1000, KIND_LONG); }

void BM_Decode_Gsm7_160(benchmark::State& state) {
    const CSmsPdu codec;
    DecodePdu(state, Deliver(0x00, 160, codec.PackSeptets(GSM7_160)));
}

void BM_Decode_Ucs2_70(benchmark::State& state) {
    const CSmsPdu codec;
    DecodePdu(state, Deliver(0x08, 140, codec.TextToUcs2Hex(UCS2_70)));
}

}  // namespace

BENCHMARK(BM_EncodeText_Gsm7_160);
BENCHMARK(BM_EncodeText_Ucs2_70);
BENCHMARK(BM_EncodeLong_1000);
BENCHMARK(BM_Decode_Gsm7_160);
BENCHMARK(BM_Decode_Ucs2_70);
