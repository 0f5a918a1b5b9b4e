// Random texts of every coding and kind survive encoding then decoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "pdu/SmsPdu.h"

namespace {

// UTF-8 characters of a pool string.
std::vector<std::string> Characters(const std::string& pool) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < pool.size();) {
        std::size_t n = 1;
        while (i + n < pool.size() && (static_cast<unsigned char>(pool[i + n]) & 0xC0) == 0x80) ++n;
        out.push_back(pool.substr(i, n));
        i += n;
    }
    return out;
}

const std::string GSM7_POOL =
    "@£$¥èéùìòÇ\nØø\rÅå_ÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§"
    "¿abcdefghijklmnopqrstuvwxyzäöñüà€{}[]~|\\^\f";
const std::string UCS2_POOL = "жЖ€{}[]~|\\^áçãõ`😀🎉中文ΩΔ\tabc ";

std::string Latin1Pool() {
    std::string pool;
    for (char32_t c = 1; c < 256; ++c) {
        if (c < 0x80) {
            pool += static_cast<char>(c);
        } else {
            pool += static_cast<char>(0xC0 | c >> 6);
            pool += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return pool;
}

struct Decoded {
    std::string text;
    std::vector<int> kinds;
    std::vector<std::string> texts;
};

// Decodes every PDU of the record, as stored SUBMITs, and joins the parts in sequence order.
Decoded DecodeAll(const CSmsPdu& sent, int storageStatus) {
    std::vector<CSmsPdu> parts;
    for (int i = 0; i < sent.m_nSegmentCount; ++i) {
        CSmsPdu pdu;
        pdu.m_strPduIn = sent.m_pdusOut[static_cast<std::size_t>(i)];
        pdu.m_nStorageStatus = storageStatus;
        EXPECT_EQ(pdu.Decode(), PDU_OK);
        EXPECT_EQ(pdu.m_strPhone, sent.m_strPhone);
        parts.push_back(pdu);
    }
    if (sent.m_nSegmentCount > 1 && parts[0].m_nConcatTotal > 0) {
        for (const auto& p : parts) {
            EXPECT_EQ(p.m_nConcatRef, parts[0].m_nConcatRef);
            EXPECT_EQ(p.m_nConcatTotal, sent.m_nSegmentCount);
        }
        std::stable_sort(parts.begin(), parts.end(),
                         [](const CSmsPdu& a, const CSmsPdu& b) { return a.m_nConcatSeq < b.m_nConcatSeq; });
    }
    Decoded d;
    for (const auto& p : parts) {
        d.text += p.m_strText;
        d.kinds.push_back(p.m_nKind);
        d.texts.push_back(p.m_strText);
    }
    return d;
}

struct Case {
    const char* name;
    int kind;
    std::string pool;
    std::string prefix;
    std::size_t maxLength;
    int decodedKind;
};

TEST(PduRoundTrip, RandomTextsComeBackUnchanged) {
    const Case cases[] = {
        {"7-bit text", KIND_TEXT, GSM7_POOL, "", 500, KIND_TEXT},
        {"UCS2 text", KIND_TEXT, UCS2_POOL, "", 250, KIND_TEXT},
        {"8-bit text", KIND_TEXT, Latin1Pool(), "L35", 400, KIND_DATA},
        {"7-bit data kind", KIND_DATA, GSM7_POOL, "", 200, KIND_TEXT},
        {"7-bit classed", KIND_CLASSED, GSM7_POOL, "", 400, KIND_CLASSED},
        {"UCS2 classed", KIND_CLASSED, UCS2_POOL, "", 200, KIND_CLASSED},
        {"8-bit classed", KIND_CLASSED, Latin1Pool(), "L35", 200, KIND_CLASSED},
        {"marked", KIND_MARKED, GSM7_POOL, "", 200, KIND_MARKED},
        {"marked with carets", KIND_MARKED, UCS2_POOL, "", 200, KIND_MARKED},
        {"long 7-bit", KIND_LONG, GSM7_POOL, "", 700, KIND_TEXT},
        {"long UCS2", KIND_LONG, UCS2_POOL, "", 400, KIND_TEXT},
        {"long 8-bit", KIND_LONG, Latin1Pool(), "L35", 500, KIND_DATA},
    };
    std::mt19937 rng(20261207);
    for (const auto& c : cases) {
        const std::vector<std::string> chars = Characters(c.pool);
        for (int round = 0; round < 25; ++round) {
            std::string text = c.prefix;
            const std::size_t length = std::uniform_int_distribution<std::size_t>(1, c.maxLength)(rng);
            for (std::size_t i = 0; i < length; ++i)
                text += chars[std::uniform_int_distribution<std::size_t>(0, chars.size() - 1)(rng)];

            CSmsPdu pdu;
            pdu.m_strPhone = round % 2 ? "+4915112345678" : "0170123456";
            pdu.m_strText = text;
            pdu.m_nKind = c.kind;
            pdu.m_bReportRequest = round % 3 == 0;
            ASSERT_EQ(c.kind == KIND_LONG ? pdu.EncodeLong() : pdu.EncodeText(), PDU_OK) << c.name;

            const Decoded back = DecodeAll(pdu, round % 2 ? 2 : 0);
            // The marked kind wraps a text without '^' in carets before sending.
            EXPECT_EQ(back.text, c.kind == KIND_MARKED ? pdu.m_strText : text) << c.name << " round " << round;
            for (std::size_t i = 0; i < back.kinds.size(); ++i) {
                // A marked message's parts are marked when they carry a caret.
                const int expected = c.kind != KIND_MARKED                         ? c.decodedKind
                                     : back.texts[i].find('^') != std::string::npos ? KIND_MARKED
                                                                                    : KIND_TEXT;
                EXPECT_EQ(back.kinds[i], expected) << c.name << " round " << round << " part " << i;
            }
        }
    }
}

}  // namespace
