// The gateway's PDU codec beside libgammu doing the same work: each decodes the same PDUs
// (hex in, UTF-8 text out) and encodes the same texts (UTF-8 in, SMS-SUBMIT hex out, split
// and concatenated by each library's own rules). Prints the CPU time per operation of both and
// the ratio (libgammu's time / ours). Run it on one core, e.g. `taskset -c 1 codec_vs_gammu`.
// Each figure is the fastest of several rounds, so that other load on the machine counts less.
#include <benchmark/benchmark.h>
#include <gammu.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Samples.h"
#include "pdu/SmsPdu.h"

namespace {

const char* const PHONE = "+4915112345678";

// An SMS-DELIVER from +4915112345678 with the given DCS, TP-UDL and user data.
std::string Deliver(int dcs, std::size_t udl, const std::string& ud) {
    char buf[8];
    std::string pdu = "07919471060040F3" "04" "0D91945111325476F8" "00";
    std::snprintf(buf, sizeof buf, "%02X", dcs);
    pdu += buf;
    pdu += "62011291541140";
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(udl));
    return pdu + buf + ud;
}

double ThreadSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Fastest time per call, in microseconds, over rounds of batches of calls.
double Fastest(const std::function<void()>& work, int rounds, int batch) {
    double best = 1e30;
    for (int r = 0; r < rounds; ++r) {
        const double start = ThreadSeconds();
        for (int i = 0; i < batch; ++i) work();
        best = std::min(best, (ThreadSeconds() - start) / batch * 1e6);
    }
    return best;
}

// --- Ours -------------------------------------------------------------------------------------

struct Ours {
    CSmsPdu pdu;

    std::size_t Decode(const std::string& hex) {
        pdu.m_strPduIn = hex;
        if (pdu.Decode() != PDU_OK) return 0;
        benchmark::DoNotOptimize(pdu.m_strText.data());
        return pdu.m_strText.size();
    }

    int Encode(const std::string& text, int kind) {
        pdu.m_strPhone = PHONE;
        pdu.m_strText = text;
        pdu.m_nKind = kind;
        const int rc = kind == KIND_LONG ? pdu.EncodeLong() : pdu.EncodeText();
        benchmark::DoNotOptimize(pdu.m_pdusOut.data());
        return rc == PDU_OK ? pdu.m_nSegmentCount : 0;
    }
};

// --- libgammu ---------------------------------------------------------------------------------

struct Gammu {
    GSM_Debug_Info* di = GSM_GetGlobalDebug();
    GSM_SMSMessage sms{};
    GSM_MultiSMSMessage multi{};
    GSM_MultiPartSMSInfo info{};
    unsigned char octets[1024];
    unsigned char unicode[4096];
    char utf8[4096];
    char hex[1024];

    std::size_t Decode(const std::string& pduHex) {
        DecodeHexBin(octets, reinterpret_cast<const unsigned char*>(pduHex.data()), pduHex.size());
        if (GSM_DecodePDUFrame(di, &sms, octets, pduHex.size() / 2, nullptr, TRUE) != ERR_NONE) return 0;
        EncodeUTF8(utf8, sms.Text);
        benchmark::DoNotOptimize(utf8);
        return std::char_traits<char>::length(utf8);
    }

    int Encode(const std::string& text, bool ucs2, bool concatenated) {
        DecodeUTF8(unicode, text.data(), text.size());
        GSM_ClearMultiPartSMSInfo(&info);
        info.EntriesNum = 1;
        info.UnicodeCoding = ucs2 ? TRUE : FALSE;
        info.Entries[0].ID = concatenated ? SMS_ConcatenatedTextLong : SMS_Text;
        info.Entries[0].Buffer = unicode;
        if (GSM_EncodeMultiPartSMS(di, &info, &multi) != ERR_NONE) return 0;
        for (int i = 0; i < multi.Number; ++i) {
            GSM_SMSMessage& part = multi.SMS[i];
            EncodeUnicode(part.Number, PHONE, std::char_traits<char>::length(PHONE));
            part.PDU = SMS_Submit;
            part.SMSC.Location = 0;
            part.SMSC.Number[0] = part.SMSC.Number[1] = 0;
            part.SMSC.Validity.Format = SMS_Validity_RelativeFormat;
            part.SMSC.Validity.Relative = SMS_VALID_1_Week;
            int length = 0;
            if (GSM_EncodeSMSFrame(di, &part, octets, PHONE_SMSSubmit, &length, TRUE) != ERR_NONE) return 0;
            EncodeHexBin(hex, octets, static_cast<std::size_t>(length));
            benchmark::DoNotOptimize(hex);
        }
        return multi.Number;
    }
};

