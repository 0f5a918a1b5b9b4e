#pragma once
// The system account a hand-made service runs as (SERVICE_ACCOUNT), prepared by -install.
#include <string>
#include <sys/types.h>

// Why an existing account cannot run the service, or an empty text when it can: only a
// system account (uid 1-999) whose shell refuses logins. A person's account would get
// the PIN and the database password, and keep its login.
std::string AccountRefusal(uid_t uid, const std::string& shell);

// Why `folder` cannot be given to the account, or an empty text when it can: a system
// folder (/usr/local/bin, /etc, ...) or a person's home folder holds files of others.
std::string FolderRefusal(const std::string& folder);

// Creates SERVICE_ACCOUNT when it is missing (a system account with a group of its own,
// in dialout for the serial ports, no login, `folder` as its home), refuses an existing
// one that AccountRefusal rejects and adds an accepted one to dialout. Then gives it
// `folder` (unless FolderRefusal rejects it) and the state files in it; programs (files with an execute bit) stay with
// their owner. False with the reason left for FormatLastError.
bool PrepareServiceAccount(const std::string& folder);
