#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "desktop/desktop_discovery_rules.hpp"
#include "desktop/desktop_session_records.hpp"

namespace qop::desktop {
namespace {

struct PathCase {
    const wchar_t* path;
    const wchar_t* last_component;
    const wchar_t* parent;
    const wchar_t* extension;
};

TEST(DiscoveryPathTest, PiecesFollowWindowsPathRules) {
    const PathCase cases[] = {
        {L"C:\\Apps\\Vorlane.exe", L"Vorlane.exe", L"C:\\Apps", L".exe"},
        {L"C:\\Apps\\Vorlane.EXE", L"Vorlane.EXE", L"C:\\Apps", L".exe"},
        {L"C:/Apps/Halvex.Exe", L"Halvex.Exe", L"C:/Apps", L".exe"},
        {L"C:\\Vorlane.exe", L"Vorlane.exe", L"C:\\", L".exe"},
        {L"C:Vorlane.exe", L"Vorlane.exe", L"C:", L".exe"},
        {L"Vorlane.exe", L"Vorlane.exe", L"", L".exe"},
        {L"\\\\server\\share\\Vorlane.exe", L"Vorlane.exe", L"\\\\server\\share", L".exe"},
        {L"C:\\Apps\\Vorlane", L"Vorlane", L"C:\\Apps", L""},
        {L"C:\\Apps\\Vorlane\\", L"", L"C:\\Apps\\Vorlane", L""},
        {L"C:\\Apps.exe\\Vorlane", L"Vorlane", L"C:\\Apps.exe", L""},
        {L"C:\\Apps\\.exe", L".exe", L"C:\\Apps", L""},
        {L"C:\\Apps\\..", L"..", L"C:\\Apps", L""},
        {L"C:\\Apps\\x.", L"x.", L"C:\\Apps", L"."},
        {L"C:\\Apps\\a.b.exe", L"a.b.exe", L"C:\\Apps", L".exe"},
        {L"C:\\Apps\\Vorlane.exe:stream", L"Vorlane.exe:stream", L"C:\\Apps", L".exe"},
        {L"C:\\Apps\\Vorlane:stream.exe", L"Vorlane:stream.exe", L"C:\\Apps", L""},
        {L"C:\\Apps\\Vorlane.exe ", L"Vorlane.exe ", L"C:\\Apps", L".exe "},
        {L"C:\\Apps\\\\Vorlane.exe", L"Vorlane.exe", L"C:\\Apps", L".exe"},
    };
    for (const PathCase& c : cases) {
        const std::wstring path = c.path;
        EXPECT_EQ(last_path_component(path), c.last_component);
        EXPECT_EQ(parent_folder(path), c.parent);
        EXPECT_EQ(lowercase_extension(path), c.extension);
    }
}

struct ShapeCase {
    const wchar_t* candidate;
    const wchar_t* shaped;
};

TEST(DiscoveryPathTest, FoldersGetTheExecutableNameAndExeFilesStayAsTheyAre) {
    const ShapeCase cases[] = {
        {L"C:\\Apps\\Halvex", L"C:\\Apps\\Halvex\\Halvex.exe"},
        {L"C:\\Apps\\Halvex\\", L"C:\\Apps\\Halvex\\Halvex.exe"},
        {L"C:\\Apps\\Halvex/", L"C:\\Apps\\Halvex/Halvex.exe"},
        {L"C:\\Apps\\Halvex.exe", L"C:\\Apps\\Halvex.exe"},
        {L"C:\\Apps\\HALVEX.EXE", L"C:\\Apps\\HALVEX.EXE"},
        {L"C:\\Apps\\Other.exe", L"C:\\Apps\\Other.exe"},
        {L"C:\\Apps\\Halvex.exe.bak", L"C:\\Apps\\Halvex.exe.bak\\Halvex.exe"},
        {L"C:\\Apps\\v1.2", L"C:\\Apps\\v1.2\\Halvex.exe"},
        {L"C:", L"C:Halvex.exe"},
        {L"C:\\", L"C:\\Halvex.exe"},
        {L"\"C:\\Apps\\Halvex.exe\"", L"\"C:\\Apps\\Halvex.exe\"\\Halvex.exe"},
    };
    for (const ShapeCase& c : cases) {
        EXPECT_EQ(shape_candidate(c.candidate, L"Halvex.exe"), c.shaped) << c.candidate;
    }
}

// Lookups answered from tables, recording what was asked.
struct FakeMachine {
    std::map<std::wstring, std::wstring> environment;
    std::map<std::wstring, std::wstring> registry;  // "HKLM|subkey|value" -> text
    std::wstring local_app_data = L"C:\\Users\\p\\AppData\\Local";
    bool has_local_app_data = true;
    std::set<std::wstring> files;  // lower-cased existing regular files
    std::vector<std::wstring> probed;

