// The Windows binaries as a host and a user see them: each plug-in DLL exports
// exactly V_KVQ_ENTRY, undecorated; the DLLs and kvq-host.exe import only system
// DLLs (no runtime DLL of ours), and only functions reviewed for Windows XP SP3
// (tests/tools/dllImports.allow, and tests/tools/hostImports.allow for what the
// tool needs beyond it), with a PE header that XP accepts.
#include "tools/childProcess.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace {

struct PeTables {
    std::set<std::string> imports;   // the DLLs
    std::set<std::string> functions; // "DLL!Function", or "DLL!#ordinal"
    std::vector<std::string> exports;
    std::map<std::string, int> header; // the OS and subsystem version fields
};

const char* const kObjdump = "/usr/bin/i686-w64-mingw32-objdump";
const char* const kAllowList = "tests/tools/dllImports.allow";
const char* const kHostAllowList = "tests/tools/hostImports.allow";

// DLL names compare without regard to case, as Windows compares them: an
// import library may spell a name (WINMM.DLL) otherwise than the list does.
std::string lowerDll(std::string entry) {
    for (size_t i = 0; i < entry.size() && entry[i] != '!'; ++i)
        entry[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(entry[i])));
    return entry;
}

PeTables readTables(const std::string& path) {
    ChildProcess objdump({kObjdump, "-p", path});
    PeTables t;
    std::string line, dll;
    bool inExports = false;
    while (objdump.readLine(line, 20000)) {
        for (const char* field : {"MajorOSystemVersion", "MinorOSystemVersion",
                                  "MajorSubsystemVersion", "MinorSubsystemVersion"})
            if (line.rfind(std::string(field) + "\t", 0) == 0)
                t.header[field] = std::stoi(line.substr(line.find('\t')));
        if (line.find("DLL Name: ") != std::string::npos) {
            dll = lowerDll(line.substr(line.find("DLL Name: ") + 10));
            t.imports.insert(dll);
            continue;
        }
        if (!dll.empty()) {
            // "\tVMA\t HINT  NAME" per function, a blank line after the DLL's last
            std::istringstream fields(line);
            std::string vma, hint, name;
            if (line.empty())
                dll.clear();
            else if (line[0] == '\t' && fields >> vma >> hint && vma != "vma:") {
                if (!(fields >> name) || name == "<none>") name = "#" + hint;
                t.functions.insert(dll + "!" + name);
            }
        }
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

// The minimum versions an entry may note: Windows XP SP3 and what came before.
// Wine exports later functions even when it reports itself as XP, so the list
// is the only place where a later one shows.
bool noLaterThanXp(const std::string& version) {
    static const std::set<std::string> early{"Windows 2000 Professional", "Windows XP",
                                             "Windows XP with SP1", "Windows XP with SP2",
                                             "Windows XP with SP3"};
    return early.count(version) || version.rfind("msvcrt (", 0) == 0;
}

// The "DLL!Function" entries of a list; each must note a minimum Windows
// version no later than XP.
std::set<std::string> readAllowList(const char* list) {
    std::ifstream in(std::string(KVQ_SOURCE_DIR) + "/" + list);
    std::set<std::string> allowed;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string entry, version;
        if (!(fields >> entry) || entry[0] == '#') continue;
        std::getline(fields >> std::ws, version);
        EXPECT_TRUE(noLaterThanXp(version))
            << list << ": " << entry << " notes \"" << version << "\", not XP or earlier";
        allowed.insert(lowerDll(entry));
    }
    return allowed;
}

} // namespace

// Each plug-in DLL, and kvq-host.exe which ships beside them, imports only
// system DLLs and reviewed functions, and asks for no system later than XP.
TEST(WindowsLibraries, ExportOnlyTheEntryAndImportOnlyReviewedXpFunctions) {
    const std::set<std::string> system{"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"};
    const std::set<std::string> forDlls = readAllowList(kAllowList);
    ASSERT_GT(forDlls.size(), 50u) << "cannot read " << kAllowList;
    std::set<std::string> forHost = readAllowList(kHostAllowList);
    ASSERT_GT(forHost.size(), 10u) << "cannot read " << kHostAllowList;
    forHost.insert(forDlls.begin(), forDlls.end());

    struct stat tool {};
    if (stat(kObjdump, &tool) != 0)
        GTEST_SKIP() << "no " << kObjdump << " here (binutils-mingw-w64-i686)";
    int checked = 0;
    for (const char* file : {"KV-X10.dll", "Quillport.dll", "sample-plugin.dll", "kvq-host.exe"}) {
        std::string path = std::string(KVQ_WIN32_BIN) + "/" + file;
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) continue;
        ++checked;
        const bool host = std::string(file) == "kvq-host.exe";
        const std::set<std::string>& allowed = host ? forHost : forDlls;
        const char* list = host ? kHostAllowList : kAllowList;
        PeTables t = readTables(path);
        if (!host) {
            EXPECT_EQ(t.exports, std::vector<std::string>{"V_KVQ_ENTRY"}) << file;
        }
        EXPECT_FALSE(t.imports.empty()) << file;
        for (const std::string& import : t.imports)
            EXPECT_TRUE(system.count(import)) << file << " imports " << import;
        EXPECT_GE(t.functions.size(), t.imports.size()) << file;
        for (const std::string& function : t.functions)
            EXPECT_TRUE(allowed.count(function))
                << file << " imports " << function << ", which is not on " << list
                << ": review the minimum Windows version of that function (it must run on "
                   "Windows XP SP3) and add it there with that version";
        // Windows XP (5.1) refuses an image that asks for a later system.
        for (const char* kind : {"OSystem", "Subsystem"}) {
            std::string major = std::string("Major") + kind + "Version";
            std::string minor = std::string("Minor") + kind + "Version";
            ASSERT_TRUE(t.header.count(major) && t.header.count(minor)) << file;
            EXPECT_LE(std::make_pair(t.header[major], t.header[minor]), std::make_pair(5, 1))
                << file << " " << major << "." << minor;
        }
    }
    if (checked == 0) GTEST_SKIP() << "the win32 preset is not built (" << KVQ_WIN32_BIN << ")";
    EXPECT_EQ(checked, 4) << "a Windows binary is missing from " << KVQ_WIN32_BIN;
}
