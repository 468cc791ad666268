// A program that only records that it was started: it appends one line, "args=" and the text
// after its program name, to "<its own path>.started". Tests start copies of it (or plant it
// where the setup used to be) and read the record: started or not, and with which arguments.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR arguments, int) {
    wchar_t path[MAX_PATH + 16] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    lstrcatW(path, L".started");
    std::wstring text = L"args=" + std::wstring(arguments ? arguments : L"") + L"\n";
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string line(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &line[0], bytes, nullptr, nullptr);
    HANDLE record = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (record == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(record, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(record);
    return 0;
}
