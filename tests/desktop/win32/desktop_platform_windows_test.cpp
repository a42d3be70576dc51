#include <gtest/gtest.h>

#ifdef _WIN32

#include <windows.h>
// Shell declarations need windows.h first.
#include <shlobj.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "desktop/desktop_discovery_rules.hpp"
#include "desktop/desktop_platform.hpp"
#include "desktop/platform/windows/windows_discovery_lookups.hpp"

namespace qop::desktop {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::wstring unique_suffix() {
    static int counter = 0;
    return std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()) +
           L"-" + std::to_wstring(++counter);
}

std::string narrow_ascii(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// A folder of its own under the temporary folder, removed at the end.
class TempFolder {
public:
    TempFolder() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        path_ = fs::path(temp) / (L"qop-platform-" + unique_suffix());
        fs::create_directories(path_);
    }
    ~TempFolder() {
        // A launched program may still hold its executable for a moment.
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::error_code error;
            fs::remove_all(path_, error);
            if (!error) {
                return;
            }
            std::this_thread::sleep_for(50ms);
        }
    }
    const fs::path& path() const { return path_; }
    fs::path touch(const std::wstring& name) const {
        const fs::path file = path_ / name;
        std::ofstream(file.c_str()) << "stand-in";
        return file;
    }

private:
    fs::path path_;
};

// Sets or clears an environment variable for one test and restores it.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
        had_value_ = read(old_value_);
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, had_value_ ? old_value_.c_str() : nullptr); }

private:
    bool read(std::wstring& value) {
        const DWORD size = GetEnvironmentVariableW(name_, nullptr, 0);
        if (size == 0) {
            return false;
        }
        value.assign(size, L'\0');
        value.resize(GetEnvironmentVariableW(name_, value.data(), size));
        return true;
    }
    const wchar_t* name_;
    bool had_value_ = false;
    std::wstring old_value_;
};

// A key under HKEY_CURRENT_USER that the test creates and deletes again.
class ScopedUserKey {
public:
    explicit ScopedUserKey(std::wstring subkey) : subkey_(std::move(subkey)) {
        RegCreateKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key_, nullptr);
    }
    ~ScopedUserKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, subkey_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, subkey_.c_str());
    }
    bool set(const std::wstring& name, DWORD type, const void* data, DWORD bytes) {
        return RegSetValueExW(key_, name.empty() ? nullptr : name.c_str(), 0, type,
                              static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
    }
    bool set_text(const std::wstring& name, DWORD type, const std::wstring& text) {
        return set(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
    }
    const std::wstring& subkey() const { return subkey_; }

private:
    std::wstring subkey_;
    HKEY key_ = nullptr;
};

TEST(RegistryStringTest, OnlyStringValuesAreReadAndExpandedSafely) {
    ScopedVariable folder(L"QOP_TEST_CLIENT_ROOT", L"D:\\Games");
    ScopedUserKey key(L"Software\\QopSdkTests\\" + unique_suffix());
    const DWORD number = 42;
    const std::uint8_t blob[] = {'C', 0, ':', 0};
    const wchar_t odd_text[] = L"abcd";
    const wchar_t padded[] = L"C:\\Pad\0\0\0";
    ASSERT_TRUE(key.set_text(L"Plain", REG_SZ, L"C:\\Apps\\Vorlane"));
    ASSERT_TRUE(key.set_text(L"", REG_SZ, L"C:\\Default"));
    ASSERT_TRUE(key.set_text(L"Expand", REG_EXPAND_SZ, L"%QOP_TEST_CLIENT_ROOT%\\Vorlane"));
    ASSERT_TRUE(key.set_text(L"Unknown", REG_EXPAND_SZ, L"%QOP_TEST_NOT_SET_ANYWHERE%\\x"));
    ASSERT_TRUE(key.set(L"Number", REG_DWORD, &number, sizeof number));
    ASSERT_TRUE(key.set(L"Binary", REG_BINARY, blob, sizeof blob));
    ASSERT_TRUE(key.set(L"Odd", REG_SZ, odd_text, 7));      // "abc" and half of 'd'
    ASSERT_TRUE(key.set(L"OneByte", REG_SZ, odd_text, 1));  // below one character
    ASSERT_TRUE(key.set(L"Padded", REG_SZ, padded, sizeof padded));
    ASSERT_TRUE(key.set(L"EmptyText", REG_SZ, L"", 2));

    struct Case {
        const wchar_t* value;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"Plain", L"C:\\Apps\\Vorlane"},
        {L"", L"C:\\Default"},
        {L"Expand", L"D:\\Games\\Vorlane"},
        {L"Unknown", L"%QOP_TEST_NOT_SET_ANYWHERE%\\x"},
        {L"Number", L""},
        {L"Binary", L""},
        {L"Odd", L"abcd"},
        {L"OneByte", L""},
        {L"Padded", L"C:\\Pad"},
        {L"EmptyText", L""},
        {L"Missing", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read_registry_string(HKEY_CURRENT_USER, key.subkey(), c.value), c.expected)
            << narrow_ascii(c.value);
    }
    EXPECT_EQ(read_registry_string(HKEY_CURRENT_USER, key.subkey() + L"\\Absent", L""), L"");
}

