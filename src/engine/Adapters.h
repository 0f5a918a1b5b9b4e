#pragma once
// The engine's ports over the real driver and database layer.
#include "db/AdoDatabase.h"
#include "engine/Ports.h"
#include "modem/Mobile.h"

class CMobilePort : public IModem {
public:
    explicit CMobilePort(CMobile& mobile) : m_mobile(mobile) {}

    void Prepare(const DeviceLinkSettings& link) override;
    int Connect() override { return m_mobile.Connect(); }
    int Disconnect() override { return m_mobile.Disconnect(); }
    int SetServiceCentre(const std::string& number) override { return m_mobile.SetServiceCentre(number); }
    std::string SendCommand(const std::string& command, const std::string& expect, int timeoutMs) override {
        return m_mobile.SendCommand(command, expect, timeoutMs);
    }
    std::string GetManufacturer() override { return m_mobile.GetManufacturer(); }
    std::string GetModel() override { return m_mobile.GetModel(); }
    std::string GetImei() override { return m_mobile.GetImei(); }
    int GetSignalQuality() override { return m_mobile.GetSignalQuality(); }
    int GetBatteryLevel() override { return m_mobile.GetBatteryLevel(); }
    int SendMessage(const std::string& phone, const std::string& text, int kind) override {
        return m_mobile.SendMessage(phone, text, kind);
    }
    int CountSegments(const std::string& phone, const std::string& text, int kind) override {
        return m_mobile.CountSegments(phone, text, kind);
    }
    int PollEvents() override { return m_mobile.PollEvents(); }
    int AcknowledgeDirect() override { return m_mobile.AcknowledgeDirect(); }
    int CheckRouting() override { return m_mobile.CheckRouting(); }
    int HoldDirectDelivery(bool hold) override { return m_mobile.HoldDirectDelivery(hold); }
    ModemMessage Received() const override;
    ModemReport Report() const override;
    void SetReportRequest(int request) override { m_mobile.m_bReportRequest = request; }
    void SetBeforePdu(std::function<bool()> hook) override { m_mobile.m_beforePdu = std::move(hook); }
    bool TakeReset() override { return m_mobile.TakeReset(); }
    std::string SubmitError() const override { return m_mobile.SubmitError(); }
    int SetStorage(const std::string& store) override { return m_mobile.SetStorage(store); }
    int GetUsedCount() override { return m_mobile.GetUsedCount(); }
    int GetTotalCount() override { return m_mobile.GetTotalCount(); }
    std::vector<StoreUse> GetStoreUse() override;
    std::vector<std::string> MessageStores() override { return m_mobile.m_storeNames; }
    int ListStored(std::vector<int>& indexes) override { return m_mobile.ListStoredIndexes(indexes); }
    int ReadStoredMessage(int index) override { return m_mobile.ReadStoredMessage(index); }
    ModemMessage LastRead() const override;
    int DeleteMessage(int index) override { return m_mobile.DeleteMessage(index); }
    int DeleteStored(const std::string& store, int index) override {
        return m_mobile.DeleteStoredMessage(store, index);
    }
    void SetRetry(int intervalSeconds, int attempts) override;
    int RetryInterval() const override { return m_mobile.m_nRetryInterval; }
    int SimState() const override { return m_mobile.m_nSimState; }
    int GetRegistration() override { return m_mobile.GetRegistration(); }
    int InputDescriptor() override { return m_mobile.Connection().Descriptor(); }

private:
    CMobile& m_mobile;
};

class CDatabasePort : public IDatabase {
public:
    explicit CDatabasePort(CAdoDatabase& db) : m_db(db) {}

    void SetDataSource(const std::string& dsn) override { m_db.SetDataSource(dsn); }
    void SetCredentials(const std::string& user, const std::string& password) override {
        m_db.m_strUser = user;
        m_db.m_strPassword = password;
    }
    int OpenDatabase() override { return m_db.OpenDatabase(); }
    int CloseDatabase() override { return m_db.CloseDatabase(); }
    int ExecuteSql(const SqlCommand& command) override { return m_db.ExecuteSql(command); }
    long ExecuteChange(const SqlCommand& command) override { return m_db.ExecuteChange(command); }
    std::optional<std::string> ExecuteOnce(const SqlCommand& command) override { return m_db.ExecuteOnce(command); }
    int OpenQuery(const std::string& sql) override { return m_db.OpenQuery(sql); }
    void CloseQuery() override { m_db.CloseQuery(); }
    int IsEof() override { return m_db.IsEof(); }
    int MoveNext() override { return m_db.MoveNext(); }
    std::string GetFieldString(const std::string& column) override { return m_db.GetFieldString(column); }
    int GetFieldInt(const std::string& column) override { return m_db.GetFieldInt(column); }

private:
    CAdoDatabase& m_db;
};
