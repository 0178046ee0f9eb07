// The Windows libraries as a host sees them: each plug-in DLL exports exactly
// V_KVQ_ENTRY, undecorated, and imports only system DLLs (no runtime DLL of ours).
#include "tools/childProcess.h"

#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>

namespace {

struct PeTables {
    std::set<std::string> imports;
    std::vector<std::string> exports;
};

const char* const kObjdump = "/usr/bin/i686-w64-mingw32-objdump";

PeTables readTables(const std::string& path) {
    ChildProcess objdump({kObjdump, "-p", path});
    PeTables t;
    std::string line;
    bool inExports = false;
    while (objdump.readLine(line, 20000)) {
        if (line.find("DLL Name: ") != std::string::npos)
            t.imports.insert(line.substr(line.find("DLL Name: ") + 10));
        if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
            inExports = true;
            continue;
        }
        if (inExports) {
            size_t close = line.find(']');
            if (line.empty() || close == std::string::npos) {
                inExports = false;
                continue;
            }
            t.exports.push_back(line.substr(close + 2));
        }
    }
    objdump.wait(20000);
    return t;
}

} // namespace

TEST(WindowsLibraries, ExportOnlyTheEntryAndImportOnlySystemDlls) {
    const std::set<std::string> system{"KERNEL32.dll", "USER32.dll", "ADVAPI32.dll", "msvcrt.dll"};
    struct stat tool {};
    if (stat(kObjdump, &tool) != 0)
        GTEST_SKIP() << "no " << kObjdump << " here (binutils-mingw-w64-i686)";
    int checked = 0;
    for (const char* dll : {"KV-X10.dll", "Quillport.dll", "sample-plugin.dll"}) {
        std::string path = std::string(KVQ_WIN32_BIN) + "/" + dll;
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) continue;
        ++checked;
        PeTables t = readTables(path);
        EXPECT_EQ(t.exports, std::vector<std::string>{"V_KVQ_ENTRY"}) << dll;
        EXPECT_FALSE(t.imports.empty()) << dll;
        for (const std::string& import : t.imports)
            EXPECT_TRUE(system.count(import)) << dll << " imports " << import;
    }
    if (checked == 0) GTEST_SKIP() << "the win32 preset is not built (" << KVQ_WIN32_BIN << ")";
}
