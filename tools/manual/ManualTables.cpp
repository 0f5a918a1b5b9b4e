#include "ManualTables.h"

#include "config/ConfFile.h"
#include "config/SettingFields.h"
#include "config/Settings.h"
#include "config/SettingsFile.h"
#include "engine/StatusBoard.h"

#include <climits>
#include <cstring>

namespace {

// Plain text as Markdown that shows it as it is, also in a table cell.
std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c != '\0' && std::strchr("\\`*_<>[]|#", c)) out += '\\';
        out += c;
    }
    return out;
}

std::string Code(const std::string& text) { return text.empty() ? std::string("*empty*") : "`" + text + "`"; }

std::string Values(const SettingField& field) {
    switch (field.kind) {
    case SettingField::Flag:
        return "0 or 1";
    case SettingField::Integer:
        return field.max == INT_MAX ? "at least " + std::to_string(field.min)
                                    : std::to_string(field.min) + " to " + std::to_string(field.max);
    case SettingField::Choice: {
        std::string list;
        for (std::size_t i = 0; i < field.choices->size(); ++i)
            list += (i == 0 ? "" : i + 1 == field.choices->size() ? " or " : ", ") + (*field.choices)[i];
        return list;
    }
    case SettingField::Text:
        break;
    }
    return "at most " + std::to_string(field.maxBytes) + " bytes" + (field.secret ? ", secret" : "");
}

const char* IconName(int icon) {
    return icon == ICON_ERROR ? "error" : icon == ICON_PAUSED ? "paused" : "normal";
}

struct Advice {
    int code;
    const char* text;
};

const Advice kAdvice[] = {
    {STATUS_IDLE, "Nothing to do: the links are up and the outbox is empty."},
    {STATUS_PAUSED, "Paused from the tray menu; choose \"Pellwick Start\"."},
    {STATUS_DB_CONNECT, "Connecting; if this repeats, see \"Unable to connect to database.\"."},
    {STATUS_DB_QUERY, "Counting or reading the waiting outbox rows."},
    {STATUS_DB_CONNECT_FAILED,
     "The journal gives the ODBC message. Check **dsn** against */etc/odbc.ini* (**isql -v** *DSN user "
     "password*), the driver, the user and password, and that the server runs."},
    {STATUS_DB_DISCONNECT, "Closing the database link, to open it again or at a stop."},
    {STATUS_DB_DISCONNECT_FAILED, "The link broke while closing; it is opened again on the next pass."},
    {STATUS_DB_ERROR, "A statement failed while the link was up; the journal names it. The link is reopened."},
    {STATUS_GSM_CONNECT, "Connecting; if this repeats, see \"Unable to connect to GSM device.\"."},
    {STATUS_GSM_REFRESH, "Reading maker, model, battery and signal; harmless."},
    {STATUS_GSM_CONNECT_FAILED,
     "The journal names the device and the error. \"No such file or directory\": wrong **port** or missing "
     "*COMn* link; \"Permission denied\": the user is not in **dialout**; \"Device or resource busy\": another "
     "program (ModemManager) holds the port."},
    {STATUS_GSM_DISCONNECT, "Closing the device link, to open it again or at a stop."},
    {STATUS_GSM_DISCONNECT_FAILED, "The link broke while closing; it is opened again on the next pass."},
    {STATUS_READING_SMS, "Receiving; if it stays, see \"Insert SQL script error.\"."},
    {STATUS_INSERTING_SMS, "Receiving; if it stays, see \"Insert SQL script error.\"."},
    {STATUS_SENDING_SMS,
     "Sending; a long stay means the modem is slow to answer (network registration, signal)."},
    {STATUS_DAILY_REPORT, "Sending the daily report to **report_phone**."},
    {STATUS_BATTERY_WARNING, "The battery is at 80 % or less: connect the power supply."},
    {STATUS_DB_LOST_WARNING, "The database went away; see \"Unable to connect to database.\"."},
    {STATUS_SERVICE_REPLY, "Answering a **\\<STATUS\\>** or **\\<REPORT\\>** keyword."},
    {STATUS_SELECT_ERROR, "**select_sql** fails or has no **from**; the count uses it too. Try it with **isql**."},
    {STATUS_INSERT_ERROR,
     "**insert_sql** failed for a received message; the message stays in the modem or the state store, not "
     "lost. Often the time syntax: use **'\\<TIME\\>'** for SQLite, PostgreSQL and MySQL."},
    {STATUS_UPDATE_ERROR,
     "**select_sql** or **update_sql** failed while sending. A message the modem took is not sent again: its "
     "result waits in the outbound journal until the update works."},
    {STATUS_PERIOD_EXCEEDED,
     "Outside **start_time** to **end_time**; messages wait. Set **sending_period=0** to send at any hour."},
    {STATUS_SIM_PIN_MISSING,
     "The SIM asks for a PIN: give it with **pellwick -set pin=-** (read from standard input) or the systemd "
     "credential **pin**. Outbox rows wait at 0."},
    {STATUS_SIM_PIN_REFUSED,
     "The SIM refused the PIN. It is not presented again until **pin** changes, so the SIM's few tries are "
     "not used up: check the PIN in a phone before setting it again."},
    {STATUS_SIM_PUK_REQUIRED,
     "The SIM is locked after too many wrong PINs: unlock it with its PUK in a phone. Sending resumes once "
     "the SIM is ready."},
    {STATUS_SIM_NOT_READY,
     "No SIM, or the SIM is starting or faulty: check that it is inserted. Sending resumes once it is ready."},
    {STATUS_NET_SEARCHING,
     "The modem looks for a network: check the antenna and the signal. Sending resumes once registered."},
    {STATUS_NET_DENIED, "The network refused the SIM (not activated, barred, no roaming): ask the operator."},
    {STATUS_NET_NONE,
     "The modem neither is registered nor looks for a network: check the SIM's contract and the modem's "
     "operator selection (**AT+COPS**). Sending resumes once registered."},
};

}  // namespace

