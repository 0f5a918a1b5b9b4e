#include "config/SettingFields.h"

#include "db/SqlCommand.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

const char* const INTEGER_MESSAGE = "Please enter an integer.";

namespace {

constexpr std::size_t SHORT_TEXT_BYTES = 31;
constexpr std::size_t LONG_TEXT_BYTES = 255;
constexpr std::size_t CONF_SQL_BYTES = 1000;

const std::vector<std::string> kBaudRates = {"9600", "19200", "38400", "57600", "115200"};

SettingField Number(const char* name, const char* description, int CSettings::*member, int min, int max,
                    int effect = EFFECT_NONE) {
    return {name, description, SettingField::Integer, member, nullptr, min, max, 0, nullptr, false, effect};
}
SettingField Flag(const char* name, const char* description, int CSettings::*member) {
    return {name, description, SettingField::Flag, member, nullptr, 0, 1, 0, nullptr, false, EFFECT_NONE};
}
SettingField Hour(const char* name, const char* description, int CSettings::*member) {
    return Number(name, description, member, 0, 24);
}
SettingField Text(const char* name, const char* description, std::string CSettings::*member, std::size_t maxBytes,
                  int effect = EFFECT_NONE, bool secret = false) {
    return {name, description, SettingField::Text, nullptr, member, 0, 0, maxBytes, nullptr, secret, effect};
}

// A statement template whose outside values (a message, a sender, an outbox id) can be bound.
std::optional<std::string> BindableTemplate(const std::string& value) {
    return BindingProblem(value, {"<MSGID>", "<PHONE>", "<MSGBODY>", "<REASON>"});
}
SettingField Statement(const char* name, const char* description, std::string CSettings::*member,
                       std::size_t maxBytes) {
    SettingField field = Text(name, description, member, maxBytes);
    field.check = BindableTemplate;
    return field;
}

// Numbers and prefixes ("4917*") separated by commas; blanks around them allowed.
std::optional<std::string> NumberList(const std::string& value) {
    if (value.find_first_not_of(' ') == std::string::npos) return std::nullopt;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(',', start);
        if (end == std::string::npos) end = value.size();
        std::string entry = value.substr(start, end - start);
        entry.erase(0, entry.find_first_not_of(' '));
        entry.erase(entry.find_last_not_of(' ') + 1);
        const std::string written = entry;
        if (!entry.empty() && entry.back() == '*') entry.pop_back();
        if (!entry.empty() && entry.front() == '+') entry.erase(0, 1);
        if (entry.empty()) return std::string("an entry of the list is empty");
        if (entry.find_first_not_of("0123456789") != std::string::npos)
            return "'" + written + "' is not a number or a prefix ending in '*'";
        start = end + 1;
    }
    return std::nullopt;
}

// Empty, or an http or https address.
std::optional<std::string> WebhookAddress(const std::string& value) {
    std::string scheme = value.substr(0, value.find("://"));
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t host = scheme.size() + 3;
    if (value.empty() || ((scheme == "http" || scheme == "https") && host < value.size() && value[host] != '/' &&
                          value.find(' ') == std::string::npos))
        return std::nullopt;
    return std::string("not an http:// or https:// address");
}

// Empty, or HOST:PORT / [IPv6]:PORT with a port of 0..65535. Only the form: whether the
// host is an address this machine has is found when the server starts.
std::optional<std::string> ListenAddressForm(const std::string& value) {
    if (value.empty()) return std::nullopt;
    const std::size_t colon = value.rfind(':');
    const std::string host = colon == std::string::npos ? std::string() : value.substr(0, colon);
    const std::string port = colon == std::string::npos ? std::string() : value.substr(colon + 1);
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    const bool hostOk = !host.empty() && (bracketed || host.find_first_of(":[] ") == std::string::npos);
    if (!hostOk || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) > 65535)
        return std::string("not HOST:PORT (127.0.0.1:8470, [::1]:8470)");
    return std::nullopt;
}