struct Row {
    const char* name;
    std::function<double()> ours, gammu;
    double target;  // the ratio the codec must reach
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const CSmsPdu codec;
    const std::string gsm7Pdu = Deliver(0x00, 160, codec.PackSeptets(GSM7_160));
    const std::string ucs2Pdu = Deliver(0x08, 140, codec.TextToUcs2Hex(UCS2_70));

    Ours ours;
    static Gammu gammu;  // large buffers: not on the stack
    // Both must do the work for real before it is timed.
    struct Check {
        const char* what;
        std::size_t ours, gammu;
    } checks[] = {
        {"7-bit DELIVER text bytes", ours.Decode(gsm7Pdu), gammu.Decode(gsm7Pdu)},
        {"UCS2 DELIVER text bytes", ours.Decode(ucs2Pdu), gammu.Decode(ucs2Pdu)},
        {"7-bit 160 PDUs", static_cast<std::size_t>(ours.Encode(GSM7_160, KIND_TEXT)),
         static_cast<std::size_t>(gammu.Encode(GSM7_160, false, false))},
        {"UCS2 70 PDUs", static_cast<std::size_t>(ours.Encode(UCS2_70, KIND_TEXT)),
         static_cast<std::size_t>(gammu.Encode(UCS2_70, true, false))},
        {"1000-character concatenated PDUs", static_cast<std::size_t>(ours.Encode(LATIN_1000, KIND_LONG)),
         static_cast<std::size_t>(gammu.Encode(LATIN_1000, false, true))},
    };
    bool same = true;
    for (const auto& c : checks) {
        if (c.ours != c.gammu || c.ours == 0) {
            std::printf("mismatch: %s: ours %zu, libgammu %zu\n", c.what, c.ours, c.gammu);
            same = false;
        }
    }
    if (!same) return 1;

    const int batch = 2000;
    const Row rows[] = {
        {"decode 160-char 7-bit DELIVER", [&] { return Fastest([&] { ours.Decode(gsm7Pdu); }, rounds, batch); },
         [&] { return Fastest([&] { gammu.Decode(gsm7Pdu); }, rounds, batch); }, 3},
        {"decode 70-char UCS2 DELIVER", [&] { return Fastest([&] { ours.Decode(ucs2Pdu); }, rounds, batch); },
         [&] { return Fastest([&] { gammu.Decode(ucs2Pdu); }, rounds, batch); }, 3},
        {"encode 160-char 7-bit SUBMIT",
         [&] { return Fastest([&] { ours.Encode(GSM7_160, KIND_TEXT); }, rounds, batch); },
         [&] { return Fastest([&] { gammu.Encode(GSM7_160, false, false); }, rounds, batch); }, 3},
        {"encode 70-char UCS2 SUBMIT", [&] { return Fastest([&] { ours.Encode(UCS2_70, KIND_TEXT); }, rounds, batch); },
         [&] { return Fastest([&] { gammu.Encode(UCS2_70, true, false); }, rounds, batch); }, 3},
        {"encode 1000-char concatenated",
         [&] { return Fastest([&] { ours.Encode(LATIN_1000, KIND_LONG); }, rounds, batch / 4); },
         [&] { return Fastest([&] { gammu.Encode(LATIN_1000, false, true); }, rounds, batch / 4); }, 3},
    };
    std::printf("%-32s %12s %12s %8s\n", "operation", "ours (us)", "libgammu", "ratio");
    bool all = true;
    for (const auto& r : rows) {
        const double o = r.ours(), g = r.gammu();
        const double ratio = g / o;
        all = all && ratio >= r.target;
        std::printf("%-32s %12.3f %12.3f %7.1fx%s\n", r.name, o, g, ratio, ratio >= r.target ? "" : "  (below 3x)");
    }
    return all ? 0 : 2;
}
