#pragma once
// What a gateway run takes of its state folder before it touches anything else: the
// folder checked (owned by this user, writable by nobody else, no symbolic link at a name
// the gateway writes), the lock that keeps a second gateway out, and the state store,
// checked for damage, with the files of earlier versions imported.
#include "state/StateStore.h"

#include <cstdio>
#include <string>

// 0 when the gateway may run on `folder`; otherwise the reason went to `err` and the
// system journal, and the result is the exit code.
int TakeStateFolder(const std::string& folder, const std::string& program, std::FILE* err);

// The store TakeStateFolder opened; not open in a process that did not take its folder.
CStateStore& GatewayStateStore();
// The file of that store ("" before TakeStateFolder opened it).
const std::string& GatewayStatePath();
