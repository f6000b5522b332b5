// Window classes, windows, messages and the pictures that Present hands to
// windows. Everything runs on the one thread that drives the module, as the
// user-interface thread of a Windows program would.
#include "win32/internal.h"

#include <velmora_platform.h>
#include <windows.h>

#include <strings.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct WindowClass
{
    std::string name;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    ATOM atom = 0;
};

struct Window
{
    HWND handle = nullptr;
    std::string className;
    WNDPROC proc = nullptr;
    HWND parent = nullptr;
    std::vector<HWND> children;
    int x = 0, y = 0, width = 0, height = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::string text;
    LONG_PTR userData = 0;
    LONG_PTR id = 0;
    HINSTANCE instance = nullptr;
    bool destroying = false;
    std::vector<DWORD> picture;
    int pictureWidth = 0, pictureHeight = 0;
    unsigned pictureSerial = 0;
};

struct CaseLess
{
    bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

struct WindowManager
{
    std::map<std::string, WindowClass, CaseLess> classes;
    // Handles are never reused, so a stale handle stays invalid.
    std::map<HWND, std::shared_ptr<Window>> windows;
    std::deque<MSG> queue;
    HWND foreground = nullptr;
    uintptr_t nextHandle = 0x10010;
    ATOM nextAtom = 0xC000;
};

WindowManager& Manager()
{
    static WindowManager* manager = new WindowManager; // lives until the process ends, after every user
    return *manager;
}

std::shared_ptr<Window> Find(HWND hWnd)
{
    auto& windows = Manager().windows;
    auto it = windows.find(hWnd);
    if (it == windows.end())
        return nullptr;
    return it->second;
}

std::shared_ptr<Window> FindOrFail(HWND hWnd)
{
    std::shared_ptr<Window> window = Find(hWnd);
    if (!window)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return window;
}

// Screen position of a window's client origin (no frames: client = window).
void ScreenOrigin(const Window& window, LONG& x, LONG& y)
{
    x = window.x;
    y = window.y;
    HWND parent = window.parent;
    while (parent)
    {
        std::shared_ptr<Window> p = Find(parent);
        if (!p)
            break;
        x += p->x;
        y += p->y;
        parent = p->parent;
    }
}

void SendDestroy(const std::shared_ptr<Window>& window)
{
    // WM_DESTROY goes to the parent first, while its children still exist.
    SendMessageA(window->handle, WM_DESTROY, 0, 0);
    std::vector<HWND> children = window->children;
    for (HWND child : children)
        if (std::shared_ptr<Window> c = Find(child))
            SendDestroy(c);
}

void Remove(const std::shared_ptr<Window>& window)
{
    // The children go first; WM_NCDESTROY is the last message a window sees.
    std::vector<HWND> children = window->children;
    for (HWND child : children)
        if (std::shared_ptr<Window> c = Find(child))
            Remove(c);
    SendMessageA(window->handle, WM_NCDESTROY, 0, 0);

    WindowManager& manager = Manager();
    if (std::shared_ptr<Window> parent = Find(window->parent))
    {
        auto& siblings = parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window->handle), siblings.end());
    }
    if (manager.foreground == window->handle)
        manager.foreground = nullptr;
    auto& queue = manager.queue;
    HWND handle = window->handle;
    queue.erase(std::remove_if(queue.begin(), queue.end(), [handle](const MSG& m) { return m.hwnd == handle; }),
                queue.end());
    manager.windows.erase(handle);
}

