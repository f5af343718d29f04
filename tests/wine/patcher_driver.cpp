// Drives Q8RPatcher.exe as a user would and writes down what it showed: the
// patcher window with its labels, every message box in order (caption, text,
// owner, icon, buttons, the status line behind it) and the exit code. Each
// box is dismissed with its OK button.
//
// patcher_driver LOG PATCHER GAME_DIR [--second-start] [--pause-at-box DIR]
//                [--read-only RELATIVE]... [--timeout SECONDS] [--watch]
//   --second-start   at the first box, start a second patcher in the same
//                    folder and note its exit code and any window it shows
//   --pause-at-box   at the first box, create DIR\box.ready and wait for
//                    DIR\box.go (so a screenshot can be taken)
//   --read-only      give GAME_DIR\RELATIVE the read-only attribute first
//   --watch          note each status text as it changes, how often
//                    "Task Finished." was seen, and how often the window
//                    answered a message sent to it again and again while
//                    it ran (answered=, unanswered=, and
//                    answered.moving-sounds= while the status line read
//                    "Moving sound files..."); once the first step's text
//                    shows, ask the window to close, as a window
//                    manager's close button does
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

FILE* logFile = nullptr;

void Log(const std::string& line) {
    std::fprintf(logFile, "%s\n", line.c_str());
    std::fflush(logFile);
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

std::string TextOf(HWND window) {
    char text[1024] = {};
    if (window) GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct Search {
    DWORD processId;
    const char* className;  // null: any
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter) {
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId) return TRUE;
    if (search->className && ClassOf(window) != search->className) return TRUE;
    search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD processId, const char* className) {
    Search search = {processId, className, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM parameter) {
    auto* children = reinterpret_cast<std::vector<HWND>*>(parameter);
    if (GetParent(window) == GetAncestor(window, GA_PARENT)) children->push_back(window);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

// Wide, so that a game folder named in letters the code page lacks is
// reached as it is.
PROCESS_INFORMATION Start(const std::wstring& patcher, const std::wstring& folder) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"\"" + patcher + L"\"";
    if (!CreateProcessW(patcher.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &process)) {
        Log("start-failed=" + std::to_string(GetLastError()));
    }
    return process;
}

void LogPatcherWindow(HWND window) {
    RECT outer = {};
    GetWindowRect(window, &outer);
    Log("window.title=" + Escaped(TextOf(window)));
    char line[256];
    std::snprintf(line, sizeof line, "window.style=0x%08lX", static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)));
    Log(line);
    std::snprintf(line, sizeof line, "window.exstyle=0x%08lX",
                  static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)));
    Log(line);
    std::snprintf(line, sizeof line, "window.rect=%ld,%ld,%ld,%ld", outer.left, outer.top, outer.right - outer.left,
                  outer.bottom - outer.top);
    Log(line);
    std::snprintf(line, sizeof line, "screen=%d,%d", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    Log(line);
    std::snprintf(line, sizeof line, "window.sysmenu=%d", (GetWindowLongA(window, GWL_STYLE) & WS_SYSMENU) ? 1 : 0);
    Log(line);
    int index = 0;
    for (HWND child : Children(window)) {
        RECT box = {};
        GetWindowRect(child, &box);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
        std::snprintf(line, sizeof line, "child%d.class=%s id=%d style=0x%08lX rect=%ld,%ld,%ld,%ld", index,
                      ClassOf(child).c_str(), GetDlgCtrlID(child),
                      static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)), box.left, box.top,
                      box.right - box.left, box.bottom - box.top);
        Log(line);
        Log("child" + std::to_string(index) + ".text=" + Escaped(TextOf(child)));
        ++index;
    }
}

// The class brush as painted: another process's class record is not shown
// everywhere (Wine answers 0), the pixels are. The point lies between the
// two labels, where only the background shows.
void LogBackground(HWND window) {
    HDC dc = GetDC(window);
    char line[128];
    std::snprintf(line, sizeof line, "window.background=%06lX scroll-bar=%06lX",
                  static_cast<unsigned long>(GetPixel(dc, 2, 50)),
                  static_cast<unsigned long>(GetSysColor(COLOR_SCROLLBAR)));
    Log(line);
    ReleaseDC(window, dc);
}

