// The panel window on Windows, drawn with GDI: the panel is kept as a 32-bit bitmap of the
// window's size, in the PNG's colours and at its scale, and copied to the window unscaled,
// so the window shows exactly the PNG's pixels. Closing the window is seen by closed().
#include "panel_look.h"
#include "panel_window.h"
#include "win32_text.h"

#include <algorithm>
#include <vector>

namespace lcd::sim {

namespace {

constexpr wchar_t WINDOW_CLASS[] = L"lcdsim panel";
constexpr DWORD WINDOW_STYLE = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

constexpr std::uint32_t bgrx(Rgb c) {
    return static_cast<std::uint32_t>(c.r) << 16 | static_cast<std::uint32_t>(c.g) << 8 | c.b;
}

} // namespace

struct PanelWindow::Impl {
    HWND window = nullptr;
    unsigned scale = 1;
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels; // top-down rows of the window's size
    BITMAPINFO bitmap{};
    std::wstring title;
    bool is_closed = false;

    ~Impl() {
        if (window != nullptr)
            DestroyWindow(window);
    }

    void paint(HDC dc) const {
        SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                          static_cast<UINT>(height), pixels.data(), &bitmap, DIB_RGB_COLORS);
    }

    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
        auto *self = reinterpret_cast<Impl *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr) {
            switch (message) {
            case WM_PAINT: {
                PAINTSTRUCT ps;
                const HDC dc = BeginPaint(hwnd, &ps);
                self->paint(dc);
                EndPaint(hwnd, &ps);
                return 0;
            }
            case WM_ERASEBKGND:
                return 1; // the bitmap covers the whole window
            case WM_CLOSE:
                self->is_closed = true;
                DestroyWindow(hwnd);
                return 0;
            case WM_DESTROY:
                self->window = nullptr;
                return 0;
            default:
                break;
            }
        }
        return DefWindowProcW(hwnd, message, w, l);
    }
};

PanelWindow::PanelWindow() = default;
PanelWindow::~PanelWindow() = default;

namespace {

// The window's outer size at `scale`.
SIZE window_size(unsigned scale) {
    RECT frame{0, 0, static_cast<LONG>(PANEL_COLUMNS * scale),
               static_cast<LONG>(PANEL_ROWS * scale)};
    AdjustWindowRectEx(&frame, WINDOW_STYLE, FALSE, 0);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

// Whether this process's window station shows windows to a user: a service's does not.
bool desktop_visible() {
    USEROBJECTFLAGS flags{};
    const HWINSTA station = GetProcessWindowStation();
    return station == nullptr ||
           !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) ||
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

} // namespace

bool PanelWindow::open(unsigned &scale, const char *title, std::string &why) {
    if (!desktop_visible()) {
        why = "no desktop to show the window on (a service or a session without a user)";
        return false;
    }
    // Its own pixels on a scaled desktop: Windows would otherwise stretch the window.
    SetProcessDPIAware();
    RECT room{};
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &room, 0))
        while (scale > 1 && (window_size(scale).cx > room.right - room.left ||
                             window_size(scale).cy > room.bottom - room.top))
            --scale;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = Impl::procedure;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    cls.lpszClassName = WINDOW_CLASS;
    if (RegisterClassExW(&cls) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        why = "cannot register the window class: " + system_error_text(GetLastError());
        return false;
    }
    impl_ = std::make_unique<Impl>();
    impl_->scale = scale;
    impl_->width = static_cast<int>(PANEL_COLUMNS * scale);
    impl_->height = static_cast<int>(PANEL_ROWS * scale);
    impl_->pixels.assign(static_cast<std::size_t>(impl_->width) *
                             static_cast<std::size_t>(impl_->height),
                         bgrx(PANEL_OFF));
    BITMAPINFOHEADER &h = impl_->bitmap.bmiHeader;
    h.biSize = sizeof h;
    h.biWidth = impl_->width;
    h.biHeight = -impl_->height; // top-down
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    const SIZE outer = window_size(scale);
    impl_->title = widen(title);
    impl_->window =
        CreateWindowExW(0, WINDOW_CLASS, impl_->title.c_str(), WINDOW_STYLE, CW_USEDEFAULT,
                        CW_USEDEFAULT, outer.cx, outer.cy, nullptr, nullptr, instance, nullptr);
    if (impl_->window == nullptr) {
        why = "cannot open the window: " + system_error_text(GetLastError());
        impl_.reset();
        return false;
    }
    SetWindowLongPtrW(impl_->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl_.get()));
    ShowWindow(impl_->window, SW_SHOWNORMAL);
    UpdateWindow(impl_->window);
    return true;
}

void PanelWindow::show(const Panel &panel, const char *title) {
    if (!impl_ || impl_->window == nullptr)
        return;
    const std::wstring wide = widen(title);
    if (wide != impl_->title) {
        impl_->title = wide;
        SetWindowTextW(impl_->window, wide.c_str());
    }
    const std::uint32_t off = bgrx(PANEL_OFF), lit = bgrx(PANEL_LIT);
    const std::size_t s = impl_->scale, width = static_cast<std::size_t>(impl_->width);
    for (std::size_t y = 0; y < PANEL_ROWS; ++y) {
        std::uint32_t *row = &impl_->pixels[y * s * width];
        for (std::size_t x = 0; x < width; ++x)
            row[x] = panel_pixel(panel, x / s, y) ? lit : off;
        for (std::size_t copy = 1; copy < s; ++copy)
            std::copy(row, row + width, row + copy * width);
    }
    const HDC dc = GetDC(impl_->window);
    if (dc != nullptr) {
        impl_->paint(dc);
        ReleaseDC(impl_->window, dc);
    }
}

bool PanelWindow::closed() {
    if (!impl_)
        return true;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return impl_->is_closed;
}

} // namespace lcd::sim