TEST(DesktopDiscoveryTest, InstallPathOfTypeExpandStringNamesTheClientFolder) {
    TempFolder client;
    const fs::path executable = client.touch(L"VorlanePreview.exe");
    ScopedVariable root(L"QOP_TEST_CLIENT_ROOT", client.path().c_str());
    ScopedUserKey key(L"Software\\Vorlane Preview");
    ASSERT_TRUE(key.set_text(L"InstallPath", REG_EXPAND_SZ, L"%QOP_TEST_CLIENT_ROOT%"));

    DesktopAttachOptions options;
    options.environment = "preview";
    const auto found = resolve_desktop_executable(options, make_system_discovery_lookups());
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(fs::path(*found), executable);
}

TEST(DesktopDiscoveryTest, InstallPathOfAnotherTypeAddsNoCandidate) {
    ScopedUserKey key(L"Software\\Vorlane Preview");
    const DWORD number = 7;
    ASSERT_TRUE(key.set(L"InstallPath", REG_DWORD, &number, sizeof number));
    DesktopAttachOptions options;
    options.environment = "preview";
    for (const std::wstring& candidate :
         gather_desktop_candidates(options, make_system_discovery_lookups())) {
        EXPECT_NE(candidate.find(L"Programs"), std::wstring::npos) << narrow_ascii(candidate);
    }
}

TEST(DesktopDiscoveryTest, ClientUnderTheLocalProgramsFolderIsFound) {
    wchar_t local[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(
        SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local)));
    const fs::path folder = fs::path(local) / L"Programs" / L"Vorlane";
    ASSERT_FALSE(fs::exists(folder)) << "a Vorlane client is already installed here";
    fs::create_directories(folder);
    std::ofstream((folder / L"Vorlane.exe").c_str()) << "stand-in";

    DesktopAttachOptions options;
    const auto found = resolve_desktop_executable(options, make_system_discovery_lookups());
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(fs::path(*found), folder / L"Vorlane.exe");
}

fs::path stub_program() {
    std::string folder = QOP_TEST_PROGRAM_DIR;
    if (!folder.empty() && folder[0] == '/') {
        folder = "Z:" + folder;  // a build folder of the Linux host, seen through Wine
    }
    return fs::path(folder) / "desktop_client_stub.exe";
}

TEST(DesktopLaunchTest, FoundClientIsStartedInItsOwnFolder) {
    TempFolder client;
    const fs::path executable = client.path() / L"Halvex.exe";
    ASSERT_TRUE(fs::copy_file(stub_program(), executable)) << stub_program().string();
    ScopedVariable no_path(L"ORVIK_DESKTOP_PATH", nullptr);

    DesktopAttachOptions options;
    options.environment = "dev";
    options.launch_command = client.path().string();
    auto platform = create_default_platform();
    ASSERT_NE(platform, nullptr);
    SdkError error;
    ASSERT_TRUE(platform->launch_desktop_client(options, error)) << error.message;

    const fs::path marker = client.path() / L"desktop-client-started.txt";
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(fs::exists(marker));
}

TEST(DesktopLaunchTest, FileThatIsNoProgramFailsToLaunch) {
    TempFolder client;
    client.touch(L"Halvex.exe");  // text, not a program
    ScopedVariable no_path(L"ORVIK_DESKTOP_PATH", nullptr);
    DesktopAttachOptions options;
    options.environment = "dev";
    options.launch_command = client.path().string();
    SdkError error;
    EXPECT_FALSE(create_default_platform()->launch_desktop_client(options, error));
    EXPECT_EQ(error.code, "DESKTOP_SESSION_REQUIRED");
    EXPECT_EQ(error.message, "Failed to launch QOP desktop");
    EXPECT_EQ(error.category, "channel");
    EXPECT_TRUE(error.retryable);
}

TEST(DesktopLaunchTest, NothingFoundIsReportedAsRetryable) {
    TempFolder empty;
    ScopedVariable no_path(L"ORVIK_DESKTOP_PATH", nullptr);
    DesktopAttachOptions options;
    options.environment = "dev";
    options.launch_command = empty.path().string();
    SdkError error;
    EXPECT_FALSE(create_default_platform()->launch_desktop_client(options, error));
    EXPECT_EQ(error.code, "DESKTOP_SESSION_REQUIRED");
    EXPECT_EQ(error.message, "Desktop launch command could not be resolved");
    EXPECT_EQ(error.category, "channel");
    EXPECT_TRUE(error.retryable);
}

TEST(DesktopPlatformTest, EndpointVariableIsReadForEveryChannel) {
    auto platform = create_default_platform();
    DesktopAttachOptions options;
    {
        ScopedVariable unset(L"ORVIK_DESKTOP_PIPE_ENDPOINT", nullptr);
        EXPECT_EQ(platform->resolve_pipe_endpoint(options), "\\\\.\\pipe\\qop-desktop-sdk");
    }
    ScopedVariable set(L"ORVIK_DESKTOP_PIPE_ENDPOINT", L"qop-caf\u00e9");
    EXPECT_EQ(platform->resolve_pipe_endpoint(options), "qop-caf\xC3\xA9");
    options.environment = "dev";
    options.pipe_endpoint_override = "mine";
    EXPECT_EQ(platform->resolve_pipe_endpoint(options), "mine");
}

TEST(DesktopPlatformTest, ReportsThisProcessAndMakesTransports) {
    auto platform = create_default_platform();
    ASSERT_NE(platform, nullptr);
    EXPECT_EQ(platform->current_process_id(), GetCurrentProcessId());
    EXPECT_NE(platform->create_transport(), nullptr);
}

}  // namespace
}  // namespace qop::desktop

#else

#include "desktop/desktop_platform.hpp"

TEST(DesktopPlatformTest, NoPlatformWithoutWindows) {
    EXPECT_EQ(qop::desktop::create_default_platform(), nullptr);
}

#endif
