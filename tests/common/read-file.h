/* read-file.h - the whole text of a file for the tests, "" where it cannot
 * be read. */
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace zolttest {

inline std::string ReadFile(const std::string &sPath)
{
    std::stringstream ss;
    ss << std::ifstream(sPath, std::ios::binary).rdbuf();
    return ss.str();
}

}  // namespace zolttest
