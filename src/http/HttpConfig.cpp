#include "http/HttpConfig.h"

#include <arpa/inet.h>

std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string& error) {
    ListenAddress address;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = "http_listen \"" + text + "\": an IPv6 address is written [ADDRESS]:PORT";
            return std::nullopt;
        }
        address.host = text.substr(1, close - 1);
        address.ipv6 = true;
        port = text.substr(close + 2);
    } else {
        std::size_t colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon) {
            error = "http_listen \"" + text + "\": expected HOST:PORT, e.g. 127.0.0.1:8470 or [::1]:8470";
            return std::nullopt;
        }
        address.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (address.host == "localhost") address.host = "127.0.0.1";
    }
    unsigned char buffer[16];
    if (inet_pton(address.ipv6 ? AF_INET6 : AF_INET, address.host.c_str(), buffer) != 1) {
        error = "http_listen \"" + text + "\": \"" + address.host + "\" is not an " + (address.ipv6 ? "IPv6" : "IPv4") +
                " address";
        return std::nullopt;
    }
    bool digits = !port.empty() && port.size() <= 5;
    for (char c : port) digits = digits && c >= '0' && c <= '9';
    if (!digits || std::stoul(port) > 65535) {
        error = "http_listen \"" + text + "\": the port must be a number from 0 to 65535";
        return std::nullopt;
    }
    address.port = static_cast<unsigned>(std::stoul(port));
    return address;
}