bool Reposition(HWND hWnd, int x, int y, int cx, int cy, UINT flags)
{
    std::shared_ptr<Window> window = FindOrFail(hWnd);
    if (!window)
        return false;
    WINDOWPOS pos = {hWnd, nullptr, x, y, cx, cy, flags};
    if (flags & SWP_NOMOVE)
    {
        pos.x = window->x;
        pos.y = window->y;
    }
    if (flags & SWP_NOSIZE)
    {
        pos.cx = window->width;
        pos.cy = window->height;
    }
    // The procedure may still change the proposed place.
    SendMessageA(hWnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    if (!Find(hWnd))
        return false;
    const bool moved = pos.x != window->x || pos.y != window->y;
    const bool sized = pos.cx != window->width || pos.cy != window->height;
    window->x = pos.x;
    window->y = pos.y;
    window->width = std::max(0, pos.cx);
    window->height = std::max(0, pos.cy);
    SendMessageA(hWnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    if (moved)
        SendMessageA(hWnd, WM_MOVE, 0, MAKELPARAM(window->x, window->y));
    if (sized)
        SendMessageA(hWnd, WM_SIZE, 0, MAKELPARAM(window->width, window->height));
    return true;
}

} // namespace

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass)
{
    if (!lpWndClass || !lpWndClass->lpszClassName || !lpWndClass->lpszClassName[0] || !lpWndClass->lpfnWndProc)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WindowManager& manager = Manager();
    if (manager.classes.count(lpWndClass->lpszClassName))
    {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass windowClass;
    windowClass.name = lpWndClass->lpszClassName;
    windowClass.proc = lpWndClass->lpfnWndProc;
    windowClass.instance = lpWndClass->hInstance;
    windowClass.atom = manager.nextAtom++;
    manager.classes[windowClass.name] = windowClass;
    return windowClass.atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance)
{
    WindowManager& manager = Manager();
    if (!lpClassName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto it = manager.classes.find(lpClassName);
    if (it == manager.classes.end())
    {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (const auto& entry : manager.windows)
    {
        if (strcasecmp(entry.second->className.c_str(), lpClassName) == 0)
        {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    }
    manager.classes.erase(it);
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam)
{
    WindowManager& manager = Manager();
    auto cls = lpClassName ? manager.classes.find(lpClassName) : manager.classes.end();
    if (cls == manager.classes.end())
    {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    std::shared_ptr<Window> parent;
    if (hWndParent)
    {
        parent = Find(hWndParent);
        if (!parent)
        {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
    }
    else if (dwStyle & WS_CHILD)
    {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    if (X == CW_USEDEFAULT)
        X = Y = 0;
    if (nWidth == CW_USEDEFAULT)
    {
        nWidth = 640;
        nHeight = 480;
    }

    auto window = std::make_shared<Window>();
    window->handle = reinterpret_cast<HWND>(manager.nextHandle);
    manager.nextHandle += 0x10;
    window->className = cls->second.name;
    window->proc = cls->second.proc;
    window->parent = hWndParent;
    window->x = X;
    window->y = Y;
    window->width = std::max(0, nWidth);
    window->height = std::max(0, nHeight);
    window->style = dwStyle;
    window->exStyle = dwExStyle;
    window->text = lpWindowName ? lpWindowName : "";
    window->instance = hInstance;
    window->id = (dwStyle & WS_CHILD) ? reinterpret_cast<LONG_PTR>(hMenu) : 0;
    manager.windows[window->handle] = window;
    if (parent)
        parent->children.push_back(window->handle);

    HWND hwnd = window->handle;
    CREATESTRUCTA create = {lpParam, hInstance, hMenu, hWndParent, window->height, window->width, Y, X,
                            static_cast<LONG>(dwStyle), lpWindowName, lpClassName, dwExStyle};
    if (!SendMessageA(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)))
    {
        if (Find(hwnd))
            Remove(window);
        return nullptr;
    }
    if (!Find(hwnd))
        return nullptr;
    if (SendMessageA(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1)
    {
        DestroyWindow(hwnd);
        return nullptr;
    }
    if (!Find(hwnd))
        return nullptr;
    SendMessageA(hwnd, WM_SIZE, 0, MAKELPARAM(window->width, window->height));
    SendMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(window->x, window->y));
    if (!Find(hwnd))
        return nullptr;
    if ((dwStyle & WS_VISIBLE) && !(dwStyle & WS_CHILD))
        manager.foreground = hwnd;
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    std::shared_ptr<Window> window = FindOrFail(hWnd);
    if (!window || window->destroying)
        return FALSE;
    std::vector<std::shared_ptr<Window>> tree{window};
    for (size_t i = 0; i < tree.size(); ++i)
    {
        tree[i]->destroying = true;
        for (HWND child : tree[i]->children)
            if (std::shared_ptr<Window> c = Find(child))
                tree.push_back(c);
    }
    SendDestroy(window);
    if (Find(hWnd))
        Remove(window);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    return Find(hWnd) != nullptr;
}

HWND WINAPI GetParent(HWND hWnd)
{
    std::shared_ptr<Window> window = FindOrFail(hWnd);
    return window ? window->parent : nullptr;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    switch (Msg)
    {
    case WM_NCCREATE:
        return TRUE;
    case WM_SETTEXT:
        if (std::shared_ptr<Window> window = Find(hWnd))
        {
            const char* text = reinterpret_cast<const char*>(lParam);
            window->text = text ? text : "";
            return TRUE;
        }
        return FALSE;
    case WM_GETTEXT:
        if (std::shared_ptr<Window> window = Find(hWnd))
        {
            char* out = reinterpret_cast<char*>(lParam);
            if (!out || wParam == 0)
                return 0;
            size_t n = std::min<size_t>(window->text.size(), wParam - 1);
            window->text.copy(out, n);
            out[n] = '\0';
            return static_cast<LRESULT>(n);
        }
        return 0;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    default:
        return 0;
    }
}

LONG_PTR WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    std::shared_ptr<Window> window = FindOrFail(hWnd);
    if (!window)
        return 0;
    LONG_PTR previous = 0;
    switch (nIndex)
    {
    case GWL_USERDATA:
        previous = window->userData;
        window->userData = dwNewLong;
        break;
    case GWL_WNDPROC:
        previous = reinterpret_cast<LONG_PTR>(window->proc);
        if (dwNewLong)
            window->proc = reinterpret_cast<WNDPROC>(dwNewLong);
        break;
    case GWL_STYLE:
        previous = static_cast<LONG_PTR>(window->style);
        window->style = static_cast<DWORD>(dwNewLong);
        break;
    case GWL_EXSTYLE:
        previous = static_cast<LONG_PTR>(window->exStyle);
        window->exStyle = static_cast<DWORD>(dwNewLong);
        break;
    case GWL_ID:
        previous = window->id;
        window->id = dwNewLong;
        break;
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return previous;
}

LONG_PTR WINAPI GetWindowLongA(HWND hWnd, int nIndex)
{
    std::shared_ptr<Window> window = FindOrFail(hWnd);
    if (!window)
        return 0;
    switch (nIndex)
    {
    case GWL_USERDATA:
        return window->userData;
    case GWL_WNDPROC:
        return reinterpret_cast<LONG_PTR>(window->proc);
    case GWL_STYLE:
        return static_cast<LONG_PTR>(window->style);
    case GWL_EXSTYLE:
        return static_cast<LONG_PTR>(window->exStyle);
    case GWL_ID:
        return window->id;
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    if (!FindOrFail(hWnd))
        return FALSE;
    return SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    std::shared_ptr<Window> window = FindOrFail(hWnd);
    if (!lpString || nMaxCount <= 0)
        return 0;
    lpString[0] = '\0';
    if (!window)
        return 0;
    size_t n = std::min<size_t>(window->text.size(), static_cast<size_t>(nMaxCount) - 1);
    window->text.copy(lpString, n);
    lpString[n] = '\0';
    return static_cast<int>(n);
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    std::shared_ptr<Window> window = FindOrFail(hWnd);
    if (!window)
        return FALSE;
    const bool wasVisible = (window->style & WS_VISIBLE) != 0;
    const bool show = nCmdShow != SW_HIDE;
    if (show != wasVisible)
    {
        SendMessageA(hWnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
        if (std::shared_ptr<Window> w = Find(hWnd))
        {
            if (show)
                w->style |= WS_VISIBLE;
            else
                w->style &= ~static_cast<DWORD>(WS_VISIBLE);
        }
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hWnd)
{
    for (std::shared_ptr<Window> window = Find(hWnd); window; window = Find(window->parent))
    {
        if (!(window->style & WS_VISIBLE))
            return FALSE;
        if (!window->parent)
            return TRUE;
    }
    return FALSE;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    std::shared_ptr<Window> window = FindOrFail(hWnd);
    if (!window || !lpRect)
        return FALSE;
    LONG x, y;
    ScreenOrigin(*window, x, y);
    *lpRect = {x, y, x + window->width, y + window->height};
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect)
{
    std::shared_ptr<Window> window = FindOrFail(hWnd);
    if (!window || !lpRect)
        return FALSE;
    *lpRect = {0, 0, window->width, window->height};
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint)
{
    return Reposition(hWnd, X, Y, nWidth, nHeight, SWP_NOZORDER) ? TRUE : FALSE;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    return Reposition(hWnd, X, Y, cx, cy, uFlags) ? TRUE : FALSE;
}

BOOL WINAPI SetForegroundWindow(HWND hWnd)
{
    if (!FindOrFail(hWnd))
        return FALSE;
    Manager().foreground = hWnd;
    return TRUE;
}

HWND WINAPI GetForegroundWindow(void)
{
    return Manager().foreground;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    // Keeps the window alive while its procedure runs, even if it destroys itself.
    std::shared_ptr<Window> window = FindOrFail(hWnd);
    if (!window || !window->proc)
        return 0;
    return window->proc(hWnd, Msg, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (hWnd && !FindOrFail(hWnd))
        return FALSE;
    MSG msg = {};
    msg.hwnd = hWnd;
    msg.message = Msg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = timeGetTime();
    Manager().queue.push_back(msg);
    return TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    auto& queue = Manager().queue;
    for (auto it = queue.begin(); it != queue.end(); ++it)
    {
        if (hWnd == reinterpret_cast<HWND>(-1))
        {
            if (it->hwnd)
                continue;
        }
        else if (hWnd && it->hwnd != hWnd)
            continue;
        if ((wMsgFilterMin || wMsgFilterMax) && (it->message < wMsgFilterMin || it->message > wMsgFilterMax))
            continue;
        if (lpMsg)
            *lpMsg = *it;
        if (wRemoveMsg & PM_REMOVE)
            queue.erase(it);
        return TRUE;
    }
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg)
{
    if (!lpMsg || !lpMsg->hwnd)
        return 0;
    return SendMessageA(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

void WINAPI PostQuitMessage(int nExitCode)
{
    PostMessageA(nullptr, WM_QUIT, static_cast<WPARAM>(nExitCode), 0);
}

const DWORD* VelmoraGetWindowPicture(HWND hWnd, int* width, int* height)
{
    std::shared_ptr<Window> window = Find(hWnd);
    if (!window || window->picture.empty())
        return nullptr;
    if (width)
        *width = window->pictureWidth;
    if (height)
        *height = window->pictureHeight;
    return window->picture.data();
}

unsigned VelmoraGetWindowPictureSerial(HWND hWnd)
{
    std::shared_ptr<Window> window = Find(hWnd);
    return window ? window->pictureSerial : 0;
}

BOOL VelmoraSetWindowPicture(HWND hWnd, const DWORD* pixels, int width, int height)
{
    std::shared_ptr<Window> window = Find(hWnd);
    if (!window || !pixels || width <= 0 || height <= 0)
        return FALSE;
    window->picture.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
    window->pictureWidth = width;
    window->pictureHeight = height;
    ++window->pictureSerial;
    return TRUE;
}

} // extern "C"

namespace velmora {

DWORD* PresentWindowPictureInPlace(HWND hWnd, int width, int height)
{
    std::shared_ptr<Window> window = Find(hWnd);
    if (!window || width <= 0 || height <= 0)
        return nullptr;
    window->picture.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    window->pictureWidth = width;
    window->pictureHeight = height;
    ++window->pictureSerial;
    return window->picture.data();
}

} // namespace velmora
