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
    } catch (const CDbError&) {
        m_status.SetStatus(STATUS_INSERT_ERROR);
        return -1;
    }
    ++m_settings.m_nReceived;
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
    return ScanStore(used, total) < 0 ? 0 : 1;
}

int CGateway::CheckStores() {
    std::vector<StoreUse> stores = m_modem.GetStoreUse();
    for (size_t i = 0; i < stores.size(); ++i) {
        const StoreUse& store = stores[i];
        bool seen = false;  // the same store may be named as read, write and receive store
        for (size_t j = 0; j < i; ++j) seen = seen || stores[j].name == store.name;
        if (seen) continue;
        if (store.used <= 0 || store.total <= 0) {
            m_storeLeft.erase(store.name);
            continue;
        }
        const auto left = m_storeLeft.find(store.name);
        if (left != m_storeLeft.end() && left->second == store.used) continue;  // nothing new since
        m_status.SetStatus(STATUS_READING_SMS);
        if (m_modem.SetStorage(store.name) < 0) continue;
        const int found = ScanStore(store.used, store.total);
        if (found < 0) return 0;
        m_storeLeft[store.name] = store.used - found;
    }
    return 1;
}

// Reads the selected store up to its capacity until `used` messages were dealt with.
// Returns how many were, or -1 when a stop request ended the scan.
int CGateway::ScanStore(int used, int total) {
    int found = 0;
    for (int index = 1; index <= total && found < used; ++index) {
        if (m_run.m_bStop) return -1;
        if (m_modem.ReadStoredMessage(index) <= 0) continue;
        ModemMessage message = m_modem.LastRead();
        if (message.kind > kLastTextKind) {
            m_modem.DeleteMessage(index);
            ++found;
            continue;
        }
        int result = InsertReceived(message.phone, message.text, message.time);
        // A duplicate is already in the inbox: it leaves the store like a stored one.
        if (result == 1 || result == kDuplicateKey) {
            m_modem.DeleteMessage(index);
            ++found;
        }
    }
    return found;
}