const std::vector<SettingField> kFields = {
    Number("port",
           "The modem's link: 0 the infrared link; n the serial port COMn, which is the entry COMn of the state "
           "folder when there is one (a symbolic link to, say, /dev/ttyUSB0), otherwise /dev/ttyS(n-1) (Port Number)",
           &CSettings::m_nPort, 0, 16, EFFECT_DEVICE),
    {"baud_rate", "Serial speed in bit/s (COM Baudrate)", SettingField::Choice, &CSettings::m_nBaudRate, nullptr, 0, 4,
     0, &kBaudRates, false, EFFECT_DEVICE},
    Number("retry_interval",
           "Seconds: the least spacing between submissions and between retries, and the pause after a message "
           "skipped because the modem did not answer (SMS Retry Interval)",
           &CSettings::m_nRetryInterval, 0, 86400),
    Number("retry_count", "Tries after the first before a message counts as failed (SMS Retry Count)",
           &CSettings::m_nRetryCount, 0, 1000),
    Text("smsc", "Service-centre number, written to the modem when not empty (SMS Center Number)",
         &CSettings::m_strSmsc, SHORT_TEXT_BYTES, EFFECT_DEVICE),
    Flag("long_sms",
         "1: a text longer than one SMS goes out as one concatenated message; 0: as separate messages of 160 "
         "characters (70 outside the GSM alphabet) (Long SMS Mode)",
         &CSettings::m_bLongSms),
    Text("pin",
         "SIM PIN, presented only when the SIM asks for it; kept in its own file or taken from the systemd "
         "credential pin, never in the settings file or a log (PIN Code)",
         &CSettings::m_strPin, SHORT_TEXT_BYTES, EFFECT_DEVICE, true),
    Text("dsn", "ODBC data source name (DSN)", &CSettings::m_strDsn, SHORT_TEXT_BYTES, EFFECT_DATABASE),
    Text("db_user", "Database user (User)", &CSettings::m_strDbUser, SHORT_TEXT_BYTES, EFFECT_DATABASE),
    Text("db_password", "Database password (Password)", &CSettings::m_strDbPassword, SHORT_TEXT_BYTES,
         EFFECT_DATABASE, true),
    Text("select_sql", "Outbox query: lists the waiting messages (Select)", &CSettings::m_strSelectSql,
         LONG_TEXT_BYTES),
    Statement("update_sql", "Writes the result of a message into its outbox row (Update)",
              &CSettings::m_strUpdateSql, LONG_TEXT_BYTES),
    Statement("insert_sql", "Stores a received message in the inbox (Insert)", &CSettings::m_strInsertSql,
              LONG_TEXT_BYTES),
    // The worker takes its tick counter modulo this value.
    Number("query_interval",
           "Passes of the gateway's loop (about half a second each) between outbox polls (Query Interval)",
           &CSettings::m_nQueryInterval, 1, INT_MAX),
    Flag("sending_period", "1: send only from start_time to end_time; 0: at any hour (Sending Period Limit)",
         &CSettings::m_bSendingPeriod),
    Hour("start_time", "Hour, local time, at which sending starts (Start Time)", &CSettings::m_nStartTime),
    Hour("end_time", "Hour at which sending stops; 24 is midnight at the end of the day (End Time)",
         &CSettings::m_nEndTime),
    Flag("daily_report", "1: send the daily report to report_phone (Send Daily Report)", &CSettings::m_bDailyReport),
    Hour("report_time", "Hour of the daily report; 24 never comes (Report Time)", &CSettings::m_nReportTime),
    Flag("battery_warning",
         "1: warn report_phone once when the battery falls to 80 % or less (Battery Low Warning)",
         &CSettings::m_bBatteryWarning),
    Flag("db_lost_warning",
         "1: warn report_phone once when the database connection is lost (DB Connection Lost Warning)",
         &CSettings::m_bDbLostWarning),
    Text("report_phone", "Recipient of the daily report and the warnings (Phone No.)", &CSettings::m_strReportPhone,
         SHORT_TEXT_BYTES),
    Flag("auto_start",
         "1: the service starts with the system (its unit is enabled); 0: only on request (Start Service when OS "
         "starts)",
         &CSettings::m_bAutoStart),
    // Kept in Pellwick.conf (config/ConfFile.h).
    Flag("multipart_join",
         "1: the parts of a concatenated message are joined into one inbox row; 0: each part is stored as it comes",
         &CSettings::m_bMultipartJoin),
    Number("multipart_timeout",
           "Minutes a message waits for its missing parts; it is then stored with [...] for each missing part",
           &CSettings::m_nMultipartTimeout, 1, 7 * 24 * 60),
    Statement("report_sql",
              "Run for each status report with <MSGID>, <PHONE>, <TIME> (the discharge time) and <STATUS> (1 "
              "delivered, 0 still trying, -1 failed for good); empty: no report is asked for",
              &CSettings::m_strReportSql, CONF_SQL_BYTES),
    Statement("claim_sql",
              "Claims an outbox row before it is sent, for several gateways on one outbox; empty: this gateway is "
              "the only one",
              &CSettings::m_strClaimSql, CONF_SQL_BYTES),
    Statement("release_sql", "Gives back a claimed row that did not reach the modem", &CSettings::m_strReleaseSql,
              CONF_SQL_BYTES),
    Statement("reclaim_sql", "Run at every outbox poll: takes back claims older than claim_timeout",
              &CSettings::m_strReclaimSql, CONF_SQL_BYTES),
    Number("claim_timeout", "Minutes after which the other gateways may take a claim back; 0: never",
           &CSettings::m_nClaimTimeout, 0, 7 * 24 * 60),
    {"reply_numbers",
     "The senders whose <REPORT> and <STATUS> are answered: numbers and prefixes ending in *, separated by commas "
     "(+4917012345, 4930*); a leading + does not count; empty: any sender",
     SettingField::Text, nullptr, &CSettings::m_strReplyNumbers, 0, 0, CONF_SQL_BYTES, nullptr, false, EFFECT_NONE,
     NumberList},
    Number("reply_limit", "Replies per sender per hour; 0: keywords are not answered", &CSettings::m_nReplyLimit, 0,
           1000),
    Statement("outbox_insert_sql",
              "Queues one message in the outbox for -send with <PHONE> and <MSGBODY> (and <MSGID>, a fresh id, for "
              "databases without returning); the first column of the row it returns is the message's id",
              &CSettings::m_strOutboxInsertSql, CONF_SQL_BYTES),
    {"webhook_url", "Receiver of the webhook events: an http:// or https:// address; empty: no events are queued",
     SettingField::Text, nullptr, &CSettings::m_strWebhookUrl, 0, 0, CONF_SQL_BYTES, nullptr, false, EFFECT_NONE,
     WebhookAddress},
    Text("webhook_secret", "Key of the HMAC-SHA256 signature each webhook event carries", &CSettings::m_strWebhookSecret,
         LONG_TEXT_BYTES, EFFECT_NONE, true),
    {"http_listen",
     "Address and port of the HTTP interface (127.0.0.1:8470, [::1]:8470, 0.0.0.0:8470 for every address); "
     "empty: no HTTP interface",
     SettingField::Text, nullptr, &CSettings::m_strHttpListen, 0, 0, LONG_TEXT_BYTES, nullptr, false, EFFECT_NONE,
     ListenAddressForm},
    Text("http_token",
         "The token every HTTP path but /health asks for (Bearer, or Basic with it as the password); the file "
         "Pellwick.http-token of the state folder or the systemd credential http-token takes its place",
         &CSettings::m_strHttpToken, LONG_TEXT_BYTES, EFFECT_NONE, true),
    Statement("outbox_status_sql",
              "Answers GET /v1/messages/ID of the HTTP interface with <MSGID>: the first column of the row it "
              "returns is the message's status",
              &CSettings::m_strOutboxStatusSql, CONF_SQL_BYTES),
};

