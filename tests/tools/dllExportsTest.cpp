// The Windows libraries as a host sees them: each plug-in DLL exports exactly
// V_KVQ_ENTRY, undecorated, imports only system DLLs (no runtime DLL of ours), and
// only functions reviewed for Windows XP SP3 (tests/tools/dllImports.allow), with a
// PE header that XP accepts.
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

// "DLL!Function" -> the minimum Windows version noted beside it.
std::map<std::string, std::string> readAllowList() {
    std::ifstream in(std::string(KVQ_SOURCE_DIR) + "/" + kAllowList);
    std::map<std::string, std::string> allowed;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string entry, note;
        if (!(fields >> entry) || entry[0] == '#') continue;
        std::getline(fields >> std::ws, note);
        allowed[lowerDll(entry)] = note;
    }
    return allowed;
}

bool upToXp(const std::string& note) {
    if (note.rfind("msvcrt ", 0) == 0) return true;
    for (const char* v : {"Windows 95", "Windows 98", "Windows NT", "Windows 2000", "Windows XP"})
        if (note.rfind(v, 0) == 0) return true;
    return false;
}

} // namespace

TEST(WindowsLibraries, ExportOnlyTheEntryAndImportOnlyReviewedXpFunctions) {
    const std::set<std::string> system{"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"};
    // What other runtimes (winpthreads, newer C++ libraries) pull in; none is on XP.
    const std::string laterThanXp =
        " GetTickCount64 InitializeSRWLock AcquireSRWLockExclusive InitializeConditionVariable"
        " SleepConditionVariableCS InitOnceExecuteOnce FlsAlloc CancelIoEx"
        " GetCurrentProcessorNumber CreateEventExA CreateEventExW GetSystemTimePreciseAsFileTime ";
    const std::map<std::string, std::string> allowed = readAllowList();
    ASSERT_GT(allowed.size(), 50u) << "cannot read " << kAllowList;
    for (const auto& [entry, note] : allowed) {
        EXPECT_TRUE(system.count(entry.substr(0, entry.find('!')))) << entry;
        EXPECT_EQ(laterThanXp.find(" " + entry.substr(entry.find('!') + 1) + " "),
                  std::string::npos)
            << entry << " does not exist on Windows XP";
        EXPECT_TRUE(upToXp(note)) << entry << ": \"" << note
                                  << "\" is not a Windows version up to XP (or msvcrt)";
    }

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
        EXPECT_GE(t.functions.size(), t.imports.size()) << dll;
        for (const std::string& function : t.functions)
            EXPECT_TRUE(allowed.count(function))
                << dll << " imports " << function << ", which is not on " << kAllowList
                << ": review the minimum Windows version of that function (the DLLs must "
                   "load on Windows XP SP3) and add it there with that version";
        // Windows XP (5.1) refuses an image that asks for a later system.
        for (const char* kind : {"OSystem", "Subsystem"}) {
            std::string major = std::string("Major") + kind + "Version";
            std::string minor = std::string("Minor") + kind + "Version";
            ASSERT_TRUE(t.header.count(major) && t.header.count(minor)) << dll;
            EXPECT_LE(std::make_pair(t.header[major], t.header[minor]), std::make_pair(5, 1))
                << dll << " " << major << "." << minor;
        }
    }
    if (checked == 0) GTEST_SKIP() << "the win32 preset is not built (" << KVQ_WIN32_BIN << ")";
}