    DiscoveryLookups lookups() {
        DiscoveryLookups l;
        l.utf8_to_wide = [](const std::string& utf8, std::wstring& wide) {
            wide.clear();
            for (char c : utf8) {
                if (static_cast<unsigned char>(c) >= 0x80) {
                    wide.clear();
                    return false;
                }
                wide.push_back(static_cast<wchar_t>(c));
            }
            return true;
        };
        l.environment_variable = [this](const std::wstring& name) {
            auto found = environment.find(name);
            return found == environment.end() ? std::wstring() : found->second;
        };
        l.registry_string = [this](RegistryRoot root, const std::wstring& subkey,
                                   const std::wstring& value) {
            const std::wstring key =
                std::wstring(root == RegistryRoot::LocalMachine ? L"HKLM" : L"HKCU") + L"|" +
                subkey + L"|" + value;
            auto found = registry.find(key);
            return found == registry.end() ? std::wstring() : found->second;
        };
        l.local_app_data_folder = [this](std::wstring& folder) {
            folder = local_app_data;
            return has_local_app_data;
        };
        l.is_regular_file = [this](const std::wstring& path) {
            probed.push_back(path);
            return files.count(path) > 0;
        };
        return l;
    }
};

DesktopAttachOptions options_for(const char* environment, const char* launch_command = "") {
    DesktopAttachOptions options;
    options.environment = environment;
    options.launch_command = launch_command;
    return options;
}

const std::wstring kAppPaths = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

TEST(DiscoveryCandidatesTest, DevGathersEverySourceInOrder) {
    FakeMachine machine;
    machine.environment[L"ORVIK_DESKTOP_PATH"] = L"D:\\EnvClient";
    machine.registry[L"HKLM|" + kAppPaths + L"Halvex.exe|"] = L"E:\\Lm\\Halvex.exe";
    machine.registry[L"HKCU|" + kAppPaths + L"Halvex.exe|"] = L"F:\\Cu";
    machine.registry[L"HKCU|Software\\Halvex|InstallPath"] = L"G:\\Install";
    const std::vector<std::wstring> expected = {
        L"C:\\Cmd\\Halvex.exe",     L"D:\\EnvClient\\Halvex.exe",
        L"E:\\Lm\\Halvex.exe",      L"F:\\Cu\\Halvex.exe",
        L"G:\\Install\\Halvex.exe", L"C:\\Users\\p\\AppData\\Local\\Programs\\Halvex\\Halvex.exe",
    };
    EXPECT_EQ(gather_desktop_candidates(options_for("dev", "C:\\Cmd"), machine.lookups()),
              expected);
}

TEST(DiscoveryCandidatesTest, PreviewAndProductionIgnoreTheDevOnlySources) {
    struct Case {
        const char* environment;
        std::vector<std::wstring> expected;
    };
    const Case cases[] = {
        {"preview",
         {L"H:\\Vp1\\VorlanePreview.exe", L"H:\\Vp2\\VorlanePreview.exe",
          L"C:\\Users\\p\\AppData\\Local\\Programs\\VorlanePreview\\VorlanePreview.exe"}},
        {"prod",
         {L"H:\\V\\Vorlane.exe", L"H:\\Od\\Vorlane.exe",
          L"C:\\Users\\p\\AppData\\Local\\Programs\\Vorlane\\Vorlane.exe"}},
        {"Dev",
         {L"H:\\V\\Vorlane.exe", L"H:\\Od\\Vorlane.exe",
          L"C:\\Users\\p\\AppData\\Local\\Programs\\Vorlane\\Vorlane.exe"}},
    };
    for (const Case& c : cases) {
        FakeMachine machine;
        machine.environment[L"ORVIK_DESKTOP_PATH"] = L"D:\\EnvClient";
        machine.registry[L"HKCU|Software\\Vorlane Preview|InstallPath"] = L"H:\\Vp1";
        machine.registry[L"HKCU|Software\\VorlanePreview|InstallPath"] = L"H:\\Vp2";
        machine.registry[L"HKCU|Software\\Vorlane|InstallPath"] = L"H:\\V";
        machine.registry[L"HKCU|Software\\Orvik\\Desktop|InstallPath"] = L"H:\\Od";
        EXPECT_EQ(
            gather_desktop_candidates(options_for(c.environment, "C:\\Cmd"), machine.lookups()),
            c.expected)
            << c.environment;
    }
}

TEST(DiscoveryCandidatesTest, SourcesThatYieldNothingAddNoCandidate) {
    FakeMachine machine;
    machine.has_local_app_data = false;
    // Invalid UTF-8 in the launch command adds nothing; neither do empty values.
    EXPECT_TRUE(
        gather_desktop_candidates(options_for("dev", "C:\\Caf\xC3"), machine.lookups()).empty());
    EXPECT_TRUE(gather_desktop_candidates(options_for("dev", ""), machine.lookups()).empty());
    EXPECT_TRUE(gather_desktop_candidates(options_for("prod"), DiscoveryLookups{}).empty());
}

TEST(DiscoveryPickTest, FirstExistingFileNamedLikeTheClientWins) {
    struct Case {
        const char* name;
        std::vector<std::wstring> candidates;
        std::set<std::wstring> files;
        std::optional<std::wstring> expected;
    };
    const Case cases[] = {
        {"first of two existing",
         {L"A\\Halvex.exe", L"B\\Halvex.exe"},
         {L"A\\Halvex.exe", L"B\\Halvex.exe"},
         L"A\\Halvex.exe"},
        {"missing first skipped",
         {L"A\\Halvex.exe", L"B\\Halvex.exe"},
         {L"B\\Halvex.exe"},
         L"B\\Halvex.exe"},
        {"name in other case kept as built",
         {L"A\\HALVEX.EXE"},
         {L"A\\HALVEX.EXE"},
         L"A\\HALVEX.EXE"},
        {"another executable skipped",
         {L"A\\Other.exe", L"B\\Halvex.exe"},
         {L"A\\Other.exe", L"B\\Halvex.exe"},
         L"B\\Halvex.exe"},
        {"nothing exists", {L"A\\Halvex.exe"}, {}, std::nullopt},
        {"no candidates", {}, {}, std::nullopt},
        {"stream name is not the client", {L"A\\Halvex.exe:x"}, {L"A\\Halvex.exe:x"}, std::nullopt},
        {"embedded NUL hides another program",
         {std::wstring(L"A\\Other.exe") + L'\0' + L"\\Halvex.exe", L"B\\Halvex.exe"},
         {L"A\\Other.exe", L"B\\Halvex.exe"},
         L"B\\Halvex.exe"},
    };
    for (const Case& c : cases) {
        // Like the system, the file check reads a path up to its first NUL.
        const auto exists = [&](const std::wstring& path) {
            return c.files.count(std::wstring(path.c_str())) > 0;
        };
        EXPECT_EQ(pick_desktop_executable(c.candidates, L"Halvex.exe", exists), c.expected)
            << c.name;
    }
    EXPECT_EQ(pick_desktop_executable({L"A\\Halvex.exe"}, L"Halvex.exe", nullptr), std::nullopt);
}

TEST(DiscoveryResolveTest, AllCandidatesAreGatheredBeforeTheFirstIsTried) {
    FakeMachine machine;
    machine.registry[L"HKCU|Software\\Vorlane|InstallPath"] = L"H:\\V";
    machine.files.insert(L"C:\\Users\\p\\AppData\\Local\\Programs\\Vorlane\\Vorlane.exe");
    const auto found = resolve_desktop_executable(options_for("prod"), machine.lookups());
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, L"C:\\Users\\p\\AppData\\Local\\Programs\\Vorlane\\Vorlane.exe");
    const std::vector<std::wstring> probed = {
        L"H:\\V\\Vorlane.exe", L"C:\\Users\\p\\AppData\\Local\\Programs\\Vorlane\\Vorlane.exe"};
    EXPECT_EQ(machine.probed, probed);
}

TEST(DiscoveryResolveTest, DevLaunchCommandNamingTheFileInUpperCaseIsFound) {
    FakeMachine machine;
    machine.files.insert(L"C:\\Tools\\HALVEX.EXE");
    const auto found =
        resolve_desktop_executable(options_for("dev", "C:\\Tools\\HALVEX.EXE"), machine.lookups());
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, L"C:\\Tools\\HALVEX.EXE");
}

TEST(DiscoveryResolveTest, ProductionIgnoresLaunchCommandAndPathVariable) {
    FakeMachine machine;
    machine.environment[L"ORVIK_DESKTOP_PATH"] = L"D:\\Client";
    machine.files.insert(L"C:\\Tools\\Vorlane.exe");
    machine.files.insert(L"D:\\Client\\Vorlane.exe");
    EXPECT_EQ(resolve_desktop_executable(options_for("prod", "C:\\Tools"), machine.lookups()),
              std::nullopt);
}

}  // namespace
}  // namespace qop::desktop
