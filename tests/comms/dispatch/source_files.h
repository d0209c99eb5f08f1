// Reading files of the source tree from a test (golden files, message
// texts), natively and under Wine (where the tree is reached through Z:).
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

namespace qv::test {

inline std::string SourcePath(const std::string& relative) { return std::string(QV_SOURCE_DIR) + "/" + relative; }

inline std::string ReadSourceFile(const std::string& relative) {
    std::ifstream in(SourcePath(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The English error and log texts, from the message-table source.
inline const std::map<int32_t, std::string>& MessageTexts() {
    static const std::map<int32_t, std::string> texts = [] {
        std::map<int32_t, std::string> m;
        std::istringstream in(ReadSourceFile("comms/base/messages/comms_errors_en.txt"));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || line[0] == '#') continue;
            size_t tab = line.find('\t');
            if (tab == std::string::npos) continue;
            m[std::stoi(line.substr(0, tab))] = line.substr(tab + 1);
        }
        return m;
    }();
    return texts;
}

inline std::string MessageText(int32_t id) {
    auto it = MessageTexts().find(id);
    return it == MessageTexts().end() ? std::string() : it->second;
}

}  // namespace qv::test
