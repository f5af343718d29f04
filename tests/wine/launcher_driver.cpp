// Drives the real Q8RLauncher.exe the way a player and Windows would: starts
// it in a game folder, looks at its window, clicks its buttons, closes it,
// and reads its resources back from the program file.
//   launcher_driver LAUNCHER GAME_ROOT PATCHER WORK_FOLDER
// GAME_ROOT holds Darkinst.cfg, a stand-in thief2.exe and a q8r folder; the
// stand-in writes GAME_ROOT\started.txt. In WORK_FOLDER the driver makes
// "window-shown" once the window is up and waits for "shot-taken".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "resource_ids.h"

namespace {

std::string launcherPath, gameRoot, patcherPath, workFolder;
int passed = 0;
int failed = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    (ok ? passed : failed)++;
}

template <typename T>
void CheckEqual(T actual, T expected, const std::string& what) {
    const bool ok = actual == expected;
    Check(ok, what + (ok ? "" : " (got " + std::to_string(actual) + ", expected " + std::to_string(expected) + ")"));
}

void CheckText(const std::string& actual, const std::string& expected, const std::string& what) {
    const bool ok = actual == expected;
    Check(ok, what + (ok ? "" : " (got \"" + actual + "\", expected \"" + expected + "\")"));
}

bool FileThere(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string RecordPath() {
    return gameRoot + "\\started.txt";
}

std::string ReadWhole(const std::string& path) {
    std::string text;
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return text;
    char chunk[512];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) text.append(chunk, got);
    std::fclose(in);
    return text;
}

// Polls for something that another process does; gives up after `seconds`.
template <typename Condition>
bool WaitFor(Condition condition, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (condition()) return true;
        Sleep(50);
    }
    return condition();
}

// The stand-in's record, once it has written all of it.
std::string AwaitRecord() {
    std::string text;
    WaitFor([&] {
        text = ReadWhole(RecordPath());
        return text.find("commandline=") != std::string::npos && text.find("\r\n", text.find("commandline=")) != std::string::npos;
    }, 30);
    return text;
}

std::string RecordField(const std::string& record, const std::string& name) {
    const size_t start = record.find(name + "=");
    if (start == std::string::npos) return "<missing>";
    const size_t end = record.find("\r\n", start);
    return record.substr(start + name.size() + 1, end - start - name.size() - 1);
}

PROCESS_INFORMATION StartLauncher() {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + launcherPath + "\"";
    if (!CreateProcessA(launcherPath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        gameRoot.c_str(), &startup, &process)) {
        std::printf("FAIL cannot start %s (error %lu)\n", launcherPath.c_str(), GetLastError());
        std::exit(2);
    }
    return process;
}

// The exit code, or STILL_ACTIVE when it has not ended after `seconds`.
DWORD AwaitExit(const PROCESS_INFORMATION& process, int seconds) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, seconds * 1000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    return code;
}

void Finish(PROCESS_INFORMATION& process) {
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

struct WindowSearch {
    DWORD processId;
    HWND found;
    int count;
};

BOOL CALLBACK CountLauncherWindows(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, "Q8RLoader") != 0) return TRUE;
    ++search->count;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId) search->found = window;
    return TRUE;
}

int LauncherWindowCount() {
    WindowSearch search = {0, nullptr, 0};
    EnumWindows(CountLauncherWindows, reinterpret_cast<LPARAM>(&search));
    return search.count;
}

