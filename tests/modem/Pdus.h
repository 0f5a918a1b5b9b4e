#pragma once
// PDUs as a modem stores and delivers them (service-centre address first).
namespace pdus {

// SMS-DELIVER from +491701234567, "Hello world", 7-bit, time stamp 26-12-07 09:30:00.
constexpr const char* HELLO =
    "0791947101670000040C919471103254760000622170900300400BC8329BFD06DDDF723619";
constexpr int HELLO_LENGTH = 29;
// SMS-STATUS-REPORT for message reference 42 to +491709876543: delivered.
constexpr const char* REPORT_42 = "0791947101670000062A0C91947190785634622170900300406221709003004000";
constexpr int REPORT_LENGTH = 25;

}  // namespace pdus
