// multiview: a window with one tile per host. Each tile has a source picker filled by the
// host's own listing, a quality, the picture (a view: the library places it and keeps its
// shape), and a status line. Closing the window ends every host at once.
//   multiview HOST.exe [HOST.exe...] [--library-folder=DIR] [--close-after=MS]
// HOST.exe with its absolute path; a tile takes the listed source of its own number (tile
// 2 the second, round again when fewer) until you pick another. Only the C interface.
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "host_controller.h"

namespace {

const UINT kTileChanged = WM_APP + 1;  // wParam: the tile whose events came
const int kBar = 26;                   // picker row above the picture, status line below

struct Tile {
    hc_host* host = nullptr;
    HWND picker = nullptr, quality = nullptr, status = nullptr;
    bool picked = false;
    std::mutex lock;  // the callback fills what follows, the window takes it
    bool ready = false, listed = false;
    std::vector<std::string> sources;
    std::string state = "starting", stats;
};

std::vector<Tile> tiles;
HWND window = nullptr;
HBRUSH background = nullptr;

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(
        MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &wide[0], (int)wide.size()));
    return wide;
}

std::string Utf8(const wchar_t* text) {
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 0);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], (int)utf8.size(), nullptr, nullptr);
    utf8.pop_back();
    return utf8;
}

// On the library's callback thread: note what the tile shows and wake the window.
void OnEvent(void* user, const hc_event* e) {
    Tile& tile = *static_cast<Tile*>(user);
    {
        std::lock_guard<std::mutex> lock(tile.lock);
        char text[64];
        if (e->type == HC_EVENT_READY) {
            tile.ready = true;
        } else if (e->type == HC_EVENT_STATUS) {  // connecting NAME, error TEXT...
            const std::string state = std::string(e->state) + " " + e->source;
            tile.stats = state == tile.state ? tile.stats : std::string();
            tile.state = state;
        } else if (e->type == HC_EVENT_STATS) {
            snprintf(text, sizeof text, "   %.1f fps, %d x %d", e->fps, e->width, e->height);
            tile.stats = text;
        } else if (e->type == HC_EVENT_SOURCES) {
            tile.sources.assign(e->names, e->names + e->name_count);
            tile.listed = true;
            tile.stats = e->error[0] ? std::string("   no sources: ") + e->error : tile.stats;
        } else if (e->type == HC_EVENT_EXITED) {
            snprintf(text, sizeof text, "host ended with code %lu", e->exit_code);
            tile.state = text;
            tile.stats.clear();
        } else {
            return;
        }
    }
    PostMessageW(window, kTileChanged, (WPARAM)(&tile - tiles.data()), 0);
}

HWND Control(const wchar_t* type, DWORD style) {
    HWND control = CreateWindowExW(0, type, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window,
                                   nullptr, nullptr, nullptr);
    SendMessageW(control, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), 0);
    return control;
}

// Tiles in a grid as square as their number allows, each following the window's size.
void Layout() {
    RECT client;
    GetClientRect(window, &client);
    const int count = (int)tiles.size();
    const int columns = (int)std::ceil(std::sqrt((double)count));
    const int rows = (count + columns - 1) / columns;
    const int width = client.right / columns, height = client.bottom / rows;
    for (int i = 0; i < count; ++i) {
        Tile& tile = tiles[i];
        const int x = (i % columns) * width + 4, y = (i / columns) * height + 4;
        const int w = width - 8, h = height - 8;
        MoveWindow(tile.picker, x, y, w - 90, 300, TRUE);
        MoveWindow(tile.quality, x + w - 84, y, 84, 200, TRUE);
        MoveWindow(tile.status, x, y + h - kBar + 4, w, kBar - 4, TRUE);
        hc_view_show(tile.host, window, x, y + kBar, w, std::max(0, h - 2 * kBar), 0);
    }
}

void Refresh(Tile& tile) {
    bool ready, listed;
    std::vector<std::string> sources;
    std::string line;
    {
        std::lock_guard<std::mutex> lock(tile.lock);
        ready = tile.ready;
        listed = tile.listed;
        tile.ready = tile.listed = false;
        sources = tile.sources;
        line = tile.state + tile.stats;
    }
    if (ready) {  // the host has its window: show it, and ask what it can see
        Layout();
        hc_request_sources(tile.host);
    }
    if (listed) {
        SendMessageW(tile.picker, CB_RESETCONTENT, 0, 0);
        for (const std::string& name : sources) {
            SendMessageW(tile.picker, CB_ADDSTRING, 0, (LPARAM)Wide(name).c_str());
        }
        if (!tile.picked && !sources.empty()) {
            const size_t pick = (size_t)(&tile - tiles.data()) % sources.size();
            tile.picked = hc_set_source(tile.host, sources[pick].c_str(), nullptr) == HC_OK;
            SendMessageW(tile.picker, CB_SETCURSEL, pick, 0);
        }
    }
    SetWindowTextW(tile.status, Wide(line).c_str());
}

