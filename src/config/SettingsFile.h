#pragma once
// The settings record's file "Pellwick.ini" (a fixed sequence of 32-bit little-endian
// integers and fixed-width text fields, 1016 bytes), the PIN file, and the state folder
// that holds them.
#include "config/Settings.h"

#include <cstddef>
#include <string>

// Size of the stored record in bytes.
constexpr std::size_t SETTINGS_FILE_SIZE = 1016;

// The record as stored: exactly SETTINGS_FILE_SIZE bytes. A text longer than its field
// keeps its first (width - 1) bytes, shortened further so no UTF-8 sequence is split.
std::string EncodeSettings(const CSettings& settings);

// Reads the stored fields from the first `size` bytes of `data` (bytes past 1016 are
// ignored). Fields the data does not hold whole keep their values; a query interval
// below 1 becomes 1. Returns the number of fields read.
int DecodeSettings(CSettings& settings, const char* data, std::size_t size);

// Path of the settings file used by LoadSettings / SaveSettings.
void SetSettingsPath(const std::string& path);
std::string GetSettingsPath();

// The state folder: the folder of the settings file, where the PIN, the state store and
// the log live too. Every file there is private to the gateway (mode 0600).
std::string StateFolder();
// Writes the bytes to a temporary file beside `path`, fsyncs it and renames it over
// `path` (mode 0600), so the file is either the old one or the new one, never a short
// one. False with errno set.
// Run as root, the new file belongs to the owner of its folder (the service user's
// state folder stays the service user's).
bool ReplaceStateFile(const std::string& path, const std::string& data);
// The path of a file of the state folder ("Pellwick.pin" -> "<folder>/Pellwick.pin").
std::string StatePath(const std::string& name);

// This gateway's name among several that share one outbox: the host name and the state
// folder's name, "host/folder". It fills "<INSTANCE>" of the claim statements.
std::string InstanceName();
// Set for a gateway started as a named instance (-instance NAME): its reports and warnings
// then say which gateway sent them.
void SetNamedInstance(bool named);
bool IsNamedInstance();

// Loads theSettings from the settings file: 1 when the file was read, 0 when defaults
// were applied (and written), -1 when it could not be read (written to the journal;
// theSettings is unchanged). The PIN comes from ReadStoredPin.
int LoadSettings();
// Writes theSettings whole: 1 on success, 0 after reporting "Save configure file error.".
// Settings another process saved meanwhile (see SyncSettings) are taken in first, so a
// save of the counters never undoes a `-set`. While the files exist but cannot be read
// (since the load or the last SyncSettings), nothing is written and the result is 0.
int SaveSettings();

// Takes into theSettings what another process (`-set`) changed in the settings file or
// the PIN file since this process last read or wrote them; with `force` (a reload
// request) both files are read again whatever their time stamps say. Returns the
// SettingEffect bits (config/SettingFields.h) of everything taken since the last call.
int SyncSettings(bool force = false);
// Asks the next SyncSettings to read the files again; safe in a signal handler.
void RequestSettingsReload();
bool TakeSettingsReloadRequest();

constexpr const char* PIN_FILE_NAME = "Pellwick.pin";

// The PIN for unattended runs: the service manager's credential "pin"
// ($CREDENTIALS_DIRECTORY/pin) when present, else the PIN file "Pellwick.pin" of the
// state folder, else "". Trailing line ends and blanks are not part of it.
std::string ReadStoredPin();
// Writes the PIN file (mode 0600) or, for an empty PIN, removes it; false with errno set.
bool WriteStoredPin(const std::string& pin);

constexpr const char* HTTP_TOKEN_FILE_NAME = "Pellwick.http-token";

// The token the HTTP interface asks for: the service manager's credential "http-token"
// ($CREDENTIALS_DIRECTORY/http-token) when present, else the file "Pellwick.http-token" of
// the state folder, else the setting http_token. The credential and the file are the
// places a deployment puts a secret deliberately, so they win over the settings file.
// Trailing line ends and blanks are not part of it.
std::string ReadHttpToken(const CSettings& settings);

// Holds the lock every writer of the state folder's settings takes (this process and
// `-set` in another one) for as long as it lives.
class CSettingsLock {
public:
    CSettingsLock();
    ~CSettingsLock();
    CSettingsLock(const CSettingsLock&) = delete;
    CSettingsLock& operator=(const CSettingsLock&) = delete;

private:
    int m_fd = -1;
};

// Reads the settings file and the conf file beside it into the record, writing nothing.
// 1: the settings file was read. 0: it is missing, and the record holds the defaults
// (with the conf file's values when that exists). -1: either file exists but cannot be
// read (no access, a read error, a conf file over its size limit): the record is
// unchanged and `error` names the file and the reason.
int ReadSettingsFile(CSettings& settings, const std::string& path, std::string& error);

// The same operations on any record and file; saves of the process are serialised.
// LoadSettingsFile reads as ReadSettingsFile does and writes a new file only for a
// missing one: a file that could not be read is never replaced.
int LoadSettingsFile(CSettings& settings, const std::string& path, std::string* error = nullptr);
int SaveSettingsFile(const CSettings& settings, const std::string& path);