HWND AwaitLauncherWindow(const PROCESS_INFORMATION& process) {
    WindowSearch search = {process.dwProcessId, nullptr, 0};
    WaitFor([&] {
        search.found = nullptr;
        search.count = 0;
        EnumWindows(CountLauncherWindows, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr && IsWindowVisible(search.found);
    }, 60);
    return search.found;
}

std::string WindowText(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

bool LooksPainted(HWND window) {
    // The picture's sky is dark blue; the class background would be white.
    HDC dc = GetDC(window);
    const COLORREF pixel = GetPixel(dc, 200, 30);
    ReleaseDC(window, dc);
    return pixel != CLR_INVALID && GetRValue(pixel) < 80 && GetGValue(pixel) < 80 && GetBValue(pixel) < 110;
}

void CheckWindow(HWND window) {
    CheckText(WindowText(window), "Q8R: Gloamspire  v1.1", "title");
    const HWND found = FindWindowA("Q8RLoader", nullptr);
    Check(found == window, "FindWindowA finds the window by its class");

    RECT outer = {};
    GetWindowRect(window, &outer);
    CheckEqual<long>(outer.right - outer.left, 394, "outer width");
    CheckEqual<long>(outer.bottom - outer.top, 380, "outer height");
    CheckEqual<long>(outer.left, (GetSystemMetrics(SM_CXSCREEN) >> 1) - 197, "left edge centred");
    CheckEqual<long>(outer.top, (GetSystemMetrics(SM_CYSCREEN) >> 1) - 190, "top edge centred");

    // Windows itself adds WS_VISIBLE on showing and WS_CLIPSIBLINGS, and
    // WS_EX_WINDOWEDGE to any captioned window.
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    CheckEqual<unsigned long>(style & ~(WS_VISIBLE | WS_CLIPSIBLINGS), 0x00CA0000ul, "window style");
    const LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    CheckEqual<unsigned long>(exStyle & ~WS_EX_WINDOWEDGE, 0ul, "no extended style");

    // The class record (style, icons, cursor, brush) is checked in-process by
    // the window tests: Wine shows no other process's class record.

    const struct {
        int id;
        const char* caption;
        long top;
    } buttons[] = {{IDC_PLAY_Q8R, "Play Q8R", 20}, {IDC_PLAY_THIEF2, "Play Thief2", 60}};
    for (const auto& b : buttons) {
        const std::string name = std::string("button \"") + b.caption + "\" ";
        HWND button = GetDlgItem(window, b.id);
        Check(button != nullptr, name + "exists with its control id");
        if (!button) continue;
        CheckText(WindowText(button), b.caption, name + "caption");
        char className[32] = {};
        GetClassNameA(button, className, sizeof className);
        Check(lstrcmpiA(className, "BUTTON") == 0, name + "is a BUTTON");
        CheckEqual<unsigned long>(GetWindowLongA(button, GWL_STYLE), 0x50000000ul, name + "style");
        RECT r = {};
        GetWindowRect(button, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        CheckEqual<long>(r.left, 280, name + "left");
        CheckEqual<long>(r.top, b.top, name + "top");
        CheckEqual<long>(r.right - r.left, 100, name + "width");
        CheckEqual<long>(r.bottom - r.top, 25, name + "height");
    }
    Check(WaitFor([&] { return LooksPainted(window); }, 10), "background picture painted");
}

void WindowAndClose() {
    DeleteFileA(RecordPath().c_str());
    PROCESS_INFORMATION first = StartLauncher();
    HWND window = AwaitLauncherWindow(first);
    Check(window != nullptr, "launcher shows its window");
    if (!window) {
        Finish(first);
        return;
    }
    CheckWindow(window);

    PROCESS_INFORMATION second = StartLauncher();
    CheckEqual<unsigned long>(AwaitExit(second, 60), 0xFFFFFFFFul, "a second launcher exits with -1");
    CheckEqual(LauncherWindowCount(), 1, "the second launcher showed no window");
    Finish(second);

    // A command from any other control is not a launch.
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(303, BN_CLICKED), 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(0, 0), 0);
    CheckEqual<unsigned long>(AwaitExit(first, 1), STILL_ACTIVE, "another command id does not end it");
    Check(IsWindow(window) != FALSE, "the window is still there");

    // Minimised and restored, the picture is painted again.
    ShowWindow(window, SW_MINIMIZE);
    ShowWindow(window, SW_RESTORE);
    Check(WaitFor([&] { return LooksPainted(window); }, 10), "picture painted again after restoring");

    CloseHandle(CreateFileA((workFolder + "\\window-shown").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    Check(WaitFor([&] { return FileThere(workFolder + "\\shot-taken"); }, 60), "screenshot taken");

    PostMessageA(window, WM_CLOSE, 0, 0);
    CheckEqual<unsigned long>(AwaitExit(first, 60), 0ul, "closing the window exits with 0");
    Check(!FileThere(RecordPath()), "closing starts no game");
    Finish(first);
}

void PlayButton(int id, bool byClick, const std::string& expectedDirectory, const std::string& name) {
    DeleteFileA(RecordPath().c_str());
    PROCESS_INFORMATION process = StartLauncher();
    HWND window = AwaitLauncherWindow(process);
    Check(window != nullptr, name + ": window shown");
    if (!window) {
        Finish(process);
        return;
    }
    if (byClick) {
        SendMessageA(GetDlgItem(window, id), BM_CLICK, 0, 0);
    } else {
        // The notification code in the high word is not looked at.
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 1), 0);
    }
    CheckEqual<unsigned long>(AwaitExit(process, 60), 0ul, name + ": launcher exits with 0");
    Finish(process);

    const std::string record = AwaitRecord();
    Check(!record.empty(), name + ": the game was started");
    Check(lstrcmpiA(RecordField(record, "directory").c_str(), expectedDirectory.c_str()) == 0,
          name + ": game works in " + expectedDirectory + " (got " + RecordField(record, "directory") + ")");
    CheckText(RecordField(record, "arguments"), "0", name + ": game gets no arguments");
    std::printf("     %s: command line %s\n", name.c_str(), RecordField(record, "commandline").c_str());
}

void PlayWithoutConfig() {
    DeleteFileA(RecordPath().c_str());
    const std::string config = gameRoot + "\\Darkinst.cfg";
    const std::string aside = gameRoot + "\\Darkinst.cfg.aside";
    MoveFileA(config.c_str(), aside.c_str());
    PROCESS_INFORMATION process = StartLauncher();
    HWND window = AwaitLauncherWindow(process);
    if (window) SendMessageA(GetDlgItem(window, IDC_PLAY_Q8R), BM_CLICK, 0, 0);
    CheckEqual<unsigned long>(AwaitExit(process, 60), 0ul, "no Darkinst.cfg: launcher still exits with 0");
    Finish(process);
    Sleep(1000);
    Check(!FileThere(RecordPath()), "no Darkinst.cfg: no game started");
    MoveFileA(aside.c_str(), config.c_str());
}

// The system menu's Close and Alt+F4 both reach the window as this command.
void CloseThroughTheSystemMenu() {
    PROCESS_INFORMATION process = StartLauncher();
    HWND window = AwaitLauncherWindow(process);
    if (window) PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    CheckEqual<unsigned long>(AwaitExit(process, 60), 0ul, "Close from the system menu exits with 0");
    Finish(process);
    Check(!FileThere(RecordPath()), "closing starts no game");
}

struct Resource {
    const unsigned char* bytes;
    DWORD size;
};

Resource FindIn(HMODULE module, int id, LPCSTR type) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (!found) return {nullptr, 0};
    return {static_cast<const unsigned char*>(LockResource(LoadResource(module, found))), SizeofResource(module, found)};
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconGroup {
    WORD reserved, type, count;
    IconGroupEntry entries[1];
};
#pragma pack(pop)

void CheckManifest(HMODULE module, const std::string& program) {
    const Resource manifest = FindIn(module, 1, MAKEINTRESOURCEA(24));
    const std::string text = manifest.bytes ? std::string(reinterpret_cast<const char*>(manifest.bytes), manifest.size) : "";
    Check(text.find("level=\"asInvoker\"") != std::string::npos, program + ": manifest asks for no elevation");
}

std::string VersionString(const std::string& path, const char* name) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return "<no version record>";
    std::string data(size, '\0');
    GetFileVersionInfoA(path.c_str(), 0, size, &data[0]);
    void* value = nullptr;
    UINT length = 0;
    const std::string query = std::string("\\StringFileInfo\\0C0904B0\\") + name;
    if (!VerQueryValueA(data.data(), query.c_str(), &value, &length) || !value) return "<missing>";
    return static_cast<const char*>(value);
}

void Resources() {
    HMODULE module = LoadLibraryExA(launcherPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    Check(module != nullptr, "launcher loads as a data file");
    if (!module) return;

    const Resource picture = FindIn(module, IDB_BACKGROUND, MAKEINTRESOURCEA(2));
    CheckEqual<unsigned long>(picture.size, 449960ul, "bitmap 108 size");
    if (picture.bytes && picture.size >= sizeof(BITMAPINFOHEADER)) {
        BITMAPINFOHEADER header;
        std::memcpy(&header, picture.bytes, sizeof header);
        CheckEqual<unsigned long>(header.biSize, 40ul, "bitmap header size");
        CheckEqual<long>(header.biWidth, 394, "bitmap width");
        CheckEqual<long>(header.biHeight, 380, "bitmap height, bottom-up");
        CheckEqual<int>(header.biPlanes, 1, "bitmap planes");
        CheckEqual<int>(header.biBitCount, 24, "bitmap bits per pixel");
        CheckEqual<unsigned long>(header.biCompression, BI_RGB, "bitmap uncompressed");
        CheckEqual<unsigned long>(header.biSizeImage, 449920ul, "bitmap pixel bytes (stride 1184)");
        CheckEqual<long>(header.biXPelsPerMeter, 11811, "bitmap horizontal resolution");
        CheckEqual<long>(header.biYPelsPerMeter, 11811, "bitmap vertical resolution");
        CheckEqual<unsigned long>(header.biClrUsed, 0ul, "bitmap has no colour table");
    }

    const struct {
        int id, size;
        unsigned long bytes;
    } icons[] = {{IDI_LAUNCHER, 64, 12840}, {IDI_LAUNCHER_SMALL, 16, 872}};
    for (const auto& icon : icons) {
        const std::string name = "icon group " + std::to_string(icon.id) + " ";
        const Resource group = FindIn(module, icon.id, MAKEINTRESOURCEA(14));
        Check(group.bytes != nullptr, name + "present");
        if (!group.bytes) continue;
        const auto* directory = reinterpret_cast<const IconGroup*>(group.bytes);
        CheckEqual<int>(directory->count, 1, name + "holds one image");
        const IconGroupEntry& entry = directory->entries[0];
        CheckEqual<int>(entry.width, icon.size, name + "width");
        CheckEqual<int>(entry.height, icon.size, name + "height");
        CheckEqual<int>(entry.bitCount, 24, name + "bits per pixel");
        CheckEqual<unsigned long>(entry.bytes, icon.bytes, name + "image bytes");
        const Resource image = FindIn(module, entry.id, MAKEINTRESOURCEA(3));
        CheckEqual<unsigned long>(image.size, icon.bytes, name + "image resource size");
    }
    CheckManifest(module, "launcher");
    FreeLibrary(module);

    HMODULE patcher = LoadLibraryExA(patcherPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    Check(patcher != nullptr, "patcher loads as a data file");
    if (patcher) {
        CheckManifest(patcher, "patcher");
        FreeLibrary(patcher);
    }

    CheckText(VersionString(launcherPath, "FileDescription"), "Q8R Launcher", "FileDescription");
    CheckText(VersionString(launcherPath, "ProductName"), "Q8R Launcher", "ProductName");
    CheckText(VersionString(launcherPath, "FileVersion"), "1.1.0", "FileVersion");
    CheckText(VersionString(launcherPath, "ProductVersion"), "1.1.0", "ProductVersion");
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(launcherPath.c_str(), &ignored);
    std::string data(size ? size : 1, '\0');
    GetFileVersionInfoA(launcherPath.c_str(), 0, size, &data[0]);
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\", &value, &length) && value) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        CheckEqual<unsigned long>(fixed->dwFileVersionMS, 0x00010001ul, "file version 1.1");
        CheckEqual<unsigned long>(fixed->dwFileVersionLS, 0ul, "file version .0.0");
        CheckEqual<unsigned long>(fixed->dwProductVersionMS, 0x00010001ul, "product version 1.1");
        CheckEqual<unsigned long>(fixed->dwProductVersionLS, 0ul, "product version .0.0");
    } else {
        Check(false, "fixed version record");
    }
    if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) && value && length >= 4) {
        const WORD* translation = static_cast<const WORD*>(value);
        CheckEqual<int>(translation[0], 0x0C09, "translation language");
        CheckEqual<int>(translation[1], 1200, "translation code page");
    } else {
        Check(false, "translation record");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::printf("usage: launcher_driver LAUNCHER GAME_ROOT PATCHER WORK_FOLDER\n");
        return 2;
    }
    launcherPath = argv[1];
    gameRoot = argv[2];
    patcherPath = argv[3];
    workFolder = argv[4];
    const std::string parent = gameRoot.substr(0, gameRoot.find_last_of('\\'));

    Resources();
    WindowAndClose();
    CloseThroughTheSystemMenu();
    PlayButton(IDC_PLAY_Q8R, true, gameRoot + "\\q8r", "Play Q8R");
    PlayButton(IDC_PLAY_THIEF2, false, parent, "Play Thief2");
    PlayWithoutConfig();

    std::printf("launcher: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