void OnPick(HWND control) {
    const LRESULT chosen = SendMessageW(control, CB_GETCURSEL, 0, 0);
    wchar_t name[1024] = {};
    for (Tile& tile : tiles) {
        if (control == tile.quality && chosen >= 0) {
            hc_set_quality(tile.host, chosen == 0 ? "high" : "low");
        } else if (control == tile.picker && chosen >= 0 &&
                   SendMessageW(control, CB_GETLBTEXTLEN, chosen, 0) < 1024) {
            SendMessageW(control, CB_GETLBTEXT, chosen, (LPARAM)name);
            tile.picked = true;
            hc_set_source(tile.host, Utf8(name).c_str(), nullptr);
        }
    }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            Layout();
            return 0;
        case kTileChanged:
            Refresh(tiles[wParam]);
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) == CBN_SELCHANGE) {
                OnPick((HWND)lParam);
            }
            return 0;
        case WM_CTLCOLORSTATIC:  // status lines in light text on the window's colour
            SetTextColor((HDC)wParam, RGB(220, 224, 232));
            SetBkColor((HDC)wParam, RGB(24, 28, 36));
            return (LRESULT)background;
        case WM_TIMER:  // --close-after
        case WM_CLOSE: {
            // Every host at once: together they take about as long as the slowest.
            std::vector<hc_host*> hosts;
            for (Tile& tile : tiles) {
                hosts.push_back(tile.host);
            }
            hc_end_many(hosts.data(), hosts.size(), 10000, nullptr, nullptr);
            DestroyWindow(hwnd);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> hosts;
    hc_start_options options = {};
    options.size = sizeof options;
    hc_default_start_options(&options);
    std::string folder;
    UINT closeAfterMs = 0;
    for (int i = 1; i < count; ++i) {
        std::string arg = Utf8(args[i]);
        if (arg.rfind("--library-folder=", 0) == 0) {
            folder = arg.substr(17);
            options.library_folder = folder.c_str();
        } else if (arg.rfind("--close-after=", 0) == 0) {
            closeAfterMs = (UINT)std::stoul(arg.substr(14));
        } else {
            hosts.push_back(arg);
        }
    }
    if (hosts.empty()) {
        MessageBoxW(nullptr, L"multiview HOST.exe [HOST.exe...] [--library-folder=DIR]",
                    L"Multiview", MB_OK);
        return 2;
    }
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, (LPCWSTR)IDC_ARROW);
    windowClass.hbrBackground = background = CreateSolidBrush(RGB(24, 28, 36));  // and the bars
    windowClass.lpszClassName = L"Multiview";
    RegisterClassExW(&windowClass);
    window = CreateWindowExW(0, L"Multiview", L"Multiview", WS_OVERLAPPEDWINDOW, 40, 40, 1280, 800,
                             nullptr, nullptr, instance, nullptr);
    tiles = std::vector<Tile>(hosts.size());
    for (size_t i = 0; i < hosts.size(); ++i) {
        Tile& tile = tiles[i];
        tile.picker = Control(L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL);
        tile.quality = Control(L"COMBOBOX", CBS_DROPDOWNLIST);
        SendMessageW(tile.quality, CB_ADDSTRING, 0, (LPARAM)L"high");
        SendMessageW(tile.quality, CB_ADDSTRING, 0, (LPARAM)L"low");
        SendMessageW(tile.quality, CB_SETCURSEL, 0, 0);
        tile.status = Control(L"STATIC", SS_LEFTNOWORDWRAP);
        hc_create(&tile.host);
        if (hc_start_ex(tile.host, hosts[i].c_str(), nullptr, 0, OnEvent, &tile, &options) !=
            HC_OK) {
            tile.state = std::string("could not start: ") + hc_last_error(tile.host);
        }
        SetWindowTextW(tile.status, Wide(tile.state).c_str());
    }
    if (closeAfterMs > 0) {
        SetTimer(window, 1, closeAfterMs, nullptr);
    }
    ShowWindow(window, show);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    for (Tile& tile : tiles) {
        hc_destroy(tile.host);
    }
    return 0;
}
