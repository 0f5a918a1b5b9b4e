#pragma once
// The texts both codec benchmarks work on, so their figures compare the same work.
#include <string>

inline const std::string GSM7_160 = [] {
    std::string s;
    while (s.size() < 160) s += "The quick brown fox jumps over the lazy dog 0123456789. ";
    return s.substr(0, 160);
}();

inline const std::string UCS2_70 = [] {
    std::string s;
    for (int i = 0; i < 7; ++i) s += "Привет мир";  // 10 characters each
    return s;
}();

inline const std::string LATIN_1000 = [] {
    std::string s;
    while (s.size() < 1000) s += "Long message text for the concatenated encoding; ";
    return s.substr(0, 1000);
}();
