#pragma once
// The rows of one query, read from the driver's cursor one row at a time: only the
// current row is held, whatever the size of the result.
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CDbConnection;
class CDbStatement;

class CDbRecordset {
public:
    // Runs the query and moves to its first row; throws CDbError.
    CDbRecordset(std::shared_ptr<CDbConnection> connection, const std::string& sql, unsigned timeoutSeconds);
    ~CDbRecordset();
    CDbRecordset(const CDbRecordset&) = delete;
    CDbRecordset& operator=(const CDbRecordset&) = delete;

    bool IsEof() const { return m_bEof; }
    void MoveNext();
    // The named column (matched without regard to case) of the current row; nullopt for NULL.
    const std::optional<std::string>& Field(const std::string& column) const;

private:
    void ReadRow();

    std::unique_ptr<CDbStatement> m_statement;
    std::vector<std::string> m_columns;
    std::vector<std::optional<std::string>> m_row;
    bool m_bEof = true;
};