HWND StatusLine(HWND window) {
    std::vector<HWND> children = Children(window);
    return children.size() >= 2 ? children[1] : nullptr;
}

bool BoxShowsIcon(HWND box) {
    // Windows gives the box's icon control id 20; Wine id 1088.
    for (int id : {20, 1088}) {
        HWND icon = GetDlgItem(box, id);
        if (!icon || !IsWindowVisible(icon)) continue;
        DWORD_PTR handle = 0;
        SendMessageTimeoutA(icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &handle);
        if (handle) return true;
    }
    return false;
}

std::string BoxButtons(HWND box) {
    std::string buttons;
    for (HWND child : Children(box)) {
        if (ClassOf(child) != "Button" || !IsWindowVisible(child)) continue;
        if (!buttons.empty()) buttons += ",";
        buttons += Escaped(TextOf(child));
    }
    return buttons;
}

// Messages the window's thread must take from its queue to answer, as a
// window manager's ping needs, sent one after the other from a thread of
// their own so that the watch misses no text meanwhile.
struct Pinger {
    HWND window;
    HANDLE process;
    volatile LONG answered;
    volatile LONG unanswered;
    volatile LONG answeredMovingSounds;
};


DWORD WINAPI PingUntilEnd(void* parameter) {
    Pinger* pinger = static_cast<Pinger*>(parameter);
    while (WaitForSingleObject(pinger->process, 100) == WAIT_TIMEOUT) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(pinger->window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result)) {
            InterlockedIncrement(&pinger->answered);
            // Answered within the step, not only at the next status text.
            if (TextOf(StatusLine(pinger->window)) == "Current Operation: Moving sound files...")
                InterlockedIncrement(&pinger->answeredMovingSounds);
        } else if (IsWindow(pinger->window)) {
            InterlockedIncrement(&pinger->unanswered);
        }
    }
    return 0;
}

