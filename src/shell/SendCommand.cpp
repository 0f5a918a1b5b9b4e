#include "shell/SendCommand.h"

#include "config/Settings.h"
#include "config/SettingsFile.h"
#include "db/AdoDatabase.h"
#include "engine/Adapters.h"
#include "engine/OutboxInsert.h"


int QueueMessage(const std::string& phone, const std::string& text, const std::string& program, std::FILE* out,
                 std::FILE* err) {
    // A number or text that could never be sent is refused before anything is read.
    if (auto problem = OutboxMessageProblem(phone, text)) {
        std::fprintf(err, "%s: %s; nothing queued\n", program.c_str(), problem->c_str());
        return 2;
    }
    CSettings settings;
    std::string error;
    if (ReadSettingsFile(settings, GetSettingsPath(), error) < 0) {
        std::fprintf(err, "%s: cannot read the settings: %s; nothing queued\n", program.c_str(), error.c_str());
        return 1;
    }
    CAdoDatabase database;
    database.SetDataSource(settings.m_strDsn);
    database.m_strUser = settings.m_strDbUser;
    database.m_strPassword = settings.m_strDbPassword;
    CDatabasePort port(database);
    const OutboxInsertResult result = InsertOutboxMessage(settings, port, phone, text);
    database.CloseDatabase();
    switch (result.outcome) {
    case OutboxInsertResult::Queued:
        if (result.id.empty())
            std::fprintf(err, "%s: queued, but outbox_insert_sql returned no row and has no <MSGID>: the id is not known\n",
                         program.c_str());
        std::fprintf(out, "id=%s\n", result.id.c_str());
        std::fflush(out);
        return 0;
    case OutboxInsertResult::Invalid:
        std::fprintf(err, "%s: %s; nothing queued\n", program.c_str(), result.error.c_str());
        return 2;
    case OutboxInsertResult::DatabaseError:
        break;
    }
    std::fprintf(err, "%s: %s\n", program.c_str(), result.error.c_str());
    return 1;
}
