#pragma once
// The submissions that asked for a status report: the modem's message reference (TP-MR)
// of each, with the outbox row, the recipient and the time it went out, so a report can
// be matched to its row. Kept in the state store; entries older than three days are
// forgotten.
#include "state/StateStore.h"

#include <string>
#include <vector>

class CReportBook {
public:
    static constexpr long long KEEP_MS = 3LL * 24 * 60 * 60 * 1000;

    // nullptr: memory only. Loads what the store holds.
    void Attach(IStateStore* store);
    // Also forgets submissions older than three days. False when the store could not be
    // written (kept in memory all the same).
    bool Add(const Submission& submission);
    // The newest submission within three days with this reference to this recipient
    // (compared by their last nine digits), or nullptr: references wrap at 256.
    const Submission* Match(int reference, const std::string& phone, long long nowMs) const;
    // Drops a matched submission (its report was final) and everything older than three days;
    // `event` (when not nullptr) is queued in the same transaction.
    bool Remove(const Submission* submission, long long nowMs, const WebhookEvent* event = nullptr);
    std::size_t Size() const { return m_entries.size(); }

private:
    IStateStore* m_store = nullptr;
    std::vector<Submission> m_entries;
};

// The TP-ST of a status report as the delivered value: 1 delivered (transaction completed),
// 0 the service centre still trying (and reserved values), -1 failed for good (permanent,
// or no more attempts).
int ReportStatusValue(int tpStatus);