bool WaitForFile(const std::string& path, DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 50) {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(50);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: patcher_driver LOG PATCHER GAME_DIR [options]\n");
        return 2;
    }
    logFile = std::fopen(argv[1], "wb");
    if (!logFile) return 2;
    const std::string folder = argv[3];
    int wideCount = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (!wide || wideCount < 4) return 2;
    const std::wstring patcher = wide[2];
    const std::wstring wideFolder = wide[3];
    bool secondStart = false;
    bool watch = false;
    std::string pauseFolder;
    DWORD timeoutMs = 480000;
    for (int i = 4; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--second-start") {
            secondStart = true;
        } else if (option == "--pause-at-box" && i + 1 < argc) {
            pauseFolder = argv[++i];
        } else if (option == "--read-only" && i + 1 < argc) {
            const std::string path = folder + "\\" + argv[++i];
            if (!SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY)) Log("read-only-failed=" + Escaped(path));
        } else if (option == "--watch") {
            watch = true;
        } else if (option == "--timeout" && i + 1 < argc) {
            timeoutMs = static_cast<DWORD>(std::atoi(argv[++i])) * 1000;
        }
    }

    // A scroll-bar colour of its own, so that the background check cannot
    // pass by chance with a white or grey brush; put back at the end. A
    // watched run keeps the usual colours: its pictures go to the README.
    const int scrollBar = COLOR_SCROLLBAR;
    const COLORREF usualScrollBar = GetSysColor(COLOR_SCROLLBAR);
    const COLORREF testScrollBar = watch ? usualScrollBar : RGB(0x12, 0x9A, 0x56);
    SetSysColors(1, &scrollBar, &testScrollBar);

    PROCESS_INFORMATION process = Start(patcher, wideFolder);
    if (!process.hProcess) {
        SetSysColors(1, &scrollBar, &usualScrollBar);
        return 1;
    }
    HWND window = nullptr;
    int boxes = 0;
    std::string lastStatus;
    int finishedSeen = 0;
    bool askedToClose = false;
    Pinger pinger = {nullptr, process.hProcess, 0, 0, 0};
    HANDLE pingThread = nullptr;
    DWORD waited = 0;
    for (; waited < timeoutMs; waited += 20) {
        if (!window) {
            std::vector<HWND> found = TopLevelWindows(process.dwProcessId, "Q8RPatcher");
            if (!found.empty()) {
                window = found.front();
                LogPatcherWindow(window);
            }
        }
        if (watch && window && !pingThread) {
            pinger.window = window;
            pingThread = CreateThread(nullptr, 0, PingUntilEnd, &pinger, 0, nullptr);
        }
        if (watch && window && IsWindow(window)) {
            const std::string status = TextOf(StatusLine(window));
            if (status == "Task Finished." && IsWindowVisible(window)) ++finishedSeen;
            if (status != lastStatus) {
                lastStatus = status;
                Log("status=" + Escaped(status));
                if (!askedToClose && status != "Current Operation:") {
                    askedToClose = true;
                    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
                }
            }
        }
        std::vector<HWND> open = TopLevelWindows(process.dwProcessId, "#32770");
        HWND box = nullptr;
        for (HWND candidate : open)
            if (IsWindowVisible(candidate)) box = candidate;
        if (box) {
            ++boxes;
            const std::string prefix = "box" + std::to_string(boxes);
            HWND owner = GetWindow(box, GW_OWNER);
            Log(prefix + ".caption=" + Escaped(TextOf(box)));
            Log(prefix + ".text=" + Escaped(TextOf(GetDlgItem(box, 0xFFFF))));
            Log(prefix + ".owner=" + (owner && owner == window ? "patcher" : owner ? "other" : "none"));
            Log(prefix + ".icon=" + (BoxShowsIcon(box) ? "1" : "0"));
            Log(prefix + ".buttons=" + BoxButtons(box));
            Log(prefix + ".status=" + Escaped(TextOf(StatusLine(window))));
            if (boxes == 1 && window) LogBackground(window);
            if (boxes == 1 && secondStart) {
                PROCESS_INFORMATION second = Start(patcher, wideFolder);
                bool showedWindow = false;
                DWORD result = WAIT_TIMEOUT;
                for (int i = 0; i < 6000 && result == WAIT_TIMEOUT; ++i) {
                    if (!TopLevelWindows(second.dwProcessId, nullptr).empty()) showedWindow = true;
                    result = WaitForSingleObject(second.hProcess, 20);
                }
                DWORD code = 0;
                GetExitCodeProcess(second.hProcess, &code);
                Log("second.exit=" + std::to_string(static_cast<int>(code)));
                Log(std::string("second.window=") + (showedWindow ? "1" : "0"));
                Log("first.running=" + std::string(WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT ? "1" : "0"));
            }
            if (boxes == 1 && !pauseFolder.empty()) {
                // Below the window, so the picture shows both whole.
                RECT outer = {};
                if (window && GetWindowRect(window, &outer))
                    SetWindowPos(box, nullptr, outer.left, outer.bottom + 10, 0, 0,
                                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
                std::FILE* ready = std::fopen((pauseFolder + "\\box.ready").c_str(), "w");
                if (ready) std::fclose(ready);
                if (!WaitForFile(pauseFolder + "\\box.go", 600000)) Log("pause-timed-out=1");
            }
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            for (int i = 0; i < 6000 && IsWindow(box); ++i) Sleep(20);
            continue;
        }
        if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) break;
    }
    if (waited >= timeoutMs) {
        Log("timed-out=1");
        TerminateProcess(process.hProcess, 99);
    }
    WaitForSingleObject(process.hProcess, 5000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    SetSysColors(1, &scrollBar, &usualScrollBar);
    if (pingThread) {
        WaitForSingleObject(pingThread, 70000);
        Log("answered=" + std::to_string(pinger.answered));
        Log("unanswered=" + std::to_string(pinger.unanswered));
        Log("answered.moving-sounds=" + std::to_string(pinger.answeredMovingSounds));
        Log("finished.seen=" + std::to_string(finishedSeen));
    }
    Log("boxes=" + std::to_string(boxes));
    Log("exit=" + std::to_string(static_cast<int>(code)));
    std::fclose(logFile);
    return 0;
}