bool ValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

bool HasControlCharacter(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

}  // namespace

const std::vector<SettingField>& SettingFields() { return kFields; }

const SettingField* FindSettingField(const std::string& name) {
    for (const SettingField& field : kFields)
        if (name == field.name) return &field;
    return nullptr;
}

std::optional<int> ParseSettingInteger(const std::string& text) {
    const char* blanks = " \t\n\r\f\v";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::nullopt;
    const std::string number = text.substr(first, text.find_last_not_of(blanks) - first + 1);
    std::size_t digits = (number[0] == '+' || number[0] == '-') ? 1 : 0;
    if (digits == number.size() || number.find_first_not_of("0123456789", digits) != std::string::npos)
        return std::nullopt;
    errno = 0;
    const long long value = std::strtoll(number.c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) return std::nullopt;
    return static_cast<int>(value);
}

std::string IntegerRangeMessage(int min, int max) {
    return "Please enter an integer between " + std::to_string(min) + " and " + std::to_string(max) + ".";
}

std::string ShowSetting(const SettingField& field, const CSettings& settings) {
    if (field.kind == SettingField::Text) {
        const std::string& value = settings.*field.text;
        return field.secret && !value.empty() ? std::string("********") : value;
    }
    const int value = settings.*field.integer;
    if (field.kind == SettingField::Choice && value >= 0 && static_cast<std::size_t>(value) < field.choices->size())
        return (*field.choices)[static_cast<std::size_t>(value)];
    return std::to_string(value);
}

std::optional<std::string> AssignSetting(const SettingField& field, const std::string& value, CSettings& settings) {
    switch (field.kind) {
    case SettingField::Text:
        if (value.size() > field.maxBytes)
            return "longer than " + std::to_string(field.maxBytes) + " bytes";
        if (!ValidUtf8(value)) return std::string("not UTF-8 text");
        if (HasControlCharacter(value)) return std::string("holds a control character");
        if (field.check)
            if (auto problem = field.check(value)) return problem;
        settings.*field.text = value;
        return std::nullopt;
    case SettingField::Choice:
        for (std::size_t i = 0; i < field.choices->size(); ++i) {
            if (value == (*field.choices)[i]) {
                settings.*field.integer = static_cast<int>(i);
                return std::nullopt;
            }
        }
        {
            std::string list;
            for (const std::string& choice : *field.choices) list += (list.empty() ? "" : ", ") + choice;
            return "not one of " + list;
        }
    case SettingField::Integer:
    case SettingField::Flag:
        break;
    }
    const std::optional<int> number = ParseSettingInteger(value);
    if (!number) return std::string(INTEGER_MESSAGE);
    if (*number < field.min || *number > field.max) return IntegerRangeMessage(field.min, field.max);
    settings.*field.integer = *number;
    return std::nullopt;
}

int MergeSettings(const CSettings& base, const CSettings& from, CSettings& to) {
    int effect = EFFECT_NONE;
    for (const SettingField& field : kFields) {
        if (field.text == &CSettings::m_strPin) continue;
        if (field.text) {
            if (from.*field.text == base.*field.text || from.*field.text == to.*field.text) continue;
            to.*field.text = from.*field.text;
        } else {
            if (from.*field.integer == base.*field.integer || from.*field.integer == to.*field.integer) continue;
            to.*field.integer = from.*field.integer;
        }
        effect |= field.effect | EFFECT_OTHER;
    }
    return effect;
}
