#include "shell/ServiceUnit.h"

namespace {

// systemd expands '%' specifiers in unit files; a literal '%' is written twice.
std::string EscapeSpecifiers(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

// ExecStart and ReadWritePaths take words: a path is quoted, with '\' and '"' escaped.
std::string QuotePath(const std::string& path) {
    std::string out = "\"";
    for (char c : EscapeSpecifiers(path)) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string ServiceUnitText(const ServiceDefinition& definition) {
    const bool packaged = definition.executable == PACKAGED_EXECUTABLE;
    const bool instances = !definition.instance.empty();
    std::string text;
    text += "[Unit]\n";
    text += "Description=" + EscapeSpecifiers(definition.displayName) + (instances ? " %i\n" : "\n");
    text += "Documentation=man:pellwick(8)\n";
    // The database may run on this machine; the gateway reconnects anyway, but starting
    // after it saves a round of "Unable to connect to database.".
    text += "Wants=network-online.target\n";
    text += "After=network-online.target postgresql.service mariadb.service\n";
    text += "\n[Service]\n";
    text += "Type=notify\n";
    text += "ExecStart=" + QuotePath(definition.executable) + (instances ? " -instance %i\n" : "\n");
    text += "ExecReload=/bin/kill -HUP $MAINPID\n";
    // A worker that stops feeding the watchdog is killed and, as a failure, restarted. It
    // feeds it every pass (at most seconds apart) and every second of a wait on the modem
    // or between submissions; what remains unfed is database work, each statement limited
    // to 10 s. Five minutes leave that a wide margin and still end a hang soon.
    text += "WatchdogSec=5min\n";
    text += "Restart=on-failure\n";
    text += "RestartSec=5s\n";
    // The gateway never runs as root: the packaged one as the account its package
    // creates, a hand-made one as the account -install creates (SERVICE_ACCOUNT).
    text += std::string("User=") + SERVICE_ACCOUNT + "\n";
    text += "SupplementaryGroups=dialout\n";
    if (packaged) {
        // An instance's folder is a folder of its own inside the plain unit's.
        const std::string own = instances ? "/%i" : "";
        text += "StateDirectory=orvane-pellwick" + own + "\n";
        text += "StateDirectoryMode=0700\n";
        text += "WorkingDirectory=" + std::string(STATE_FOLDER) + own + "\n";
    } else {
        text += "# Settings, journal, spool and log are kept beside the executable, in\n";
        if (instances)
            text += "# " + definition.workingDirectory + "/<instance>, inside the only folder the service may write to.\n";
        else
            text += "# " + definition.workingDirectory + ", the only folder the service may write to.\n";
        text += "WorkingDirectory=" + EscapeSpecifiers(definition.workingDirectory) + "\n";
        text += "ReadWritePaths=" + QuotePath(definition.workingDirectory) + "\n";
    }
    text += "UMask=0077\n";
    // The PIN and the database password must not end up in a core file.
    text += "LimitCORE=0\n";
    text += "CapabilityBoundingSet=\n";
    text += "NoNewPrivileges=yes\n";
    text += "ProtectSystem=strict\n";
    // A hand-made install may sit in a home folder: readable, and writable only there.
    text += packaged ? "ProtectHome=yes\n" : "ProtectHome=read-only\n";
    text += "PrivateTmp=yes\n";
    // No PrivateUsers=: in a user namespace of its own the service's dialout group is not
    // mapped, and a modem that only that group may open would be out of reach.
    text += "PrivateMounts=yes\n";
    // Serial ports, USB and Bluetooth modems, and the pseudo-terminal of the simulator;
    // the classes missing from /proc/devices are skipped.
    text += "DevicePolicy=closed\n";
    for (const char* device : {"char-ttyS", "char-ttyUSB", "char-ttyACM", "char-rfcomm", "char-pts"})
        text += std::string("DeviceAllow=") + device + " rw\n";
    text += "ProtectKernelTunables=yes\n";
    text += "ProtectKernelModules=yes\n";
    text += "ProtectKernelLogs=yes\n";
    text += "ProtectControlGroups=yes\n";
    text += "ProtectClock=yes\n";
    text += "ProtectHostname=yes\n";
    text += "ProtectProc=invisible\n";
    text += "ProcSubset=pid\n";
    text += "KeyringMode=private\n";
    text += "RestrictNamespaces=yes\n";
    text += "RestrictRealtime=yes\n";
    text += "RestrictSUIDSGID=yes\n";
    text += "LockPersonality=yes\n";
    text += "MemoryDenyWriteExecute=yes\n";
    text += "RemoveIPC=yes\n";
    // A call outside the filter fails with EPERM instead of killing the gateway: the
    // worker's attempt to raise its priority (setpriority) simply fails.
    text += "SystemCallArchitectures=native\n";
    text += "SystemCallFilter=@system-service\n";
    text += "SystemCallFilter=~@privileged @resources\n";
    text += "SystemCallErrorNumber=EPERM\n";
    // Local sockets (journal, sd_notify, local databases) and TCP for database servers.
    // No AF_IRDA: the kernel no longer has it, so the infrared link needs no socket here.
    text += "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6\n";
    text += "\n[Install]\n";
    text += "WantedBy=multi-user.target\n";
    return text;
}
