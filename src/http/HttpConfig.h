#pragma once
// How the HTTP interface listens, and its limits.
#include <cstddef>
#include <optional>
#include <string>

struct HttpConfig {
    std::string listen;  // "HOST:PORT" or "[IPv6]:PORT"; empty: no server
    std::string token;   // the secret every path but /health asks for; never empty
    // Connections in all (each with a thread of its own) and from one address. A client that
    // opens a connection per request holds up to twice as many for a moment, the closed
    // ones not yet reaped: 64 lets 20 such clients of one address in at once.
    unsigned maxConnections = 128;
    unsigned maxConnectionsPerIp = 64;
    unsigned timeoutSeconds = 10;     // a connection idle this long is closed
    std::size_t maxBody = 64 * 1024;  // bytes; a longer request body is answered with 413
};

struct ListenAddress {
    std::string host;  // numeric, without brackets
    bool ipv6 = false;
    unsigned port = 0;  // 0: any free port
};

// Parses "127.0.0.1:8470", "[::1]:8470", "0.0.0.0:8470" or "localhost:8470". The host
// must be an address, not a name to look up. Empty result with the reason in error.
std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string& error);
