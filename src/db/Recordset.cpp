#include "db/Recordset.h"

#include "db/DbError.h"
#include "db/Odbc.h"

#include <strings.h>

CDbRecordset::CDbRecordset(std::shared_ptr<CDbConnection> connection, const std::string& sql,
                           unsigned timeoutSeconds)
    : m_statement(std::make_unique<CDbStatement>(std::move(connection), timeoutSeconds)) {
    m_statement->Execute(sql);
    m_columns = m_statement->ColumnNames();
    // A statement without a result set (an update run as a query) reads as no rows.
    if (!m_columns.empty()) ReadRow();
}

CDbRecordset::~CDbRecordset() = default;

void CDbRecordset::MoveNext() {
    if (m_bEof) throw CDbError(DB_E_FAIL, "no current row: the end of the rows has been reached");
    ReadRow();
}

void CDbRecordset::ReadRow() {
    m_row.clear();
    m_bEof = !m_statement->Fetch();
    if (m_bEof) return;
    // Every column is read at once, in order: drivers need not allow reading a column
    // twice or out of order, and the callers may ask for any column any number of times.
    m_row.reserve(m_columns.size());
    for (size_t i = 0; i < m_columns.size(); ++i) {
        m_row.push_back(m_statement->GetText(static_cast<SQLUSMALLINT>(i + 1)));
    }
}

const std::optional<std::string>& CDbRecordset::Field(const std::string& column) const {
    if (m_bEof) throw CDbError(DB_E_FAIL, "no current row: the end of the rows has been reached");
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (::strcasecmp(m_columns[i].c_str(), column.c_str()) == 0) return m_row[i];
    }
    throw CDbError(DB_E_FAIL, "the rows have no column named \"" + column + "\"");
}
