// ui_snapshot_win32.cpp - opens a simulated camera's property sheet through configureCamera, as a
// host does, plays a few edits on both pages and the table generator, and saves each window as a
// BMP for the documentation. Needs a display (scripts/ui-screenshots.sh runs it under Xvfb).
//
// Usage: kestcam_ui_snapshot SYSTEM-DIR OUT-DIR      (Windows paths)
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "driver_library.h"

namespace {

using kestcam::cli::DriverExports;

HWND WaitForWindow(const char *caption) {
    for (int i = 0; i < 300; ++i) {
        HWND hwnd = FindWindowA(nullptr, caption);
        if (hwnd != nullptr) return hwnd;
        Sleep(50);
    }
    return nullptr;
}

// Lets the dialog's thread paint what the last messages changed.
void Settle(HWND hwnd) {
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(400);
}

// The client area only: without a window manager nobody draws the title bar and frame.
bool SaveWindow(HWND hwnd, const std::string &file) {
    RECT r;
    GetClientRect(hwnd, &r);
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT *>(&r), 2);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const int stride = (w * 3 + 3) & ~3;
    std::vector<unsigned char> pixels(static_cast<size_t>(stride) * h);
    GetDIBits(memory, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char *>(&header), sizeof header);
    out.write(reinterpret_cast<const char *>(&info), sizeof info);
    out.write(reinterpret_cast<const char *>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
    std::printf("ui_snapshot: %s (%dx%d)\n", file.c_str(), w, h);
    return static_cast<bool>(out);
}

void Type(HWND page, int id, const char *text) {
    SendMessageA(GetDlgItem(page, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
void Click(HWND page, int id) {
    SendMessageA(GetDlgItem(page, id), BM_CLICK, 0, 0);
}

void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestcam_ui_snapshot SYSTEM-DIR OUT-DIR\n");
        return 2;
    }
    const std::string sys = argv[1], out = argv[2];
    std::filesystem::create_directories(sys + "\\dcf");
    // The simulator reads a DCF as an INI file with a [Digitizer] section.
    WriteFile(sys + "\\dcf\\linescan.dcf", "[Digitizer]\r\nWidth=2048\r\nHeight=1000\r\n");
    WriteFile(sys + "\\tables.csv", "x;ln;gamma\r\n0;0;0\r\n");
    WriteFile(sys + "\\Kest.ini", "[Camera 1]\r\nDCF_FILE=.\\dcf\\linescan.dcf\r\nUseLUT=1\r\nLUT_FILE=" + sys +
                                      "\\tables.csv\r\nlutcolumn=ln\r\nLogLevel=2\r\nShareCamera=1\r\n"
                                      "ShareName=line1\r\nGrabTimeout=6000\r\n");

    kestcam::cli::DriverLibrary driver;
    std::string error;
    if (!driver.Load(kestcam::cli::DriverLibrary::DefaultPath(), error)) {
        std::fprintf(stderr, "ui_snapshot: %s\n", error.c_str());
        return 1;
    }
    const DriverExports &d = driver.Exports();
    d.initialize(sys.c_str(), nullptr);
    // Opened once, so the page knows the camera's bands and size.
    int geometry[2] = {0, 0};
    d.openCVLPort(0, 1, "Camera 1", geometry);
    d.closeCVLPort(0, 1);

    std::future<int> result =
        std::async(std::launch::async, [&] { return d.configureCamera(nullptr, "Camera 1"); });
    HWND sheet = WaitForWindow("Camera 1 properties");
    if (sheet == nullptr) {
        std::fprintf(stderr, "ui_snapshot: the property sheet did not appear\n");
        return 1;
    }
    SetWindowPos(sheet, nullptr, 16, 16, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    bool saved = true;

    HWND fg = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    Type(fg, 1021, "11"); // Height Multiplier out of range: the status bar reports it
    Settle(sheet);
    saved &= SaveWindow(sheet, out + "\\framegrabber-page.bmp");
    Type(fg, 1021, "2");

    SendMessageA(sheet, PSM_SETCURSEL, 1, 0);
    HWND cam = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    Click(cam, 1046); // direct access
    Click(cam, 1044); // gain
    Click(cam, 1049); // exposure time
    Type(cam, 1016, "0.5");
    Type(cam, 1036, "1.5"); // out of range, but not checked on the page
    // Another COM port, as the user picks it: the sheet shows its reset notice.
    HWND port = GetDlgItem(cam, 1025);
    SendMessageA(port, CB_SETCURSEL, 1, 0);
    SendMessageA(cam, WM_COMMAND, MAKEWPARAM(1025, CBN_SELCHANGE), reinterpret_cast<LPARAM>(port));
    Settle(sheet);
    saved &= SaveWindow(sheet, out + "\\camera-page.bmp");

    SendMessageA(sheet, PSM_SETCURSEL, 0, 0);
    PostMessageA(GetDlgItem(fg, 1007), BM_CLICK, 0, 0); // the generator runs modally on the sheet's thread
    HWND generator = WaitForWindow("Generate LUT table");
    if (generator != nullptr) {
        SetWindowPos(generator, HWND_TOP, 16, 16, 0, 0, SWP_NOSIZE);
        Settle(generator);
        saved &= SaveWindow(generator, out + "\\generator.bmp");
        PostMessageA(generator, WM_COMMAND, IDCANCEL, 0);
    } else {
        saved = false;
    }

    Sleep(200);
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    const int answer = result.get();
    d.finalize();
    std::printf("ui_snapshot: configureCamera answered %d\n", answer);
    return saved && answer == 1 ? 0 : 1;
}
