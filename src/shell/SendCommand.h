#pragma once
// `pellwick -send NUMBER TEXT`: one message queued in the outbox from a shell.
#include <cstdio>
#include <string>

// Inserts the row through outbox_insert_sql with the settings of the state folder and
// prints "id=..."; 0 when queued, 2 for a number or text that cannot be sent, 1 when the
// settings or the database failed (the reason to `err`).
int QueueMessage(const std::string& phone, const std::string& text, const std::string& program, std::FILE* out,
                 std::FILE* err);
