// The inbound cycle: received messages into the inbox table, from the poll or the store scan.
#include "db/DbError.h"
#include "engine/Gateway.h"
#include "engine/SqlTemplates.h"

namespace {

constexpr int kDuplicateKey = 99;
constexpr int kLastTextKind = 5;  // kinds above this carry no text (status reports)

const char* const kStoreOrder[3][3] = {
    {"SM", "ME", "MT"},
    {"ME", "MT", "SM"},
    {"MT", "SM", "ME"},
};

}  // namespace

int CGateway::InsertReceived(std::string phone, std::string text, std::string time) {
    m_status.SetStatus(STATUS_INSERTING_SMS);
    std::string sql = BuildInsertSql(m_settings.m_strInsertSql, phone, text, FormatTimeValue(time));
    int result = 0;
    try {
        result = m_db.ExecuteSql(sql);
    } catch (const CDbError& e) {
        JournalDbError("storing a received message", e);
        m_status.SetStatus(STATUS_INSERT_ERROR);
        return -1;
    }
    ++m_settings.m_nReceived;
    ::Journal(JOURNAL_INFO, "received message %s the inbox",
            result == 1 ? "stored in" : result == kDuplicateKey ? "already in" : "not stored in");
    Save();
    AnswerQuery(phone, text);
    return result;
}

int CGateway::ScanStorage() {
    m_status.SetStatus(STATUS_READING_SMS);
    for (const char* store : kStoreOrder[m_nNextStorage]) {
        if (m_modem.SetStorage(store) >= 0) break;
    }
    m_nNextStorage = (m_nNextStorage + 1) % 3;

    int used = m_modem.GetUsedCount();
    if (used <= 0) return 1;
    int total = m_modem.GetTotalCount();
    if (total <= 0) return 1;

    int found = 0;
    for (int index = 1; index <= total && found < used; ++index) {
        if (m_run.m_bStop) return 0;
        if (m_modem.ReadStoredMessage(index) <= 0) continue;
        ModemMessage message = m_modem.LastRead();
        if (message.kind > kLastTextKind) {
            m_modem.DeleteMessage(index);
            ++found;
            continue;
        }
        int result = TakeReceived(message);
        // A duplicate is already in the inbox: it leaves the store like a stored one.
        if (result == 1 || result == kDuplicateKey) {
            m_modem.DeleteMessage(index);
            ++found;
        }
    }
    return 1;
}
