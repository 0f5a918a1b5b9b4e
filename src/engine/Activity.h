#pragma once
// What the gateway tells an observer of its traffic as it happens: each message it finished
// with and how long each submission took. Called on the worker thread between modem
// exchanges, so an observer must return at once (a short lock of its own at most).
#include <string>

class IGatewayActivity {
public:
    virtual ~IGatewayActivity() = default;
    // An outbox row with its result ("sent", "failed", "unknown"), or a message stored in
    // the inbox ("received"). The number and text are whole, as the row or the modem gave them.
    virtual void MessageDone(bool outgoing, const std::string& phone, const std::string& text, const char* result) = 0;
    // The time from handing a message to the modem to its answer.
    virtual void Submitted(double seconds) = 0;
};