const char* SettingFile(const char* name) {
    if (std::strcmp(name, "pin") == 0) return PIN_FILE_NAME;
    return IsConfSetting(name) ? CONF_FILE_NAME : "Pellwick.ini";
}

std::string SettingsTable() {
    CSettings defaults;
    defaults.SetDefaults();
    // The widths of the separator line are those of the columns in the man page; defaults
    // too long for theirs follow the table as -show prints them.
    constexpr std::size_t kDefaultWidth = 24;
    std::string table = "| name | file | default | values | meaning |\n"
                        "|---------------------|------|----------|-------------|----------------------------------|\n";
    std::string longDefaults;
    for (const SettingField& field : SettingFields()) {
        std::string shown = ShowSetting(field, defaults);
        if (shown.size() > kDefaultWidth) {
            longDefaults += std::string(field.name) + "=" + shown + "\n";
            shown = "see below";
        } else if (field.kind == SettingField::Text) {
            shown = Code(shown);
        }
        table += std::string("| **") + Escape(field.name) + "** | *" + std::strchr(SettingFile(field.name), '.') +
                 "* | " + shown + " | " + Values(field) + " | " + Escape(field.description) + " |\n";
    }
    if (!longDefaults.empty()) table += "\nThe longer defaults:\n\n```\n" + longDefaults + "```\n";
    return table;
}

std::string DefaultStatements() {
    CSettings defaults;
    defaults.SetDefaults();
    std::string block = "```\n";
    for (const char* name : {"select_sql", "update_sql", "insert_sql"})
        block += ShowSetting(*FindSettingField(name), defaults) + "\n";
    return block + "```\n";
}

std::string StatusTable() {
    std::string table = "| code | status text | icon | what to check |\n|---|---------|---|-------------|\n";
    for (int code = 1; *StatusText(code); ++code) {
        const char* advice = StatusAdvice(code);
        table += "| " + std::to_string(code) + " | " + Escape(StatusText(code)) + " | " + IconName(StatusIcon(code)) +
                 " | " + (advice ? advice : "") + " |\n";
    }
    return table;
}

const char* StatusAdvice(int code) {
    for (const Advice& advice : kAdvice)
        if (advice.code == code) return advice.text;
    return nullptr;
}
