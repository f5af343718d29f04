// Holds a file open the way a virus scanner or a sync client does, sharing
// reading and writing but not deletion or renaming, for a while.
//   file_holder PATH MILLISECONDS EVENT_NAME
// The named event is set once the file is open.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (held) SetEvent(held);
    Sleep(static_cast<DWORD>(std::atoi(argv[2])));
    CloseHandle(file);
    return 0;
}
